// The hints come from one walk over the file's lines as the device reads them, following
// the reader's blocks (an empty line ends a block, a comment line does not, a header is one
// only outside a block), and from what the loaded table holds. A line the device accepts
// gets a hint only where it does something else than its author plainly meant.
#include "check/hints.h"

#include <algorithm>
#include <filesystem>
#include <map>

#include "config/reader.h"
#include "config/text.h"
#include "check/device_session.h"
#include "check/hint_table.h"
#include "utf/utf.h"

namespace {

const char* const kConvert = "convert it with: kurvix-check --to-unicode FILE NEW-FILE";
// Beyond it, the wait for the next look at a held key is one a user notices as the key lagging.
const DWORD kLargestSensibleInterval = 1000;

std::string seconds(DWORD ms) {
  std::string whole = std::to_string(ms / 1000), tenths = std::to_string(ms / 100 % 10);
  return whole + (tenths == "0" ? "" : "." + tenths) + " s";
}

// An encoding the device refuses, told apart by its first bytes.
std::optional<Hint> encodingHint(const std::vector<uint8_t>& bytes) {
  if (bytes.size() >= 2 && bytes[0] == 0xFF && bytes[1] == 0xFE) return std::nullopt;
  std::string found;
  if (bytes.size() >= 2 && bytes[0] == 0xFE && bytes[1] == 0xFF) {
    found = "UTF-16 big-endian";
  } else if (bytes.size() >= 3 && bytes[0] == 0xEF && bytes[1] == 0xBB && bytes[2] == 0xBF) {
    found = "UTF-8 (with a byte-order mark)";
  } else if (looksUtf16LeWithoutMark(bytes)) {
    found = "UTF-16 little-endian without the byte-order mark FF FE";
  } else if (bytes.size() >= 2 && bytes[0] == 0 && bytes[1] != 0) {
    return Hint{"encoding", "the file looks like UTF-16 big-endian without a byte-order mark; the device reads only "
                "UTF-16 little-endian that begins with the byte-order mark FF FE; convert it with: kurvix-check "
                "--to-unicode --from=UTF-16BE FILE NEW-FILE", std::nullopt};
  } else if (!bytes.empty()) {
    size_t invalidAt;
    if (!strictUtf8ToUtf16(std::string_view(reinterpret_cast<const char*>(bytes.data()), bytes.size()), invalidAt)) {
      return Hint{"encoding", "the file is neither UTF-8 nor UTF-16 but an 8-bit encoding, as Windows-1252 (\"ANSI\"); "
                  "the device reads only UTF-16 little-endian that begins with the byte-order mark FF FE; convert it "
                  "with: kurvix-check --to-unicode --from=CP1252 FILE NEW-FILE (or the encoding it is in)", std::nullopt};
    }
    found = "UTF-8 or plain text";
  } else {
    return Hint{"encoding", "the file is empty; the device needs at least the byte-order mark FF FE", {}};
  }
  return Hint{"encoding", "the file is " + found + "; the device reads only UTF-16 little-endian that begins "
              "with the byte-order mark FF FE; " + kConvert, std::nullopt};
}

// Line ends that are not one kind throughout: CR CR LF (a CR added to a file that had CR LF
// already) gives the device an empty line after every line, and so ends every block; CR LF
// mixed with lone CR or LF is read as meant by the device but not by every editor. One hint,
// at the first such line, numbered as deviceLines numbers lines.
std::optional<Hint> lineEndsHint(const std::vector<uint8_t>& bytes) {
  if (bytes.size() < 2 || bytes[0] != 0xFF || bytes[1] != 0xFE) return std::nullopt;
  std::vector<char16_t> units;
  for (size_t i = 2; i + 1 < bytes.size(); i += 2) {
    units.push_back(static_cast<char16_t>(bytes[i] | bytes[i + 1] << 8));
  }
  auto endAt = [&](size_t i) -> std::string {  // the line end that begins at i, or "" for none
    if (units[i] == u'\n') return "LF";
    if (units[i] != u'\r') return "";
    return i + 1 < units.size() && units[i + 1] == u'\n' ? "CR LF" : "CR";
  };
  unsigned number = 1;
  std::optional<std::pair<unsigned, std::string>> first, other;
  for (size_t i = 0; i < units.size(); ++i) {
    std::string end = endAt(i);
    if (end.empty()) continue;
    if (end == "CR" && i + 2 < units.size() && endAt(i + 1) == "CR LF") {
      return Hint{"line-ends", "line " + std::to_string(number) + " ends in CR CR LF, a line end doubled (what "
                  "sed 's/$/\\r/' makes of a file that already has CR LF): the device reads an empty line after each "
                  "such line, and an empty line ends a block; end every line with CR LF once", number};
    }
    if (!first) {
      first = {number, end};
    } else if (!other && end != first->second) {
      other = {number, end};
    }
    if (end == "CR LF") ++i;
    ++number;
  }
  if (!other) return std::nullopt;
  return Hint{"line-ends", "the line ends are mixed: this line ends in " + other->second + ", line " +
              std::to_string(first->first) + " in " + first->second + "; the device ends a line at each of them, "
              "but an editor that knows one kind shows other lines than the device reads; end every line with CR LF",
              other->first};
}

// The reader's keys (config/reader.h).
struct Key {
  std::u16string name;
  ConfigBlock block;
  DWORD valueStart;  // what the reader passes to findValue
  ConfigValue kind;
};
#define KURVIX_HINT_KEY(name, word, block, valueStart, kind) {name##_KEY, block, valueStart, kind},
const Key kKeys[] = {KURVIX_CONFIG_KEYS(KURVIX_HINT_KEY)};
#undef KURVIX_HINT_KEY
const std::u16string kBindingHeader = BINDING_HEADER, kSettingsHeader = SETTINGS_HEADER;

bool startsWith(std::u16string_view text, std::u16string_view word) {
  return text.size() >= word.size() && compareText(text.data(), word.data(), static_cast<DWORD>(word.size())) == 0;
}
bool isBlank(char16_t unit) { return unit == u' ' || unit == u'\t'; }
bool allBlank(std::u16string_view text) { return std::all_of(text.begin(), text.end(), isBlank); }
bool isCommentLine(std::u16string_view text) {
  return !text.empty() && std::u16string_view(COMMENT_STARTS).find(text[0]) != std::u16string_view::npos;
}
std::string inQuotes(std::u16string_view text) { return "\"" + shown(std::u16string(text)) + "\""; }
// Texts from the file as the report shows them: control characters made visible.
std::string text8(std::u16string_view text) { return shown(std::u16string(text)); }
char16_t lower(char16_t unit) { return unit >= u'A' && unit <= u'Z' ? unit + 32 : unit; }

// Edit distance without regard to case.
size_t distance(std::u16string_view a, std::u16string_view b) {
  std::vector<size_t> row(b.size() + 1);
  for (size_t j = 0; j <= b.size(); ++j) row[j] = j;
  for (size_t i = 1; i <= a.size(); ++i) {
    size_t diagonal = row[0];
    row[0] = i;
    for (size_t j = 1; j <= b.size(); ++j) {
      size_t above = row[j];
      row[j] = std::min({row[j] + 1, row[j - 1] + 1, diagonal + (lower(a[i - 1]) == lower(b[j - 1]) ? 0 : 1)});
      diagonal = above;
    }
  }
  return row[b.size()];
}

// The word a line begins with as its author meant a key: up to the equals sign, or the
// first blank when there is none.
std::u16string_view leadingWord(std::u16string_view text) {
  size_t end = text.find(u'=');
  if (end == std::u16string_view::npos) end = std::min(text.find(u' '), text.find(u'\t'));
  std::u16string_view word = text.substr(0, std::min(end, text.size()));
  while (!word.empty() && isBlank(word.back())) word.remove_suffix(1);
  return word;
}

// Where a value holds what its author meant as a comment: ; or # behind a blank.
size_t commentStart(std::u16string_view value) {
  for (size_t i = 1; i < value.size(); ++i) {
    if ((value[i] == u';' || value[i] == u'#') && isBlank(value[i - 1])) return i;
  }
  return std::u16string_view::npos;
}

std::string blockName(ConfigBlock block) { return utf16ToUtf8(block == BINDING_BLOCK ? BINDING_HEADER : SETTINGS_HEADER); }

class Walk {
 public:
  Walk(const std::string& hostFile, const std::vector<FileLine>& lines, const FileCheck& check,
       std::vector<Hint>& hints)
      : hostFile_(hostFile), lines_(lines), check_(check), hints_(hints) {}

