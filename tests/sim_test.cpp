// The simulated device behaves as the real platform does where the device code relies on it.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "sim/device.h"

namespace {

struct Received {
  HWND window;
  UINT message;
  WPARAM wParam;
  LPARAM lParam;
  uint64_t time;
};

std::vector<Received> received;
// What the test window does with a message before the default handling; a result means
// "handled, return this".
std::function<std::optional<LRESULT>(HWND, UINT, WPARAM, LPARAM)> onMessage;

LRESULT CALLBACK recordingProcedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  received.push_back({window, message, wParam, lParam, sim::now()});
  if (onMessage)
    if (std::optional<LRESULT> result = onMessage(window, message, wParam, lParam)) return *result;
  return DefWindowProcW(window, message, wParam, lParam);
}

std::vector<UINT> messagesOf(HWND window) {
  std::vector<UINT> messages;
  for (const Received& r : received)
    if (r.window == window) messages.push_back(r.message);
  return messages;
}

std::vector<uint8_t> bytes(const std::string& text) { return {text.begin(), text.end()}; }

class SimTest : public ::testing::Test {
 protected:
  void SetUp() override {
    sim::reset();
    received.clear();
    onMessage = nullptr;
    WNDCLASSW windowClass = {};
    windowClass.lpfnWndProc = recordingProcedure;
    windowClass.hInstance = sim::instance();
    windowClass.hbrBackground = static_cast<HBRUSH>(GetStockObject(LTGRAY_BRUSH));
    windowClass.lpszClassName = u"Sim.Test";
    ASSERT_NE(RegisterClassW(&windowClass), 0);
  }
  static HWND makeWindow(DWORD style = 0) {
    return CreateWindowExW(0, u"Sim.Test", u"Title", style, 0, 0, 240, 294, nullptr, nullptr,
                           sim::instance(), nullptr);
  }
  static HANDLE open(const std::u16string& path) {
    return CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                       FILE_ATTRIBUTE_NORMAL, nullptr);
  }
  static std::string read(HANDLE file, DWORD count, BOOL expected = TRUE) {
    std::vector<char> buffer(count + 1, 0);
    DWORD got = 12345;
    EXPECT_EQ(ReadFile(file, buffer.data(), count, &got, nullptr), expected);
    return std::string(buffer.data(), got);
  }
};

using SimDeathTest = SimTest;

// ---- Kernel ---------------------------------------------------------------------------------

TEST_F(SimTest, FileReadsAdvanceFromThePositionAndFindTheEnd) {
  sim::putFile(u"\\Programme\\Kurvix.ini", bytes("abcde"));
  HANDLE file = open(u"/PROGRAMME/kurvix.INI");  // case and slashes as Windows ignores them
  ASSERT_NE(file, INVALID_HANDLE_VALUE);
  EXPECT_EQ(GetFileSize(file, nullptr), 5u);
  EXPECT_EQ(read(file, 3), "abc");
  EXPECT_EQ(read(file, 3), "de");
  EXPECT_EQ(read(file, 3), "");
  ASSERT_EQ(sim::fileOpens().size(), 1u);
  const sim::FileOpen& opened = sim::fileOpens()[0];
  EXPECT_EQ(opened.access, GENERIC_READ);
  EXPECT_EQ(opened.disposition, static_cast<DWORD>(OPEN_EXISTING));
  EXPECT_TRUE(opened.securityNull && opened.templateNull && opened.succeeded);
}

// Windows CE has no current folder: a path not from the root names a file in the root folder,
// and names compare without case also in the Latin-1 letters.
TEST_F(SimTest, PathsNotFromTheRootAreFromTheRoot) {
  sim::runFor(250);
  sim::putFile(u"\\Zweite.ini", bytes("root"));
  sim::putFile(u"\\Speicher\\\u00DCbersicht.ini", bytes("folder"));
  for (const auto& [path, contents] : std::initializer_list<std::pair<std::u16string, std::string>>{
           {u"zweite.INI", "root"}, {u"\\Zweite.ini", "root"}, {u"\\SPEICHER\\\u00FCbersicht.ini", "folder"}}) {
    HANDLE file = open(path);
    ASSERT_NE(file, INVALID_HANDLE_VALUE);
    EXPECT_EQ(read(file, 10), contents);
    CloseHandle(file);
  }
  EXPECT_EQ(open(u"Speicher\\Zweite.ini"), INVALID_HANDLE_VALUE);
  ASSERT_EQ(sim::fileOpens().size(), 4u);
  EXPECT_EQ(sim::fileOpens()[0].at, 250u) << "each open is stamped with the time it happened";
}

TEST_F(SimTest, FilePointerMovesAndRefusesToGoBeforeTheStart) {
  sim::putFile(u"\\f", bytes("0123456789"));
  HANDLE file = open(u"\\f");
  EXPECT_EQ(SetFilePointer(file, 4, nullptr, FILE_CURRENT), 4u);
  EXPECT_EQ(SetFilePointer(file, -1, nullptr, FILE_CURRENT), 3u);
  EXPECT_EQ(SetFilePointer(file, -5, nullptr, FILE_CURRENT), INVALID_SET_FILE_POINTER);
  EXPECT_EQ(read(file, 2), "34");
  EXPECT_EQ(SetFilePointer(file, -2, nullptr, FILE_END), 8u);
  EXPECT_EQ(read(file, 5), "89");
  EXPECT_EQ(SetFilePointer(file, 1, nullptr, FILE_BEGIN), 1u);
  EXPECT_EQ(read(file, 1), "1");
}

TEST_F(SimTest, OpensAndReadsFailWhereTheyAreMadeTo) {
  sim::putFile(u"\\locked", bytes("x"));
  sim::failOpen(u"\\LOCKED");
  EXPECT_EQ(open(u"\\locked"), INVALID_HANDLE_VALUE);
  EXPECT_EQ(open(u"\\missing"), INVALID_HANDLE_VALUE);
  EXPECT_FALSE(sim::fileOpens()[1].succeeded);

  sim::putFile(u"\\broken", bytes("abcdef"));
  sim::failReadsFrom(u"\\broken", 4);
  HANDLE file = open(u"\\broken");
  EXPECT_EQ(read(file, 3), "abc");
  EXPECT_EQ(read(file, 3), "def");  // starts before the bad spot
  SetFilePointer(file, 4, nullptr, FILE_BEGIN);
  EXPECT_EQ(read(file, 1, FALSE), "");
}

