/*
 * kvdriver: drives a running Kurvix from outside, for the end-to-end tests and the
 * desktop demonstration under Wine. Each subcommand prints one JSON object per line on
 * stdout and exits 0 when its condition was met, 1 when it failed or timed out, 2 on a
 * usage error. Text is escaped to ASCII, so no code page stands between it and Python.
 *
 *   desktop [--hold MS]                       size of the desktop (starts Wine's desktop);
 *                                             --hold stays a user of the desktop for MS
 *   window CLASS [--title T] [--visible 0|1] [--gone 1] [--timeout MS]   (with the count
 *                                             of windows of the class)
 *   box [--caption C] [--press ok|cancel|yes|no] [--timeout MS]
 *   press VK HOLD_MS [VK HOLD_MS]... [--gap MS]   key down, hold, key up (keybd_event);
 *                                             several presses --gap MS apart, one answer each
 *   keys VK+MS|VK-MS... [--repeat DELAY:INTERVAL|off]   a keyboard: key down (+) or up (-)
 *                                             at MS after the start; the key that went down
 *                                             last repeats its key-down while held, after
 *                                             DELAY, every INTERVAL ms (default 500:40)
 *   post CLASS MESSAGE [WPARAM [LPARAM]]      PostMessage to the window of that class
 *   send CLASS MESSAGE [WPARAM [LPARAM]] [--timeout MS]   the same, waiting until handled
 *   watch PID [--timeout MS]                  prints {"watching"} at once, then the exit
 *   kill PID [PID]...                         TerminateProcess with exit code 9
 *   hotkey VK [--wait MS]                     whether RegisterHotKey of VK succeeds now;
 *                                             --wait keeps it and answers again at WM_HOTKEY
 *   open PATH                                 ShellExecuteEx of PATH as a binding's Command
 *                                             does; the tick before, the call's duration
 *   foreground [--set CLASS] [--timeout MS]   the foreground window; --set activates one
 *   sink LOG [--timeout MS]                   a focused window logging its key messages
 *   version PATH                              the file's version resource as the file's
 *                                             properties read it (GetFileVersionInfoW)
 *   scenario EXE --class C --tray MSG:ID ...  runs a program through a scenario's script
 *                                             (see cmdScenario); one answer at its end
 */
#include <windows.h>
// shellapi.h needs the types of windows.h.
#include <shellapi.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <deque>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <vector>

namespace {

const DWORD DEFAULT_TIMEOUT_MS = 10000;
const DWORD POLL_MS = 10;
const wchar_t* const SINK_CLASS = L"KvSink.Class";

class Json {
 public:
  Json& text(const char* name, const std::wstring& value) {
    key(name);
    body_ += '"';
    for (wchar_t unit : value) {
      if (unit >= 0x20 && unit < 0x7F && unit != '"' && unit != '\\') {
        body_ += static_cast<char>(unit);
      } else {
        char escape[8];
        std::snprintf(escape, sizeof(escape), "\\u%04x", static_cast<unsigned>(unit));
        body_ += escape;
      }
    }
    body_ += '"';
    return *this;
  }
  Json& number(const char* name, long long value) {
    key(name);
    body_ += std::to_string(value);
    return *this;
  }
  Json& flag(const char* name, bool value) {
    key(name);
    body_ += value ? "true" : "false";
    return *this;
  }
  Json& numbers(const char* name, const std::vector<long long>& values) {
    key(name);
    body_ += '[';
    for (size_t i = 0; i < values.size(); ++i) {
      if (i > 0) body_ += ", ";
      body_ += std::to_string(values[i]);
    }
    body_ += ']';
    return *this;
  }
  Json& objects(const char* name, const std::vector<Json>& values) {
    key(name);
    body_ += '[';
    for (size_t i = 0; i < values.size(); ++i) {
      if (i > 0) body_ += ", ";
      body_ += '{' + values[i].body_ + '}';
    }
    body_ += ']';
    return *this;
  }
  void print() const {
    std::printf("{%s}\n", body_.c_str());
    std::fflush(stdout);
  }

 private:
  void key(const char* name) {
    if (!body_.empty()) body_ += ", ";
    body_ += '"';
    body_ += name;
    body_ += "\": ";
  }
  std::string body_;
};

struct UsageError {
  std::string what;
};

/* Decimal, or hexadecimal with 0x. */
unsigned long number(const std::string& text) {
  char* end = nullptr;
  unsigned long value = std::strtoul(text.c_str(), &end, 0);
  if (text.empty() || *end != 0) throw UsageError{"not a number: " + text};
  return value;
}

struct Args {
  std::vector<std::string> positional;
  std::map<std::string, std::string> options;  // the last of each name
  std::vector<std::pair<std::string, std::string>> optionsInOrder;

