/*
 * The configuration reader: "Kurvix.ini" beside the executable, or any file a binding
 * names with NewIni, read one line at a time into the binding table.
 *
 * The file is never held whole. Each line costs one read of up to 259 code units and one
 * move of the file position back to just behind the line's end, so a line end split
 * across two reads cannot occur. A line of exactly 259 units is cut before its line end,
 * which then reads as an extra empty line; likewise a CR LF whose LF falls outside the
 * 259 units read. An empty line ends a block, so the block of such a line ends with it.
 *
 * Every bad line gets a modal message box of its own and reading goes on. While a box is
 * open the window's messages keep coming; the table's own rules (see binding_table.h)
 * make sure nothing deletes the bindings under this reader.
 */
#include "config/reader.h"

#include <new>

#include "config/text.h"
#include "engine/binding_table.h"
#include "res/texts.h"

namespace {

const WCHAR CR = 0x0D;
const WCHAR LF = 0x0A;

bool isCommentStart(WCHAR unit) {
  for (DWORD i = 0; i < wordLength(COMMENT_STARTS); ++i) {
    if (unit == COMMENT_STARTS[i]) return true;
  }
  return false;
}

/* Whether the line begins with the whole word. */
template <DWORD size>
bool startsWith(const WCHAR* line, const WCHAR (&word)[size]) {
  return compareText(line, word, wordLength(word)) == 0;
}

void reportLine(const WCHAR* line, const WCHAR* caption) {
  MessageBoxW(NULL, line, caption, MB_OK | MB_ICONEXCLAMATION);
}

/* A fixed sentence ending in a line break, followed by at most 259 units of the path. */
void reportFileFailure(const WCHAR* sentence, const WCHAR* path) {
  const DWORD sentenceCapacity = 64;
  WCHAR text[sentenceCapacity + LINE_CAPACITY];
  copyText(sentence, text, sentenceCapacity);
  copyText(path, text + textLength(text), LINE_CAPACITY);
  MessageBoxW(NULL, text, ERROR_CAPTION, MB_OK | MB_ICONHAND);
}

/* Replaces an owned text with a copy of the value; on no memory the old text stays. */
void storeText(WCHAR*& field, const WCHAR* value) {
  WCHAR* copy = duplicateText(value);
  if (copy == NULL) return;
  delete[] field;
  field = copy;
}

}  // namespace

DWORD readLine(HANDLE file, WCHAR* buffer, DWORD capacity) {
  DWORD bytesRead = 0;
  if (!ReadFile(file, buffer, 2 * (capacity - 1), &bytesRead, NULL) || bytesRead == 0) {
    buffer[0] = 0;
    return LINE_READ_FAILED;
  }
  DWORD units = bytesRead / 2;
  DWORD length = 0;
  while (length < units && buffer[length] != CR && buffer[length] != LF) ++length;

  DWORD consumed = units;
  if (length < units) {
    if (buffer[length] == CR && length + 1 < units && buffer[length + 1] == LF) {
      consumed = length + 2;
    } else {
      consumed = length + 1;
    }
  }
  buffer[length] = 0;
  // The move is measured from the bytes actually read, not from whole units: an odd last
  // byte must not shift every later line onto an odd offset. A lone last byte is
  // consumed, so the position always advances.
  LONG distance = units == 0 ? 0 : static_cast<LONG>(2 * consumed) - static_cast<LONG>(bytesRead);
  SetFilePointer(file, distance, NULL, FILE_CURRENT);
  return length;
}

int BindingTable::loadFromProgramDir(HINSTANCE instance) {
  const DWORD pathRoom = 238;
  WCHAR path[LINE_CAPACITY];
  DWORD length = GetModuleFileNameW(instance, path, pathRoom);
  // A path that fills all the room was cut short: the file beside it is not ours.
  if (length == 0 || length >= pathRoom) {
    MessageBoxW(NULL, NO_PROGRAM_PATH, ERROR_CAPTION, MB_OK | MB_ICONHAND);
    return 1;
  }
  DWORD nameStart = 1;
  for (DWORD i = length - 1; i >= 1; --i) {
    if (path[i] == TEXT('\\') || path[i] == TEXT('/')) {
      nameStart = i + 1;
      break;
    }
  }
  copyText(TEXT("Kurvix.ini"), path + nameStart, LINE_CAPACITY - nameStart);
  return load(path);
}

int BindingTable::load(const WCHAR* path) {
  // None of the file's keys is registered before the load returns.
  loading_ = 1;
  int failed = readFile(path);
  loading_ = 0;
  return failed;
}