  void run() {
    unsigned previousNumber = 0, longLine = 0;
    for (const FileLine& line : lines_) {
      if (line.text.empty() || line.text[0] == 0) {
        if (block_ != NO_BLOCK) blockEndedBy_ = line.number;
        endBlock();
      } else if (!isCommentLine(line.text)) {
        if (block_ == NO_BLOCK) {
          outsideBlock(line);
        } else {
          insideBlock(line);
        }
      }
      if (line.number == previousNumber && line.number != longLine) {
        longLine = line.number;
        add(line.number, "long-line", "the device reads this line as two: it takes 259 characters at most, and "
            "the rest (after a line of 258 or 259 characters, an empty line) is read as a line of its own");
      }
      previousNumber = line.number;
    }
    endBlock();
    settingsHints();
    bindingHints();
  }
  const std::vector<unsigned>& bindingLines() const { return bindingHeaders_; }

 private:
  struct Setting {
    unsigned line;
    bool set = false;
  };

  void add(std::optional<unsigned> line, const std::string& id, const std::string& text) {
    hints_.push_back({id, text, line});
  }

  void outsideBlock(const FileLine& line) {
    if (startsWith(line.text, kBindingHeader)) {
      block_ = BINDING_BLOCK;
      bindingHeaders_.push_back(line.number);
      keyCodeLines_.emplace_back();
      newIniLines_.emplace_back();
      blockLine_ = line.number;
    } else if (startsWith(line.text, kSettingsHeader)) {
      block_ = SETTINGS_BLOCK;
      blockLine_ = line.number;
    } else if (allBlank(line.text)) {
      add(line.number, "blank-line", "this line holds only blanks; an empty line must be really empty");
    } else if (!keyOutsideBlock(line)) {
      blockEndedBy_.reset();
      if (!misreadStart(line) && !bracketHeader(line)) nearMiss(line, NO_BLOCK);
      return;
    }
    if (block_ != NO_BLOCK) blockEndedBy_.reset();
  }

