// The window manager: message boxes, hot keys and the keyboard, timers, window classes and
// windows, the message queue, painting regions, icons, cursors, metrics and wsprintfW.
#include "sim/state.h"

#include <locale.h>
#include <wctype.h>

#include <algorithm>
#include <cstdarg>

namespace sim::detail {
namespace {

constexpr UINT kMinimumTimerPeriod = 10;
constexpr uint64_t kMessageStorm = 1000000;
constexpr size_t kWsprintfLimit = 1024;  // wsprintfW writes at most this many units, zero included
constexpr WORD kFirstClassAtom = 0xC000;
constexpr WPARAM kLeftButton = 0x0001;   // MK_LBUTTON

std::u16string lower(std::u16string text) {
  for (char16_t& c : text)
    if (c >= u'A' && c <= u'Z') c = static_cast<char16_t>(c - u'A' + u'a');
  return text;
}

bool isResourceId(LPCWSTR name) { return (reinterpret_cast<ULONG_PTR>(name) >> 16) == 0; }

Window* knownWindow(HWND window) {
  int number = windowNumber(window);
  return number == 0 ? nullptr : &device().windows[static_cast<size_t>(number - 1)];
}

bool isEmpty(const RECT& r) { return r.right <= r.left || r.bottom <= r.top; }

void invalidate(Window& window, const RECT* rect, bool erase) {
  RECT client = clientRect(window);
  RECT area = client;
  if (rect != nullptr)
    area = {std::max(rect->left, client.left), std::max(rect->top, client.top),
            std::min(rect->right, client.right), std::min(rect->bottom, client.bottom)};
  if (isEmpty(area)) return;
  RECT& region = window.invalidRect;
  region = !window.invalid ? area
                           : RECT{std::min(region.left, area.left), std::min(region.top, area.top),
                                  std::max(region.right, area.right),
                                  std::max(region.bottom, area.bottom)};
  window.invalid = true;
  window.erase = window.erase || erase;
}

BOOL show(HWND handle, int command) {
  Window* window = liveWindow(handle);
  if (window == nullptr) return FALSE;
  BOOL wasVisible = window->info.visible;
  if (command == SW_HIDE) {
    window->info.visible = false;
  } else if (!wasVisible) {
    window->info.visible = true;
    invalidate(*window, nullptr, true);
  }
  return wasVisible;
}

BOOL destroy(HWND handle) {
  Window* window = liveWindow(handle);
  if (window == nullptr || window->destroying) return FALSE;
  window->destroying = true;
  window->info.visible = false;
  send(handle, WM_DESTROY, 0, 0);
  window = knownWindow(handle);  // the procedure may have made windows, moving this one
  window->info.destroyed = true;
  window->invalid = false;
  Device& d = device();
  d.queue.erase(std::remove_if(d.queue.begin(), d.queue.end(),
                               [handle](const Posted& p) { return p.window == handle; }),
                d.queue.end());
  if (d.foreground == handle) d.foreground = nullptr;
  return TRUE;
}

HDC beginPaint(HWND handle, PAINTSTRUCT* paint) {
  Window* window = liveWindow(handle);
  if (window == nullptr) return nullptr;
  if (paint == nullptr) fail("BeginPaint without a PAINTSTRUCT");
  Device& d = device();
  RECT update = window->invalid ? window->invalidRect : RECT{0, 0, 0, 0};
  bool erase = window->invalid && window->erase;
  window->invalid = false;
  window->erase = false;
  d.paints.push_back({handle, update, {}});
  HDC dc = openDc(handle, d.paints.size() - 1);
  bool erased = erase && send(handle, WM_ERASEBKGND, reinterpret_cast<WPARAM>(dc), 0) != 0;
  *paint = PAINTSTRUCT();
  paint->hdc = dc;
  paint->fErase = erase && !erased;
  paint->rcPaint = update;
  return dc;
}

// A key event as the input system routes it: a registered key's press becomes WM_HOTKEY for
// its owner and nothing else sees it; everything else goes to whoever has the focus.
void keyEvent(UINT virtualKey, bool down, DWORD flags, bool injected, bool repeat = false) {
  Device& d = device();
  if (virtualKey < d.keysDown.size()) d.keysDown[virtualKey] = down;
  if (down && d.othersHotKeys.count(virtualKey) != 0) {
    d.keysToOthers.push_back({virtualKey, down, flags, injected, repeat, d.now});
    return;
  }
  if (down) {
    for (const HotKey& hotKey : d.hotKeys) {
      if (hotKey.modifiers == 0 && hotKey.virtualKey == virtualKey) {
        post(hotKey.window, WM_HOTKEY, static_cast<WPARAM>(hotKey.id),
             static_cast<LPARAM>(virtualKey << 16));
        return;
      }
    }
  }
  Window* focus = liveWindow(d.foreground);
  if (focus != nullptr && focus->info.visible) {
    // lParam: repeat count 1; a repeat also carries the previous-state bit, a release the
    // previous-state and transition bits.
    LPARAM lParam = !down ? static_cast<LPARAM>(static_cast<LONG>(0xC0000001u)) : repeat ? 0x40000001 : 1;
    post(d.foreground, down ? WM_KEYDOWN : WM_KEYUP, virtualKey, lParam);
  } else {
    d.keysToOthers.push_back({virtualKey, down, flags, injected, repeat, d.now});
  }
}

// Typematic repeat: one key at a time, the one that went down last, while it stays down.
void stopRepeat() {
  Device& d = device();
  if (d.nextRepeat) d.actions.erase(*d.nextRepeat);
  d.nextRepeat.reset();
}

void scheduleRepeat(uint64_t after) {
  Device& d = device();
  d.nextRepeat = std::make_pair(d.now + after, d.actionsMade++);
  d.actions.emplace(*d.nextRepeat, [] {
    Device& d = device();
    d.nextRepeat.reset();
    if (d.repeatingKey >= d.keysDown.size() || !d.keysDown[d.repeatingKey]) return;
    d.keyStrokes.push_back({d.repeatingKey, true, true, d.now});
    keyEvent(d.repeatingKey, true, 0, false, true);
    scheduleRepeat(d.repeatInterval);
  });
}

// The next message due now in GetMessageW's order: posted ones, WM_QUIT (when asked for),
// WM_PAINT for a shown window with something invalid, then an expired timer.
bool takeDueMessage(MSG& message, bool withQuit) {
  Device& d = device();
  message = MSG();
  message.time = tickNow();
  if (!d.queue.empty()) {
    const Posted& next = d.queue.front();
    message.hwnd = next.window;
    message.message = next.message;
    message.wParam = next.wParam;
    message.lParam = next.lParam;
    d.queue.pop_front();
  } else if (withQuit && d.quitPending) {
    d.quitPending = false;
    message.message = WM_QUIT;
    message.wParam = static_cast<WPARAM>(*d.quitCode);
    return true;
  } else {
    auto invalid = std::find_if(d.windows.begin(), d.windows.end(), [](const Window& w) {
      return !w.info.destroyed && w.info.visible && w.invalid;
    });
    TimerEntry* expired = nullptr;
    for (TimerEntry& entry : d.timers) {
      if (entry.timer.due > d.now || liveWindow(entry.timer.window) == nullptr) continue;
      if (expired == nullptr || entry.timer.due < expired->timer.due) expired = &entry;
    }
    if (invalid != d.windows.end()) {
      message.hwnd = windowHandle(static_cast<int>(invalid - d.windows.begin()) + 1);
      message.message = WM_PAINT;
    } else if (expired != nullptr) {
      // Retrieving the tick restarts the period: missed ticks never pile up.
      expired->timer.due = d.now + std::max(expired->timer.period, kMinimumTimerPeriod);
      message.hwnd = expired->timer.window;
      message.message = WM_TIMER;
      message.wParam = expired->timer.id;
      message.lParam = reinterpret_cast<LPARAM>(expired->proc);
    } else {
      return false;
    }
  }
  if (++d.messagesThisInstant > kMessageStorm)
    fail("a million messages without the clock moving: the program never settles");
  return true;
}

LRESULT dispatch(const MSG& message) {
  if (message.message == WM_TIMER && message.lParam != 0) {
    if (liveWindow(message.hwnd) == nullptr) return 0;
    reinterpret_cast<TIMERPROC>(message.lParam)(message.hwnd, WM_TIMER, message.wParam,
                                                message.time);
    return 0;
  }
  Window* window = liveWindow(message.hwnd);
  if (window == nullptr) return 0;  // a thread message, or its window is gone
  return window->proc(message.hwnd, message.message, message.wParam, message.lParam);
}

int defaultAnswer(UINT type) {
  switch (type & 0xF) {
    case MB_OK: return IDOK;
    case MB_YESNO: return IDNO;
    default: return IDCANCEL;
  }
}

// A resource named by a number is logged as that number; a name string is not logged.
std::string resourceName(LPCWSTR name) {
  return isResourceId(name) ? logName(reinterpret_cast<ULONG_PTR>(name)) : "?";
}

}  // namespace

int iconResourceOf(HICON icon) {
  if (icon == nullptr) return 0;
  auto found = device().iconResource.find(handleNumber(icon));
  return found == device().iconResource.end() ? -1 : found->second;
}

Window* liveWindow(HWND handle) {
  Window* window = knownWindow(handle);
  return window == nullptr || window->info.destroyed ? nullptr : window;
}

RECT clientRect(const Window& window) {
  const WindowInfo& info = window.info;
  const Device& d = device();
  LONG width = info.width, height = info.height;
  if ((info.style & WS_CAPTION) == static_cast<DWORD>(WS_CAPTION)) {
    width -= 2 * d.borderWidth;
    height -= d.captionHeight + 2 * d.borderWidth;
  }
  return RECT{0, 0, std::max<LONG>(width, 0), std::max<LONG>(height, 0)};
}

LRESULT send(HWND handle, UINT message, WPARAM wParam, LPARAM lParam) {
  Window* window = liveWindow(handle);
  return window == nullptr ? 0 : window->proc(handle, message, wParam, lParam);
}

void post(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  if (window == nullptr || liveWindow(window) != nullptr)
    device().queue.push_back({window, message, wParam, lParam});
}

}  // namespace sim::detail