int BindingTable::readFile(const WCHAR* path) {
  // The path may belong to a binding that clear() is about to delete.
  WCHAR ownPath[LINE_CAPACITY];
  copyText(path, ownPath, LINE_CAPACITY);
  clear();
  resetSettings();

  HANDLE file = CreateFileW(ownPath, GENERIC_READ, FILE_SHARE_READ, NULL, OPEN_EXISTING,
                            FILE_ATTRIBUTE_NORMAL, NULL);
  if (file == INVALID_HANDLE_VALUE) {
    MessageBoxW(NULL, ownPath, FILE_NOT_FOUND, MB_OK | MB_ICONHAND);
    postStatus(STATUS_LOADED, count_);
    return 1;
  }
  BYTE mark[2];
  DWORD markRead = 0;
  if (!ReadFile(file, mark, 2, &markRead, NULL) || markRead != 2 || mark[0] != 0xFF ||
      mark[1] != 0xFE) {
    reportFileFailure(NOT_UNICODE, ownPath);
    CloseHandle(file);
    postStatus(STATUS_LOADED, count_);
    return 1;
  }

  ConfigBlock state = NO_BLOCK;
  KeyBinding* blockBinding = NULL;  // null when its binding could not be made
  WCHAR line[LINE_CAPACITY];
  bool readFailed = false;
  // A table destroyed during one of this load's message boxes stops reading.
  while (!destroyed_) {
    DWORD position = SetFilePointer(file, 0, NULL, FILE_CURRENT);
    if (position >= GetFileSize(file, NULL)) break;
    DWORD length = readLine(file, line, LINE_CAPACITY);
    if (length == LINE_READ_FAILED) {
      readFailed = true;
      break;
    }
    if (line[0] == 0) {
      state = NO_BLOCK;
    } else if (isCommentStart(line[0])) {
      // skipped wherever it stands
    } else if (state == BINDING_BLOCK) {
      if (blockBinding != NULL) blockBinding->parseLine(line, length);
    } else if (state == SETTINGS_BLOCK) {
      parseSettingsLine(line, length);
    } else if (startsWith(line, BINDING_HEADER)) {
      KeyBinding* binding = new (std::nothrow) KeyBinding();
      DWORD before = count_;
      append(binding);
      blockBinding = count_ > before ? binding : NULL;
      state = BINDING_BLOCK;
    } else if (startsWith(line, SETTINGS_HEADER)) {
      state = SETTINGS_BLOCK;
    } else {
      reportLine(line, UNKNOWN_TYPE);
    }
  }
  CloseHandle(file);

  if (readFailed) {
    // Half a configuration is not what its author wrote: refuse it like an unreadable file.
    reportFileFailure(READ_INCOMPLETE, ownPath);
    clear();
    resetSettings();
    postStatus(STATUS_LOADED, count_);
    return 1;
  }
  postStatus(STATUS_LOADED, count_);
  return 0;
}

void KeyBinding::parseLine(const WCHAR* line, DWORD length) {
  DWORD value;
  if (startsWith(line, KEY_CODE_KEY)) {
    value = findValue(line, length, KEY_CODE_VALUE_START);
    if (value == TEXT_NOT_FOUND) return reportLine(line, BAD_BINDING_VALUE);
    keyCode_ = parseDecimal(line + value);
  } else if (startsWith(line, COMMAND_KEY)) {
    value = findValue(line, length, COMMAND_VALUE_START);
    if (value == TEXT_NOT_FOUND) return reportLine(line, BAD_BINDING_VALUE);
    storeText(command_, line + value);
  } else if (startsWith(line, NEW_INI_KEY)) {
    value = findValue(line, length, NEW_INI_VALUE_START);
    if (value == TEXT_NOT_FOUND) return reportLine(line, BAD_BINDING_VALUE);
    storeText(newIniPath_, line + value);
  } else if (startsWith(line, DISABLE_KEY)) {
    value = findValue(line, length, DISABLE_VALUE_START);
    if (value == TEXT_NOT_FOUND) return reportLine(line, BAD_BINDING_VALUE);
    disableAll_ = parseFlag(line + value);
  } else {
    reportLine(line, UNKNOWN_BINDING_KEY);
  }
}

void BindingTable::parseSettingsLine(const WCHAR* line, DWORD length) {
  DWORD* setting;
  DWORD valueStart;
  if (startsWith(line, CHECK_INTERVAL_KEY)) {
    setting = &checkInterval_;
    valueStart = CHECK_INTERVAL_VALUE_START;
  } else if (startsWith(line, ELAPSE_TIME_KEY)) {
    setting = &elapseTime_;
    valueStart = ELAPSE_TIME_VALUE_START;
  } else {
    return reportLine(line, UNKNOWN_SETTING);
  }
  DWORD value = findValue(line, length, valueStart);
  if (value == TEXT_NOT_FOUND) return reportLine(line, BAD_SETTING_VALUE);
  *setting = parseDecimal(line + value);
}
