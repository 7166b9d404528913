#ifndef KURVIX_CONFIG_READER_H
#define KURVIX_CONFIG_READER_H

#include "platform/platform.h"

/* Room for one line of the configuration file: 259 code units and a zero. */
const DWORD LINE_CAPACITY = 260;
/* readLine's answer when the file could not be read any further. */
const DWORD LINE_READ_FAILED = 0xFFFFFFFFu;

/* Reads the next line of an open file into buffer (capacity at least 2) and returns its
   length; the line end is not part of the line, and a zero always follows the line.
   A line longer than capacity - 1 units is cut there, and its rest is the next line. */
DWORD readLine(HANDLE file, WCHAR* buffer, DWORD capacity);

#endif
