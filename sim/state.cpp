// The device as a whole: its reset, the call log, handle numbering and the virtual clock's
// scheduler, which every platform service shares.
#include "sim/state.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>

namespace sim::detail {
namespace {

constexpr uintptr_t kWindowBase = 0x10000;
constexpr uintptr_t kHandleBase = 0x100000;
constexpr uintptr_t kStride = 16;

int numberIn(uintptr_t value, uintptr_t base, int made) {
  if (value <= base || (value - base) % kStride != 0) return 0;
  uintptr_t number = (value - base) / kStride;
  return number <= static_cast<uintptr_t>(made) ? static_cast<int>(number) : 0;
}

}  // namespace

Device& device() {
  static Device state;
  return state;
}

HWND windowHandle(int number) {
  return reinterpret_cast<HWND>(kWindowBase + kStride * static_cast<uintptr_t>(number));
}

int windowNumber(HWND window) {
  return numberIn(reinterpret_cast<uintptr_t>(window), kWindowBase,
                  static_cast<int>(device().windows.size()));
}

void* handleValue(int number) {
  return reinterpret_cast<void*>(kHandleBase + kStride * static_cast<uintptr_t>(number));
}

int handleNumber(const void* handle) {
  return numberIn(reinterpret_cast<uintptr_t>(handle), kHandleBase, device().handlesMade);
}

int newHandle() { return ++device().handlesMade; }

std::string logName(HWND window) {
  if (window == nullptr) return "w0";
  int number = windowNumber(window);
  if (number == 0) return "w?" + std::to_string(reinterpret_cast<uintptr_t>(window));
  return "w" + std::to_string(number);
}

std::string logName(const void* handle) {
  if (handle == nullptr) return "h0";
  if (handle == INVALID_HANDLE_VALUE) return "h-1";
  int number = handleNumber(handle);
  if (number == 0) return "h?" + std::to_string(reinterpret_cast<uintptr_t>(handle));
  return "h" + std::to_string(number);
}

void logCall(const char* function, std::initializer_list<std::string> arguments) {
  std::string line = function;
  line += '(';
  bool first = true;
  for (const std::string& argument : arguments) {
    if (!first) line += ',';
    line += argument;
    first = false;
  }
  line += ')';
  device().calls.push_back(std::move(line));
  device().callTimes.push_back(device().now);
}

void fail(const std::string& why) {
  std::fprintf(stderr, "simulated device: %s\n", why.c_str());
  std::fflush(stderr);
  std::abort();
}

std::u16string wide(LPCWSTR text) {
  return text == nullptr ? std::u16string() : std::u16string(text);
}

void advanceTo(uint64_t time) {
  Device& d = device();
  if (time > d.now) {
    d.now = time;
    d.messagesThisInstant = 0;
  }
}

void runDueActions() {
  Device& d = device();
  // Each action is taken out before it runs: it may schedule more, or run the clock itself.
  while (!d.actions.empty() && d.actions.begin()->first.first <= d.now) {
    std::function<void()> action = std::move(d.actions.begin()->second);
    d.actions.erase(d.actions.begin());
    action();
  }
}

std::optional<uint64_t> nextEventTime() {
  const Device& d = device();
  std::optional<uint64_t> next;
  if (!d.actions.empty()) next = d.actions.begin()->first.first;
  for (const TimerEntry& entry : d.timers) {
    if (entry.timer.window != nullptr && liveWindow(entry.timer.window) == nullptr) continue;
    if (!next || entry.timer.due < *next) next = entry.timer.due;
  }
  return next;
}

}  // namespace sim::detail

namespace sim {

using namespace detail;

void reset() { device() = Device(); }

const std::vector<std::string>& calls() { return device().calls; }
const std::vector<uint64_t>& callTimes() { return device().callTimes; }

std::vector<std::string> callsOf(std::initializer_list<std::string_view> names) {
  std::vector<std::string> found;
  for (const std::string& call : device().calls) {
    std::string_view name = std::string_view(call).substr(0, call.find('('));
    if (std::find(names.begin(), names.end(), name) != names.end()) found.push_back(call);
  }
  return found;
}

void clearCalls() {
  device().calls.clear();
  device().callTimes.clear();
}

void clearRecords() {
  Device& d = device();
  if (d.openBoxes != 0 || !d.dcs.empty()) fail("clearRecords while a box is open or a paint runs");
  // Swapping with empty containers gives the memory back; clear() would keep it.
  std::vector<std::string>().swap(d.calls);
  std::vector<uint64_t>().swap(d.callTimes);
  std::vector<KeyStroke>().swap(d.keyStrokes);
  std::vector<FileOpen>().swap(d.fileOpens);
  std::vector<MessageBoxRecord>().swap(d.boxes);
  std::vector<KeyEvent>().swap(d.injectedKeys);
  std::vector<KeyEvent>().swap(d.keysToOthers);
  std::vector<Posted>().swap(d.postedLog);
  std::vector<Paint>().swap(d.paints);
  std::vector<Invalidation>().swap(d.invalidations);
  std::vector<TrayCall>().swap(d.trayCalls);
}

void at(uint64_t t, std::function<void()> action) {
  Device& d = device();
  d.actions.emplace(std::make_pair(t, d.actionsMade++), std::move(action));
}

void runUntil(uint64_t t) {
  pump();
  for (std::optional<uint64_t> next = nextEventTime(); next && *next <= t;
       next = nextEventTime()) {
    advanceTo(*next);
    pump();
  }
  if (t > device().now) {
    advanceTo(t);
    pump();
  }
}

void runFor(uint64_t ms) { runUntil(device().now + ms); }

void setIdleHook(std::function<void()> hook) { device().idleHook = std::move(hook); }

std::optional<int> quitCode() { return device().quitCode; }

}  // namespace sim