  std::optional<std::string> option(const char* name) const {
    auto found = options.find(name);
    if (found == options.end()) return std::nullopt;
    return found->second;
  }
  DWORD timeout() const {
    auto value = option("--timeout");
    return value ? number(*value) : DEFAULT_TIMEOUT_MS;
  }
};

const std::string& positional(const Args& args, size_t index) {
  if (index >= args.positional.size()) throw UsageError{"missing argument"};
  return args.positional[index];
}

std::wstring wide(const std::string& text) {
  int length = MultiByteToWideChar(CP_ACP, 0, text.c_str(), -1, nullptr, 0);
  std::wstring result(length > 0 ? length - 1 : 0, L'\0');
  if (length > 1) MultiByteToWideChar(CP_ACP, 0, text.c_str(), -1, &result[0], length);
  return result;
}

std::wstring windowText(HWND window) {
  wchar_t buffer[1024];
  int length = GetWindowTextW(window, buffer, 1024);
  return std::wstring(buffer, length > 0 ? length : 0);
}

std::wstring className(HWND window) {
  wchar_t buffer[256];
  int length = GetClassNameW(window, buffer, 256);
  return std::wstring(buffer, length > 0 ? length : 0);
}

/* For delays too short for GetTickCount, which Wine advances in steps of up to 16 ms; Wine
   reads one clock for every process here too. */
long long microseconds() {
  LARGE_INTEGER count, frequency;
  QueryPerformanceCounter(&count);
  QueryPerformanceFrequency(&frequency);
  return count.QuadPart / frequency.QuadPart * 1000000 +
         count.QuadPart % frequency.QuadPart * 1000000 / frequency.QuadPart;
}

bool waitFor(DWORD timeout, const std::function<bool()>& condition) {
  DWORD start = GetTickCount();
  for (;;) {
    if (condition()) return true;
    if (GetTickCount() - start >= timeout) return false;
    Sleep(POLL_MS);
  }
}

void describeWindow(Json& json, HWND window) {
  DWORD pid = 0;
  GetWindowThreadProcessId(window, &pid);
  RECT frame;
  GetWindowRect(window, &frame);
  RECT client;
  GetClientRect(window, &client);
  POINT origin = {0, 0};
  ClientToScreen(window, &origin);
  json.number("hwnd", static_cast<long long>(reinterpret_cast<UINT_PTR>(window)))
      .number("pid", pid)
      .text("class", className(window))
      .text("title", windowText(window))
      .flag("visible", IsWindowVisible(window) != 0)
      .numbers("window_rect", {frame.left, frame.top, frame.right, frame.bottom})
      .numbers("client_size", {client.right, client.bottom})
      .numbers("client_origin", {origin.x, origin.y});
}

HWND findWindow(const std::string& windowClass) {
  return FindWindowW(wide(windowClass).c_str(), nullptr);
}

/* The top-level windows of a class, shown or not, of every process or of one (pid not 0). */
std::vector<HWND> topLevelWindows(const wchar_t* windowClass, DWORD pid = 0) {
  std::vector<HWND> found;
  HWND window = nullptr;
  while ((window = FindWindowExW(nullptr, window, windowClass, nullptr)) != nullptr) {
    DWORD owner = 0;
    GetWindowThreadProcessId(window, &owner);
    if (pid == 0 || owner == pid) found.push_back(window);
  }
  return found;
}

const wchar_t* const BOX_CLASS = L"#32770";

/* What a message box shows: its caption, its text and the ids of its buttons. */
struct BoxContent {
  std::wstring caption, text;
  std::vector<long long> buttons;
};

BoxContent readBox(HWND box) {
  BoxContent content = {windowText(box), windowText(GetDlgItem(box, 0xFFFF)), {}};
  for (int id = IDOK; id <= IDNO; ++id) {
    if (GetDlgItem(box, id) != nullptr) content.buttons.push_back(id);
  }
  return content;
}

/* Presses a box's button as a tap does; false when the box has no such button. */
bool pressButton(HWND box, int id) {
  HWND button = GetDlgItem(box, id);
  if (button == nullptr) return false;
  PostMessageW(box, WM_COMMAND, MAKEWPARAM(id, BN_CLICKED), reinterpret_cast<LPARAM>(button));
  return true;
}

int report(bool ok, const std::function<void(Json&)>& fill) {
  Json json;
  json.flag("ok", ok);
  fill(json);
  json.print();
  return ok ? 0 : 1;
}

int cmdDesktop(const Args& args) {
  RECT desktop;
  GetWindowRect(GetDesktopWindow(), &desktop);
  report(true, [&](Json& json) {
    json.numbers("size", {desktop.right - desktop.left, desktop.bottom - desktop.top});
  });
  // Wine closes its desktop a moment after the last program using it ends, and a program
  // starting meanwhile may hang: a session keeps one user of the desktop until it ends.
  auto hold = args.option("--hold");
  if (hold) Sleep(number(*hold));
  return 0;
}

int cmdWindow(const Args& args) {
  const std::string& windowClass = positional(args, 1);
  auto title = args.option("--title");
  auto visible = args.option("--visible");
  bool gone = args.option("--gone").has_value();
  HWND window = nullptr;
  bool met = waitFor(args.timeout(), [&] {
    window = findWindow(windowClass);
    if (gone) return window == nullptr;
    if (window == nullptr) return false;
    if (title && windowText(window) != wide(*title)) return false;
    if (visible && (IsWindowVisible(window) != 0) != (number(*visible) != 0)) return false;
    return true;
  });
  return report(met, [&](Json& json) {
    // Shown or not: a second instance would add one.
    json.flag("found", window != nullptr)
        .number("count", static_cast<long long>(topLevelWindows(wide(windowClass).c_str()).size()));
    if (window != nullptr) describeWindow(json, window);
  });
}

HWND findMessageBox(const std::optional<std::string>& caption) {
  for (HWND box : topLevelWindows(BOX_CLASS)) {
    if (IsWindowVisible(box) && (!caption || windowText(box) == wide(*caption))) return box;
  }
  return nullptr;
}

int buttonId(const std::string& name) {
  static const std::map<std::string, int> ids = {
      {"ok", IDOK}, {"cancel", IDCANCEL}, {"yes", IDYES}, {"no", IDNO}};
  auto found = ids.find(name);
  if (found == ids.end()) throw UsageError{"unknown button: " + name};
  return found->second;
}

int cmdBox(const Args& args) {
  auto caption = args.option("--caption");
  auto press = args.option("--press");
  int pressId = press ? buttonId(*press) : 0;
  HWND box = nullptr;
  bool found = waitFor(args.timeout(), [&] { return (box = findMessageBox(caption)) != nullptr; });
  if (!found) return report(false, [](Json& json) { json.flag("found", false); });

  // Read before any press: the box is gone afterwards.
  DWORD pid = 0;
  GetWindowThreadProcessId(box, &pid);
  BoxContent content = readBox(box);
  bool pressed = pressId != 0 && pressButton(box, pressId);
  bool closed = pressed && waitFor(args.timeout(), [&] { return !IsWindow(box); });
  return report(pressId == 0 || closed, [&](Json& json) {
    json.flag("found", true)
        .number("pid", pid)
        .text("caption", content.caption)
        .text("text", content.text)
        .numbers("buttons", content.buttons);
    if (pressId != 0) json.flag("pressed", pressed).flag("closed", closed);
  });
}

/* The driver's own keys carry this as their extra information, so that a low-level hook can
   tell them from the keys Kurvix hands back. */
const ULONG_PTR DRIVER_KEY = 0x4B56;

void inject(BYTE key, bool down) { keybd_event(key, 0, down ? 0 : KEYEVENTF_KEYUP, DRIVER_KEY); }

int cmdPress(const Args& args) {
  auto gap = args.option("--gap");
  for (size_t i = 1; i == 1 || i < args.positional.size(); i += 2) {
    if (i > 1 && gap) Sleep(number(*gap));
    BYTE key = static_cast<BYTE>(number(positional(args, i)));
    DWORD hold = number(positional(args, i + 1));
    DWORD downTick = GetTickCount();
    long long downUs = microseconds();
    inject(key, true);
    Sleep(hold);
    DWORD upTick = GetTickCount();
    inject(key, false);
    report(true, [&](Json& json) {
      json.number("vk", key)
          .number("down_tick", downTick)
          .number("up_tick", upTick)
          .number("down_us", downUs);
    });
  }
  return 0;
}

struct KeyEvent {
  DWORD at;
  BYTE key;
  bool down;
};

/* Plays key events at their times, with typematic repeat as a keyboard makes it: only the key
   that went down last repeats, and another key going down ends that repeat for good. */
class Keyboard {
 public:
  Keyboard(std::vector<KeyEvent> events, bool repeat, DWORD delay, DWORD interval)
      : events_(std::move(events)), repeat_(repeat), delay_(delay), interval_(interval) {
    std::stable_sort(events_.begin(), events_.end(),
                     [](const KeyEvent& a, const KeyEvent& b) { return a.at < b.at; });
  }
  bool done() const { return next_ == events_.size(); }
  size_t eventsLeft() const { return events_.size() - next_; }
  long long repeats() const { return repeats_; }
  // When the next injection is due; only while !done().
  DWORD due() const { return repeatFirst() ? nextRepeat_ : events_[next_].at; }
  // Injects the next key: true for a scripted event, false for a repeat.
  bool injectNext() {
    if (repeatFirst()) {
      inject(static_cast<BYTE>(repeating_), true);
      ++repeats_;
      nextRepeat_ += interval_;
      return false;
    }
    const KeyEvent& event = events_[next_++];
    inject(event.key, event.down);
    if (event.down) {
      repeating_ = repeat_ ? event.key : -1;
      nextRepeat_ = event.at + delay_;
    } else if (event.key == repeating_) {
      repeating_ = -1;
    }
    return true;
  }

