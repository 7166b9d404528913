/*
 * Start-up: register the class, create the main window hidden and centred, run the
 * message loop until the destroy message posts the quit message.
 *
 * The window is centred in a rectangle of the work area's size placed at the screen's
 * top left corner: the work area's own left and top are not added.
 */
#include "shell/main_window.h"

namespace {
const int WINDOW_WIDTH = 276;
const int CLIENT_HEIGHT_BELOW_CAPTION = 68;
const WCHAR* const CLASS_NAME = TEXT("Kurvix.Class");
}  // namespace

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, WinMainCommandLine, int) {
  WNDCLASS windowClass;
  memset(&windowClass, 0, sizeof(windowClass));
  windowClass.style = CS_HREDRAW | CS_VREDRAW;
  windowClass.lpfnWndProc = MainWndProc;
  windowClass.hInstance = instance;
  windowClass.hCursor = LoadCursorW(NULL, IDC_ARROW);
  windowClass.hbrBackground = static_cast<HBRUSH>(GetStockObject(LTGRAY_BRUSH));
  windowClass.lpszClassName = CLASS_NAME;
  RegisterClassW(&windowClass);

  int height = GetSystemMetrics(SM_CYCAPTION) + CLIENT_HEIGHT_BELOW_CAPTION;
  RECT workArea = {0, 0, 0, 0};
  SystemParametersInfoW(SPI_GETWORKAREA, 0, &workArea, 0);
  int x = (workArea.right - workArea.left - WINDOW_WIDTH) / 2;
  int y = (workArea.bottom - workArea.top - height) / 2;

  HWND window = CreateWindowExW(0, CLASS_NAME, TEXT("Kurvix"), WS_CAPTION | WS_SYSMENU, x, y,
                                WINDOW_WIDTH, height, NULL, NULL, instance, NULL);
  // No window: the configuration could not be loaded (the reader has said why) or the
  // system refused the window. Either way there is nothing to run.
  if (window == NULL) return 1;
  UpdateWindow(window);

  MSG message;
  while (GetMessageW(&message, NULL, 0, 0)) {
    TranslateMessage(&message);
    DispatchMessageW(&message);
  }
  return static_cast<int>(message.wParam);
}