using namespace sim::detail;
using sim::DrawOp;
using sim::HotKey;
using sim::MessageBoxRecord;
using sim::Timer;

// ---- Message boxes ------------------------------------------------------------------------

int MessageBoxW(HWND owner, LPCWSTR text, LPCWSTR caption, UINT type) {
  logCall("MessageBoxW", {logName(owner), logName(type)});
  Device& d = device();
  size_t index = d.boxes.size();
  d.boxes.push_back({owner, wide(text), wide(caption), type, 0, d.openBoxes + 1, d.now});
  // A posted WM_QUIT ends a box's modal loop at once: nobody gets to answer it.
  if (!d.quitPending) {
    ++d.openBoxes;
    if (d.whileBoxOpen) {
      std::function<void(const MessageBoxRecord&)> callback = d.whileBoxOpen;
      MessageBoxRecord record = d.boxes[index];
      callback(record);
    }
    --d.openBoxes;
  }
  int answer = defaultAnswer(type);
  if (!d.quitPending && !d.boxAnswers.empty()) {
    answer = d.boxAnswers.front();
    d.boxAnswers.pop_front();
  }
  d.boxes[index].answer = answer;
  return answer;
}

// ---- Queue --------------------------------------------------------------------------------

BOOL PostMessageW(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  logCall("PostMessageW",
          {logName(window), logName(message), logName(wParam), logName(lParam)});
  device().postedLog.push_back({window, message, wParam, lParam, device().now});
  if (window != nullptr && liveWindow(window) == nullptr) return FALSE;
  post(window, message, wParam, lParam);
  return TRUE;
}