 private:
  bool repeatFirst() const { return repeating_ >= 0 && nextRepeat_ < events_[next_].at; }

  std::vector<KeyEvent> events_;
  bool repeat_;
  DWORD delay_, interval_;
  size_t next_ = 0;
  int repeating_ = -1;
  DWORD nextRepeat_ = 0;
  long long repeats_ = 0;
};

const DWORD REPEAT_DELAY_MS = 500, REPEAT_INTERVAL_MS = 40;

int cmdKeys(const Args& args) {
  std::vector<KeyEvent> events;
  for (size_t i = 1; i < args.positional.size(); ++i) {
    const std::string& text = args.positional[i];
    size_t sign = text.find_first_of("+-");
    if (sign == std::string::npos || sign == 0) throw UsageError{"not a key event: " + text};
    events.push_back({static_cast<DWORD>(number(text.substr(sign + 1))),
                      static_cast<BYTE>(number(text.substr(0, sign))), text[sign] == '+'});
  }
  if (events.empty()) throw UsageError{"missing argument"};
  DWORD delay = REPEAT_DELAY_MS, interval = REPEAT_INTERVAL_MS;
  bool repeat = true;
  if (auto option = args.option("--repeat")) {
    size_t colon = option->find(':');
    if (*option == "off") {
      repeat = false;
    } else if (colon == std::string::npos) {
      throw UsageError{"--repeat DELAY:INTERVAL or off"};
    } else {
      delay = number(option->substr(0, colon));
      interval = number(option->substr(colon + 1));
      if (interval == 0) throw UsageError{"--repeat: the interval must not be 0"};
    }
  }

  Keyboard keyboard(std::move(events), repeat, delay, interval);
  DWORD start = GetTickCount();
  std::vector<long long> ticks;
  while (!keyboard.done()) {
    DWORD now = GetTickCount() - start;
    if (now < keyboard.due()) {
      Sleep(keyboard.due() - now);
    } else if (keyboard.injectNext()) {
      ticks.push_back(GetTickCount());
    }
  }
  return report(true, [&](Json& json) {
    json.numbers("ticks", ticks).number("repeats", keyboard.repeats());
  });
}

struct WindowMessage {
  HWND window;
  UINT message;
  WPARAM wParam;
  LPARAM lParam;
};

WindowMessage windowMessage(const Args& args) {
  WindowMessage result = {findWindow(positional(args, 1)), 0, 0, 0};
  result.message = number(positional(args, 2));
  if (args.positional.size() > 3) result.wParam = number(args.positional[3]);
  if (args.positional.size() > 4) result.lParam = number(args.positional[4]);
  return result;
}

int cmdPost(const Args& args) {
  WindowMessage m = windowMessage(args);
  bool posted = m.window != nullptr && PostMessageW(m.window, m.message, m.wParam, m.lParam);
  return report(posted, [&](Json& json) { json.flag("found", m.window != nullptr); });
}

/* Returns once the window has handled the message, so what it did can be checked next. */
int cmdSend(const Args& args) {
  WindowMessage m = windowMessage(args);
  DWORD_PTR result = 0;
  bool handled =
      m.window != nullptr && SendMessageTimeoutW(m.window, m.message, m.wParam, m.lParam,
                                                 SMTO_NORMAL, args.timeout(), &result) != 0;
  return report(handled, [&](Json& json) {
    json.flag("found", m.window != nullptr).number("result", static_cast<long long>(result));
  });
}

int cmdWatch(const Args& args) {
  DWORD pid = number(positional(args, 1));
  HANDLE process = OpenProcess(SYNCHRONIZE | PROCESS_QUERY_LIMITED_INFORMATION, FALSE, pid);
  if (process == nullptr) {
    return report(false, [](Json& json) { json.flag("exists", false); });
  }
  Json watching;
  watching.number("watching", pid);
  watching.print();
  bool exited = WaitForSingleObject(process, args.timeout()) == WAIT_OBJECT_0;
  DWORD exitCode = 0;
  GetExitCodeProcess(process, &exitCode);
  CloseHandle(process);
  return report(exited, [&](Json& json) {
    json.flag("exists", true).flag("exited", exited);
    if (exited) json.number("exit_code", exitCode);
  });
}

int cmdKill(const Args& args) {
  bool killed = true;
  for (size_t i = 1; i == 1 || i < args.positional.size(); ++i) {
    HANDLE process = OpenProcess(PROCESS_TERMINATE, FALSE, number(positional(args, i)));
    killed = process != nullptr && TerminateProcess(process, 9) && killed;
    if (process != nullptr) CloseHandle(process);
  }
  return report(killed, [](Json&) {});
}

int cmdHotkey(const Args& args) {
  UINT key = number(positional(args, 1));
  const int id = 0x7FFF;
  bool registered = RegisterHotKey(nullptr, id, 0, key) != 0;
  auto wait = args.option("--wait");
  if (registered && wait) {
    report(true, [&](Json& json) { json.number("vk", key).flag("free", true); });
    // The moment the hot key's message is taken from the queue, as a program would.
    UINT_PTR timer = SetTimer(nullptr, 0, number(*wait), nullptr);
    MSG message;
    while (GetMessageW(&message, nullptr, 0, 0) > 0 && message.message != WM_HOTKEY &&
           message.message != WM_TIMER) {
    }
    long long us = microseconds();
    KillTimer(nullptr, timer);
    UnregisterHotKey(nullptr, id);
    return report(message.message == WM_HOTKEY, [&](Json& json) { json.number("us", us); });
  }
  if (registered) UnregisterHotKey(nullptr, id);
  return report(true, [&](Json& json) { json.number("vk", key).flag("free", registered); });
}

int cmdOpen(const Args& args) {
  std::wstring path = wide(positional(args, 1));
  SHELLEXECUTEINFOW info = {};
  info.cbSize = sizeof(info);
  info.fMask = SEE_MASK_NOCLOSEPROCESS;
  info.lpVerb = L"Open";
  info.lpFile = path.c_str();
  info.nShow = SW_SHOW;
  DWORD tick = GetTickCount();
  long long callUs = microseconds();
  bool started = ShellExecuteExW(&info) != 0;
  long long returnUs = microseconds();
  if (info.hProcess != nullptr) CloseHandle(info.hProcess);
  return report(
      started, [&](Json& json) { json.number("tick", tick).number("call_us", returnUs - callUs); });
}

int cmdForeground(const Args& args) {
  auto target = args.option("--set");
  bool met = true;
  if (target) {
    HWND window = findWindow(*target);
    met = window != nullptr && waitFor(args.timeout(), [&] {
            if (GetForegroundWindow() == window) return true;
            SetForegroundWindow(window);
            return false;
          });
  }
  HWND foreground = GetForegroundWindow();
  return report(met, [&](Json& json) {
    json.flag("found", foreground != nullptr);
    if (foreground != nullptr) describeWindow(json, foreground);
  });
}

FILE* sinkLog = nullptr;

LRESULT CALLBACK sinkProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  const char* kind = nullptr;
  switch (message) {
    case WM_KEYDOWN:
    case WM_SYSKEYDOWN:
      kind = "down";
      break;
    case WM_KEYUP:
    case WM_SYSKEYUP:
      kind = "up";
      break;
    case WM_TIMER:
      DestroyWindow(window);
      return 0;
    case WM_DESTROY:
      PostQuitMessage(0);
      return 0;
    default:
      return DefWindowProcW(window, message, wParam, lParam);
  }
  // The tick of arrival lets the tests order these against the driver's own key events.
  std::fprintf(sinkLog, "%s %u %lu\n", kind, static_cast<unsigned>(wParam), GetTickCount());
  std::fflush(sinkLog);
  return 0;
}

