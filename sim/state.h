// The simulated device's internal state, shared by its platform services (kernel, window
// manager, graphics, shell). Tests and tools do not include this: they use sim/device.h.
#ifndef KURVIX_SIM_STATE_H
#define KURVIX_SIM_STATE_H

#include <array>
#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <optional>
#include <set>
#include <string>
#include <type_traits>
#include <utility>
#include <vector>

#include "sim/device.h"

namespace sim::detail {

// ---- Handles ------------------------------------------------------------------------------
// A handle is its log number in disguise, placed far from null, INVALID_HANDLE_VALUE and
// MAKEINTRESOURCE values, windows apart from other handles, so that no value passes for
// another kind of object by accident.
HWND windowHandle(int number);
int windowNumber(HWND window);  // 0 for null or a value the device never made
void* handleValue(int number);
int handleNumber(const void* handle);  // 0 for null, INVALID_HANDLE_VALUE or a stranger
int newHandle();                       // the next h<N>

// ---- Call log -----------------------------------------------------------------------------
std::string logName(HWND window);
std::string logName(const void* handle);
template <class T, std::enable_if_t<std::is_integral_v<T>, int> = 0>
std::string logName(T value) {
  if constexpr (std::is_signed_v<T>)
    return std::to_string(static_cast<long long>(value));
  else
    return std::to_string(static_cast<unsigned long long>(value));
}
void logCall(const char* function, std::initializer_list<std::string> arguments);

// Stops the test program with a reason: the device has reached a state no real device can
// get out of (waiting forever, an endless message storm) or was used in an unsupported way.
[[noreturn]] void fail(const std::string& why);

std::u16string wide(LPCWSTR text);  // "" for null

// ---- State --------------------------------------------------------------------------------
struct OpenFile {
  std::u16string key;          // the path as files are keyed
  std::vector<uint8_t> bytes;  // copied when the file was opened
  uint64_t position;
  DWORD access;
};

struct WindowClass {
  std::u16string name;
  WNDPROC proc;
  UINT style;
  HBRUSH background;
  HCURSOR cursor;
  HICON icon;
  HINSTANCE instance;
};

struct Window {
  WindowInfo info;  // client is worked out when asked, from the current frame sizes
  WNDPROC proc;
  HBRUSH background;
  bool destroying;
  bool invalid, erase;
  RECT invalidRect;
};

struct TimerEntry {
  Timer timer;
  TIMERPROC proc;
};

struct DeviceContext {
  HWND window;
  size_t paint;  // index into paints
  int bkMode;
  COLORREF textColor;
  int pen, brush;  // handle numbers
  POINT position;
  std::optional<size_t> lineRun;  // the Lines op that LineTo extends
};

struct Pen {
  int style, width;
  COLORREF color;
};

struct Device {
  std::vector<std::string> calls;
  std::vector<uint64_t> callTimes;

  // kernel
  int handlesMade = 1;  // h1 is the program's module, there before anything else
  std::map<std::u16string, std::vector<uint8_t>> files;
  std::set<std::u16string> failingOpens;
  std::map<std::u16string, uint32_t> failingReads;
  std::vector<FileOpen> fileOpens;
  std::map<int, OpenFile> openFiles;
  std::map<int, size_t> openProcesses;  // handle number -> index into programs
  size_t badCloses = 0;
  std::u16string modulePath = u"\\Windows\\Kurvix.exe";
  uint64_t now = 0;
  uint32_t tickStart = 0;
  std::map<std::u16string, StartOutcome> startOutcomes;
  std::vector<Program> programs;
  std::set<size_t> failingWaits;
  std::map<int, std::u16string> openMutexes;      // handle number -> name ("" unnamed)
  std::multiset<std::u16string> othersMutexes;    // names other programs hold
  DWORD lastError = 0;

  // message boxes
  std::vector<MessageBoxRecord> boxes;
  std::deque<int> boxAnswers;
  std::function<void(const MessageBoxRecord&)> whileBoxOpen;
  int openBoxes = 0;

  // keyboard
  std::vector<HotKey> hotKeys;
  std::set<UINT> othersHotKeys;  // keys other programs hold as their hot keys
  std::array<bool, 256> keysDown{};
  std::vector<KeyEvent> injectedKeys, keysToOthers;
  std::vector<KeyStroke> keyStrokes;
  bool keyRepeat = true;
  bool timersFail = false;
  uint64_t repeatDelay = 500, repeatInterval = 40;
  UINT repeatingKey = 0;
  std::optional<std::pair<uint64_t, uint64_t>> nextRepeat;  // its entry in actions

  // windows, queue, timers, scheduling
  std::map<std::u16string, WindowClass> classes;  // keyed by the lower-case name
  std::vector<Window> windows;                    // w<N> is windows[N - 1]
  HWND foreground = nullptr;
  RECT workArea = {0, 0, 240, 294};
  int captionHeight = 26;
  int borderWidth = 1;
  std::vector<Posted> postedLog;
  std::deque<Posted> queue;
  std::vector<TimerEntry> timers;  // in order of creation
  std::map<std::pair<uint64_t, uint64_t>, std::function<void()>> actions;  // (time, order)
  uint64_t actionsMade = 0;
  std::function<void()> idleHook;
  std::optional<int> quitCode;
  bool quitPending = false;
  uint64_t messagesThisInstant = 0;

  // graphics
  std::vector<Paint> paints;
  std::vector<Invalidation> invalidations;
  GdiStats gdi{};
  std::map<int, DeviceContext> dcs;  // open DCs by handle number
  std::map<int, Pen> pens;           // pens made by CreatePen and not deleted
  std::map<int, int> stockByIndex;   // GetStockObject index -> handle number
  std::map<int, int> stockByHandle;  // handle number -> GetStockObject index

  // icons, cursors, tray
  std::vector<int> iconResources = {101, 102, 103};  // in the program's module: LoadIconW finds them
  std::map<int, int> iconHandles;    // resource id -> handle number
  std::map<int, int> iconResource;   // handle number -> resource id
  std::map<ULONG_PTR, int> cursors;  // resource id -> handle number
  std::vector<TrayIcon> trayIcons;
  std::vector<TrayCall> trayCalls;
};

Device& device();

// ---- Services the platform parts offer one another ---------------------------------------
Window* liveWindow(HWND window);  // null for null, unknown or destroyed windows
RECT clientRect(const Window& window);
LRESULT send(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
void post(HWND window, UINT message, WPARAM wParam, LPARAM lParam);  // drops it if dead
DWORD tickNow();  // what GetTickCount would return, without logging a call
void advanceTo(uint64_t time);
void runDueActions();
std::optional<uint64_t> nextEventTime();  // the next scheduled action or live timer expiry
HDC openDc(HWND window, size_t paint);
bool closeDc(HDC dc);
DeviceContext* dcOf(HDC dc);  // null unless open
int stockObject(int index);   // handle number, made on first use
std::optional<StartOutcome> startOutcome(const std::u16string& file);  // as set for it
HANDLE openProcess(size_t program);  // a new handle to the program
// The resource id an icon handle was loaded from: 0 for null, -1 for a stranger.
int iconResourceOf(HICON icon);

}  // namespace sim::detail

#endif