void PostQuitMessage(int exitCode) {
  logCall("PostQuitMessage", {logName(exitCode)});
  device().quitCode = exitCode;
  device().quitPending = true;
}

BOOL GetMessageW(LPMSG message, HWND window, UINT filterMin, UINT filterMax) {
  logCall("GetMessageW", {logName(window), logName(filterMin), logName(filterMax)});
  if (window != nullptr || filterMin != 0 || filterMax != 0)
    fail("GetMessageW with a filter is not simulated");
  bool idleHookRan = false;
  for (;;) {
    runDueActions();
    if (takeDueMessage(*message, true)) return message->message != WM_QUIT;
    if (std::optional<uint64_t> next = nextEventTime()) {
      advanceTo(*next);
      idleHookRan = false;
    } else if (!idleHookRan && device().idleHook) {
      idleHookRan = true;
      std::function<void()> hook = device().idleHook;
      hook();
    } else {
      fail("GetMessageW would wait forever: nothing is posted, no timer runs, nothing is "
           "scheduled and the idle hook added nothing");
    }
  }
}

BOOL TranslateMessage(const MSG*) {
  logCall("TranslateMessage", {});
  return FALSE;
}

LRESULT DispatchMessageW(const MSG* message) {
  logCall("DispatchMessageW", {});
  return dispatch(*message);
}