  // [KURVIX], [settings], [KURVIX Scanner]: a header word in brackets, in any case.
  bool bracketHeader(const FileLine& line) {
    std::u16string_view text = line.text;
    size_t close = text.find(u']');
    if (text.empty() || text[0] != u'[' || close == std::u16string_view::npos) return false;
    std::u16string_view inner = text.substr(1, close - 1);
    for (const std::u16string* header : {&kBindingHeader, &kSettingsHeader}) {
      std::u16string_view word = inner.substr(0, header->size());
      size_t size = header->size();
      bool wordEnds = inner.size() == size || (inner.size() > size && isBlank(inner[size]));
      if (wordEnds && distance(word, *header) == 0) {
        add(line.number, "bracket-header", "headers have no brackets: begin the line with " + text8(*header) +
            " itself, after an empty line");
        return true;
      }
    }
    return false;
  }

  bool keyOutsideBlock(const FileLine& line) {
    for (const Key& key : kKeys) {
      if (!startsWith(line.text, key.name)) continue;
      std::string why = blockEndedBy_ ? "the empty line " + std::to_string(*blockEndedBy_) + " ended its block"
                                     : "it stands in no KURVIX or SETTINGS block";
      add(line.number, "key-outside-block", text8(key.name) + " changes nothing here: " + why);
      return true;
    }
    return false;
  }

