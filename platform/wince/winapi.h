/*
 * Windows CE 4.2 as the device code sees it when the program is built for the device with
 * GNU tools: every type, constant, structure and coredll function Kurvix uses, with the
 * sizes and layouts of the Windows CE SDK, written for a 32-bit ARM compiler with a 16-bit
 * wchar_t (-fshort-wchar). The desktop headers do not fit: their structures are the
 * desktop's (NOTIFYICONDATA is 152 bytes on Windows CE, several times that there), their
 * shell functions carry a W that coredll's names lack, and they have no KEYEVENTF_SILENT.
 *
 * The handles, constants, structures and most functions are the simulated device's too:
 * they stand once in platform/wince/coredll.h, whose static assertions hold every structure
 * to its documented size and the fields the system reads to their offsets, so that a wrong
 * layout stops the build instead of reaching the device. This file adds the scalar types
 * of a 32-bit ARM compiler with a 16-bit wchar_t and the declarations only the device has.
 *
 * Narrow results: a function documented to return a SHORT or an ATOM is declared here with
 * a 32-bit result. Whether coredll widens a 16-bit result with or without its sign is not
 * documented, and the compiler would otherwise trust one of the two (it tests bit 31 for
 * bit 15 of a SHORT); callers test only the documented bits (0x8000), which either
 * widening keeps.
 *
 * Only platform/platform.h includes this file.
 */
#ifndef KURVIX_PLATFORM_WINCE_WINAPI_H
#define KURVIX_PLATFORM_WINCE_WINAPI_H

#include <stddef.h>

/* Two steps, so that a macro's text (the contact address) is expanded before L is joined. */
#define KURVIX_WIDE_LITERAL(s) L##s
#define TEXT(s) KURVIX_WIDE_LITERAL(s)

typedef wchar_t WCHAR;
typedef unsigned long DWORD;
typedef unsigned int UINT;
typedef unsigned long ULONG;
typedef long LONG;
typedef long LONG_PTR;
typedef unsigned long ULONG_PTR;
typedef unsigned int UINT_PTR;
typedef UINT WPARAM;
typedef LONG LPARAM;
typedef LONG LRESULT;

#include "platform/wince/coredll.h"

/* The functions whose declarations on the device differ from the simulated device's, by
   their names in coredll. */
extern "C" {
void* malloc(size_t size);
void free(void* block);
void* memset(void* block, int value, size_t size);
/* A SHORT, declared 32 bits wide (see the top of this file). */
UINT GetAsyncKeyState(int virtualKey);
void keybd_event(BYTE virtualKey, BYTE scanCode, DWORD flags, DWORD extraInfo);
/* An ATOM, declared 32 bits wide (see the top of this file). */
UINT RegisterClassW(const WNDCLASSW* windowClass);
BOOL ShellExecuteEx(SHELLEXECUTEINFO* info);
BOOL Shell_NotifyIcon(DWORD message, NOTIFYICONDATA* data);

/* The program's entry: the loader calls it with these four arguments and takes its result
   as the exit code. Declared here so that its definition keeps the plain name. */
int WINAPI WinMain(HINSTANCE instance, HINSTANCE previous, LPWSTR commandLine, int show);
}

/* The build stops here when the compiler's types differ from the Windows CE compilers'
   (platform/wince/coredll.h holds the structures to their layouts). */
#define KURVIX_CE_TYPES(name, condition) typedef char kurvix_ce_types_##name[(condition) ? 1 : -1]
KURVIX_CE_TYPES(wchar_is_16_bits, sizeof(WCHAR) == 2);
KURVIX_CE_TYPES(pointer_is_32_bits, sizeof(void*) == 4 && sizeof(DWORD) == 4 && sizeof(LONG) == 4);
KURVIX_CE_TYPES(char_is_signed, (char)-1 < 0);
#undef KURVIX_CE_TYPES

#endif
