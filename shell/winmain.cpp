/*
 * Start-up: register the class, create the main window hidden and centred, run the
 * message loop until the destroy message posts the quit message.
 *
 * The window is centred in a rectangle of the work area's size placed at the screen's
 * top left corner: the work area's own left and top are not added. On a work area
 * narrower than the window (a QVGA handheld held upright is 240 pixels wide) the window
 * takes the work area's width at its left edge, so that the button column, the corner
 * mark and the caption's close button stay on screen; the window lays itself out from
 * its client width.
 *
 * One instance per program file: a second start of the same kurvix.exe (a StartUp
 * shortcut and a tap in the file explorer) would add a second icon whose keys the first
 * instance holds already. It finds the first by a named mutex made from the program's
 * path and ends at once with 0, before it loads or shows anything. A copy in another
 * folder, with its own Kurvix.ini, has another name and runs beside it.
 */
#include "config/text.h"
#include "res/texts.h"
#include "shell/layout.h"
#include "shell/main_window.h"

namespace {
const WCHAR* const INSTANCE_PREFIX = TEXT("Kurvix:");
/* The longest object name Windows CE takes, with its zero. */
const DWORD INSTANCE_NAME_CAPACITY = 260;

/* Windows CE compares file names without regard to case, so the name is upper-cased with
   the system's own case mapping; a backslash, which object names may not hold on the
   desktop, becomes a slash, as paths treat both alike. */
void makeInstanceName(WCHAR* path, DWORD length) {
  CharUpperBuffW(path, length);
  for (DWORD i = 0; i < length; ++i) {
    if (path[i] == '\\') path[i] = '/';
  }
}

/* The mutex that marks this program file as running, or null when another instance of it
   runs (*anotherRuns is then 1) or when no name can be made: a path that cannot be found
   or does not fit whole lets the program run unguarded rather than not at all. */
HANDLE markInstance(HINSTANCE instance, int* anotherRuns) {
  *anotherRuns = 0;
  WCHAR name[INSTANCE_NAME_CAPACITY];
  copyText(INSTANCE_PREFIX, name, INSTANCE_NAME_CAPACITY);
  DWORD start = textLength(name);
  DWORD room = INSTANCE_NAME_CAPACITY - start;
  DWORD length = GetModuleFileNameW(instance, name + start, room);
  if (length == 0 || length >= room) return NULL;
  makeInstanceName(name + start, length);
  name[start + length] = 0;
  // Only an existing name sets the last error: one left from before must not pass for it.
  SetLastError(0);
  HANDLE mark = CreateMutexW(NULL, FALSE, name);
  if (mark != NULL && GetLastError() == ERROR_ALREADY_EXISTS) {
    CloseHandle(mark);
    *anotherRuns = 1;
    return NULL;
  }
  return mark;
}
}  // namespace

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, WinMainCommandLine, int) {
  int anotherRuns = 0;
  HANDLE instanceMark = markInstance(instance, &anotherRuns);
  if (anotherRuns) return 0;

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
  int areaWidth = workArea.right - workArea.left;
  // An empty work area is a failed query, not a screen: the window keeps its width then.
  int width = areaWidth > 0 && areaWidth < WINDOW_WIDTH ? areaWidth : WINDOW_WIDTH;
  int x = (areaWidth - width) / 2;
  int y = (workArea.bottom - workArea.top - height) / 2;

  HWND window = CreateWindowExW(0, CLASS_NAME, PROGRAM_NAME, WS_CAPTION | WS_SYSMENU, x, y,
                                width, height, NULL, NULL, instance, NULL);
  // No window: the configuration could not be loaded (the reader has said why) or the
  // system refused the window. Either way there is nothing to run.
  int exitCode = 1;
  if (window != NULL) {
    UpdateWindow(window);
    MSG message;
    while (GetMessageW(&message, NULL, 0, 0)) {
      TranslateMessage(&message);
      DispatchMessageW(&message);
    }
    exitCode = static_cast<int>(message.wParam);
  }
  if (instanceMark != NULL) CloseHandle(instanceMark);
  return exitCode;
}