  // A line the device did not understand whose first word is close to a word it knows.
  void nearMiss(const FileLine& line, ConfigBlock block) {
    std::u16string_view word = leadingWord(line.text);
    const std::u16string* best = nullptr;
    size_t bestDistance = 3;
    std::vector<const std::u16string*> candidates = {&kBindingHeader, &kSettingsHeader};
    for (const Key& key : kKeys) candidates.push_back(&key.name);
    for (const std::u16string* candidate : candidates) {
      size_t d = distance(word, *candidate);
      size_t allowed = candidate->size() >= 7 ? 2 : 1;
      if (d <= allowed && d < bestDistance) best = candidate, bestDistance = d;
    }
    if (best == nullptr) return;
    bool header = best == &kBindingHeader || best == &kSettingsHeader;
    ConfigBlock wanted = block;
    for (const Key& key : kKeys) {
      if (&key.name == best) wanted = key.block;
    }
    if (word == *best && !header && wanted != block) {
      if (strayHeader_) return;  // the header's own hint explains it
      add(line.number, "wrong-block", text8(*best) + " belongs in a " + blockName(wanted) + " block, not in a " +
          blockName(block) + " block");
      return;
    }
    if (header && block != NO_BLOCK) return;  // a header inside a block is told apart below
    std::string text = bestDistance == 0
                           ? inQuotes(word) + " differs from " + inQuotes(*best) + " only in case; upper and lower case matter"
                           : "unknown " + inQuotes(word) + ": did you mean " + inQuotes(*best) + "?";
    add(line.number, "near-miss", text);
  }

  void insideBlock(const FileLine& line) {
    const Key* matched = nullptr;
    for (const Key& key : kKeys) {
      if (key.block == block_ && startsWith(line.text, key.name)) matched = &key;
    }
    if (matched != nullptr) {
      keyLine(line, *matched);
    } else if (startsWith(line.text, kBindingHeader) || startsWith(line.text, kSettingsHeader)) {
      if (!strayHeader_) strayHeader_ = {line.number, startsWith(line.text, kBindingHeader) ? kBindingHeader : kSettingsHeader};
    } else if (allBlank(line.text)) {
      add(line.number, "blank-line", "this line holds only blanks, so it does not end the " + blockName(block_) +
          " block of line " + std::to_string(blockLine_) + "; an empty line must be really empty");
    } else if (!misreadStart(line) && !bracketHeader(line)) {
      nearMiss(line, block_);
    }
  }

  // A line whose first characters keep the device from seeing what it was meant to be: blanks
  // before a key or header, or a comment mark the device does not take as one.
  bool misreadStart(const FileLine& line) {
    std::u16string_view text = line.text;
    if (isBlank(text[0])) {
      size_t first = text.find_first_not_of(u" \t");
      add(line.number, "leading-blanks", "the line begins with " + std::string(text[0] == u'\t' ? "a tab" : "blanks") +
          ", and the device does not skip leading blanks: it reads " + inQuotes(text) +
          " as an unknown line; remove them" + (isCommentLine(text.substr(first)) ? " (a comment line too must "
          "begin with its mark)" : ""));
      return true;
    }
    for (std::u16string_view mark : {u"--", u"*", u"::", u"REM", u"Rem", u"rem"}) {
      bool word = mark[0] == u'R' || mark[0] == u'r';
      if (text.substr(0, mark.size()) != mark || (word && text.size() > mark.size() && !isBlank(text[mark.size()]))) {
        continue;
      }
      add(line.number, "not-a-comment", "the device does not take a line that begins with " + inQuotes(mark) +
          " as a comment; a comment line begins with " + commentMarks());
      return true;
    }
    return false;
  }

