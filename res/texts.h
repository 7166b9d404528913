/*
 * Every text the device shows, once: where it stands, the German the user reads and what it
 * means in English. One row per text:
 *
 *   KURVIX_TEXT(NAME, where, German, meaning)
 *
 * The device code reads only the German, as the constant NAME; the meanings and places never
 * reach the device program. kurvix-check explains the device's message boxes with the
 * meanings, and the facts its other readers get (the page, the scripts, the Wine tests, the
 * document's table of texts) are made from these rows.
 *
 * A text that ends in a line break is followed by the path of the file. "%u" stands for the
 * key code. The contact address comes from the build (KURVIX_CONTACT).
 */
#ifndef KURVIX_RES_TEXTS_H
#define KURVIX_RES_TEXTS_H

#include "platform/platform.h"

#define KURVIX_DEVICE_TEXTS(KURVIX_TEXT)                                                         \
  KURVIX_TEXT(FILE_NOT_FOUND, "box caption", TEXT("Datei nicht gefunden:"),                     \
              "file not found: the device cannot open this file, and loads nothing")            \
  KURVIX_TEXT(ERROR_CAPTION, "box caption", TEXT("Fehler"),                                      \
              "error: its text is one of the three below")                                     \
  KURVIX_TEXT(NOT_UNICODE, "box text", TEXT("Die Datei ist leer oder nicht im Unicode Format:\n"), \
              "error: the file is empty or not in Unicode format (UTF-16LE with the byte-order "  \
              "mark FF FE); the device loads nothing")                                          \
  KURVIX_TEXT(NO_PROGRAM_PATH, "box text",                                                       \
              TEXT("Der Pfad zum Programm konnte nicht ermittelt werden."),                     \
              "error: the program's own path cannot be found")                                  \
  KURVIX_TEXT(READ_INCOMPLETE, "box text",                                                       \
              TEXT("Die Datei konnte nicht vollst\x00E4ndig gelesen werden:\n"),                \
              "error: the file could not be read to its end; the device uses nothing of it")   \
  KURVIX_TEXT(KEY_TAKEN, "box caption", TEXT("Kurvix - Taste belegt:"),                         \
              "key taken: another program holds this key (the text is its key code); the "      \
              "other keys work")                                                                \
  KURVIX_TEXT(UNKNOWN_TYPE, "box caption", TEXT("Kurvix - Ignoriere unbekannten Typ:"),         \
              "ignoring a line of unknown type: outside a block, a line that is neither empty, " \
              "a comment nor a KURVIX or SETTINGS header")                                      \
  KURVIX_TEXT(UNKNOWN_BINDING_KEY, "box caption", TEXT("Kurvix - Ignoriere unbekannten Wert:"), \
              "ignoring an unknown key: a line in a KURVIX block that begins with none of "     \
              "KeyCode, Command, NewIni, Disable")                                              \
  KURVIX_TEXT(BAD_BINDING_VALUE, "box caption", TEXT("Kurvix - Ignoriere Fehler:"),             \
              "ignoring an error: the key has no value the device accepts, so the binding "     \
              "keeps what it had")                                                              \
  KURVIX_TEXT(UNKNOWN_SETTING, "box caption", TEXT("Settings - Ignoriere unbekannten Wert:"),   \
              "ignoring an unknown key: a line in a SETTINGS block that begins with neither "   \
              "CheckIntervall nor ElapseTime")                                                  \
  KURVIX_TEXT(BAD_SETTING_VALUE, "box caption", TEXT("Settings - Ignoriere Fehler:"),           \
              "ignoring an error: the key has no value the device accepts, so the setting "     \
              "keeps what it had")                                                              \
  KURVIX_TEXT(TERMINATE_CAPTION, "question caption", TEXT("Terminieren?"),                       \
              "end it? The program started last still runs: should it be ended?")               \
  KURVIX_TEXT(TERMINATE_QUESTION, "question text",                                               \
              TEXT("Der Prozess l\x00E4uft schon.\nSoll er terminiert werden?"),                \
              "the program is still running: should it be ended? Yes ends it, No leaves it")   \
  KURVIX_TEXT(PRESS_A_KEY, "status window",                                                      \
              TEXT("dr\x00FC") TEXT("cken Sie eine Taste f\x00FCr deren Key-Code"),             \
              "press a key to see its key code")                                                \
  KURVIX_TEXT(LAST_KEY_CODE, "status window", TEXT("der Key-Code der letzten Taste ist %u"),    \
              "the key code of the last key is %u: the number to write after KeyCode=")        \
  KURVIX_TEXT(CONTACT_LINE, "status window", TEXT("Kontakt: ") TEXT(KURVIX_CONTACT),            \
              "contact: the help desk's address, set when the program is built")               \
  KURVIX_TEXT(DISABLE_BUTTON, "status window button", TEXT("D"),                                 \
              "switch all bindings off (deaktivieren)")                                         \
  KURVIX_TEXT(ENABLE_BUTTON, "status window button", TEXT("E"),                                  \
              "switch the bindings on again (einschalten)")                                     \
  KURVIX_TEXT(PROGRAM_NAME, "window title", TEXT("Kurvix"),                                      \
              "the program's name; the title adds the number of bindings loaded: Kurvix (3)")

#define KURVIX_DECLARE_TEXT(name, where, german, meaning) const WCHAR name[] = german;
KURVIX_DEVICE_TEXTS(KURVIX_DECLARE_TEXT)
#undef KURVIX_DECLARE_TEXT

#endif