TEST_F(SimTest, AnOpenFileKeepsTheBytesItWasOpenedWith) {
  sim::putFile(u"\\f", bytes("old"));
  HANDLE file = open(u"\\f");
  sim::putFile(u"\\f", bytes("new!"));
  EXPECT_EQ(read(file, 10), "old");
  EXPECT_EQ(GetFileSize(file, nullptr), 3u);
}

TEST_F(SimTest, HandlesAreCountedAndBadClosesNoticed) {
  sim::putFile(u"\\f", {});
  HANDLE file = open(u"\\f");
  EXPECT_EQ(sim::openHandleCount(), 1u);
  EXPECT_TRUE(CloseHandle(file));
  EXPECT_FALSE(CloseHandle(file));
  EXPECT_FALSE(CloseHandle(INVALID_HANDLE_VALUE));
  EXPECT_EQ(sim::openHandleCount(), 0u);
  EXPECT_EQ(sim::badCloseCount(), 2u);
  EXPECT_FALSE(ReadFile(file, nullptr, 1, nullptr, nullptr));
  // h1 is the module and h2 the stock brush SetUp asked for, so the file was h3.
  EXPECT_EQ(sim::callsOf({"CloseHandle"}),
            (std::vector<std::string>{"CloseHandle(h3)", "CloseHandle(h3)", "CloseHandle(h-1)"}));
}

TEST_F(SimTest, ModulePathIsCutLikeTheDesktopCutsIt) {
  WCHAR buffer[32];
  EXPECT_EQ(GetModuleFileNameW(nullptr, buffer, 32), 19u);
  EXPECT_EQ(std::u16string(buffer), u"\\Windows\\Kurvix.exe");
  EXPECT_EQ(GetModuleFileNameW(nullptr, buffer, 20), 19u);  // exactly fits with its zero
  EXPECT_EQ(GetModuleFileNameW(nullptr, buffer, 19), 19u);
  EXPECT_EQ(std::u16string(buffer), u"\\Windows\\Kurvix.ex");
  sim::setModulePath(u"");
  EXPECT_EQ(GetModuleFileNameW(nullptr, buffer, 32), 0u);
  EXPECT_EQ(GetModuleHandleW(nullptr), sim::instance());
}

TEST_F(SimTest, NamedMutexesTellASecondCreatorAndLiveUntilTheLastHandleCloses) {
  HANDLE first = CreateMutexW(nullptr, FALSE, u"Kurvix:/A/KURVIX.EXE");
  ASSERT_NE(first, nullptr);
  EXPECT_EQ(GetLastError(), 0u);
  HANDLE second = CreateMutexW(nullptr, FALSE, u"Kurvix:/A/KURVIX.EXE");
  ASSERT_NE(second, nullptr);
  EXPECT_NE(second, first);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_ALREADY_EXISTS));
  // Another name, and no name at all, are new.
  HANDLE other = CreateMutexW(nullptr, FALSE, u"Kurvix:/B/KURVIX.EXE");
  EXPECT_EQ(GetLastError(), 0u);
  HANDLE unnamed = CreateMutexW(nullptr, FALSE, nullptr);
  HANDLE unnamedToo = CreateMutexW(nullptr, FALSE, nullptr);
  EXPECT_EQ(GetLastError(), 0u);
  // Names compare exactly: case is the caller's business.
  HANDLE lower = CreateMutexW(nullptr, FALSE, u"kurvix:/a/kurvix.exe");
  EXPECT_EQ(GetLastError(), 0u);
  EXPECT_EQ(sim::openHandleCount(), 6u);
  EXPECT_TRUE(CloseHandle(unnamedToo));
  EXPECT_EQ(sim::mutexNames(), (std::vector<std::u16string>{
                                   u"Kurvix:/A/KURVIX.EXE", u"Kurvix:/B/KURVIX.EXE",
                                   u"kurvix:/a/kurvix.exe"}));

  EXPECT_TRUE(CloseHandle(first));
  HANDLE third = CreateMutexW(nullptr, FALSE, u"Kurvix:/A/KURVIX.EXE");
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_ALREADY_EXISTS));  // second still open
  for (HANDLE handle : {second, other, unnamed, lower}) EXPECT_TRUE(CloseHandle(handle));
  EXPECT_FALSE(CloseHandle(second));
  EXPECT_EQ(sim::mutexNames(), (std::vector<std::u16string>{u"Kurvix:/A/KURVIX.EXE"}));
  EXPECT_TRUE(CloseHandle(third));
  EXPECT_TRUE(sim::mutexNames().empty());
}

TEST_F(SimTest, AMutexHeldByAnotherProgramExistsUntilItIsReleased) {
  sim::holdMutex(u"Kurvix:/A/KURVIX.EXE");
  HANDLE mine = CreateMutexW(nullptr, FALSE, u"Kurvix:/A/KURVIX.EXE");
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_ALREADY_EXISTS));
  EXPECT_TRUE(CloseHandle(mine));
  EXPECT_EQ(sim::openHandleCount(), 0u);  // the other program's is not the device code's
  sim::releaseMutex(u"Kurvix:/A/KURVIX.EXE");
  EXPECT_TRUE(sim::mutexNames().empty());
  CloseHandle(CreateMutexW(nullptr, FALSE, u"Kurvix:/A/KURVIX.EXE"));
  EXPECT_EQ(GetLastError(), 0u);
  EXPECT_EQ(sim::callsOf({"CreateMutexW"}).front(), "CreateMutexW(0,0)");
}

