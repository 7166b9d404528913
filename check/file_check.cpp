#include "check/file_check.h"

#include <algorithm>
#include <filesystem>
#include <sstream>

#include "engine/binding_table.h"
#include "check/device_texts.h"
#include "check/hints.h"
#include "utf/utf.h"

namespace {

std::optional<std::u16string> optionalText(const WCHAR* text) {
  return text == nullptr ? std::nullopt : std::optional<std::u16string>(text);
}

std::string jsonText(const std::optional<std::u16string>& text) { return text ? jsonString(*text) : "null"; }

// A value in quotes, so that its blanks show; one that holds quotes itself as it stands.
std::string quotedUnlessQuoting(const std::u16string& value) {
  return value.find(u'"') == std::u16string::npos ? "\"" + shown(value) + "\"" : shown(value);
}

std::string plural(size_t count, const std::string& word) {
  return std::to_string(count) + " " + word + (count == 1 ? "" : "s");
}

std::string fileJson(const FileCheck& check) {
  std::ostringstream out;
  out << "{\"result\": " << check.result << ", \"messages\": [";
  for (size_t i = 0; i < check.messages.size(); ++i) {
    const Message& message = check.messages[i];
    out << (i ? ", " : "") << "{\"caption\": " << jsonString(message.caption) << ", \"text\": " << jsonString(message.text)
        << ", \"type\": " << message.type;
    if (message.line) out << ", \"line\": " << *message.line;
    out << ", \"explanation\": " << jsonString(utf8ToUtf16(explain(message))) << ", \"severity\": \""
        << severityOf(message) << "\"}";
  }
  out << "], \"checkInterval\": " << check.checkInterval << ", \"elapseTime\": " << check.elapseTime
      << ", \"bindings\": [";
  for (size_t i = 0; i < check.bindings.size(); ++i) {
    const BindingSummary& binding = check.bindings[i];
    out << (i ? ", " : "") << "{\"keyCode\": " << binding.keyCode << ", \"command\": " << jsonText(binding.command)
        << ", \"newIniPath\": " << jsonText(binding.newIniPath) << ", \"disableAll\": " << int(binding.disableAll)
        << "}";
  }
  out << "], \"hints\": [";
  for (size_t i = 0; i < check.hints.size(); ++i) {
    const Hint& hint = check.hints[i];
    out << (i ? ", " : "") << "{\"text\": " << jsonString(utf8ToUtf16(hint.text));
    if (hint.line) out << ", \"line\": " << *hint.line;
    out << ", \"id\": \"" << hint.id << "\", \"severity\": \"" << hint.severity << "\"}";
  }
  out << "], \"file\": " << jsonString(utf8ToUtf16(check.name));
  return out.str();
}

}  // namespace

std::string severityOf(const Message& message) {
  return message.type == (MB_OK | MB_ICONHAND) ? "error" : "warning";
}

std::string shown(const std::u16string& text) {
  std::string out;
  for (char c : utf16ToUtf8(text)) {
    if (c == '\n') {
      out += "\\n";
    } else if (c == '\t') {
      out += "\\t";
    } else if (c == '\r') {
      out += "\\r";
    } else if (static_cast<unsigned char>(c) < 0x20 || c == 0x7F) {
      const char* digits = "0123456789ABCDEF";
      out += std::string("\\x") + digits[(c >> 4) & 0xF] + digits[c & 0xF];
    } else {
      out += c;
    }
  }
  return out;
}

std::string explain(const Message& message) {
  // A box captioned "Fehler" is told by its text, every other box by its caption.
  const bool toldByText = message.caption == ERROR_CAPTION;
  for (const DeviceText& text : deviceTexts()) {
    if (toldByText ? text.isBoxText() && message.text.rfind(text.german, 0) == 0
                   : text.isCaption() && message.caption == text.german) {
      return text.meaning;
    }
  }
  return "a message of the device";
}

FileCheck checkFile(const std::string& name, const std::optional<std::vector<uint8_t>>& bytes) {
  sim::reset();
  std::u16string path = utf8ToUtf16(name);
  std::vector<FileLine> lines = bytes ? deviceLines(*bytes) : std::vector<FileLine>();
  if (bytes) sim::putFile(path, *bytes);
  MessageLog log({{path, lines}});
  BindingTable table;
  FileCheck check{name, table.load(path.c_str()), {}, 0, 0, {}, {}, {}};
  check.messages = log.messages();
  check.checkInterval = table.checkInterval();
  check.elapseTime = table.elapseTime();
  for (DWORD i = 0; i < table.count(); ++i) {
    const KeyBinding* binding = table.binding(i);
    check.bindings.push_back({binding->keyCode(), optionalText(binding->command()),
                              optionalText(binding->newIniPath()), binding->disableAll() != 0});
  }
  if (bytes) check.hints = findHints(name, *bytes, lines, check, check.bindingLines);
  return check;
}

