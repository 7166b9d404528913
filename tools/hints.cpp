#include "tools/hints.h"

#include <filesystem>

#include "tools/utf.h"

namespace {

const char* const kConvert = "convert it with: kurvix-check --to-unicode FILE NEW-FILE";

// An encoding the device refuses, told apart by its first bytes.
std::optional<Hint> encodingHint(const std::vector<uint8_t>& bytes) {
  if (bytes.size() >= 2 && bytes[0] == 0xFF && bytes[1] == 0xFE) return std::nullopt;
  std::string found;
  if (bytes.size() >= 2 && bytes[0] == 0xFE && bytes[1] == 0xFF) {
    found = "UTF-16 big-endian";
  } else if (bytes.size() >= 3 && bytes[0] == 0xEF && bytes[1] == 0xBB && bytes[2] == 0xBF) {
    found = "UTF-8 (with a byte-order mark)";
  } else if (bytes.size() >= 2 && bytes[0] != 0 && bytes[1] == 0) {
    found = "UTF-16 little-endian without the byte-order mark FF FE";
  } else if (!bytes.empty()) {
    found = "UTF-8 or plain text";
  } else {
    return std::nullopt;
  }
  return Hint{"the file is " + found + "; the device reads only UTF-16 little-endian that begins "
              "with the byte-order mark FF FE; " + kConvert, std::nullopt};
}

bool sameIgnoringCase(std::u16string_view a, std::u16string_view b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    char16_t x = a[i] >= u'A' && a[i] <= u'Z' ? a[i] + 32 : a[i];
    char16_t y = b[i] >= u'A' && b[i] <= u'Z' ? b[i] + 32 : b[i];
    if (x != y) return false;
  }
  return true;
}

// A line the device did not understand whose start is a known word in other case.
std::optional<Hint> caseHint(const Message& message) {
  static const std::u16string kWords[] = {u"KURVIX", u"SETTINGS", u"KeyCode", u"Command",
                                          u"NewIni", u"Disable", u"CheckIntervall", u"ElapseTime"};
  if (message.caption.find(u"unbekannten") == std::u16string::npos) return std::nullopt;
  for (const std::u16string& word : kWords) {
    std::u16string_view start = std::u16string_view(message.text).substr(0, word.size());
    if (start != word && sameIgnoringCase(start, word)) {
      return Hint{jsonString(start) + " differs from " + jsonString(word) +
                      " only in case; upper and lower case matter",
                  message.line};
    }
  }
  return std::nullopt;
}

std::string bindingName(DWORD index, const KeyBinding& binding) {
  return "binding " + std::to_string(index + 1) + " (KeyCode " + std::to_string(binding.keyCode()) + ")";
}

bool namesFile(const std::u16string& newIni, const std::string& hostFile) {
  std::optional<std::string> resolved = resolveNewIni(newIni, hostFile);
  std::error_code error;
  return resolved && std::filesystem::equivalent(*resolved, hostFile, error);
}

}  // namespace

std::vector<Hint> findHints(const std::string& hostFile, const std::vector<uint8_t>& bytes,
                            const std::vector<Message>& messages, const BindingTable& table) {
  std::vector<Hint> hints;
  if (std::optional<Hint> hint = encodingHint(bytes)) hints.push_back(*hint);
  for (const Message& message : messages) {
    if (std::optional<Hint> hint = caseHint(message)) hints.push_back(*hint);
  }
  for (DWORD i = 0; i < table.count(); ++i) {
    const KeyBinding& binding = *table.binding(i);
    if (binding.keyCode() == 0) {
      hints.push_back({"binding " + std::to_string(i + 1) +
                       " has no KeyCode (or KeyCode 0): no key ever reaches it", std::nullopt});
    }
    for (DWORD j = 0; j < i; ++j) {
      if (table.binding(j)->keyCode() == binding.keyCode() && binding.keyCode() != 0) {
        hints.push_back({bindingName(i, binding) + " has the key of binding " + std::to_string(j + 1) +
                         ": only the first one's long press will ever act", std::nullopt});
        break;
      }
    }
    if (binding.newIniPath() != nullptr && namesFile(binding.newIniPath(), hostFile)) {
      hints.push_back({bindingName(i, binding) + ": NewIni names this file itself, so its long press "
                       "loads the same bindings again", std::nullopt});
    }
  }
  return hints;
}