TEST_F(SimTest, TickCountWrapsAround) {
  sim::setTickCount(0xFFFFFFF0u);
  EXPECT_EQ(GetTickCount(), 0xFFFFFFF0u);
  sim::runFor(0x20);
  EXPECT_EQ(sim::now(), 0x20u);
  EXPECT_EQ(GetTickCount(), 0x10u);
}

TEST_F(SimTest, ProgramsRunUntilTheyEndOrAreTerminated) {
  sim::setStartOutcome(u"\\Windows\\nohandle.exe", sim::StartOutcome::NoHandle);
  sim::setStartOutcome(u"\\Windows\\fails.exe", sim::StartOutcome::Fails);
  auto start = [](LPCWSTR file) {
    SHELLEXECUTEINFOW info = {};
    info.cbSize = sizeof info;
    info.fMask = SEE_MASK_NOCLOSEPROCESS;
    info.lpFile = file;
    BOOL started = ShellExecuteExW(&info);
    return std::make_pair(started, info.hProcess);
  };
  auto [started, process] = start(u"\\Windows\\calc.exe");
  ASSERT_TRUE(started);
  ASSERT_NE(process, nullptr);
  EXPECT_EQ(WaitForSingleObject(process, 0), static_cast<DWORD>(WAIT_TIMEOUT));
  sim::endProgram(0, 3);
  EXPECT_EQ(WaitForSingleObject(process, 0), static_cast<DWORD>(WAIT_OBJECT_0));  // signalled
  EXPECT_TRUE(CloseHandle(process));
  EXPECT_EQ(WaitForSingleObject(process, 0), WAIT_FAILED);

  EXPECT_EQ(start(u"\\windows\\NOHANDLE.exe"), std::make_pair(TRUE, HANDLE(nullptr)));
  EXPECT_EQ(start(u"\\Windows\\fails.exe"), std::make_pair(FALSE, HANDLE(nullptr)));

  auto [again, second] = start(u"\\Windows\\calc.exe");
  ASSERT_TRUE(again);
  EXPECT_TRUE(CloseHandle(second) == TRUE && sim::programs()[3].running);  // closing is not ending
  auto [third, handle] = start(u"\\Windows\\calc.exe");
  // A program that ends with 259 has ended all the same: its handle is signalled.
  auto [fourth, endsWith259] = start(u"\\Windows\\calc.exe");
  sim::endProgram(5, STILL_ACTIVE);
  EXPECT_EQ(WaitForSingleObject(endsWith259, 0), static_cast<DWORD>(WAIT_OBJECT_0));
  EXPECT_TRUE(CloseHandle(endsWith259));
  // A wait made to fail fails whether the program runs or not; the handle stays usable.
  sim::failWait(4);
  EXPECT_EQ(WaitForSingleObject(handle, 0), WAIT_FAILED);
  EXPECT_TRUE(TerminateProcess(handle, 9));
  EXPECT_EQ(WaitForSingleObject(handle, 0), WAIT_FAILED);
  const sim::Program& terminated = sim::programs()[4];
  EXPECT_TRUE(terminated.terminated && !terminated.running);
  EXPECT_EQ(terminated.terminateCode, 9u);
  EXPECT_EQ(sim::programs()[2].outcome, sim::StartOutcome::Fails);
}

// ---- Message boxes --------------------------------------------------------------------------

TEST_F(SimTest, BoxesTakeQueuedAnswersThenTheirDefault) {
  sim::answerBoxes({IDYES});
  EXPECT_EQ(MessageBoxW(nullptr, u"Weiter?", u"Kurvix", MB_YESNO), IDYES);
  EXPECT_EQ(MessageBoxW(nullptr, u"Weiter?", u"Kurvix", MB_YESNO), IDNO);
  EXPECT_EQ(MessageBoxW(nullptr, u"Fehler", u"Kurvix", MB_OK | MB_ICONHAND), IDOK);
  ASSERT_EQ(sim::messageBoxes().size(), 3u);
  EXPECT_EQ(sim::messageBoxes()[0].text, u"Weiter?");
  EXPECT_EQ(sim::messageBoxes()[2].answer, IDOK);
  EXPECT_EQ(sim::callsOf({"MessageBoxW"})[2], "MessageBoxW(w0,16)");
}

TEST_F(SimTest, TheCallbackSeesEveryOpenBoxWithItsDepth) {
  std::vector<std::pair<int, int>> seen;  // (depth, answer while open)
  sim::whileBoxOpen([&](const sim::MessageBoxRecord& box) {
    seen.emplace_back(box.depth, box.answer);
    if (box.depth == 1) MessageBoxW(nullptr, u"inner", u"", MB_OK);
  });
  MessageBoxW(nullptr, u"outer", u"", MB_YESNO);
  EXPECT_EQ(seen, (std::vector<std::pair<int, int>>{{1, 0}, {2, 0}}));
  EXPECT_EQ(sim::messageBoxes()[1].depth, 2);
}

TEST_F(SimTest, APostedQuitEndsBoxesWithoutAnAnswer) {
  int callbacks = 0;
  sim::whileBoxOpen([&](const sim::MessageBoxRecord&) { ++callbacks; });
  sim::answerBoxes({IDYES});
  PostQuitMessage(0);
  EXPECT_EQ(MessageBoxW(nullptr, u"?", u"", MB_YESNO), IDNO);
  EXPECT_EQ(callbacks, 0);
  MSG msg;
  EXPECT_FALSE(GetMessageW(&msg, nullptr, 0, 0));
  EXPECT_EQ(MessageBoxW(nullptr, u"?", u"", MB_YESNO), IDYES);  // the queued answer waited
  EXPECT_EQ(callbacks, 1);
}

// ---- Hot keys and the keyboard ----------------------------------------------------------------