int cmdSink(const Args& args) {
  sinkLog = std::fopen(positional(args, 1).c_str(), "a");
  if (sinkLog == nullptr) return report(false, [](Json& json) { json.text("error", L"log"); });
  WNDCLASSW windowClass = {};
  windowClass.lpfnWndProc = sinkProc;
  windowClass.hInstance = GetModuleHandleW(nullptr);
  windowClass.hbrBackground = static_cast<HBRUSH>(GetStockObject(WHITE_BRUSH));
  windowClass.lpszClassName = SINK_CLASS;
  RegisterClassW(&windowClass);
  HWND window = CreateWindowExW(0, SINK_CLASS, L"Kurvix key sink", WS_OVERLAPPEDWINDOW, 40, 40, 320,
                                200, nullptr, nullptr, windowClass.hInstance, nullptr);
  if (window == nullptr) return report(false, [](Json& json) { json.text("error", L"window"); });
  ShowWindow(window, SW_SHOW);
  SetForegroundWindow(window);
  SetFocus(window);
  // Never outlives a test run that forgot it.
  SetTimer(window, 1, args.timeout(), nullptr);
  report(true, [&](Json& json) { describeWindow(json, window); });

  MSG message;
  while (GetMessageW(&message, nullptr, 0, 0) > 0) DispatchMessageW(&message);
  std::fclose(sinkLog);
  return 0;
}