  void keyLine(const FileLine& line, const Key& key) {
    std::string name = text8(key.name);
    size_t equals = line.text.find(u'=');
    if (equals == std::u16string::npos) {
      add(line.number, "no-equals", name + " needs an equals sign between it and its value");
      return;
    }
    DWORD start = findValue(line.text.c_str(), static_cast<DWORD>(line.text.size()), key.valueStart);
    std::u16string_view afterEquals = std::u16string_view(line.text).substr(equals + 1);
    if (key.kind == TEXT_VALUE && allBlank(afterEquals)) {
      add(line.number, key.name == COMMAND_KEY ? "empty-command" : "empty-newini",
          name + " has no value: a long press of this key " + (key.name == COMMAND_KEY ? "starts" : "loads") + " nothing");
      return;
    }
    if (start == TEXT_NOT_FOUND) return;  // the device says so itself
    if (key.name == KEY_CODE_KEY) keyCodeLines_.back() = line.number;
    if (key.name == NEW_INI_KEY) newIniLines_.back() = line.number;
    std::u16string_view value = std::u16string_view(line.text).substr(start);

    auto seen = keysInBlock_.find(key.name);
    if (seen != keysInBlock_.end() && strayHeader_ && seen->second < strayHeader_->first) {
      overwritten_.push_back(name + " (line " + std::to_string(seen->second) + ")");
    } else if (seen != keysInBlock_.end()) {
      add(line.number, "key-twice", name + " is given twice in this block (line " + std::to_string(seen->second) +
          " and here); only this later one counts");
    }
    keysInBlock_[key.name] = line.number;
    if (key.block == SETTINGS_BLOCK) {
      Setting& earlier = key.name == CHECK_INTERVAL_KEY ? checkInterval_ : elapseTime_;
      if (earlier.set && earlier.line < blockLine_) {
        add(line.number, "settings-twice", name + " is set again in a second SETTINGS block: this one replaces " + name +
            " of line " + std::to_string(earlier.line) + " without a word; keep one SETTINGS block");
      }
      earlier = {line.number, true};
    }

    if (commentAfterValue(line, key, value) && key.kind == NUMBER_VALUE) return;
    if (key.kind == NUMBER_VALUE) numberValue(line, key, value);
    if (key.kind == FLAG_VALUE) flagValue(line, value);
    if (key.kind == TEXT_VALUE) textValue(line, key, value);
  }

  bool commentAfterValue(const FileLine& line, const Key& key, std::u16string_view value) {
    if (key.kind == FLAG_VALUE) return false;  // only its first character counts
    size_t start = commentStart(value);
    if (start == std::u16string_view::npos) return false;
    add(line.number, "comment-after-value", "comments are whole lines: " + inQuotes(value.substr(start)) +
        (key.kind == TEXT_VALUE ? " is part of the " + text8(key.name) + " value" : " is ignored") +
        "; put the comment on a line of its own that begins with ;");
    return true;
  }

