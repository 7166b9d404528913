// The control side of the simulated Windows CE device: what tests and host tools use to
// set the device up, drive it (clock, keys, taps, message-box answers) and look at what
// the device code did with it. The device code never includes this header; it sees only
// the platform functions declared in winapi.h.
//
// The device is one process-wide object. reset() gives a fresh device: no files, the
// clock at 0, no windows, classes, hot keys, timers, boxes, programs or tray icons.
#ifndef KURVIX_SIM_DEVICE_H
#define KURVIX_SIM_DEVICE_H

#include <cstdint>
#include <functional>
#include <initializer_list>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "sim/winapi.h"

namespace sim {

void reset();

// ---- Call log -------------------------------------------------------------------------
// Every platform call the device code makes is logged in order as text: the function's
// name, then its arguments in parentheses, decimal, separated by ",". A window is "w<N>"
// (N counts windows from 1 in order of creation, "w0" is null), any other handle "h<N>"
// (N counts handles from 1, "h0" is null, "h-1" is INVALID_HANDLE_VALUE); strings are not
// logged (the records below hold them). Examples: "RegisterHotKey(w1,193,0,193)",
// "keybd_event(193,0,4,0)", "PostMessageW(w1,32770,2,3)", "SetTimer(w1,193,100)".
// Other pointers (buffers, structures, callbacks) are not logged either; a resource named by
// number is logged as the number, one named by a string as "?". h1 is the program's module
// (instance()); every other handle takes the next number when it is made: files,
// processes, icons, cursors, device contexts, pens, and stock objects on first use. A value
// the device never handed out is logged as "w?<value>" or "h?<value>".
const std::vector<std::string>& calls();
// The virtual time (now()) of each call in calls(), index for index.
const std::vector<uint64_t>& callTimes();
// The log reduced to the calls of the given names, in order.
std::vector<std::string> callsOf(std::initializer_list<std::string_view> names);
void clearCalls();
// Forgets every record kept for looking back (the call log and its times, file opens,
// message boxes, the keyboard's strokes, injected keys and keys that reached others,
// posted messages, paints, invalidations, tray calls) and gives their memory back, so that a long run does not grow without end. The
// programs started stay: their indexes name them. Not while a box is open or a paint runs.
void clearRecords();

// ---- Kernel: files -----------------------------------------------------------------------
// Paths compare as on Windows CE: ASCII and Latin-1 letters without regard to case, \ and /
// alike, and a path that does not begin at the root taken from it (there is no current
// folder). Two paths name the same file exactly when their keys are equal.
std::u16string fileKey(const std::u16string& path);
// CreateFileW copies the file's bytes: later putFile or removeFile calls do not change what
// an open handle reads.
void putFile(const std::u16string& path, std::vector<uint8_t> bytes);
void removeFile(const std::u16string& path);
// CreateFileW of this path returns INVALID_HANDLE_VALUE even if the file exists.
void failOpen(const std::u16string& path);
// ReadFile on this file fails (returns FALSE, 0 bytes) when it starts at or past offset.
void failReadsFrom(const std::u16string& path, uint32_t offset);
struct FileOpen {
  std::u16string path;
  DWORD access, shareMode, disposition, flags;
  bool securityNull, templateNull;
  bool succeeded;
  uint64_t at = 0;  // the virtual time of the call, as now() tells it
};
const std::vector<FileOpen>& fileOpens();

// ---- Kernel: module, handles, clock ----------------------------------------------------------
// The executable's path for GetModuleFileNameW; an empty path makes it fail (return 0).
// Default: u"\\Windows\\Kurvix.exe".
void setModulePath(const std::u16string& path);
HINSTANCE instance();  // the program's module handle, also GetModuleHandleW(NULL)
// Handles of files, processes and mutexes that are open now.
size_t openHandleCount();
// CloseHandle calls on a handle that was not open (closed already, never opened, null).
size_t badCloseCount();

// Virtual time: now() counts milliseconds since reset(); GetTickCount() is
// (uint32_t)(start + now()) where start is set by setTickCount and wraps at 2^32.
uint64_t now();
void setTickCount(uint32_t tick);  // GetTickCount() returns tick at this moment

// ---- Kernel: named mutexes ---------------------------------------------------------------
// CreateMutexW makes a new handle every time; a name that exists already (an open handle
// of the program's own, or one another program holds) makes GetLastError() answer
// ERROR_ALREADY_EXISTS, otherwise 0 (no other call sets the last error). A name lives while
// any handle to it is open; closing the program's handles and releaseMutex end it, as the
// end of a process does. Ownership and waiting are not simulated. Names compare exactly.
std::vector<std::u16string> mutexNames();  // names that exist now, sorted, each once
// Another program (a second Kurvix, say) holds a mutex of this name until releaseMutex.
void holdMutex(const std::u16string& name);
void releaseMutex(const std::u16string& name);

// ---- Kernel and shell: programs started with ShellExecuteEx ---------------------------------
enum class StartOutcome {
  Process,   // returns TRUE; the program runs; hProcess is a new process handle when
             // fMask has SEE_MASK_NOCLOSEPROCESS, as the shell does, else null
  NoHandle,  // returns TRUE but leaves hProcess null (the shell opened it some other way)
  Fails,     // returns FALSE, hProcess null (file not found, no program for it)
};
void setStartOutcome(const std::u16string& file, StartOutcome outcome);  // default Process
struct Program {
  DWORD cbSize;
  ULONG mask;
  HWND owner;
  std::u16string verb, file;  // verb "" and file "" when the pointers were null
  bool parametersNull, directoryNull;
  int show;
  HINSTANCE instApp;  // as passed in
  StartOutcome outcome;
  bool running;    // false once ended or terminated
  DWORD exitCode;  // STILL_ACTIVE while running
  bool terminated;
  DWORD terminateCode;
  std::u16string parameters;  // "" when the pointer was null (see parametersNull)
  uint64_t at = 0;            // the virtual time of the call
};
const std::vector<Program>& programs();  // every ShellExecuteEx call, in order
void endProgram(size_t index, DWORD exitCode);
// WaitForSingleObject(handle, 0) answers WAIT_OBJECT_0 once the program has ended (whatever
// its exit code, 259 too), WAIT_TIMEOUT while it runs, WAIT_FAILED for a handle that is not
// an open process; a wait that would block, or one for a mutex, stops the test.
// failWait: every wait on this program's handle fails (WAIT_FAILED), running or not.
void failWait(size_t index);

// ---- Window manager: message boxes ---------------------------------------------------------
struct MessageBoxRecord {
  HWND owner;
  std::u16string text, caption;
  UINT type;
  int answer;  // what MessageBoxW returned (0 while the box is still open)
  int depth;   // 1 for a box opened with no other box open, 2 for one nested in it, ...
  uint64_t at = 0;  // the virtual time of the call
};
const std::vector<MessageBoxRecord>& messageBoxes();
// Answers for the next boxes, first in first out. With no answer queued a box is
// answered IDOK when it has only an OK button and IDNO when it asks yes or no.
void answerBoxes(std::initializer_list<int> answers);
// Runs while each box is open, before it is answered, with the box's record. The callback
// may do anything a user could do meanwhile (pump messages, advance the clock, press keys,
// tap, close windows), exactly as the modal loop of a real message box lets it happen.
// The callback runs for every box, also for one opened while it runs (a nested box); the
// record's depth tells them apart.
// Once PostQuitMessage has been called (and WM_QUIT not yet retrieved), a box ends at once,
// as a real one does: it is recorded, the callback does not run, and it returns the default
// answer without taking a queued one. A box whose callback posts the quit ends the same way.
void whileBoxOpen(std::function<void(const MessageBoxRecord&)> callback);

// ---- Window manager: hot keys, keyboard --------------------------------------------------------
struct HotKey {
  HWND window;
  int id;
  UINT modifiers;
  UINT virtualKey;
};
// Registrations in force, in order of registration. DestroyWindow does not release a
// window's hot keys (nor its timers): they stay listed, and a hot key keeps swallowing its
// key, so that tests see what the program left behind.
std::vector<HotKey> hotKeys();
bool isRegistered(UINT virtualKey);
// Another program (the shell, say) holds the key as its hot key until releaseHotKey:
// RegisterHotKey of it fails, and its key-downs reach that program (keysToOthers). Not
// listed in hotKeys(); false when the key is registered already.
bool holdHotKey(UINT virtualKey);
void releaseHotKey(UINT virtualKey);
// The user's keyboard. A key that goes down while it is registered (modifiers 0) posts
// WM_HOTKEY(id, vk << 16 | modifiers) to the owner; any other key event reaches the
// focus: the foreground window as WM_KEYDOWN / WM_KEYUP when it is one of the device's
// windows and shown, otherwise another program (recorded in keysToOthers).
// A held key repeats its key-down as a real keyboard does: after `delay` ms, then every
// `interval` ms until it goes up. Each repeat takes the same way as a first key-down (a
// registered key's repeat is one more WM_HOTKEY; a WM_KEYDOWN of a repeat has the
// previous-state bit 30 set). Only the key that went down last repeats: pressing another
// key ends the repeat of the one held before, for good. Injected keys never repeat.
// On after reset() with a delay of 500 ms and an interval of 40 ms.
void setKeyRepeat(bool on, uint64_t delay = 500, uint64_t interval = 40);
void keyDown(UINT virtualKey);
void keyUp(UINT virtualKey);
// Schedules keyDown at absolute virtual time `down` and keyUp at `up`.
void pressAt(UINT virtualKey, uint64_t down, uint64_t up);
struct KeyEvent {
  UINT virtualKey;
  bool down;
  DWORD flags;    // keybd_event flags for injected events, 0 for the user's own
  bool injected;  // came from keybd_event
  bool repeat = false;  // a repeated key-down of a held key
  uint64_t at = 0;      // the virtual time of the event
};
const std::vector<KeyEvent>& injectedKeys();  // every keybd_event call, in order
const std::vector<KeyEvent>& keysToOthers();  // key events that reached another program
// The user's own keyboard, in order: every key-down (repeats marked), every key-up, and
// the virtual time it happened at. Injected keys are not listed.
struct KeyStroke {
  UINT virtualKey;
  bool down;
  bool repeat;
  uint64_t at;
};
const std::vector<KeyStroke>& keyStrokes();

// ---- Window manager: windows, queue, timers ----------------------------------------------
struct WindowInfo {
  std::u16string className, title;
  DWORD style, exStyle;
  int x, y, width, height;
  RECT client;
  bool visible, destroyed;
};
WindowInfo window(HWND window);  // an unknown handle: everything empty, destroyed true
HWND findWindow(const std::u16string& className);  // the first live window of the class
HWND foreground();
void setWorkArea(RECT area);   // default (0, 0, 240, 294)
void setCaptionHeight(int h);  // SM_CYCAPTION, default 26
// Client area = (0, 0, width - 2 * border, height - caption - 2 * border) for a window
// with WS_CAPTION; default border 1.
void setBorderWidth(int w);

struct Posted {
  HWND window;
  UINT message;
  WPARAM wParam;
  LPARAM lParam;
  uint64_t at = 0;  // the virtual time of the call
};
// Every PostMessageW, in order, also one that failed (to a destroyed window). Messages the
// system posts (WM_HOTKEY, key messages, taps) are in queue() only.
const std::vector<Posted>& postedLog();
std::vector<Posted> queue();             // posted messages not yet retrieved
struct Timer {
  HWND window;
  UINT_PTR id;
  UINT period;  // as asked; a period below 10 ms runs at 10 ms, as on the desktop
  uint64_t due;
};
std::vector<Timer> timers();  // running timers, also those of destroyed windows
// While on, SetTimer fails (returns 0) and starts nothing, as when the system has no timer left.
void failTimers(bool on);

// Taps post WM_LBUTTONDOWN (wParam MK_LBUTTON) and WM_LBUTTONUP with client coordinates
// to the window. A hidden or destroyed window cannot be tapped or closed: nothing is posted.
void tap(HWND window, int x, int y);
// The caption's close button: posts WM_CLOSE.
void close(HWND window);
// Schedules an action at absolute virtual time t (milliseconds since reset).
void at(uint64_t t, std::function<void()> action);

// Dispatches every message that is due at the current time (posted messages, paints,
// expired timers) until none is left; leaves WM_QUIT in place. The clock does not move.
void pump();
// Moves the clock forward to absolute time t, stopping at every scheduled action and timer
// expiry on the way to run it and pump().
void runUntil(uint64_t t);
void runFor(uint64_t ms);

// GetMessageW, finding nothing due, moves the clock to the next scheduled action or timer
// expiry. When there is neither, it calls the idle hook; if that schedules or posts
// nothing either, the device would wait forever: it prints why and aborts the process.
void setIdleHook(std::function<void()> hook);
// The value PostQuitMessage was called with, if it was.
std::optional<int> quitCode();

// ---- Graphics -----------------------------------------------------------------------------
// Text is measured as Windows CE's default font draws it (Tahoma, 12-pixel characters; see
// graphics.cpp): the width of one line of text in pixels, and the height of a line.
int textWidth(std::u16string_view text);
constexpr int kTextLineHeight = 15;
struct DrawOp {
  enum Kind { Erase, Text, Lines } kind;
  std::u16string text;  // Text: the characters drawn (count -1: up to the zero)
  std::vector<std::u16string> lines;  // Text: as laid out, one a line (DT_WORDBREAK breaks)
  int count;
  RECT rect;  // Text: the rectangle; Erase: the client rectangle
  UINT flags;
  COLORREF color;  // Text: text colour; Lines: the pen's colour
  int bkMode;
  std::vector<POINT> points;  // Lines: MoveToEx point, then each LineTo point
  int penStyle, penWidth;
};
struct Paint {
  HWND window;
  RECT update;  // the invalid region's bounding rectangle when painting began
  std::vector<DrawOp> ops;
};
const std::vector<Paint>& paints();  // every BeginPaint .. EndPaint, in order
struct Invalidation {
  HWND window;
  RECT rect;  // the client rectangle when rect was null
  BOOL erase;
};
// Every InvalidateRect call that succeeded; the system's own (as by ShowWindow) are not
// listed.
const std::vector<Invalidation>& invalidations();
struct GdiStats {
  int pensCreated, pensDeleted;
  int errors;  // deleting a selected or unknown object, selecting an unknown one, ...
};
GdiStats gdi();

// ---- Shell: notification area, icons ----------------------------------------------------
struct TrayIcon {
  HWND window;
  UINT id;
  UINT callbackMessage;
  int iconResource;  // the resource id LoadIconW was given; 0 for no icon, -1 for a
                     // handle that LoadIconW did not return
  std::u16string tip;
};
std::vector<TrayIcon> trayIcons();  // icons present now
std::optional<TrayIcon> trayIcon(HWND window, UINT id);
struct TrayCall {
  DWORD message;
  DWORD cbSize;
  HWND window;
  UINT id, flags, callbackMessage;
  int iconResource;
  std::u16string tip;
  bool succeeded;
};
const std::vector<TrayCall>& trayCalls();
// A tap on the icon: posts its callback message with (id, WM_LBUTTONDOWN), then
// (id, WM_LBUTTONUP), to its window.
void tapTrayIcon(HWND window, UINT id);

}  // namespace sim

#endif
