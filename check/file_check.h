// One configuration file checked: loaded with the device's own reader on the simulated
// device, with what the device showed, what it ended up holding, and the tool's hints; and
// the two ways to print it, the compilers' report and the JSON object.
#ifndef KURVIX_TOOLS_FILE_CHECK_H
#define KURVIX_TOOLS_FILE_CHECK_H

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "check/device_session.h"

struct Hint {
  std::string id;  // stable, for scripts and editors: "key-twice", "drive-letter", ...
  std::string text;
  std::optional<unsigned> line;
  std::string severity = "note";  // "warning" where the device will plainly misbehave
};

struct BindingSummary {
  DWORD keyCode;
  std::optional<std::u16string> command, newIniPath;
  bool disableAll;
};

struct FileCheck {
  std::string name;  // as the author wrote it
  int result;        // the device's load: 0 loaded, 1 refused
  std::vector<Message> messages;
  DWORD checkInterval, elapseTime;
  std::vector<BindingSummary> bindings;
  std::vector<Hint> hints;
  std::vector<unsigned> bindingLines;  // the header line of each binding, as in bindings
};

// bytes: nothing when the file does not exist (the device then says it cannot find it).
FileCheck checkFile(const std::string& name, const std::optional<std::vector<uint8_t>>& bytes);
// The file and every file that its NewIni bindings name, found as the dry run finds them.
std::vector<FileCheck> checkWithNewIniFiles(const std::string& name,
                                            const std::optional<std::vector<uint8_t>>& bytes);

// 0 loaded without a message, 1 with messages (with strict also with hints), 2 not loaded.
int exitStatus(const FileCheck& check, bool strict);

// The JSON object of the first file, the others listed in it under "newIniFiles".
std::string checkJsonOf(const std::vector<FileCheck>& checks);
// One line per finding, `FILE:LINE: severity: text`; unless quiet, a summary of what the
// device holds after each file.
std::string reportOf(const FileCheck& check, bool quiet);
// The lines of the report about hints alone.
std::string hintReportOf(const FileCheck& check);

// Why a long press of key did nothing with this file loaded: the binding's line and what
// keeps it from acting; empty when the file does not tell. lines: the file's lines.
std::string whyNoAction(const FileCheck& check, const std::vector<FileLine>& lines, DWORD key);

// How the report grades a device message: "error" for a file the device does not load,
// "warning" for every other box.
std::string severityOf(const Message& message);

// The device's text as its box shows it, on one line: a line break as \n, a tab as \t, other
// control characters as \xNN.
std::string shown(const std::u16string& text);

// What a device message means, in a few English words.
std::string explain(const Message& message);

#endif
