/*
 * The wide-string operations of the configuration reader. Counts and positions are in
 * 16-bit code units. findChar and findValue answer TEXT_NOT_FOUND where there is no
 * position to give.
 */
#ifndef KURVIX_CONFIG_TEXT_H
#define KURVIX_CONFIG_TEXT_H

#include "platform/platform.h"

const DWORD TEXT_NOT_FOUND = 0xFFFFFFFFu;

DWORD textLength(const WCHAR* text);
/* -1, 0 or 1 over exactly `count` units, as unsigned values; stops at the first
   difference, so a shorter line never gets read beyond its terminating zero. */
int compareText(const WCHAR* first, const WCHAR* second, DWORD count);
void copyText(const WCHAR* source, WCHAR* destination, DWORD capacity);
DWORD findChar(const WCHAR* text, WCHAR unit, DWORD count);
DWORD skipWhiteSpace(const WCHAR* text, DWORD count);
DWORD findValue(const WCHAR* line, DWORD length, DWORD minimum);
DWORD parseDecimal(const WCHAR* text);
unsigned char parseFlag(const WCHAR* text);
/* A command that begins with a quote names its program between the quotes and passes the
   rest, without the blanks around it, as parameters. splitQuotedCommand cuts such a
   command, given as a copy it may change, and points *file and *parameters (null when
   there are none) into it, returning 1. It returns 0 and changes nothing when the command
   does not begin with a quote, the quote is not closed or nothing stands between the
   quotes: such a command is used whole. */
int splitQuotedCommand(WCHAR* command, const WCHAR** file, const WCHAR** parameters);
/* A new heap block holding a copy of text; the caller frees it with delete[]. Null when
   no memory is left. */
WCHAR* duplicateText(const WCHAR* text);

#endif