  void numberValue(const FileLine& line, const Key& key, std::u16string_view value) {
    std::string name = text8(key.name);
    std::u16string_view trimmed = value;
    while (!trimmed.empty() && isBlank(trimmed.back())) trimmed.remove_suffix(1);
    DWORD number = parseDecimal(std::u16string(value).c_str());
    std::string digits = text8(trimmed);
    bool hex = false;
    std::string hexDigits = digits;
    if (digits.size() > 2 && digits[0] == '0' && (digits[1] == 'x' || digits[1] == 'X')) {
      hexDigits = digits.substr(2), hex = true;
    } else if (digits.size() > 1 && (digits.back() == 'h' || digits.back() == 'H')) {
      hexDigits = digits.substr(0, digits.size() - 1), hex = true;
    } else {
      hex = !digits.empty() && std::string("abcdefABCDEF").find(digits[0]) != std::string::npos;  // "C5"
    }
    hex = hex && !hexDigits.empty() && hexDigits.size() <= 8 &&
          hexDigits.find_first_not_of("0123456789abcdefABCDEF") == std::string::npos;
    if (hex && key.name == KEY_CODE_KEY) {
      add(line.number, "keycode-not-decimal", "the device reads KeyCode in decimal only: " + digits + " is read as " +
          std::to_string(number) + "; write " + std::to_string(std::stoul(hexDigits, nullptr, 16)));
      return;
    }
    size_t digitsStart = !trimmed.empty() && trimmed[0] == u'-' ? 1 : 0;
    size_t stop = digitsStart;
    while (stop < trimmed.size() && trimmed[stop] >= u'0' && trimmed[stop] <= u'9') ++stop;
    std::u16string_view unit = trimmed.substr(stop);
    while (!unit.empty() && isBlank(unit.front())) unit.remove_prefix(1);
    bool milliseconds = key.name != KEY_CODE_KEY && stop > digitsStart && unit == u"ms";  // read as meant
    if (stop < trimmed.size() && !milliseconds) {
      add(line.number, "number-stops", name + "=" + text8(trimmed) + " is read as " + std::to_string(number) +
          ": the number stops at " + inQuotes(trimmed.substr(stop, 1)) + "; write whole " +
          (key.name == KEY_CODE_KEY ? "decimal numbers" : "milliseconds") + " only");
      return;
    }
    if (key.name == KEY_CODE_KEY) {
      if (number == 0 || number > 254) {
        add(line.number, "keycode-range", "KeyCode " + text8(trimmed) + " is read as " + std::to_string(number) +
            ", outside 1 to 254: no key has it");
      }
    }
  }

  void flagValue(const FileLine& line, std::u16string_view value) {
    if (parseFlag(std::u16string(value).c_str()) != 0) return;
    std::u16string word(value);
    while (!word.empty() && isBlank(word.back())) word.pop_back();
    for (char16_t& unit : word) unit = lower(unit);
    for (const char16_t* off : {u"0", u"n", u"no", u"nein", u"false", u"off", u"aus"}) {
      if (word == off) return;
    }
    add(line.number, "disable-off-value", "Disable=" + text8(value) + " counts as off: only 1 and y switch the "
        "bindings off; write Disable=1");
  }

  void textValue(const FileLine& line, const Key& key, std::u16string_view value) {
    std::string name = text8(key.name);
    bool command = key.name == COMMAND_KEY;
    bool comment = commentStart(value) != std::u16string_view::npos;
    if (!comment && !value.empty() && isBlank(value.back())) {
      add(line.number, "trailing-blanks", "the " + name + " value ends in blanks, and they are part of it: the "
          "device looks for a path that ends in blanks");
    }
    std::u16string_view path = !value.empty() && value[0] == u'"' ? value.substr(1) : value;
    if (path.size() >= 2 && path[1] == u':' && ((path[0] | 0x20) >= u'a' && (path[0] | 0x20) <= u'z')) {
      add(line.number, "drive-letter", "Windows CE has no drive letters: write the path from the root, as "
          "\\Windows\\... or \\Storage Card\\...");
    }
    if (command && !value.empty() && value[0] == u'"') {
      size_t close = value.find(u'"', 1);
      if (close == std::u16string_view::npos || close == 1) {
        add(line.number, "command-quote", std::string(close == 1 ? "nothing stands between the quotes" :
            "the quote before the program is never closed") + ", so the device opens the whole value, quotes and all, "
            "as the name of a program, and finds none: write the program's path between the quotes, "
            "Command=\"\\Programme\\a.exe\" arguments");
      }
    }
    if (command && (value.empty() || value[0] != u'"')) {
      std::u16string folded(value);
      for (char16_t& unit : folded) unit = lower(unit);
      size_t exe = folded.find(u".exe");
      if (exe != std::u16string::npos && exe + 4 < value.size() && isBlank(value[exe + 4]) &&
          !allBlank(value.substr(exe + 4))) {
        std::u16string_view program = value.substr(0, exe + 4), arguments = value.substr(exe + 5);
        while (!arguments.empty() && isBlank(arguments.front())) arguments.remove_prefix(1);
        add(line.number, "command-arguments", "a Command with arguments needs the program in quotes, or the whole "
            "line is taken as its name: write Command=\"" + text8(program) + "\" " + text8(arguments));
      }
    }
    if (!command) {
      if (!value.empty() && value[0] != u'\\' && value[0] != u'/' && !(value.size() >= 2 && value[1] == u':')) {
        add(line.number, "relative-newini", "NewIni needs the file's full path from the root of the device: Windows CE "
            "has no current folder, so the device looks for " + inQuotes(deviceNewIniPath(std::u16string(value))) +
            " in its root folder, not beside this file");
      }
    }
  }