int cmdVersion(const Args& args) {
  std::wstring path = wide(positional(args, 1));
  DWORD ignored = 0;
  DWORD size = GetFileVersionInfoSizeW(path.c_str(), &ignored);
  std::vector<char> data(size);
  if (size == 0 || !GetFileVersionInfoW(path.c_str(), 0, size, data.data())) {
    return report(false, [](Json& json) { json.flag("found", false); });
  }
  VS_FIXEDFILEINFO* fixed = nullptr;
  UINT length = 0;
  VerQueryValueW(data.data(), L"\\", reinterpret_cast<void**>(&fixed), &length);
  WORD* translation = nullptr;
  VerQueryValueW(data.data(), L"\\VarFileInfo\\Translation", reinterpret_cast<void**>(&translation),
                 &length);
  return report(fixed != nullptr && translation != nullptr, [&](Json& json) {
    json.flag("found", true);
    if (fixed == nullptr || translation == nullptr) return;
    json.numbers("file_version", {HIWORD(fixed->dwFileVersionMS), LOWORD(fixed->dwFileVersionMS),
                                  HIWORD(fixed->dwFileVersionLS), LOWORD(fixed->dwFileVersionLS)});
    json.numbers("product_version",
                 {HIWORD(fixed->dwProductVersionMS), LOWORD(fixed->dwProductVersionMS),
                  HIWORD(fixed->dwProductVersionLS), LOWORD(fixed->dwProductVersionLS)});
    json.numbers("translation", {translation[0], translation[1]});
    wchar_t block[64];
    for (const char* name : {"FileDescription", "FileVersion", "ProductName", "ProductVersion",
                             "OriginalFilename", "Comments"}) {
      swprintf(block, 64, L"\\StringFileInfo\\%04x%04x\\%hs", translation[0], translation[1],
               name);
      wchar_t* value = nullptr;
      if (VerQueryValueW(data.data(), block, reinterpret_cast<void**>(&value), &length) &&
          value != nullptr) {
        json.text(name, value);
      }
    }
  });
}

