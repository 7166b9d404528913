/*
 * Windows CE's coredll as the device code uses it: the handles, constants, structures and
 * functions that the device program's own declarations (platform/wince/winapi.h) and the
 * simulated device (sim/winapi.h) share, written once. Each of the two defines the scalar
 * types whose widths differ between a 32-bit device and a 64-bit host (DWORD, UINT, ULONG,
 * LONG, the _PTR types, WPARAM, LPARAM, LRESULT), WCHAR and TEXT before it includes this
 * file, and declares itself the functions whose declarations differ.
 *
 * The functions have C linkage: coredll exports plain names, and the simulated device's
 * definitions take the same plain names.
 *
 * Wherever pointers are 32 bits and a wide character 16 bits, as on the device (the device
 * build, and the simulated device on 32-bit ARM and in the page's WebAssembly), the static
 * assertions at the end hold every structure to the Windows CE SDK's size and the fields the
 * system reads to their offsets: a wrong layout stops the build.
 */
#ifndef KURVIX_PLATFORM_WINCE_COREDLL_H
#define KURVIX_PLATFORM_WINCE_COREDLL_H

#include <stddef.h>

#define WINAPI
#define CALLBACK

typedef int BOOL;
typedef unsigned char BYTE;
typedef unsigned short WORD;
typedef DWORD COLORREF;
typedef void* HANDLE;
typedef void* LPVOID;
typedef DWORD* LPDWORD;
typedef LONG* PLONG;
typedef WCHAR* LPWSTR;
typedef const WCHAR* LPCWSTR;

#define KURVIX_DECLARE_HANDLE(name) \
  struct name##__ {                 \
    int unused;                     \
  };                                \
  typedef struct name##__* name
KURVIX_DECLARE_HANDLE(HWND);
KURVIX_DECLARE_HANDLE(HINSTANCE);
KURVIX_DECLARE_HANDLE(HICON);
KURVIX_DECLARE_HANDLE(HDC);
KURVIX_DECLARE_HANDLE(HMENU);
KURVIX_DECLARE_HANDLE(HBRUSH);
KURVIX_DECLARE_HANDLE(HPEN);
KURVIX_DECLARE_HANDLE(HKEY);
#undef KURVIX_DECLARE_HANDLE
typedef HICON HCURSOR;
typedef HINSTANCE HMODULE;
typedef void* HGDIOBJ;

#define TRUE 1
#define FALSE 0

#define LOWORD(l) ((WORD)(((ULONG_PTR)(l)) & 0xffff))
#define HIWORD(l) ((WORD)((((ULONG_PTR)(l)) >> 16) & 0xffff))
#define MAKEINTRESOURCEW(i) ((LPWSTR)(ULONG_PTR)(WORD)(i))

struct RECT {
  LONG left;
  LONG top;
  LONG right;
  LONG bottom;
};
struct POINT {
  LONG x;
  LONG y;
};
typedef RECT* LPRECT;
typedef POINT* LPPOINT;

/* ---- kernel: files, module, processes, tick counter ---- */

#define GENERIC_READ 0x80000000u
#define FILE_SHARE_READ 0x00000001u
#define OPEN_EXISTING 3
#define FILE_ATTRIBUTE_NORMAL 0x00000080u
#define INVALID_HANDLE_VALUE ((HANDLE)(LONG_PTR)-1)
#define FILE_CURRENT 1
#define ERROR_ALREADY_EXISTS 183
#define WAIT_TIMEOUT 258

struct SECURITY_ATTRIBUTES;
typedef SECURITY_ATTRIBUTES* LPSECURITY_ATTRIBUTES;
struct OVERLAPPED;
typedef OVERLAPPED* LPOVERLAPPED;

/* ---- window manager ---- */

typedef LRESULT(CALLBACK* WNDPROC)(HWND, UINT, WPARAM, LPARAM);
typedef void(CALLBACK* TIMERPROC)(HWND, UINT, UINT_PTR, DWORD);

#define WM_CREATE 0x0001
#define WM_DESTROY 0x0002
#define WM_PAINT 0x000F
#define WM_CLOSE 0x0010
#define WM_KEYDOWN 0x0100
#define WM_TIMER 0x0113
#define WM_LBUTTONDOWN 0x0201
#define WM_HOTKEY 0x0312
#define WM_APP 0x8000

#define MB_OK 0x00000000u
#define MB_YESNO 0x00000004u
#define MB_ICONHAND 0x00000010u
#define MB_ICONEXCLAMATION 0x00000030u
#define IDYES 6

#define SW_HIDE 0
#define SW_SHOW 5