// ---- Hot keys, timers, keyboard ---------------------------------------------------------

BOOL RegisterHotKey(HWND window, int id, UINT modifiers, UINT virtualKey) {
  logCall("RegisterHotKey",
          {logName(window), logName(id), logName(modifiers), logName(virtualKey)});
  Device& d = device();
  if (window != nullptr && liveWindow(window) == nullptr) return FALSE;
  if (modifiers == 0 && d.othersHotKeys.count(virtualKey) != 0) return FALSE;
  for (const HotKey& hotKey : d.hotKeys)
    if (hotKey.modifiers == modifiers && hotKey.virtualKey == virtualKey) return FALSE;
  d.hotKeys.push_back({window, id, modifiers, virtualKey});
  return TRUE;
}

BOOL UnregisterHotKey(HWND window, int id) {
  logCall("UnregisterHotKey", {logName(window), logName(id)});
  std::vector<HotKey>& hotKeys = device().hotKeys;
  auto found = std::find_if(hotKeys.begin(), hotKeys.end(), [&](const HotKey& hotKey) {
    return hotKey.window == window && hotKey.id == id;
  });
  if (found == hotKeys.end()) return FALSE;
  hotKeys.erase(found);
  return TRUE;
}

UINT_PTR SetTimer(HWND window, UINT_PTR id, UINT elapse, TIMERPROC timerFunc) {
  logCall("SetTimer", {logName(window), logName(id), logName(elapse)});
  if (window == nullptr) fail("SetTimer without a window is not simulated");
  if (liveWindow(window) == nullptr || device().timersFail) return 0;
  Device& d = device();
  Timer timer{window, id, elapse, d.now + std::max(elapse, kMinimumTimerPeriod)};
  for (TimerEntry& entry : d.timers) {
    if (entry.timer.window == window && entry.timer.id == id) {
      entry = {timer, timerFunc};
      return id;
    }
  }
  d.timers.push_back({timer, timerFunc});
  return id;
}

BOOL KillTimer(HWND window, UINT_PTR id) {
  logCall("KillTimer", {logName(window), logName(id)});
  std::vector<TimerEntry>& timers = device().timers;
  auto found = std::find_if(timers.begin(), timers.end(), [&](const TimerEntry& entry) {
    return entry.timer.window == window && entry.timer.id == id;
  });
  if (found == timers.end()) return FALSE;
  timers.erase(found);
  return TRUE;
}

SHORT GetAsyncKeyState(int virtualKey) {
  logCall("GetAsyncKeyState", {logName(virtualKey)});
  const std::array<bool, 256>& down = device().keysDown;
  bool isDown = virtualKey >= 0 && static_cast<size_t>(virtualKey) < down.size() &&
                down[static_cast<size_t>(virtualKey)];
  return isDown ? static_cast<SHORT>(0x8000) : 0;
}

void keybd_event(BYTE virtualKey, BYTE scanCode, DWORD flags, ULONG_PTR extraInfo) {
  logCall("keybd_event",
          {logName(virtualKey), logName(scanCode), logName(flags), logName(extraInfo)});
  bool down = (flags & KEYEVENTF_KEYUP) == 0;
  device().injectedKeys.push_back({virtualKey, down, flags, true, false, device().now});
  keyEvent(virtualKey, down, flags, true);
}

// ---- Windows ------------------------------------------------------------------------------

WORD RegisterClassW(const WNDCLASSW* windowClass) {
  logCall("RegisterClassW", {});
  if (windowClass == nullptr || windowClass->lpfnWndProc == nullptr ||
      windowClass->lpszClassName == nullptr || isResourceId(windowClass->lpszClassName))
    return 0;
  Device& d = device();
  std::u16string name = windowClass->lpszClassName;
  bool added = d.classes
                   .emplace(lower(name),
                            WindowClass{name, windowClass->lpfnWndProc, windowClass->style,
                                        windowClass->hbrBackground, windowClass->hCursor,
                                        windowClass->hIcon, windowClass->hInstance})
                   .second;
  return added ? static_cast<WORD>(kFirstClassAtom + d.classes.size() - 1) : 0;
}