/* Every key event of the session as a low-level keyboard hook sees it, on a thread of its own
   that does nothing but take the hook's calls: the system waits for the hook before it
   delivers a key, so the hook must never wait on the driver's own sleeps. */
class KeyWatch {
 public:
  struct Seen {
    long long us;
    DWORD key;
    bool down;
    ULONG_PTR extra;
  };

  KeyWatch() {
    InitializeCriticalSection(&lock_);
    self_ = this;
    ready_ = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    thread_ = CreateThread(nullptr, 0, run, this, 0, &threadId_);
    WaitForSingleObject(ready_, 5000);
  }
  ~KeyWatch() {
    PostThreadMessageW(threadId_, WM_QUIT, 0, 0);
    WaitForSingleObject(thread_, 5000);
    CloseHandle(thread_);
    CloseHandle(ready_);
    DeleteCriticalSection(&lock_);
  }
  bool watching() const { return hook_ != nullptr; }
  std::vector<Seen> seen() {
    EnterCriticalSection(&lock_);
    std::vector<Seen> copy = seen_;
    LeaveCriticalSection(&lock_);
    return copy;
  }

 private:
  static DWORD WINAPI run(void* watch) {
    KeyWatch* self = static_cast<KeyWatch*>(watch);
    self->hook_ = SetWindowsHookExW(WH_KEYBOARD_LL, hook, GetModuleHandleW(nullptr), 0);
    MSG message;
    // The queue exists once the thread has asked for a message: only then can it be told to end.
    PeekMessageW(&message, nullptr, 0, 0, PM_NOREMOVE);
    SetEvent(self->ready_);
    while (GetMessageW(&message, nullptr, 0, 0) > 0) DispatchMessageW(&message);
    if (self->hook_ != nullptr) UnhookWindowsHookEx(self->hook_);
    return 0;
  }
  static LRESULT CALLBACK hook(int code, WPARAM wParam, LPARAM lParam) {
    if (code == HC_ACTION) {
      const KBDLLHOOKSTRUCT* key = reinterpret_cast<const KBDLLHOOKSTRUCT*>(lParam);
      EnterCriticalSection(&self_->lock_);
      self_->seen_.push_back({microseconds(), key->vkCode, (key->flags & LLKHF_UP) == 0, key->dwExtraInfo});
      LeaveCriticalSection(&self_->lock_);
    }
    return CallNextHookEx(nullptr, code, wParam, lParam);
  }

  static KeyWatch* self_;
  CRITICAL_SECTION lock_;
  HANDLE ready_ = nullptr, thread_ = nullptr;
  DWORD threadId_ = 0;
  HHOOK hook_ = nullptr;
  std::vector<Seen> seen_;
};
KeyWatch* KeyWatch::self_ = nullptr;

std::vector<unsigned long> fields(const std::string& text, size_t count, bool lastMayBeEmpty) {
  std::vector<unsigned long> values;
  size_t start = 0;
  for (size_t i = 0; i < count; ++i) {
    size_t end = i + 1 < count ? text.find(':', start) : text.size();
    if (end == std::string::npos) throw UsageError{"not enough fields: " + text};
    std::string field = text.substr(start, end - start);
    if (field.empty() && lastMayBeEmpty && i + 1 == count) break;
    values.push_back(number(field));
    start = end + 1;
  }
  return values;
}

/*
 * scenario EXE --class CLASS --tray MESSAGE:ID [--cwd DIR] [--hold-hot-key VK]...
 *          [--hold-mutex NAME]... [--box OPEN_MS:ANSWER | --box OPEN_MS:]...
 *          [--press VK:DOWN:UP | --tap-tray T | --tap T:X:Y | --close T]...
 * Starts the program and plays a scenario's script as scenario_run plays it on the simulated
 * device: times in ms from the moment the program's first window (its main window or a box)
 * is seen; held keys repeat; the n-th box the program opens stays open for the n-th --box's
 * time and is then answered (OK when the answer is empty), later ones are answered at once.
 * One answer when the program has ended: its exit code, the boxes it showed, and the keys
 * it handed back (those the hook saw that the driver did not inject), each with its time.
 */