std::vector<FileCheck> checkWithNewIniFiles(const std::string& name, const std::optional<std::vector<uint8_t>>& bytes) {
  std::vector<FileCheck> checks = {checkFile(name, bytes)};
  if (!bytes) return checks;
  // Each host file once, however many NewIni paths lead to it, and never FILE again.
  std::vector<std::string> checked = {name};
  for (const NewIniFile& file : newIniFiles(name, *bytes)) {
    bool seen = false;
    std::error_code error;
    for (const std::string& other : checked) seen |= std::filesystem::equivalent(other, file.hostPath, error);
    if (seen) continue;
    checked.push_back(file.hostPath);
    checks.push_back(checkFile(file.hostPath, file.bytes));
  }
  return checks;
}

int exitStatus(const FileCheck& check, bool strict) {
  if (check.result != 0) return 2;
  if (!check.messages.empty()) return 1;
  if (!strict) return 0;
  // Notes never fail a script: a NewIni of the file itself, the way to re-read an updated
  // Kurvix.ini, is one.
  for (const Hint& hint : check.hints) {
    if (hint.severity == "warning") return 1;
  }
  return 0;
}

std::string checkJsonOf(const std::vector<FileCheck>& checks) {
  std::string out = fileJson(checks.front()) + ", \"newIniFiles\": [";
  for (size_t i = 1; i < checks.size(); ++i) out += (i > 1 ? ", " : "") + fileJson(checks[i]) + "}";
  return out + "]}\n";
}

namespace {

std::string whereIn(const FileCheck& check, const std::optional<unsigned>& line) {
  return check.name + (line ? ":" + std::to_string(*line) : "") + ": ";
}

std::string hintLine(const FileCheck& check, const Hint& hint) {
  return whereIn(check, hint.line) + hint.severity + ": " + hint.text + " [" + hint.id + "]";
}

}  // namespace

std::string hintReportOf(const FileCheck& check) {
  std::string out;
  for (const Hint& hint : check.hints) out += hintLine(check, hint) + "\n";
  return out;
}

std::string whyNoAction(const FileCheck& check, const std::vector<FileLine>& lines, DWORD key) {
  size_t index = 0;
  while (index < check.bindings.size() && check.bindings[index].keyCode != key) ++index;
  if (index >= check.bindings.size() || index >= check.bindingLines.size()) return "";
  unsigned header = check.bindingLines[index];
  unsigned end = index + 1 < check.bindingLines.size() ? check.bindingLines[index + 1] : ~0u;
  std::string binding = "the binding of line " + std::to_string(header) + " has no action: ";
  for (const Hint& hint : check.hints) {
    if (!hint.line || *hint.line <= header || *hint.line >= end) continue;
    std::string at = " on line " + std::to_string(*hint.line);
    if (hint.id == "disable-off-value") {
      for (const FileLine& line : lines) {
        if (line.number == *hint.line) return binding + "`" + shown(line.text) + "`" + at + " is not on";
      }
    }
    if (hint.id == "empty-command") return binding + "its Command" + at + " is empty";
    if (hint.id == "empty-newini") return binding + "its NewIni" + at + " is empty";
  }
  const BindingSummary& summary = check.bindings[index];
  if (!summary.command && !summary.newIniPath && !summary.disableAll) {
    return binding + "it has no Command, NewIni or Disable=1";
  }
  return "";
}

std::string reportOf(const FileCheck& check, bool quiet) {
  struct Finding {
    unsigned line;  // 0: the whole file
    int order;      // the device's message before the hints that explain it
    std::string text;
  };
  std::vector<Finding> findings;
  for (const Message& message : check.messages) {
    findings.push_back({message.line.value_or(0), 0,
                        whereIn(check, message.line) + severityOf(message) + ": " + utf16ToUtf8(message.caption) + " \"" + shown(message.text) +
                            "\" (" + explain(message) + ")"});
  }
  for (const Hint& hint : check.hints) {
    findings.push_back({hint.line.value_or(0), 1, hintLine(check, hint)});
  }
  std::stable_sort(findings.begin(), findings.end(), [](const Finding& a, const Finding& b) {
    return a.line != b.line ? a.line < b.line : a.order < b.order;
  });
  std::ostringstream out;
  for (const Finding& finding : findings) out << finding.text << "\n";
  if (quiet) return out.str();
  out << check.name << ": " << (check.result == 0 ? "loaded" : "not loaded") << ", "
      << plural(check.messages.size(), "message") << ", " << plural(check.hints.size(), "hint") << "\n";
  out << "CheckIntervall " << check.checkInterval << " ms, ElapseTime " << check.elapseTime << " ms\n";
  out << plural(check.bindings.size(), "binding") << "\n";
  for (size_t i = 0; i < check.bindings.size(); ++i) {
    const BindingSummary& binding = check.bindings[i];
    out << "  " << i + 1 << ". KeyCode " << binding.keyCode;
    if (binding.command) out << ", Command " << quotedUnlessQuoting(*binding.command);
    if (binding.newIniPath) out << ", NewIni " << quotedUnlessQuoting(*binding.newIniPath);
    if (binding.disableAll) out << ", Disable";
    if (!binding.command && !binding.newIniPath && !binding.disableAll) out << ", no action";
    out << "\n";
  }
  return out.str();
}