HWND CreateWindowExW(DWORD exStyle, LPCWSTR className, LPCWSTR windowName, DWORD style, int x,
                     int y, int width, int height, HWND parent, HMENU menu, HINSTANCE instance,
                     LPVOID param) {
  logCall("CreateWindowExW",
          {logName(exStyle), logName(style), logName(x), logName(y), logName(width),
           logName(height), logName(parent), logName(menu), logName(instance)});
  if (className == nullptr || isResourceId(className))
    fail("CreateWindowExW: classes are simulated by name only");
  Device& d = device();
  auto found = d.classes.find(lower(className));
  if (found == d.classes.end() || (parent != nullptr && liveWindow(parent) == nullptr))
    return nullptr;
  const WindowClass& windowClass = found->second;
  Window window{};
  window.info = {windowClass.name, wide(windowName), style, exStyle, x, y, width, height,
                 RECT{}, false, false};
  window.proc = windowClass.proc;
  window.background = windowClass.background;
  d.windows.push_back(window);
  HWND handle = windowHandle(static_cast<int>(d.windows.size()));
  CREATESTRUCTW create = {param, instance, menu, parent, height, width, y, x,
                          static_cast<LONG>(style), windowName, className, exStyle};
  if (send(handle, WM_CREATE, 0, reinterpret_cast<LPARAM>(&create)) == -1) destroy(handle);
  if (liveWindow(handle) == nullptr) return nullptr;
  if ((style & WS_VISIBLE) != 0) show(handle, SW_SHOW);
  return handle;
}

BOOL DestroyWindow(HWND window) {
  logCall("DestroyWindow", {logName(window)});
  return destroy(window);
}

BOOL ShowWindow(HWND window, int command) {
  logCall("ShowWindow", {logName(window), logName(command)});
  return show(window, command);
}

BOOL UpdateWindow(HWND handle) {
  logCall("UpdateWindow", {logName(handle)});
  Window* window = liveWindow(handle);
  if (window == nullptr) return FALSE;
  if (window->info.visible && window->invalid) send(handle, WM_PAINT, 0, 0);
  return TRUE;
}

BOOL IsWindowVisible(HWND handle) {
  logCall("IsWindowVisible", {logName(handle)});
  Window* window = liveWindow(handle);
  return window != nullptr && window->info.visible;
}

BOOL SetWindowTextW(HWND handle, LPCWSTR text) {
  logCall("SetWindowTextW", {logName(handle)});
  Window* window = liveWindow(handle);
  if (window == nullptr) return FALSE;
  window->info.title = wide(text);
  return TRUE;
}

BOOL SetForegroundWindow(HWND handle) {
  logCall("SetForegroundWindow", {logName(handle)});
  if (liveWindow(handle) == nullptr) return FALSE;
  device().foreground = handle;
  return TRUE;
}

BOOL GetClientRect(HWND handle, LPRECT rect) {
  logCall("GetClientRect", {logName(handle)});
  Window* window = liveWindow(handle);
  if (window == nullptr) return FALSE;
  *rect = clientRect(*window);
  return TRUE;
}

// ---- Painting -----------------------------------------------------------------------------

BOOL InvalidateRect(HWND handle, const RECT* rect, BOOL erase) {
  logCall("InvalidateRect", {logName(handle), logName(erase)});
  Window* window = liveWindow(handle);
  if (window == nullptr) return FALSE;
  device().invalidations.push_back({handle, rect != nullptr ? *rect : clientRect(*window), erase});
  invalidate(*window, rect, erase != FALSE);
  return TRUE;
}

HDC BeginPaint(HWND window, PAINTSTRUCT* paint) {
  logCall("BeginPaint", {logName(window)});
  return beginPaint(window, paint);
}

BOOL EndPaint(HWND window, const PAINTSTRUCT* paint) {
  logCall("EndPaint", {logName(window)});
  return paint != nullptr && closeDc(paint->hdc);
}

