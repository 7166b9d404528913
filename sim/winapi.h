/*
 * The simulated Windows CE device as the device code sees it: the types, constants and
 * functions of the Windows CE core library that Kurvix calls, with the same names and
 * signatures. Only platform/platform.h includes this file.
 *
 * This header must stay valid C++98: the device code is compiled against it with
 * -std=c++98 -pedantic as proof that it still builds with the old Windows CE toolchains.
 * A wide character is 16 bits: char16_t in the normal (C++11 and later) build, and
 * wchar_t under -fshort-wchar in the compile-only C++98 check.
 *
 * The handles, constants, structures and most functions are the device program's own
 * declarations, platform/wince/coredll.h; this file adds the scalar types of the host and
 * what only the simulation and its tests use. Sizes that the device code puts into cbSize
 * fields come from sizeof, as on every Windows target: on a 64-bit host the structures are
 * larger than Windows CE's, on a 32-bit one they are held to its layouts.
 */
#ifndef KURVIX_SIM_WINAPI_H
#define KURVIX_SIM_WINAPI_H

#include <stddef.h>

#if __cplusplus >= 201103L
typedef char16_t WCHAR;
#define KURVIX_WIDE_LITERAL(s) u##s
#else
typedef wchar_t WCHAR;
#define KURVIX_WIDE_LITERAL(s) L##s
#endif
#define TEXT(s) KURVIX_WIDE_LITERAL(s)

typedef unsigned int DWORD;
typedef unsigned int UINT;
typedef unsigned int ULONG;
typedef int LONG;
typedef short SHORT;
typedef long LONG_PTR;
typedef unsigned long ULONG_PTR;
typedef unsigned long UINT_PTR;
typedef UINT_PTR WPARAM;
typedef LONG_PTR LPARAM;
typedef LONG_PTR LRESULT;

#include "platform/wince/coredll.h"

#define MAKELPARAM(lo, hi) ((LPARAM)(DWORD)(((WORD)(lo)) | (((DWORD)(WORD)(hi)) << 16)))
#define RGB(r, g, b) ((COLORREF)(((BYTE)(r)) | (((WORD)(BYTE)(g)) << 8) | (((DWORD)(BYTE)(b)) << 16)))
#define MAKEINTRESOURCE MAKEINTRESOURCEW

/* ---- kernel ---- */

#define FILE_BEGIN 0
#define FILE_END 2
#define INVALID_SET_FILE_POINTER ((DWORD)-1)
#define INVALID_FILE_SIZE ((DWORD)0xFFFFFFFF)
#define STILL_ACTIVE 259
#define WAIT_OBJECT_0 0
#define WAIT_FAILED 0xFFFFFFFF

/* ---- window manager ---- */

#define WM_QUIT 0x0012
#define WM_ERASEBKGND 0x0014
#define WM_KEYUP 0x0101
#define WM_CHAR 0x0102
#define WM_LBUTTONUP 0x0202

#define IDOK 1
#define IDCANCEL 2
#define IDNO 7

#define WS_VISIBLE 0x10000000L

/* ---- graphics ---- */

#define OPAQUE 2

/* ---- shell ---- */

#define NIF_TIP 0x00000004

/* The functions whose declarations here differ from the device program's: the documented
   narrow results and the desktop's W names of the shell functions. */
extern "C" {
SHORT GetAsyncKeyState(int virtualKey);
void keybd_event(BYTE virtualKey, BYTE scanCode, DWORD flags, ULONG_PTR extraInfo);
WORD RegisterClassW(const WNDCLASSW* windowClass);
BOOL ShellExecuteExW(SHELLEXECUTEINFOW* info);
BOOL Shell_NotifyIconW(DWORD message, NOTIFYICONDATAW* data);
}
#define ShellExecuteEx ShellExecuteExW
#define Shell_NotifyIcon Shell_NotifyIconW

#endif