  void endBlock() {
    if (strayHeader_) {
      std::string header = text8(strayHeader_->second);
      std::string text = header + " stands inside the " + blockName(block_) + " block of line " + std::to_string(blockLine_) +
                         " because the empty line before it is missing: the device does not begin a new block here";
      if (block_ == BINDING_BLOCK && !overwritten_.empty()) {
        text += ", and the lines after it overwrite ";
        for (size_t i = 0; i < overwritten_.size(); ++i) text += (i ? ", " : "") + overwritten_[i];
        text += " of that binding";
      } else if (block_ == BINDING_BLOCK) {
        text += "; the lines after it still belong to that binding";
      } else {
        text += "; the lines after it are read as settings";
      }
      add(strayHeader_->first, "header-inside-block", text);
    }
    block_ = NO_BLOCK;
    strayHeader_.reset();
    keysInBlock_.clear();
    overwritten_.clear();
  }

  void settingsHints() {
    if (checkInterval_.set && (check_.checkInterval == 0 || check_.checkInterval >= 0x80000000u)) {
      add(checkInterval_.line, "check-interval", "CheckIntervall " + std::to_string(int32_t(check_.checkInterval)) +
          ": a held key must be looked at every few milliseconds; write a positive number, as 50 or 100");
    } else if ((elapseTime_.set || checkInterval_.set) && check_.elapseTime < check_.checkInterval) {
      std::string interval = std::to_string(check_.checkInterval);
      add(elapseTime_.set ? elapseTime_.line : checkInterval_.line, "elapse-below-interval",
          "ElapseTime " + std::to_string(check_.elapseTime) + " ms is below CheckIntervall " + interval +
          " ms: the device first looks at a held key " + interval + " ms after it went down, and a key still held "
          "then counts as long; only a press released before that is handed back to the program in front");
    }
    if (checkInterval_.set && check_.checkInterval > kLargestSensibleInterval && check_.checkInterval < 0x80000000u) {
      add(checkInterval_.line, "check-interval-large", "CheckIntervall " + std::to_string(check_.checkInterval) +
          " ms: the device looks at a held key only this often, so a short press is handed back up to " +
          seconds(check_.checkInterval) + " late and a long one acts up to that much after ElapseTime; write 20 to 200");
    }
  }

  void bindingHints() {
    const std::vector<BindingSummary>& bindings = check_.bindings;
    if (check_.result == 0 && bindings.empty()) {
      add(std::nullopt, "no-binding", "the file holds no binding (no KURVIX block): the device opens its status "
          "window at every start instead of waiting in the notification area");
    }
    for (size_t i = 0; i < bindings.size() && i < bindingHeaders_.size(); ++i) {
      unsigned header = bindingHeaders_[i];
      if (bindings[i].keyCode == 0 && !keyCodeLines_[i]) {
        add(header, "no-keycode", "binding " + std::to_string(i + 1) + " has no KeyCode: no key ever reaches it");
      }
      for (size_t j = 0; j < i; ++j) {
        if (bindings[j].keyCode == bindings[i].keyCode && bindings[i].keyCode != 0) {
          add(keyCodeLines_[i].value_or(header), "same-key", "binding " + std::to_string(i + 1) + " (KeyCode " +
              std::to_string(bindings[i].keyCode) + ") has the key of binding " + std::to_string(j + 1) +
              ": only the first one's long press will ever act");
          break;
        }
      }
      if (bindings[i].newIniPath) newIniTarget(i, *bindings[i].newIniPath);
    }
  }

