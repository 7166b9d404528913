/*
 * platform_facts: checks under Wine the behaviour of the system that the simulated
 * device copies. Prints one JSON line per fact, {"fact": NAME, "holds": BOOL, ...}, and
 * exits 0 when all hold.
 */
#include <windows.h>

#include <cstdio>

namespace {

const wchar_t* const REFUSING_CLASS = L"KvFacts.Refusing";
const wchar_t* const PLAIN_CLASS = L"KvFacts.Plain";
const UINT TIMER_PERIOD_MS = 50;
const UINT BLOCKED_PERIODS = 5;

bool destroyMessage = false;
bool finalMessage = false;

LRESULT CALLBACK refusingProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  if (message == WM_CREATE) return -1;
  if (message == WM_DESTROY) destroyMessage = true;
  if (message == WM_NCDESTROY) finalMessage = true;
  return DefWindowProcW(window, message, wParam, lParam);
}

void registerClass(const wchar_t* name, WNDPROC proc) {
  WNDCLASSW windowClass = {};
  windowClass.lpfnWndProc = proc;
  windowClass.hInstance = GetModuleHandleW(nullptr);
  windowClass.lpszClassName = name;
  RegisterClassW(&windowClass);
}

HWND createWindow(const wchar_t* name) {
  return CreateWindowExW(0, name, L"facts", WS_OVERLAPPED, 0, 0, 100, 100, nullptr, nullptr,
                         GetModuleHandleW(nullptr), nullptr);
}

bool print(const char* fact, bool holds, const char* details) {
  std::printf("{\"fact\": \"%s\", \"holds\": %s%s}\n", fact, holds ? "true" : "false", details);
  return holds;
}

bool secondHotKeyRegistrationFails(HWND window) {
  const UINT key = 0xC1;
  BOOL first = RegisterHotKey(window, key, 0, key);
  BOOL second = RegisterHotKey(window, key, 0, key);
  BOOL otherId = RegisterHotKey(window, key + 1, 0, key);
  UnregisterHotKey(window, key);
  UnregisterHotKey(window, key + 1);
  char details[96];
  std::snprintf(details, sizeof(details), ", \"first\": %d, \"same_id\": %d, \"other_id\": %d",
                first != 0, second != 0, otherId != 0);
  return print("second_hotkey_registration_fails", first && !second && !otherId, details);
}

/* Two facts: the window is destroyed and creation answers null; and the destruction
   sends WM_DESTROY, which Windows does and Wine 8 does not (it sends only WM_NCDESTROY). */
bool refusedCreationDestroysWindow() {
  HWND window = createWindow(REFUSING_CLASS);
  char details[64];
  std::snprintf(details, sizeof(details), ", \"null_window\": %d, \"final_message\": %d",
                window == nullptr, finalMessage);
  bool destroyed =
      print("refused_creation_destroys_window", window == nullptr && finalMessage, details);
  return print("refused_creation_sends_destroy_message", destroyMessage, "") && destroyed;
}

bool missedTimerTicksDoNotPileUp(HWND window) {
  SetTimer(window, 1, TIMER_PERIOD_MS, nullptr);
  Sleep(TIMER_PERIOD_MS * BLOCKED_PERIODS + TIMER_PERIOD_MS / 2);
  int pending = 0;
  MSG message;
  while (PeekMessageW(&message, window, WM_TIMER, WM_TIMER, PM_REMOVE)) ++pending;
  KillTimer(window, 1);
  char details[32];
  std::snprintf(details, sizeof(details), ", \"pending\": %d", pending);
  return print("missed_timer_ticks_do_not_pile_up", pending == 1, details);
}

/* A keyboard repeats a held key's key-down; each repeat of a registered key is one more
   WM_HOTKEY, as the first key-down is. */
bool everyKeyDownOfAHeldHotKeyIsAHotKeyMessage(HWND window) {
  const BYTE key = 0xC3;
  const int keyDowns = 3;
  RegisterHotKey(window, key, 0, key);
  for (int i = 0; i < keyDowns; ++i) keybd_event(key, 0, 0, 0);
  int received = 0;
  MSG message;
  for (DWORD start = GetTickCount(); GetTickCount() - start < 500 && received < keyDowns;) {
    if (PeekMessageW(&message, window, WM_HOTKEY, WM_HOTKEY, PM_REMOVE)) {
      received += message.wParam == key && static_cast<UINT>(message.lParam) == (static_cast<UINT>(key) << 16);
    } else {
      Sleep(10);
    }
  }
  keybd_event(key, 0, KEYEVENTF_KEYUP, 0);
  UnregisterHotKey(window, key);
  char details[32];
  std::snprintf(details, sizeof(details), ", \"hotkeys\": %d", received);
  return print("every_key_down_of_a_held_hotkey_is_a_hotkey_message", received == keyDowns, details);
}

/* A named mutex that exists already is handed out again with ERROR_ALREADY_EXISTS; a new
   one leaves the last error 0 even when it held another error before; the name goes with
   its last handle. */
bool namedMutexTellsTheSecondCreator() {
  const wchar_t* const name = L"Kurvix:/FACTS/KURVIX.EXE";
  SetLastError(ERROR_ACCESS_DENIED);
  HANDLE first = CreateMutexW(nullptr, FALSE, name);
  DWORD firstError = GetLastError();
  HANDLE second = CreateMutexW(nullptr, FALSE, name);
  DWORD secondError = GetLastError();
  CloseHandle(second);
  CloseHandle(first);
  HANDLE again = CreateMutexW(nullptr, FALSE, name);
  DWORD againError = GetLastError();
  CloseHandle(again);
  char details[96];
  std::snprintf(details, sizeof(details), ", \"first\": %lu, \"second\": %lu, \"again\": %lu",
                firstError, secondError, againError);
  return print("named_mutex_tells_the_second_creator",
               first != nullptr && second != nullptr && firstError == 0 &&
                   secondError == ERROR_ALREADY_EXISTS && againError == 0,
               details);
}

}  // namespace

int main() {
  registerClass(REFUSING_CLASS, refusingProc);
  registerClass(PLAIN_CLASS, DefWindowProcW);
  HWND window = createWindow(PLAIN_CLASS);
  bool all = secondHotKeyRegistrationFails(window);
  all = refusedCreationDestroysWindow() && all;
  all = missedTimerTicksDoNotPileUp(window) && all;
  all = everyKeyDownOfAHeldHotKeyIsAHotKeyMessage(window) && all;
  all = namedMutexTellsTheSecondCreator() && all;
  DestroyWindow(window);
  return all ? 0 : 1;
}
