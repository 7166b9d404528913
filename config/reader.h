#ifndef KURVIX_CONFIG_READER_H
#define KURVIX_CONFIG_READER_H

#include "platform/platform.h"

/*
 * The configuration's grammar, as data for the reader and for the tools that explain a file.
 * A block begins with BINDING_HEADER or SETTINGS_HEADER at the very start of a line and ends
 * at an empty line. A line that begins with one of COMMENT_STARTS is a comment wherever it
 * stands. In a block, a line is a key's when it begins with the key's word, upper and lower
 * case as written; the word is the shortest form the reader takes ("KeyCodes=5" is a KeyCode
 * line too). Its value is found by findValue from valueStart on and is a number, a text or a
 * flag. One row per key: KURVIX_CONFIG_KEY(NAME, word, block, valueStart, kind); the reader
 * gets NAME_KEY (the word) and NAME_VALUE_START.
 */
enum ConfigBlock { NO_BLOCK, BINDING_BLOCK, SETTINGS_BLOCK };
enum ConfigValue { NUMBER_VALUE, TEXT_VALUE, FLAG_VALUE };

#define KURVIX_CONFIG_KEYS(KURVIX_CONFIG_KEY)                                         \
  KURVIX_CONFIG_KEY(KEY_CODE, "KeyCode", BINDING_BLOCK, 1, NUMBER_VALUE)              \
  KURVIX_CONFIG_KEY(COMMAND, "Command", BINDING_BLOCK, 5, TEXT_VALUE)                 \
  KURVIX_CONFIG_KEY(NEW_INI, "NewIni", BINDING_BLOCK, 5, TEXT_VALUE)                  \
  KURVIX_CONFIG_KEY(DISABLE, "Disable", BINDING_BLOCK, 5, FLAG_VALUE)                 \
  KURVIX_CONFIG_KEY(CHECK_INTERVAL, "CheckIntervall", SETTINGS_BLOCK, 1, NUMBER_VALUE) \
  KURVIX_CONFIG_KEY(ELAPSE_TIME, "ElapseTime", SETTINGS_BLOCK, 1, NUMBER_VALUE)

#define KURVIX_DECLARE_KEY(name, word, block, valueStart, kind) \
  const WCHAR name##_KEY[] = TEXT(word);                        \
  const DWORD name##_VALUE_START = valueStart;
KURVIX_CONFIG_KEYS(KURVIX_DECLARE_KEY)
#undef KURVIX_DECLARE_KEY

const WCHAR BINDING_HEADER[] = TEXT("KURVIX");
const WCHAR SETTINGS_HEADER[] = TEXT("SETTINGS");
const WCHAR COMMENT_STARTS[] = TEXT("#/;'(");
/* What a load starts from before the file's SETTINGS, in milliseconds. */
const DWORD DEFAULT_CHECK_INTERVAL = 100;
const DWORD DEFAULT_ELAPSE_TIME = 1000;

/* The length of a word of the grammar, without its zero. */
template <DWORD size>
inline DWORD wordLength(const WCHAR (&)[size]) {
  return size - 1;
}

/* Room for one line of the configuration file: 259 code units and a zero. */
const DWORD LINE_CAPACITY = 260;
/* readLine's answer when the file could not be read any further. */
const DWORD LINE_READ_FAILED = 0xFFFFFFFFu;

/* Reads the next line of an open file into buffer (capacity at least 2) and returns its
   length; the line end is not part of the line, and a zero always follows the line.
   A line longer than capacity - 1 units is cut there, and its rest is the next line. */
DWORD readLine(HANDLE file, WCHAR* buffer, DWORD capacity);

#endif