TEST_F(SimTest, AKeyCanBeRegisteredOnlyOnce) {
  HWND first = makeWindow(), second = makeWindow();
  EXPECT_TRUE(RegisterHotKey(first, 193, 0, 193));
  EXPECT_FALSE(RegisterHotKey(second, 5, 0, 193));
  EXPECT_TRUE(RegisterHotKey(second, 5, 0, 194));
  EXPECT_TRUE(sim::isRegistered(193));
  EXPECT_FALSE(UnregisterHotKey(second, 193));
  EXPECT_TRUE(UnregisterHotKey(first, 193));
  EXPECT_FALSE(UnregisterHotKey(first, 193));
  EXPECT_FALSE(sim::isRegistered(193));
  EXPECT_TRUE(RegisterHotKey(second, 6, 0, 193));
  EXPECT_EQ(sim::callsOf({"RegisterHotKey"})[0], "RegisterHotKey(w1,193,0,193)");
}

TEST_F(SimTest, AKeyAnotherProgramHoldsCannotBeRegisteredAndItsPressesGoThere) {
  HWND window = makeWindow();
  EXPECT_TRUE(sim::holdHotKey(0xC3));
  EXPECT_FALSE(RegisterHotKey(window, 0xC3, 0, 0xC3));
  EXPECT_FALSE(sim::isRegistered(0xC3));  // not the device program's
  sim::keyDown(0xC3);
  sim::keyUp(0xC3);
  sim::pump();
  std::vector<UINT> messages = messagesOf(window);
  EXPECT_EQ(std::count(messages.begin(), messages.end(), static_cast<UINT>(WM_HOTKEY)), 0);
  ASSERT_EQ(sim::keysToOthers().size(), 2u);
  EXPECT_TRUE(sim::keysToOthers()[0].down);
  sim::releaseHotKey(0xC3);
  EXPECT_TRUE(RegisterHotKey(window, 0xC3, 0, 0xC3));
  EXPECT_FALSE(sim::holdHotKey(0xC3));  // registered already
}

TEST_F(SimTest, ARegisteredKeyPressBecomesAHotKeyAndItsReleaseGoesToTheFocus) {
  HWND window = makeWindow();
  RegisterHotKey(window, 7, 0, 193);
  sim::keyDown(193);
  EXPECT_EQ(GetAsyncKeyState(193), static_cast<SHORT>(0x8000));
  sim::keyUp(193);
  EXPECT_EQ(GetAsyncKeyState(193), 0);
  sim::keyDown(65);
  sim::pump();
  ASSERT_EQ(received.size(), 2u);  // WM_CREATE, WM_HOTKEY
  EXPECT_EQ(received[1].message, static_cast<UINT>(WM_HOTKEY));
  EXPECT_EQ(received[1].wParam, 7u);
  EXPECT_EQ(received[1].lParam, 193 << 16);
  ASSERT_EQ(sim::keysToOthers().size(), 2u);
  EXPECT_FALSE(sim::keysToOthers()[0].down);
  EXPECT_EQ(sim::keysToOthers()[1].virtualKey, 65u);

  ShowWindow(window, SW_SHOW);
  SetForegroundWindow(window);
  sim::keyDown(65);
  sim::keyUp(65);
  received.clear();
  sim::pump();
  // Posted key messages come before the paint that showing the window asked for.
  EXPECT_EQ(messagesOf(window), (std::vector<UINT>{WM_KEYDOWN, WM_KEYUP, WM_PAINT, WM_ERASEBKGND}));
}

TEST_F(SimTest, InjectedKeysActLikeRealOnes) {
  HWND window = makeWindow();
  RegisterHotKey(window, 1, 0, 193);
  keybd_event(193, 0, KEYEVENTF_SILENT, 0);
  keybd_event(193, 0, KEYEVENTF_KEYUP | KEYEVENTF_SILENT, 0);
  sim::pump();
  EXPECT_EQ(messagesOf(window), (std::vector<UINT>{WM_CREATE, WM_HOTKEY}));
  ASSERT_EQ(sim::injectedKeys().size(), 2u);
  EXPECT_TRUE(sim::injectedKeys()[0].down && sim::injectedKeys()[0].injected);
  ASSERT_EQ(sim::keysToOthers().size(), 1u);
  EXPECT_EQ(sim::keysToOthers()[0].flags, static_cast<DWORD>(KEYEVENTF_KEYUP | KEYEVENTF_SILENT));
  EXPECT_EQ(sim::callsOf({"keybd_event"})[1], "keybd_event(193,0,6,0)");
}

// Key-downs of one key that reached others, as (time-independent) repeat flags in order.
std::vector<bool> downsToOthers(UINT key) {
  std::vector<bool> repeats;
  for (const sim::KeyEvent& event : sim::keysToOthers())
    if (event.virtualKey == key && event.down) repeats.push_back(event.repeat);
  return repeats;
}

std::vector<uint64_t> hotKeyTimes(HWND window) {
  std::vector<uint64_t> times;
  for (const Received& r : received)
    if (r.window == window && r.message == WM_HOTKEY) times.push_back(r.time);
  return times;
}

TEST_F(SimTest, AHeldKeyRepeatsItsKeyDownTheWayItsFirstKeyDownWent) {
  HWND window = makeWindow();
  RegisterHotKey(window, 7, 0, 193);
  sim::pressAt(193, 0, 1000);
  sim::runUntil(3000);
  // After half a second, one more WM_HOTKEY every 40 ms until the release.
  std::vector<uint64_t> expected = {0};
  for (uint64_t t = 500; t < 1000; t += 40) expected.push_back(t);
  EXPECT_EQ(hotKeyTimes(window), expected);
  EXPECT_EQ(received.back().lParam, 193 << 16);
  ASSERT_EQ(sim::keysToOthers().size(), 1u);  // the release alone
  EXPECT_FALSE(sim::keysToOthers()[0].down);

  // An unregistered key repeats to the focus: another program, then the shown window.
  sim::pressAt(65, 4000, 4600);
  sim::runUntil(5000);
  EXPECT_EQ(downsToOthers(65), (std::vector<bool>{false, true, true, true}));
  ShowWindow(window, SW_SHOW);
  SetForegroundWindow(window);
  received.clear();
  sim::pressAt(65, 6000, 6550);
  sim::runUntil(7000);
  std::vector<LPARAM> keyDowns;
  for (const Received& r : received)
    if (r.message == WM_KEYDOWN) keyDowns.push_back(r.lParam);
  EXPECT_EQ(keyDowns, (std::vector<LPARAM>{1, 0x40000001, 0x40000001}));
}

