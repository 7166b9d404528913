/*
 * idle_minimal: the least a resident Windows program can be, as a yardstick for
 * kurvix.exe's idle cost and working set under Wine: it registers a class, creates a
 * hidden window and waits in its message loop. Closing the window ends it.
 */
#include <windows.h>

namespace {

LRESULT CALLBACK windowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  if (message == WM_DESTROY) {
    PostQuitMessage(0);
    return 0;
  }
  return DefWindowProcW(window, message, wParam, lParam);
}

}  // namespace

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR, int) {
  WNDCLASSW windowClass = {};
  windowClass.lpfnWndProc = windowProc;
  windowClass.hInstance = instance;
  windowClass.lpszClassName = L"KvIdle.Class";
  RegisterClassW(&windowClass);
  if (CreateWindowExW(0, windowClass.lpszClassName, L"idle_minimal", WS_CAPTION | WS_SYSMENU, 0, 0,
                      100, 100, nullptr, nullptr, instance, nullptr) == nullptr) {
    return 1;
  }
  MSG message;
  while (GetMessageW(&message, nullptr, 0, 0) > 0) DispatchMessageW(&message);
  return static_cast<int>(message.wParam);
}
