/*
 * The main window: hidden in the notification area while the bindings work, shown as a
 * small status window on a tap of the tray icon. Its procedure hands the system's key
 * and timer messages to the binding table and keeps the tray icon and the title in step
 * with the table's status messages.
 *
 * Layout (shell/layout.h): a column at the right edge with the "D" and "E" squares and
 * the corner mark, a strip at the bottom with the contact line. Everything is measured
 * from the client rectangle, so a window narrowed to a small screen keeps the column at
 * its right edge. There the key-code text may not fit on one line: it is then
 * broken between words, so that the number is never cut off.
 *
 * The procedure is entered again while the table waits in a modal message box; the
 * table copes with that itself (see binding_table.h).
 */
#include "shell/main_window.h"

#include "res/resource.h"
#include "res/texts.h"
#include "shell/layout.h"
#include "shell/tray_icon.h"

BindingTable* bindingTable = NULL;
DWORD lastKeyCode = 0;

namespace {

const COLORREF DARK_GREY = 0x606060;
const UINT CENTRED_LINE = DT_CENTER | DT_VCENTER | DT_SINGLELINE;

bool bindingsOff() { return bindingTable != NULL && bindingTable->isDisabled(); }

UINT trayPicture() { return bindingsOff() ? IDI_TRAY_DISABLED : IDI_TRAY_ENABLED; }

RECT clientRect(HWND window) {
  RECT client;
  GetClientRect(window, &client);
  return client;
}

RECT makeRect(LONG left, LONG top, LONG right, LONG bottom) {
  RECT rect = {left, top, right, bottom};
  return rect;
}

/* One centred line where the text fits the area, as on any screen wide enough; otherwise
   lines broken between words, the block centred in the area. */
void drawKeyCodeText(HDC dc, const WCHAR* text, RECT area) {
  RECT line = area;
  DrawTextW(dc, text, -1, &line, DT_SINGLELINE | DT_CALCRECT);
  if (line.right - line.left <= area.right - area.left) {
    DrawTextW(dc, text, -1, &area, CENTRED_LINE);
    return;
  }
  RECT block = area;
  LONG height = DrawTextW(dc, text, -1, &block, DT_CENTER | DT_WORDBREAK | DT_CALCRECT);
  area.top += (area.bottom - area.top - height) / 2;
  area.bottom = area.top + height;
  DrawTextW(dc, text, -1, &area, DT_CENTER | DT_WORDBREAK);
}

LRESULT onCreate(HWND window, const CREATESTRUCT* creation) {
  lastKeyCode = 0;
  // Published while it loads: a window closed meanwhile destroys it, and its keys work from
  // their registration on.
  BindingTable* table = BindingTable::create(window, creation->hInstance, WM_APP_STATUS, bindingTable);
  // Null also when the window was closed meanwhile: create has freed the table then.
  if (table == NULL) return -1;
  if (table->count() != 0) {
    AddTrayIcon(window, trayPicture());
  } else {
    ShowWindow(window, SW_SHOW);
  }
  return 0;
}

void onDestroy(HWND window) {
  DeleteTrayIcon(window);
  BindingTable::destroy(bindingTable);
  bindingTable = NULL;
  PostQuitMessage(0);
}

void drawLines(HDC dc, LONG w, LONG h) {
  MoveToEx(dc, w - COLUMN_WIDTH, 0, NULL);
  LineTo(dc, w - COLUMN_WIDTH, h);
  // The corner mark: four right angles nested in the square at the column's foot.
  for (LONG k = 1; k <= 4; ++k) {
    MoveToEx(dc, w - 2 * k, h - SQUARE + 2 * k, NULL);
    LineTo(dc, w - 2 * k, h - 2 * k);
    LineTo(dc, w - SQUARE + 2 * k, h - 2 * k);
  }
}

void onPaint(HWND window) {
  PAINTSTRUCT paint;
  HDC dc = BeginPaint(window, &paint);
  RECT client = clientRect(window);
  LONG w = client.right;
  LONG h = client.bottom;
  SetBkMode(dc, TRANSPARENT);
  selectStatusFont(dc);

  WCHAR keyText[64];
  const WCHAR* text = PRESS_A_KEY;
  if (lastKeyCode != 0) {
    wsprintfW(keyText, LAST_KEY_CODE, static_cast<UINT>(lastKeyCode));
    text = keyText;
  }
  drawKeyCodeText(dc, text, makeRect(0, 0, w - COLUMN_WIDTH, h - SQUARE));

  SetTextColor(dc, DARK_GREY);
  RECT contactArea = makeRect(0, h - SQUARE, w - COLUMN_WIDTH, h);
  DrawTextW(dc, CONTACT_LINE, -1, &contactArea, CENTRED_LINE);

  client = clientRect(window);
  HPEN pen = CreatePen(PS_SOLID, 1, DARK_GREY);
  HGDIOBJ previousPen = SelectObject(dc, pen);
  drawLines(dc, client.right, client.bottom);
  SelectObject(dc, previousPen);
  DeleteObject(pen);

  SetTextColor(dc, DARK_GREY);
  if (bindingsOff()) {
    RECT square = makeRect(w - COLUMN_WIDTH, SQUARE, w, 2 * SQUARE);
    DrawTextW(dc, ENABLE_BUTTON, 1, &square, CENTRED_LINE);
  } else {
    RECT square = makeRect(w - COLUMN_WIDTH, 0, w, SQUARE);
    DrawTextW(dc, DISABLE_BUTTON, 1, &square, CENTRED_LINE);
  }
  EndPaint(window, &paint);
}

void onKeyDown(HWND window, WPARAM virtualKey) {
  lastKeyCode = static_cast<DWORD>(virtualKey);
  RECT client = clientRect(window);
  RECT textArea = makeRect(0, 0, client.right - COLUMN_WIDTH, client.bottom - SQUARE);
  InvalidateRect(window, &textArea, TRUE);
}

void invalidateButtons(HWND window) {
  LONG w = clientRect(window).right;
  RECT buttons = makeRect(w - COLUMN_WIDTH, 0, w, 2 * SQUARE);
  InvalidateRect(window, &buttons, TRUE);
}

void hideToTray(HWND window) {
  ShowWindow(window, SW_HIDE);
  AddTrayIcon(window, trayPicture());
}

void onTap(HWND window, LPARAM position) {
  int x = LOWORD(position);
  int y = HIWORD(position);
  RECT client = clientRect(window);
  if (x < client.right - TAP_COLUMN_WIDTH || bindingTable == NULL) return;
  if (y >= client.bottom - SQUARE && y <= client.bottom) {
    hideToTray(window);
  } else if (y >= 0 && y < SQUARE) {
    if (bindingsOff()) return;
    bindingTable->disable();
    invalidateButtons(window);
  } else if (y >= SQUARE && y < 2 * SQUARE) {
    if (!bindingsOff()) return;
    // The box about a taken key may see the window closed: the table is freed here then.
    BindingTable* table = bindingTable;
    table->enable();
    BindingTable::freeIfDestroyed(table);
    if (bindingTable != NULL) invalidateButtons(window);
  }
}

void onTrayMessage(HWND window, WPARAM id, LPARAM mouseMessage) {
  if (id != TRAY_ICON_ID || mouseMessage != WM_LBUTTONDOWN) return;
  ShowWindow(window, SW_SHOW);
  SetForegroundWindow(window);
  DeleteTrayIcon(window);
}

void onStatus(HWND window, WPARAM status, LPARAM value) {
  // A long press may switch the bindings off while the window is shown, and a reload may
  // switch them on without reporting STATUS_ENABLED: the letter and the picture follow the
  // table's state as it is now, or the letter and the square that answers taps would disagree.
  if (IsWindowVisible(window)) {
    invalidateButtons(window);
  } else {
    ModifyTrayIcon(window, trayPicture());
  }
  if (status == STATUS_LOADED) {
    WCHAR title[32];
    wsprintfW(title, TEXT("%s (%u)"), PROGRAM_NAME, static_cast<UINT>(value));
    SetWindowTextW(window, title);
  }
}

/* A tick can open a box (a question, a reload's messages) in which the window is closed: the
   table destroyed meanwhile is freed once the tick is over. */
void onTimer(WPARAM id) {
  BindingTable* table = bindingTable;
  if (table == NULL) return;
  table->onTimer(id);
  BindingTable::freeIfDestroyed(table);
}

}  // namespace

LRESULT CALLBACK MainWndProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  switch (message) {
    case WM_CREATE:
      return onCreate(window, reinterpret_cast<const CREATESTRUCT*>(lParam));
    case WM_DESTROY:
      onDestroy(window);
      return 0;
    case WM_PAINT:
      onPaint(window);
      return 0;
    case WM_CLOSE:
      DestroyWindow(window);
      return 0;
    case WM_KEYDOWN:
      onKeyDown(window, wParam);
      return 0;
    case WM_TIMER:
      onTimer(wParam);
      return 0;
    case WM_LBUTTONDOWN:
      onTap(window, lParam);
      return 0;
    case WM_HOTKEY:
      return bindingTable != NULL ? bindingTable->onKeyMessage(wParam, lParam) : 0;
    case WM_APP_TRAY:
      onTrayMessage(window, wParam, lParam);
      return 0;
    case WM_APP_STATUS:
      onStatus(window, wParam, lParam);
      return 0;
    default:
      return DefWindowProcW(window, message, wParam, lParam);
  }
}
