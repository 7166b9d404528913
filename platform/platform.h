/*
 * The one way device code reaches the platform. On Windows (CE or desktop) that is the
 * system's own headers; everywhere else it is the simulated Windows CE device in sim/,
 * whose functions a program gets by linking the sim library. The device program built
 * with GNU tools (ce/build-ce.sh) has no Windows CE headers to use: it defines
 * KURVIX_CE_OWN_DECLARATIONS and gets the project's own, platform/wince/winapi.h.
 *
 * The few places where desktop Windows differs from Windows CE are settled here, each
 * with its reason, so that the device code itself stays free of conditionals.
 */
#ifndef KURVIX_PLATFORM_H
#define KURVIX_PLATFORM_H

#if defined(KURVIX_CE_OWN_DECLARATIONS)
#include "platform/wince/winapi.h"
#elif defined(_WIN32)
#include <windows.h>
#include <shellapi.h>
#include <string.h>
#else
#include "sim/winapi.h"
#include <string.h>
#endif

#if defined(_WIN32) && !defined(_WIN32_WCE)
/* Desktop Windows has no key click to silence; there the value 4 means KEYEVENTF_UNICODE
   and must never be passed with a virtual key. */
#ifndef KEYEVENTF_SILENT
#define KEYEVENTF_SILENT 0
#endif
/* The desktop passes WinMain's command line as narrow text, Windows CE as wide text. */
typedef LPSTR WinMainCommandLine;
/* The desktop's default "System" font is too wide for the status window's key-code line;
   Windows CE's default font fits, so only the desktop selects a narrower stock font. */
inline void selectStatusFont(HDC dc) { SelectObject(dc, GetStockObject(DEFAULT_GUI_FONT)); }
#else
typedef LPWSTR WinMainCommandLine;
inline void selectStatusFont(HDC) {}
#endif

#endif
