/*
 * The program's one notification-area icon, always the pair (main window, TRAY_ICON_ID).
 * The shell refuses to add an icon that is present or to change or remove an absent
 * one; the window relies on a refused removal being harmless, so no result is looked at.
 */
#include "shell/tray_icon.h"

namespace {

void notifyShell(DWORD command, HWND window, UINT flags, UINT callbackMessage, HICON icon) {
  NOTIFYICONDATA data;
  memset(&data, 0, sizeof(data));
  data.cbSize = sizeof(data);
  data.hWnd = window;
  data.uID = TRAY_ICON_ID;
  data.uFlags = flags;
  data.uCallbackMessage = callbackMessage;
  data.hIcon = icon;
  Shell_NotifyIcon(command, &data);
}

HICON loadIcon(UINT iconId) {
  return LoadIconW(GetModuleHandleW(NULL), MAKEINTRESOURCEW(iconId & 0xFFFF));
}

}  // namespace

void AddTrayIcon(HWND window, UINT iconId) {
  notifyShell(NIM_ADD, window, NIF_MESSAGE | NIF_ICON, WM_APP_TRAY, loadIcon(iconId));
}

void ModifyTrayIcon(HWND window, UINT iconId) {
  notifyShell(NIM_MODIFY, window, NIF_ICON, 0, loadIcon(iconId));
}

void DeleteTrayIcon(HWND window) { notifyShell(NIM_DELETE, window, 0, 0, NULL); }