TEST_F(SimTest, TheKeyboardsStrokesAndEveryCallCarryTheirTime) {
  HWND window = makeWindow();
  RegisterHotKey(window, 7, 0, 193);
  sim::pressAt(193, 100, 700);
  sim::runUntil(1000);
  keybd_event(65, 0, 0, 0);  // injected: not the user's keyboard
  GetTickCount();
  struct Stroke {
    bool down, repeat;
    uint64_t at;
    bool operator==(const Stroke& o) const { return down == o.down && repeat == o.repeat && at == o.at; }
  };
  std::vector<Stroke> strokes;
  for (const sim::KeyStroke& stroke : sim::keyStrokes()) {
    EXPECT_EQ(stroke.virtualKey, 193u);
    strokes.push_back({stroke.down, stroke.repeat, stroke.at});
  }
  EXPECT_EQ(strokes, (std::vector<Stroke>{{true, false, 100}, {true, true, 600}, {true, true, 640},
                                          {true, true, 680}, {false, false, 700}}));
  ASSERT_EQ(sim::callTimes().size(), sim::calls().size());
  EXPECT_EQ(sim::calls().back(), "GetTickCount()");
  EXPECT_EQ(sim::callTimes().back(), 1000u);
  EXPECT_EQ(sim::callTimes().front(), 0u);
  sim::clearRecords();
  EXPECT_TRUE(sim::keyStrokes().empty());
  EXPECT_TRUE(sim::callTimes().empty());
}

TEST_F(SimTest, OnlyTheKeyThatWentDownLastRepeats) {
  sim::pressAt(193, 0, 3000);
  sim::pressAt(65, 700, 900);
  sim::runUntil(4000);
  // 193 repeats from 500 until 65 goes down, and not again after 65 is released.
  EXPECT_EQ(downsToOthers(193), (std::vector<bool>{false, true, true, true, true, true}));
  EXPECT_EQ(downsToOthers(65), (std::vector<bool>{false}));
}

TEST_F(SimTest, RepeatIsSettableAndInjectedKeysNeverRepeat) {
  sim::setKeyRepeat(true, 250, 33);
  sim::pressAt(193, 0, 400);
  sim::runUntil(1000);
  EXPECT_EQ(downsToOthers(193).size(), 6u);  // 0, then 250, 283, 316, 349, 382
  keybd_event(194, 0, KEYEVENTF_SILENT, 0);
  sim::runFor(2000);
  EXPECT_EQ(downsToOthers(194).size(), 1u);
  keybd_event(194, 0, KEYEVENTF_KEYUP, 0);

  sim::setKeyRepeat(false);
  sim::pressAt(195, 2000, 4000);
  sim::runUntil(5000);
  EXPECT_EQ(downsToOthers(195).size(), 1u);
  // Switched off while a key is held, the repeat stops at once.
  sim::setKeyRepeat(true);
  sim::keyDown(196);
  sim::runFor(600);
  sim::setKeyRepeat(false);
  sim::runFor(600);
  EXPECT_EQ(downsToOthers(196).size(), 4u);  // 0, 500, 540, 580
}

// ---- Timers, scheduling, the queue ---------------------------------------------------------

TEST_F(SimTest, TimersTickOncePerPeriodWithoutPilingUp) {
  HWND window = makeWindow();
  EXPECT_EQ(SetTimer(window, 9, 100, nullptr), 9u);
  sim::runFor(1000);
  std::vector<uint64_t> ticks;
  for (const Received& r : received)
    if (r.message == WM_TIMER) ticks.push_back(r.time);
  EXPECT_EQ(ticks, (std::vector<uint64_t>{100, 200, 300, 400, 500, 600, 700, 800, 900, 1000}));
  EXPECT_EQ(sim::timers()[0].due, 1100u);
  SetTimer(window, 9, 3, nullptr);  // replaces it; too short a period runs at 10 ms
  EXPECT_EQ(sim::timers().size(), 1u);
  EXPECT_EQ(sim::timers()[0].due, 1010u);
  EXPECT_TRUE(KillTimer(window, 9));
  EXPECT_FALSE(KillTimer(window, 9));
  sim::failTimers(true);  // no timer left in the system
  EXPECT_EQ(SetTimer(window, 9, 100, nullptr), 0u);
  EXPECT_TRUE(sim::timers().empty());
  sim::failTimers(false);
  received.clear();
  sim::runFor(1000);
  EXPECT_TRUE(received.empty());
}

TEST_F(SimTest, PostedMessagesComeFirstThenTheQuitThenPaintsAndTimers) {
  HWND window = makeWindow(WS_VISIBLE);
  SetTimer(window, 1, 10, nullptr);
  sim::runFor(10);  // paints, ticks once; the next tick is due at 20
  PostMessageW(window, WM_APP, 1, 2);
  PostMessageW(window, WM_APP + 1, 3, 4);
  PostQuitMessage(5);
  MSG msg;
  ASSERT_TRUE(GetMessageW(&msg, nullptr, 0, 0));
  EXPECT_EQ(msg.message, static_cast<UINT>(WM_APP));
  EXPECT_EQ(msg.lParam, 2);
  ASSERT_TRUE(GetMessageW(&msg, nullptr, 0, 0));
  EXPECT_EQ(msg.message, static_cast<UINT>(WM_APP + 1));
  EXPECT_FALSE(GetMessageW(&msg, nullptr, 0, 0));
  EXPECT_EQ(msg.wParam, 5u);
  EXPECT_EQ(sim::quitCode(), 5);
  ASSERT_TRUE(GetMessageW(&msg, nullptr, 0, 0));  // waits for the timer
  EXPECT_EQ(msg.message, static_cast<UINT>(WM_TIMER));
  EXPECT_EQ(sim::now(), 20u);
}