#define KEYEVENTF_KEYUP 0x0002
/* Windows CE only: the injected key makes no key click. */
#define KEYEVENTF_SILENT 0x0004

#define CS_VREDRAW 0x0001
#define CS_HREDRAW 0x0002
#define WS_SYSMENU 0x00080000L
#define WS_CAPTION 0x00C00000L
#define IDC_ARROW MAKEINTRESOURCEW(32512)
#define SM_CYCAPTION 4
#define SPI_GETWORKAREA 0x0030

struct MSG {
  HWND hwnd;
  UINT message;
  WPARAM wParam;
  LPARAM lParam;
  DWORD time;
  POINT pt;
};
typedef MSG* LPMSG;

struct WNDCLASSW {
  UINT style;
  WNDPROC lpfnWndProc;
  int cbClsExtra;
  int cbWndExtra;
  HINSTANCE hInstance;
  HICON hIcon;
  HCURSOR hCursor;
  HBRUSH hbrBackground;
  LPCWSTR lpszMenuName;
  LPCWSTR lpszClassName;
};
typedef WNDCLASSW WNDCLASS;

struct CREATESTRUCTW {
  LPVOID lpCreateParams;
  HINSTANCE hInstance;
  HMENU hMenu;
  HWND hwndParent;
  int cy;
  int cx;
  int y;
  int x;
  LONG style;
  LPCWSTR lpszName;
  LPCWSTR lpszClass;
  DWORD dwExStyle;
};
typedef CREATESTRUCTW CREATESTRUCT;

struct PAINTSTRUCT {
  HDC hdc;
  BOOL fErase;
  RECT rcPaint;
  BOOL fRestore;
  BOOL fIncUpdate;
  BYTE rgbReserved[32];
};

/* ---- graphics ---- */

#define TRANSPARENT 1
#define DT_CENTER 0x00000001
#define DT_VCENTER 0x00000004
#define DT_WORDBREAK 0x00000010
#define DT_SINGLELINE 0x00000020
#define DT_CALCRECT 0x00000400
#define PS_SOLID 0
#define LTGRAY_BRUSH 1

/* ---- shell ---- */

#define NIM_ADD 0x00000000
#define NIM_MODIFY 0x00000001
#define NIM_DELETE 0x00000002
#define NIF_MESSAGE 0x00000001
#define NIF_ICON 0x00000002
#define SEE_MASK_NOCLOSEPROCESS 0x00000040

struct NOTIFYICONDATAW {
  DWORD cbSize;
  HWND hWnd;
  UINT uID;
  UINT uFlags;
  UINT uCallbackMessage;
  HICON hIcon;
  WCHAR szTip[64];
};
typedef NOTIFYICONDATAW NOTIFYICONDATA;

struct SHELLEXECUTEINFOW {
  DWORD cbSize;
  ULONG fMask;
  HWND hwnd;
  LPCWSTR lpVerb;
  LPCWSTR lpFile;
  LPCWSTR lpParameters;
  LPCWSTR lpDirectory;
  int nShow;
  HINSTANCE hInstApp;
  LPVOID lpIDList;
  LPCWSTR lpClass;
  HKEY hkeyClass;
  DWORD dwHotKey;
  HANDLE hIcon;
  HANDLE hProcess;
};
typedef SHELLEXECUTEINFOW SHELLEXECUTEINFO;