LRESULT DefWindowProcW(HWND handle, UINT message, WPARAM wParam, LPARAM lParam) {
  logCall("DefWindowProcW",
          {logName(handle), logName(message), logName(wParam), logName(lParam)});
  switch (message) {
    case WM_CLOSE:
      destroy(handle);
      return 0;
    case WM_ERASEBKGND: {
      Window* window = liveWindow(handle);
      DeviceContext* dc = dcOf(reinterpret_cast<HDC>(wParam));
      if (window == nullptr || window->background == nullptr || dc == nullptr) return 0;
      DrawOp erase{};
      erase.kind = DrawOp::Erase;
      erase.rect = clientRect(*window);
      device().paints[dc->paint].ops.push_back(erase);
      return 1;
    }
    case WM_PAINT: {
      PAINTSTRUCT paint;
      if (beginPaint(handle, &paint) != nullptr) closeDc(paint.hdc);
      return 0;
    }
    default:
      return 0;
  }
}

// ---- Resources, metrics, formatting ---------------------------------------------------------

HICON LoadIconW(HINSTANCE instance, LPCWSTR name) {
  logCall("LoadIconW", {logName(instance), resourceName(name)});
  Device& d = device();
  if (instance != sim::instance() || !isResourceId(name)) return nullptr;
  int id = static_cast<int>(reinterpret_cast<ULONG_PTR>(name));
  if (std::find(d.iconResources.begin(), d.iconResources.end(), id) == d.iconResources.end())
    return nullptr;
  auto [entry, added] = d.iconHandles.emplace(id, 0);
  if (added) {
    entry->second = newHandle();
    d.iconResource[entry->second] = id;
  }
  return static_cast<HICON>(handleValue(entry->second));
}

HCURSOR LoadCursorW(HINSTANCE instance, LPCWSTR name) {
  logCall("LoadCursorW", {logName(instance), resourceName(name)});
  if (!isResourceId(name)) return nullptr;
  auto [entry, added] = device().cursors.emplace(reinterpret_cast<ULONG_PTR>(name), 0);
  if (added) entry->second = newHandle();
  return static_cast<HCURSOR>(handleValue(entry->second));
}

int GetSystemMetrics(int index) {
  logCall("GetSystemMetrics", {logName(index)});
  return index == SM_CYCAPTION ? device().captionHeight : 0;
}

BOOL SystemParametersInfoW(UINT action, UINT param, LPVOID value, UINT winIni) {
  logCall("SystemParametersInfoW", {logName(action), logName(param), logName(winIni)});
  if (action != SPI_GETWORKAREA || value == nullptr) return FALSE;
  *static_cast<RECT*>(value) = device().workArea;
  return TRUE;
}

// The system's case mapping: Unicode's simple upper-case mapping of each unit, as the C
// library's UTF-8 locale has it; a unit without one (a surrogate, "ß") stays as it is.
DWORD CharUpperBuffW(LPWSTR text, DWORD length) {
  logCall("CharUpperBuffW", {logName(length)});
  static const locale_t unicode = newlocale(LC_CTYPE_MASK, "C.UTF-8", static_cast<locale_t>(0));
  if (unicode == static_cast<locale_t>(0)) fail("the C.UTF-8 locale is missing");
  for (DWORD i = 0; i < length; ++i) {
    if (text[i] >= 0xD800 && text[i] <= 0xDFFF) continue;
    wint_t upper = towupper_l(static_cast<wint_t>(text[i]), unicode);
    if (upper <= 0xFFFF) text[i] = static_cast<WCHAR>(upper);
  }
  return length;
}

int wsprintfW(LPWSTR buffer, LPCWSTR format, ...) {
  logCall("wsprintfW", {});
  std::u16string out;
  va_list arguments;
  va_start(arguments, format);
  for (LPCWSTR c = format; *c != 0; ++c) {
    if (*c != u'%') {
      out += *c;
      continue;
    }
    switch (*++c) {
      case u'%': out += u'%'; break;
      case u'd': {
        for (char digit : std::to_string(va_arg(arguments, int))) out += char16_t(digit);
        break;
      }
      case u'u': {
        for (char digit : std::to_string(va_arg(arguments, unsigned int))) out += char16_t(digit);
        break;
      }
      case u's': {
        LPCWSTR text = va_arg(arguments, LPCWSTR);
        out += text != nullptr ? text : u"(null)";
        break;
      }
      default:
        va_end(arguments);
        fail("wsprintfW: only %d, %u, %s and %% are simulated");
    }
  }
  va_end(arguments);
  if (out.size() >= kWsprintfLimit) out.resize(kWsprintfLimit - 1);
  std::copy(out.begin(), out.end(), buffer);
  buffer[out.size()] = 0;
  return static_cast<int>(out.size());
}