TEST_F(SimTest, GetMessageWaitsForScheduledPressesAndTheIdleHook) {
  HWND window = makeWindow();
  RegisterHotKey(window, 2, 0, 200);
  sim::pressAt(200, 500, 900);
  MSG msg;
  ASSERT_TRUE(GetMessageW(&msg, nullptr, 0, 0));
  EXPECT_EQ(msg.message, static_cast<UINT>(WM_HOTKEY));
  EXPECT_EQ(sim::now(), 500u);
  int idleCalls = 0;
  sim::setIdleHook([&] {
    ++idleCalls;
    PostQuitMessage(0);
  });
  EXPECT_FALSE(GetMessageW(&msg, nullptr, 0, 0));  // the release at 900 first, then idle
  EXPECT_EQ(sim::now(), 900u);
  EXPECT_EQ(idleCalls, 1);
  EXPECT_EQ(GetAsyncKeyState(200), 0);
}

TEST_F(SimDeathTest, GetMessageWithNothingAheadStopsTheProgram) {
  MSG msg;
  EXPECT_DEATH(GetMessageW(&msg, nullptr, 0, 0), "wait forever");
  sim::setIdleHook([] {});
  EXPECT_DEATH(GetMessageW(&msg, nullptr, 0, 0), "wait forever");
}

TEST_F(SimTest, PumpLeavesTheQuitForGetMessage) {
  HWND window = makeWindow();
  PostQuitMessage(1);
  PostMessageW(window, WM_APP, 0, 0);
  sim::pump();
  EXPECT_EQ(messagesOf(window).back(), static_cast<UINT>(WM_APP));
  MSG msg;
  EXPECT_FALSE(GetMessageW(&msg, nullptr, 0, 0));
}

// ---- Windows and painting ----------------------------------------------------------------

TEST_F(SimTest, ACreationRefusedByTheWindowIsDestroyedAndFails) {
  onMessage = [](HWND, UINT message, WPARAM, LPARAM) -> std::optional<LRESULT> {
    if (message == WM_CREATE) return -1;
    return std::nullopt;
  };
  EXPECT_EQ(makeWindow(), nullptr);
  ASSERT_EQ(received.size(), 2u);
  EXPECT_EQ(received[0].message, static_cast<UINT>(WM_CREATE));
  EXPECT_EQ(received[1].message, static_cast<UINT>(WM_DESTROY));
  EXPECT_TRUE(sim::window(received[0].window).destroyed);
  EXPECT_EQ(CreateWindowExW(0, u"No.Such.Class", u"", 0, 0, 0, 1, 1, nullptr, nullptr,
                            sim::instance(), nullptr),
            nullptr);
  WNDCLASSW again = {};
  again.lpfnWndProc = recordingProcedure;
  again.lpszClassName = u"SIM.TEST";
  EXPECT_EQ(RegisterClassW(&again), 0);
}

TEST_F(SimTest, ADestroyedWindowGetsNothingButKeepsWhatItLeftBehind) {
  HWND window = makeWindow(WS_VISIBLE);
  RegisterHotKey(window, 1, 0, 193);
  SetTimer(window, 1, 100, nullptr);
  PostMessageW(window, WM_APP, 0, 0);
  PostMessageW(window, WM_CLOSE, 0, 0);
  sim::pump();
  EXPECT_EQ(messagesOf(window).back(), static_cast<UINT>(WM_DESTROY));
  EXPECT_TRUE(sim::window(window).destroyed);
  EXPECT_FALSE(IsWindowVisible(window));
  EXPECT_FALSE(PostMessageW(window, WM_APP, 0, 0));
  EXPECT_FALSE(DestroyWindow(window));
  received.clear();
  sim::keyDown(193);
  sim::runFor(500);
  EXPECT_TRUE(received.empty());
  EXPECT_EQ(sim::hotKeys().size(), 1u);
  EXPECT_EQ(sim::timers().size(), 1u);
  EXPECT_TRUE(sim::keysToOthers().empty());
}

TEST_F(SimTest, ShownWindowsArePaintedWithTheirBackgroundAndHiddenOnesNever) {
  sim::setCaptionHeight(20);
  sim::setBorderWidth(2);
  HWND window = makeWindow(WS_CAPTION);
  RECT client;
  ASSERT_TRUE(GetClientRect(window, &client));
  EXPECT_EQ(client.right, 236);
  EXPECT_EQ(client.bottom, 270);
  InvalidateRect(window, nullptr, TRUE);
  sim::pump();
  EXPECT_TRUE(sim::paints().empty());
  EXPECT_FALSE(ShowWindow(window, SW_SHOW));
  EXPECT_TRUE(ShowWindow(window, SW_SHOW));
  sim::pump();
  ASSERT_EQ(sim::paints().size(), 1u);
  const sim::Paint& paint = sim::paints()[0];
  EXPECT_EQ(paint.update.right, 236);
  ASSERT_EQ(paint.ops.size(), 1u);
  EXPECT_EQ(paint.ops[0].kind, sim::DrawOp::Erase);
  RECT part = {10, 10, 20, 20};
  InvalidateRect(window, &part, FALSE);
  RECT other = {30, 5, 40, 15};
  InvalidateRect(window, &other, FALSE);
  UpdateWindow(window);
  ASSERT_EQ(sim::paints().size(), 2u);
  EXPECT_EQ(sim::paints()[1].update.left, 10);
  EXPECT_EQ(sim::paints()[1].update.top, 5);
  EXPECT_EQ(sim::paints()[1].update.right, 40);
  EXPECT_TRUE(sim::paints()[1].ops.empty());  // no erase was asked for
  EXPECT_EQ(sim::invalidations().size(), 3u);
}

// ---- Graphics ------------------------------------------------------------------------------