extern "C" {
HANDLE CreateFileW(LPCWSTR fileName, DWORD access, DWORD shareMode,
                   LPSECURITY_ATTRIBUTES security, DWORD disposition, DWORD flags,
                   HANDLE templateFile);
BOOL ReadFile(HANDLE file, LPVOID buffer, DWORD bytesToRead, LPDWORD bytesRead,
              LPOVERLAPPED overlapped);
DWORD SetFilePointer(HANDLE file, LONG distance, PLONG distanceHigh, DWORD method);
DWORD GetFileSize(HANDLE file, LPDWORD sizeHigh);
BOOL CloseHandle(HANDLE object);
DWORD GetModuleFileNameW(HMODULE module, LPWSTR fileName, DWORD size);
HMODULE GetModuleHandleW(LPCWSTR moduleName);
DWORD GetTickCount();
BOOL TerminateProcess(HANDLE process, UINT exitCode);
HANDLE CreateMutexW(LPSECURITY_ATTRIBUTES security, BOOL initialOwner, LPCWSTR name);
DWORD GetLastError();
void SetLastError(DWORD error);
DWORD WaitForSingleObject(HANDLE object, DWORD milliseconds);

int MessageBoxW(HWND owner, LPCWSTR text, LPCWSTR caption, UINT type);
BOOL PostMessageW(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
BOOL RegisterHotKey(HWND window, int id, UINT modifiers, UINT virtualKey);
BOOL UnregisterHotKey(HWND window, int id);
UINT_PTR SetTimer(HWND window, UINT_PTR id, UINT elapse, TIMERPROC timerFunc);
BOOL KillTimer(HWND window, UINT_PTR id);
HWND CreateWindowExW(DWORD exStyle, LPCWSTR className, LPCWSTR windowName, DWORD style, int x,
                     int y, int width, int height, HWND parent, HMENU menu, HINSTANCE instance,
                     LPVOID param);
BOOL DestroyWindow(HWND window);
BOOL ShowWindow(HWND window, int command);
BOOL UpdateWindow(HWND window);
BOOL IsWindowVisible(HWND window);
BOOL SetWindowTextW(HWND window, LPCWSTR text);
BOOL SetForegroundWindow(HWND window);
BOOL GetClientRect(HWND window, LPRECT rect);
BOOL InvalidateRect(HWND window, const RECT* rect, BOOL erase);
HDC BeginPaint(HWND window, PAINTSTRUCT* paint);
BOOL EndPaint(HWND window, const PAINTSTRUCT* paint);
LRESULT DefWindowProcW(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
BOOL GetMessageW(LPMSG message, HWND window, UINT filterMin, UINT filterMax);
BOOL TranslateMessage(const MSG* message);
LRESULT DispatchMessageW(const MSG* message);
void PostQuitMessage(int exitCode);
HICON LoadIconW(HINSTANCE instance, LPCWSTR name);
HCURSOR LoadCursorW(HINSTANCE instance, LPCWSTR name);
int GetSystemMetrics(int index);
BOOL SystemParametersInfoW(UINT action, UINT param, LPVOID value, UINT winIni);
int wsprintfW(LPWSTR buffer, LPCWSTR format, ...);
DWORD CharUpperBuffW(LPWSTR text, DWORD length);

HGDIOBJ GetStockObject(int object);
int SetBkMode(HDC dc, int mode);
COLORREF SetTextColor(HDC dc, COLORREF color);
int DrawTextW(HDC dc, LPCWSTR text, int count, LPRECT rect, UINT format);
HPEN CreatePen(int style, int width, COLORREF color);
HGDIOBJ SelectObject(HDC dc, HGDIOBJ object);
BOOL DeleteObject(HGDIOBJ object);
BOOL MoveToEx(HDC dc, int x, int y, LPPOINT previous);
BOOL LineTo(HDC dc, int x, int y);
}

/* The Windows CE SDK's layouts, checked wherever the types have the device's sizes. */
#define KURVIX_DEVICE_SIZES (sizeof(void*) == 4 && sizeof(WCHAR) == 2)
#define KURVIX_CE_LAYOUT(name, condition) \
  typedef char kurvix_ce_layout_##name[(!KURVIX_DEVICE_SIZES || (condition)) ? 1 : -1]
KURVIX_CE_LAYOUT(rect, sizeof(RECT) == 16);
KURVIX_CE_LAYOUT(point, sizeof(POINT) == 8);
KURVIX_CE_LAYOUT(msg, sizeof(MSG) == 28 && offsetof(MSG, wParam) == 8 && offsetof(MSG, pt) == 20);
KURVIX_CE_LAYOUT(wndclass, sizeof(WNDCLASSW) == 40 && offsetof(WNDCLASSW, hInstance) == 16 &&
                               offsetof(WNDCLASSW, lpszClassName) == 36);
KURVIX_CE_LAYOUT(createstruct, sizeof(CREATESTRUCTW) == 48 && offsetof(CREATESTRUCTW, style) == 32);
KURVIX_CE_LAYOUT(paintstruct, sizeof(PAINTSTRUCT) == 64 && offsetof(PAINTSTRUCT, rcPaint) == 8);
KURVIX_CE_LAYOUT(notifyicondata, sizeof(NOTIFYICONDATA) == 152 &&
                                     offsetof(NOTIFYICONDATA, hIcon) == 20 &&
                                     offsetof(NOTIFYICONDATA, szTip) == 24);
KURVIX_CE_LAYOUT(shellexecuteinfo, sizeof(SHELLEXECUTEINFO) == 60 &&
                                       offsetof(SHELLEXECUTEINFO, lpFile) == 16 &&
                                       offsetof(SHELLEXECUTEINFO, nShow) == 28 &&
                                       offsetof(SHELLEXECUTEINFO, hProcess) == 56);
#undef KURVIX_CE_LAYOUT
#undef KURVIX_DEVICE_SIZES

#endif
