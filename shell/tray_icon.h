#ifndef KURVIX_SHELL_TRAY_ICON_H
#define KURVIX_SHELL_TRAY_ICON_H

#include "platform/platform.h"

/* The notification-area icon's report to the window: wParam TRAY_ICON_ID, lParam the
   mouse message. The Pocket PC shell reserves the icon ids 0 to 12; nothing outside the
   program reads the id. */
const UINT WM_APP_TRAY = WM_APP + 1;
const UINT TRAY_ICON_ID = 100;

void AddTrayIcon(HWND window, UINT iconId);
void ModifyTrayIcon(HWND window, UINT iconId);
void DeleteTrayIcon(HWND window);

#endif