int cmdScenario(const Args& args) {
  std::wstring exe = wide(positional(args, 1));
  std::wstring mainClass = wide(args.option("--class").value_or(""));
  std::vector<unsigned long> tray = fields(args.option("--tray").value_or(""), 2, false);
  auto cwd = args.option("--cwd");

  struct Action {
    DWORD at;
    enum { TAP_TRAY, TAP, CLOSE } kind;
    int x, y;
  };
  struct BoxPlan {
    DWORD openMs;
    int answer;
  };
  std::vector<KeyEvent> keys;
  std::vector<Action> actions;
  std::deque<BoxPlan> boxPlans;
  std::vector<HANDLE> mutexes;
  int hotKeys = 0;
  DWORD lastAt = 0;
  for (const auto& [option, value] : args.optionsInOrder) {
    if (option == "--press") {
      std::vector<unsigned long> press = fields(value, 3, false);
      if (press[2] < press[1]) throw UsageError{"let go before pressed: " + value};
      keys.push_back({press[1], static_cast<BYTE>(press[0]), true});
      keys.push_back({press[2], static_cast<BYTE>(press[0]), false});
      lastAt = std::max<DWORD>(lastAt, press[2]);
    } else if (option == "--tap-tray" || option == "--close") {
      DWORD at = number(value);
      actions.push_back({at, option == "--close" ? Action::CLOSE : Action::TAP_TRAY, 0, 0});
      lastAt = std::max(lastAt, at);
    } else if (option == "--tap") {
      std::vector<unsigned long> tap = fields(value, 3, false);
      actions.push_back({tap[0], Action::TAP, static_cast<int>(tap[1]), static_cast<int>(tap[2])});
      lastAt = std::max<DWORD>(lastAt, tap[0]);
    } else if (option == "--box") {
      std::vector<unsigned long> box = fields(value, 2, true);
      boxPlans.push_back({box[0], box.size() == 2 ? static_cast<int>(box[1]) : IDOK});
    } else if (option == "--hold-hot-key") {
      // Another program's hot key: this thread never takes its messages, as nobody needs them.
      if (!RegisterHotKey(nullptr, ++hotKeys, 0, number(value))) {
        return report(false, [&](Json& json) { json.text("error", L"hot key taken: " + wide(value)); });
      }
    } else if (option == "--hold-mutex") {
      mutexes.push_back(CreateMutexW(nullptr, FALSE, wide(value).c_str()));
    } else if (option != "--class" && option != "--tray" && option != "--cwd") {
      throw UsageError{"not a scenario option: " + option};
    }
  }
  std::stable_sort(actions.begin(), actions.end(),
                   [](const Action& a, const Action& b) { return a.at < b.at; });
  if (mainClass.empty()) throw UsageError{"--class names the program's main window class"};

  KeyWatch keyWatch;
  if (!keyWatch.watching()) return report(false, [](Json& json) { json.text("error", L"no keyboard hook"); });
  STARTUPINFOW startup = {};
  startup.cb = sizeof(startup);
  PROCESS_INFORMATION process = {};
  std::wstring commandLine = L"\"" + exe + L"\"";
  if (!CreateProcessW(exe.c_str(), &commandLine[0], nullptr, nullptr, FALSE, 0, nullptr,
                      cwd ? wide(*cwd).c_str() : nullptr, &startup, &process)) {
    return report(false, [&](Json& json) { json.text("error", L"cannot start " + exe); });
  }
  CloseHandle(process.hThread);
  DWORD pid = process.dwProcessId;

  // The program's time starts when it shows itself first; one that ends first has no time.
  auto ended = [&](DWORD waitMs) { return WaitForSingleObject(process.hProcess, waitMs) == WAIT_OBJECT_0; };
  auto boxes = [&] { return topLevelWindows(BOX_CLASS, pid); };
  bool started = waitFor(20000, [&] {
    return ended(0) || !topLevelWindows(mainClass.c_str(), pid).empty() || !boxes().empty();
  });
  long long startUs = microseconds();
  DWORD startTick = GetTickCount();
  auto now = [&] { return static_cast<DWORD>((microseconds() - startUs) / 1000); };

  Keyboard keyboard(std::move(keys), true, REPEAT_DELAY_MS, REPEAT_INTERVAL_MS);
  size_t nextAction = 0;
  // A box counts from the moment its window exists: a busy machine takes a while to lay it
  // out and show it. Its texts are read once it is shown.
  std::map<HWND, DWORD> madeAt;
  struct SeenBox {
    HWND box;
    DWORD at;
    BoxContent content;
    DWORD answerAt;
    int answer;
    bool answered;
  };
  std::vector<SeenBox> seenBoxes;
  std::wstring error;
  // Long enough for the script and a box or a start after it.
  const DWORD deadline = lastAt + 15000;
  while (started && error.empty() && !ended(1)) {
    DWORD t = now();
    if (t > deadline) {
      error = L"the program did not end";
      break;
    }
    while (!keyboard.done() && keyboard.due() <= t) keyboard.injectNext();
    std::vector<HWND> mains = topLevelWindows(mainClass.c_str(), pid);
    HWND window = mains.empty() ? nullptr : mains.front();
    for (; nextAction < actions.size() && actions[nextAction].at <= t; ++nextAction) {
      const Action& action = actions[nextAction];
      if (window == nullptr) continue;
      if (action.kind == Action::TAP_TRAY) {
        PostMessageW(window, tray[0], tray[1], WM_LBUTTONDOWN);
        PostMessageW(window, tray[0], tray[1], WM_LBUTTONUP);
      } else if (action.kind == Action::CLOSE) {
        PostMessageW(window, WM_CLOSE, 0, 0);
      } else if (IsWindowVisible(window)) {
        PostMessageW(window, WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(action.x, action.y));
        PostMessageW(window, WM_LBUTTONUP, 0, MAKELPARAM(action.x, action.y));
      }
    }
    for (HWND box : boxes()) {
      DWORD made = madeAt.emplace(box, t).first->second;
      // An answered box stays a moment before it goes.
      bool known = std::any_of(seenBoxes.begin(), seenBoxes.end(),
                               [&](const SeenBox& seen) { return seen.box == box; });
      if (known || !IsWindowVisible(box)) continue;
      SeenBox seen = {box, made, readBox(box), t, IDOK, false};
      if (!boxPlans.empty()) {
        seen.answerAt = made + boxPlans.front().openMs;
        seen.answer = boxPlans.front().answer;
        boxPlans.pop_front();
      }
      seenBoxes.push_back(seen);
    }
    for (SeenBox& seen : seenBoxes) {
      if (seen.answered || seen.answerAt > t) continue;
      if (!pressButton(seen.box, seen.answer)) {
        error = L"the box \"" + seen.content.caption + L"\" has no button " + std::to_wstring(seen.answer);
        break;
      }
      seen.answered = true;
    }
  }
  if (!started) error = L"the program showed nothing and did not end";
  if (!error.empty()) TerminateProcess(process.hProcess, 9);
  WaitForSingleObject(process.hProcess, 5000);
  DWORD exitCode = 0;
  GetExitCodeProcess(process.hProcess, &exitCode);
  CloseHandle(process.hProcess);
  for (HANDLE mutex : mutexes) CloseHandle(mutex);
  for (int id = 1; id <= hotKeys; ++id) UnregisterHotKey(nullptr, id);

  std::vector<Json> shownBoxes, handedBack;
  for (const SeenBox& seen : seenBoxes) {
    Json box;
    box.number("at", seen.at).text("caption", seen.content.caption).text("text", seen.content.text)
        .numbers("buttons", seen.content.buttons).number("answer", seen.answer);
    shownBoxes.push_back(box);
  }
  for (const KeyWatch::Seen& key : keyWatch.seen()) {
    if (key.extra == DRIVER_KEY) continue;
    Json injected;
    injected.number("at", (key.us - startUs) / 1000).number("key", key.key).flag("down", key.down);
    handedBack.push_back(injected);
  }
  return report(error.empty(), [&](Json& json) {
    if (!error.empty()) json.text("error", error);
    json.number("exitCode", exitCode)
        .number("startTick", startTick)
        .objects("boxes", shownBoxes)
        .objects("injected", handedBack)
        .number("actionsNotRun", static_cast<long long>(keyboard.eventsLeft() + actions.size() - nextAction));
  });
}