TEST_F(SimTest, DrawingBecomesTheOperationsOfItsPaint) {
  HWND window = makeWindow(WS_VISIBLE);
  onMessage = [](HWND w, UINT message, WPARAM, LPARAM) -> std::optional<LRESULT> {
    if (message != WM_PAINT) return std::nullopt;
    PAINTSTRUCT paint;
    HDC dc = BeginPaint(w, &paint);
    EXPECT_EQ(SetBkMode(dc, TRANSPARENT), OPAQUE);
    EXPECT_EQ(SetTextColor(dc, RGB(255, 0, 0)), RGB(0, 0, 0));
    RECT box = {0, 0, 100, 20};
    EXPECT_GT(DrawTextW(dc, u"Kurvix", -1, &box, DT_CENTER | DT_SINGLELINE), 0);
    HPEN pen = CreatePen(PS_SOLID, 2, RGB(0, 0, 255));
    HGDIOBJ old = SelectObject(dc, pen);
    MoveToEx(dc, 0, 30, nullptr);
    LineTo(dc, 50, 30);
    LineTo(dc, 50, 60);
    EXPECT_FALSE(DeleteObject(pen));  // still selected
    EXPECT_EQ(SelectObject(dc, old), pen);
    EXPECT_TRUE(DeleteObject(pen));
    EXPECT_TRUE(DeleteObject(GetStockObject(LTGRAY_BRUSH)));
    EndPaint(w, &paint);
    return 0;
  };
  sim::pump();
  ASSERT_EQ(sim::paints().size(), 1u);
  const std::vector<sim::DrawOp>& ops = sim::paints()[0].ops;
  ASSERT_EQ(ops.size(), 3u);
  EXPECT_EQ(ops[0].kind, sim::DrawOp::Erase);
  EXPECT_EQ(ops[1].text, u"Kurvix");
  EXPECT_EQ(ops[1].color, RGB(255, 0, 0));
  EXPECT_EQ(ops[1].bkMode, TRANSPARENT);
  EXPECT_EQ(ops[2].kind, sim::DrawOp::Lines);
  EXPECT_EQ(ops[2].points.size(), 3u);
  EXPECT_EQ(ops[2].points[2].y, 60);
  EXPECT_EQ(ops[2].color, RGB(0, 0, 255));
  EXPECT_EQ(ops[2].penWidth, 2);
  sim::GdiStats stats = sim::gdi();
  EXPECT_EQ(stats.pensCreated, 1);
  EXPECT_EQ(stats.pensDeleted, 1);
  EXPECT_EQ(stats.errors, 1);
  EXPECT_EQ(window, sim::paints()[0].window);
}

TEST_F(SimTest, TextIsMeasuredAndBrokenBetweenWordsAsInTheDevicesFont) {
  struct Case {
    const char16_t* text;
    UINT format;
    LONG width;  // of the rectangle
    std::vector<std::u16string> lines;
    LONG measuredWidth;  // what DT_CALCRECT leaves in the rectangle
  };
  // Tahoma at 12 pixels: digits 7 wide, "i" and "l" 3, a space 4, "W" 11, "u" and "\u00FC" 7.
  const std::vector<Case> cases = {
      {u"4294967295", DT_SINGLELINE, 10, {u"4294967295"}, 70},
      {u"il Wu\u00FC", DT_SINGLELINE, 10, {u"il Wu\u00FC"}, 35},
      {u"der Key-Code der letzten Taste ist 4294967295", DT_CENTER | DT_SINGLELINE, 220,
       {u"der Key-Code der letzten Taste ist 4294967295"}, 253},
      {u"der Key-Code der letzten Taste ist 4294967295", DT_CENTER | DT_WORDBREAK, 220,
       {u"der Key-Code der letzten Taste ist", u"4294967295"}, 179},
      {u"dr\u00FCcken Sie eine Taste f\u00FCr deren Key-Code", DT_CENTER | DT_WORDBREAK, 220,
       {u"dr\u00FCcken Sie eine Taste f\u00FCr deren", u"Key-Code"}, 174},
      // A word wider than the rectangle keeps a line of its own; line breaks always break.
      {u"ab 4294967295 cd", DT_WORDBREAK, 30, {u"ab", u"4294967295", u"cd"}, 70},
      {u"eins\r\nzwei drei", DT_WORDBREAK, 200, {u"eins", u"zwei drei"}, 47},
      {u"eins\nzwei", 0, 10, {u"eins", u"zwei"}, 23},
  };
  HWND window = makeWindow(WS_VISIBLE);
  onMessage = [&cases](HWND w, UINT message, WPARAM, LPARAM) -> std::optional<LRESULT> {
    if (message != WM_PAINT) return std::nullopt;
    PAINTSTRUCT paint;
    HDC dc = BeginPaint(w, &paint);
    for (size_t i = 0; i < cases.size(); ++i) {
      const Case& c = cases[i];
      SCOPED_TRACE(i);
      RECT measured = {5, 10, 5 + c.width, 12};
      int height = DrawTextW(dc, c.text, -1, &measured, c.format | DT_CALCRECT);
      EXPECT_EQ(height, static_cast<int>(c.lines.size()) * sim::kTextLineHeight);
      EXPECT_EQ(measured.left, 5);
      EXPECT_EQ(measured.right - measured.left, c.measuredWidth);
      EXPECT_EQ(measured.bottom - measured.top, height);
      RECT box = {5, 10, 5 + c.width, 12};
      EXPECT_EQ(DrawTextW(dc, c.text, -1, &box, c.format), height);
    }
    EndPaint(w, &paint);
    return 0;
  };
  sim::pump();
  ASSERT_EQ(sim::paints().size(), 1u);
  std::vector<sim::DrawOp> ops = sim::paints()[0].ops;
  ASSERT_EQ(ops.size(), cases.size() + 1);  // measuring draws nothing; the erase comes first
  for (size_t i = 0; i < cases.size(); ++i) {
    EXPECT_EQ(ops[i + 1].lines, cases[i].lines) << "case " << i;
    EXPECT_EQ(ops[i + 1].rect.right, 5 + cases[i].width);  // drawing leaves the rectangle
  }
  EXPECT_EQ(window, sim::paints()[0].window);
}

// ---- Shell ----------------------------------------------------------------------------------