  void newIniTarget(size_t index, const std::u16string& newIni) {
    std::optional<unsigned> line = newIniLines_[index];
    std::optional<std::string> resolved = resolveNewIni(newIni, hostFile_);
    if (!resolved) {
      std::vector<std::string> places = newIniPlaces(newIni, hostFile_);
      std::string where = places[0];
      for (size_t i = 1; i < places.size(); ++i) where += (i + 1 == places.size() ? " or " : ", ") + places[i];
      add(line, "newini-missing", "binding " + std::to_string(index + 1) + ": the NewIni file " + inQuotes(newIni) +
          " is not found (looked for at " + where + ", upper and lower case ignored), so it is not checked; on the "
          "device a long press of key " + std::to_string(check_.bindings[index].keyCode) + " switches every binding "
          "off unless the file is at that path");
      return;
    }
    std::error_code error;
    if (std::filesystem::equivalent(*resolved, hostFile_, error)) {
      add(line, "newini-self", "binding " + std::to_string(index + 1) + ": NewIni names this file itself, so its "
          "long press re-reads it: a Kurvix.ini replaced on the device takes effect without a restart; if the key "
          "is meant to load another file, name that one");
      return;
    }
    bool ownSettings = check_.checkInterval != DEFAULT_CHECK_INTERVAL || check_.elapseTime != DEFAULT_ELAPSE_TIME;
    HostFile target = readHostFile(*resolved);
    if (!ownSettings || !target.bytes) return;
    for (const FileLine& targetLine : deviceLines(*target.bytes)) {
      if (startsWith(targetLine.text, kSettingsHeader)) return;
    }
    add(line, "newini-without-settings", *resolved + " has no SETTINGS block: once it is loaded, " +
        keyWords(SETTINGS_BLOCK) + " are back at " + std::to_string(DEFAULT_CHECK_INTERVAL) + " and " +
        std::to_string(DEFAULT_ELAPSE_TIME) + " ms");
  }

  const std::string& hostFile_;
  const std::vector<FileLine>& lines_;
  const FileCheck& check_;
  std::vector<Hint>& hints_;
  ConfigBlock block_ = NO_BLOCK;
  unsigned blockLine_ = 0;
  std::optional<unsigned> blockEndedBy_;  // the empty line that ended the last block, while key lines follow
  std::map<std::u16string, unsigned> keysInBlock_;
  std::optional<std::pair<unsigned, std::u16string>> strayHeader_;
  std::vector<std::string> overwritten_;
  std::vector<unsigned> bindingHeaders_;
  // Per binding, the line of the KeyCode and of the NewIni that count (the last of each).
  std::vector<std::optional<unsigned>> keyCodeLines_, newIniLines_;
  Setting checkInterval_, elapseTime_;
};

}  // namespace

std::vector<Hint> findHints(const std::string& hostFile, const std::vector<uint8_t>& bytes,
                            const std::vector<FileLine>& lines, const FileCheck& check,
                            std::vector<unsigned>& bindingLines) {
  std::vector<Hint> hints;
  if (std::optional<Hint> hint = encodingHint(bytes)) hints.push_back(*hint);
  if (std::optional<Hint> hint = lineEndsHint(bytes)) hints.push_back(*hint);
  Walk walk(hostFile, lines, check, hints);
  walk.run();
  bindingLines = walk.bindingLines();
  for (Hint& hint : hints) hint.severity = findHintEntry(hint.id)->severity;
  std::stable_sort(hints.begin(), hints.end(), [](const Hint& a, const Hint& b) {
    return a.line.value_or(0) < b.line.value_or(0);
  });
  return hints;
}