int run(const Args& args) {
  static const std::map<std::string, int (*)(const Args&)> commands = {
      {"desktop", cmdDesktop},       {"window", cmdWindow}, {"box", cmdBox},
      {"press", cmdPress},           {"keys", cmdKeys},     {"post", cmdPost},     {"send", cmdSend},
      {"watch", cmdWatch},           {"kill", cmdKill},     {"hotkey", cmdHotkey},
      {"foreground", cmdForeground}, {"sink", cmdSink},     {"open", cmdOpen},
      {"version", cmdVersion},       {"scenario", cmdScenario}};
  auto command = commands.find(positional(args, 0));
  if (command == commands.end()) throw UsageError{"unknown command: " + args.positional[0]};
  return command->second(args);
}

}  // namespace

int main(int argc, char** argv) {
  Args args;
  for (int i = 1; i < argc; ++i) {
    std::string token = argv[i];
    if (token.rfind("--", 0) == 0 && i + 1 < argc) {
      args.options[token] = argv[i + 1];
      args.optionsInOrder.emplace_back(token, argv[++i]);
    } else {
      args.positional.push_back(token);
    }
  }
  try {
    return run(args);
  } catch (const UsageError& error) {
    std::fprintf(stderr, "kvdriver: %s\n", error.what.c_str());
    return 2;
  }
}