TEST_F(SimTest, TrayIconsFollowTheShellsRules) {
  HWND window = makeWindow();
  NOTIFYICONDATAW data = {};
  data.cbSize = sizeof data;
  data.hWnd = window;
  data.uID = 100;
  data.uFlags = NIF_MESSAGE | NIF_ICON | NIF_TIP;
  data.uCallbackMessage = WM_APP + 2;
  data.hIcon = LoadIconW(sim::instance(), MAKEINTRESOURCE(102));
  std::u16string tip = u"Kurvix";
  std::copy(tip.begin(), tip.end(), data.szTip);
  EXPECT_FALSE(Shell_NotifyIconW(NIM_MODIFY, &data));
  EXPECT_TRUE(Shell_NotifyIconW(NIM_ADD, &data));
  EXPECT_FALSE(Shell_NotifyIconW(NIM_ADD, &data));
  data.uFlags = NIF_ICON;
  data.hIcon = LoadIconW(sim::instance(), MAKEINTRESOURCE(103));
  data.szTip[0] = 0;
  EXPECT_TRUE(Shell_NotifyIconW(NIM_MODIFY, &data));
  std::optional<sim::TrayIcon> icon = sim::trayIcon(window, 100);
  ASSERT_TRUE(icon);
  EXPECT_EQ(icon->iconResource, 103);
  EXPECT_EQ(icon->tip, u"Kurvix");  // not named in the flags, so kept
  EXPECT_EQ(LoadIconW(sim::instance(), MAKEINTRESOURCE(104)), nullptr);

  sim::tapTrayIcon(window, 100);
  sim::pump();
  ASSERT_EQ(received.size(), 3u);
  EXPECT_EQ(received[1].message, static_cast<UINT>(WM_APP + 2));
  EXPECT_EQ(received[1].lParam, WM_LBUTTONDOWN);
  EXPECT_EQ(received[2].lParam, WM_LBUTTONUP);

  EXPECT_TRUE(Shell_NotifyIconW(NIM_DELETE, &data));
  EXPECT_FALSE(Shell_NotifyIconW(NIM_DELETE, &data));
  EXPECT_TRUE(sim::trayIcons().empty());
  ASSERT_EQ(sim::trayCalls().size(), 6u);
  EXPECT_FALSE(sim::trayCalls()[0].succeeded);
  EXPECT_EQ(sim::trayCalls()[1].iconResource, 102);
}

TEST_F(SimTest, TrayIconIdsUpTo12BelongToThePocketPcShell) {
  HWND window = makeWindow();
  const struct {
    UINT id;
    bool added;
  } rows[] = {{0, false}, {1, false}, {12, false}, {13, true}, {100, true}};
  for (const auto& row : rows) {
    NOTIFYICONDATAW data = {};
    data.cbSize = sizeof data;
    data.hWnd = window;
    data.uID = row.id;
    data.uFlags = NIF_MESSAGE | NIF_ICON;
    data.uCallbackMessage = WM_APP + 1;
    data.hIcon = LoadIconW(sim::instance(), MAKEINTRESOURCE(102));
    EXPECT_EQ(Shell_NotifyIconW(NIM_ADD, &data) != FALSE, row.added) << "id " << row.id;
    EXPECT_EQ(sim::trayIcon(window, row.id).has_value(), row.added) << "id " << row.id;
    // Changing or removing a reserved id fails as well, whatever the shell holds there.
    EXPECT_EQ(Shell_NotifyIconW(NIM_MODIFY, &data) != FALSE, row.added) << "id " << row.id;
    EXPECT_EQ(Shell_NotifyIconW(NIM_DELETE, &data) != FALSE, row.added) << "id " << row.id;
  }
  EXPECT_TRUE(sim::trayIcons().empty());
}

// ---- Formatting and metrics ---------------------------------------------------------------

TEST_F(SimTest, CharUpperBuffMapsEachUnitToItsUnicodeUpperCase) {
  const std::vector<std::pair<std::u16string, std::u16string>> rows = {
      {u"kurvix.exe", u"KURVIX.EXE"},
      {u"\\Programme\\a/b 1_2", u"\\PROGRAMME\\A/B 1_2"},    // only letters change
      {u"\u00E4\u00F6\u00FC\u00E9\u00F8", u"\u00C4\u00D6\u00DC\u00C9\u00D8"},  // Latin-1
      {u"\u00FF", u"\u0178"},                                 // y with diaeresis leaves Latin-1
      {u"\u00DF\u00F7\u00D7", u"\u00DF\u00F7\u00D7"},           // no single upper case: unchanged
      {u"\u0142\u0119\u017C", u"\u0141\u0118\u017B"},           // Polish
      {u"\u03C9\u03AC", u"\u03A9\u0386"},                         // Greek
      {u"\u0434\u0451", u"\u0414\u0401"},                         // Cyrillic
      {u"\xD83D\xDE00", u"\xD83D\xDE00"},                         // a surrogate pair stays
  };
  for (const auto& [text, upper] : rows) {
    std::u16string buffer = text + u"x";
    EXPECT_EQ(CharUpperBuffW(buffer.data(), static_cast<DWORD>(text.size())), text.size());
    EXPECT_EQ(buffer, upper + u"x");  // not one unit beyond the length
  }
}

TEST_F(SimTest, WsprintfFormatsNumbersAndWideStrings) {
  WCHAR buffer[64];
  int written = wsprintfW(buffer, u"%u von %d: %s 100%%", 4000000000u, -3, u"Taste");
  EXPECT_EQ(std::u16string(buffer), u"4000000000 von -3: Taste 100%");
  EXPECT_EQ(written, 29);
  RECT area;
  ASSERT_TRUE(SystemParametersInfoW(SPI_GETWORKAREA, 0, &area, 0));
  EXPECT_EQ(area.bottom, 294);
  EXPECT_EQ(GetSystemMetrics(SM_CYCAPTION), 26);
  EXPECT_NE(LoadCursorW(nullptr, IDC_ARROW), nullptr);
}

}  // namespace