// ---- Control --------------------------------------------------------------------------------

namespace sim {

const std::vector<MessageBoxRecord>& messageBoxes() { return device().boxes; }
void answerBoxes(std::initializer_list<int> answers) {
  device().boxAnswers.insert(device().boxAnswers.end(), answers);
}
void whileBoxOpen(std::function<void(const MessageBoxRecord&)> callback) {
  device().whileBoxOpen = std::move(callback);
}

std::vector<HotKey> hotKeys() { return device().hotKeys; }
bool isRegistered(UINT virtualKey) {
  const std::vector<HotKey>& hotKeys = device().hotKeys;
  return std::any_of(hotKeys.begin(), hotKeys.end(), [virtualKey](const HotKey& hotKey) {
    return hotKey.modifiers == 0 && hotKey.virtualKey == virtualKey;
  });
}
void setKeyRepeat(bool on, uint64_t delay, uint64_t interval) {
  Device& d = device();
  d.keyRepeat = on;
  d.repeatDelay = delay;
  d.repeatInterval = std::max<uint64_t>(interval, 1);
  if (!on) stopRepeat();
}
void keyDown(UINT virtualKey) {
  stopRepeat();
  Device& d = device();
  d.keyStrokes.push_back({virtualKey, true, false, d.now});
  keyEvent(virtualKey, true, 0, false);
  d.repeatingKey = virtualKey;
  if (d.keyRepeat) scheduleRepeat(d.repeatDelay);
}
void keyUp(UINT virtualKey) {
  if (device().repeatingKey == virtualKey) stopRepeat();
  device().keyStrokes.push_back({virtualKey, false, false, device().now});
  keyEvent(virtualKey, false, 0, false);
}
bool holdHotKey(UINT virtualKey) {
  if (isRegistered(virtualKey)) return false;
  return device().othersHotKeys.insert(virtualKey).second;
}
void releaseHotKey(UINT virtualKey) { device().othersHotKeys.erase(virtualKey); }
void pressAt(UINT virtualKey, uint64_t down, uint64_t up) {
  at(down, [virtualKey] { keyDown(virtualKey); });
  at(up, [virtualKey] { keyUp(virtualKey); });
}
const std::vector<KeyEvent>& injectedKeys() { return device().injectedKeys; }
const std::vector<KeyEvent>& keysToOthers() { return device().keysToOthers; }
const std::vector<KeyStroke>& keyStrokes() { return device().keyStrokes; }

WindowInfo window(HWND handle) {
  const Window* known = knownWindow(handle);
  if (known == nullptr) {
    WindowInfo unknown{};
    unknown.destroyed = true;
    return unknown;
  }
  WindowInfo info = known->info;
  info.client = clientRect(*known);
  return info;
}
HWND findWindow(const std::u16string& className) {
  const std::vector<Window>& windows = device().windows;
  for (size_t i = 0; i < windows.size(); ++i)
    if (!windows[i].info.destroyed && lower(windows[i].info.className) == lower(className))
      return windowHandle(static_cast<int>(i) + 1);
  return nullptr;
}
HWND foreground() { return device().foreground; }
void setWorkArea(RECT area) { device().workArea = area; }
void setCaptionHeight(int h) { device().captionHeight = h; }
void setBorderWidth(int w) { device().borderWidth = w; }

const std::vector<Posted>& postedLog() { return device().postedLog; }
std::vector<Posted> queue() { return {device().queue.begin(), device().queue.end()}; }
std::vector<Timer> timers() {
  std::vector<Timer> running;
  for (const TimerEntry& entry : device().timers) running.push_back(entry.timer);
  return running;
}

void failTimers(bool on) { device().timersFail = on; }

void tap(HWND handle, int x, int y) {
  Window* window = liveWindow(handle);
  if (window == nullptr || !window->info.visible) return;
  post(handle, WM_LBUTTONDOWN, kLeftButton, MAKELPARAM(x, y));
  post(handle, WM_LBUTTONUP, 0, MAKELPARAM(x, y));
}
void close(HWND handle) {
  Window* window = liveWindow(handle);
  if (window != nullptr && window->info.visible) post(handle, WM_CLOSE, 0, 0);
}

void pump() {
  MSG message;
  for (;;) {
    runDueActions();
    if (!takeDueMessage(message, false)) return;
    dispatch(message);
  }
}

}  // namespace sim
