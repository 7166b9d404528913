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
 */
#include <windows.h>
// shellapi.h needs the types of windows.h.
#include <shellapi.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
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
  std::map<std::string, std::string> options;

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

/* Top-level windows of the class, shown or not: a second instance would add one. */
long long countWindows(const std::string& windowClass) {
  long long count = 0;
  HWND window = nullptr;
  while ((window = FindWindowExW(nullptr, window, wide(windowClass).c_str(), nullptr)) != nullptr)
    ++count;
  return count;
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
    json.flag("found", window != nullptr).number("count", countWindows(windowClass));
    if (window != nullptr) describeWindow(json, window);
  });
}

HWND findMessageBox(const std::optional<std::string>& caption) {
  HWND box = nullptr;
  while ((box = FindWindowExW(nullptr, box, L"#32770", nullptr)) != nullptr) {
    if (!IsWindowVisible(box)) continue;
    if (caption && windowText(box) != wide(*caption)) continue;
    return box;
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
  std::wstring boxCaption = windowText(box);
  std::wstring boxText = windowText(GetDlgItem(box, 0xFFFF));
  std::vector<long long> buttons;
  for (int id = IDOK; id <= IDNO; ++id) {
    if (GetDlgItem(box, id) != nullptr) buttons.push_back(id);
  }
  bool closed = false;
  HWND button = pressId != 0 ? GetDlgItem(box, pressId) : nullptr;
  if (button != nullptr) {
    PostMessageW(box, WM_COMMAND, MAKEWPARAM(pressId, BN_CLICKED),
                 reinterpret_cast<LPARAM>(button));
    closed = waitFor(args.timeout(), [&] { return !IsWindow(box); });
  }
  return report(pressId == 0 || closed, [&](Json& json) {
    json.flag("found", true)
        .number("pid", pid)
        .text("caption", boxCaption)
        .text("text", boxText)
        .numbers("buttons", buttons);
    if (pressId != 0) json.flag("pressed", button != nullptr).flag("closed", closed);
  });
}

int cmdPress(const Args& args) {
  auto gap = args.option("--gap");
  for (size_t i = 1; i == 1 || i < args.positional.size(); i += 2) {
    if (i > 1 && gap) Sleep(number(*gap));
    BYTE key = static_cast<BYTE>(number(positional(args, i)));
    DWORD hold = number(positional(args, i + 1));
    DWORD downTick = GetTickCount();
    long long downUs = microseconds();
    keybd_event(key, 0, 0, 0);
    Sleep(hold);
    DWORD upTick = GetTickCount();
    keybd_event(key, 0, KEYEVENTF_KEYUP, 0);
    report(true, [&](Json& json) {
      json.number("vk", key)
          .number("down_tick", downTick)
          .number("up_tick", upTick)
          .number("down_us", downUs);
    });
  }
  return 0;
}

/* Typematic repeat as a keyboard makes it: only the key that went down last repeats, and
   another key going down ends that repeat for good. */
int cmdKeys(const Args& args) {
  struct KeyEvent {
    DWORD at;
    BYTE key;
    bool down;
  };
  std::vector<KeyEvent> events;
  for (size_t i = 1; i < args.positional.size(); ++i) {
    const std::string& text = args.positional[i];
    size_t sign = text.find_first_of("+-");
    if (sign == std::string::npos || sign == 0) throw UsageError{"not a key event: " + text};
    events.push_back({static_cast<DWORD>(number(text.substr(sign + 1))),
                      static_cast<BYTE>(number(text.substr(0, sign))), text[sign] == '+'});
  }
  if (events.empty()) throw UsageError{"missing argument"};
  std::stable_sort(events.begin(), events.end(),
                   [](const KeyEvent& a, const KeyEvent& b) { return a.at < b.at; });
  DWORD delay = 500, interval = 40;
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

  DWORD start = GetTickCount();
  int repeating = -1;
  DWORD nextRepeat = 0;
  long long repeats = 0;
  std::vector<long long> ticks;
  for (size_t next = 0; next < events.size();) {
    DWORD now = GetTickCount() - start;
    bool repeatFirst = repeating >= 0 && nextRepeat < events[next].at;
    DWORD due = repeatFirst ? nextRepeat : events[next].at;
    if (now < due) {
      Sleep(due - now);
      continue;
    }
    if (repeatFirst) {
      keybd_event(static_cast<BYTE>(repeating), 0, 0, 0);
      ++repeats;
      nextRepeat += interval;
      continue;
    }
    const KeyEvent& event = events[next++];
    keybd_event(event.key, 0, event.down ? 0 : KEYEVENTF_KEYUP, 0);
    ticks.push_back(GetTickCount());
    if (event.down) {
      repeating = repeat ? event.key : -1;
      nextRepeat = event.at + delay;
    } else if (event.key == repeating) {
      repeating = -1;
    }
  }
  return report(true, [&](Json& json) { json.numbers("ticks", ticks).number("repeats", repeats); });
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

int run(const Args& args) {
  static const std::map<std::string, int (*)(const Args&)> commands = {
      {"desktop", cmdDesktop},       {"window", cmdWindow}, {"box", cmdBox},
      {"press", cmdPress},           {"keys", cmdKeys},     {"post", cmdPost},     {"send", cmdSend},
      {"watch", cmdWatch},           {"kill", cmdKill},     {"hotkey", cmdHotkey},
      {"foreground", cmdForeground}, {"sink", cmdSink},     {"open", cmdOpen},
      {"version", cmdVersion}};
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
      args.options[token] = argv[++i];
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
