#include "check/hint_table.h"

#include <deque>

#include "config/reader.h"
#include "utf/utf.h"

namespace {

// Items as a sentence lists them: "a, b and c".
std::string spokenList(const std::vector<std::string>& items, const std::string& separator,
                       const std::string& last) {
  std::string out;
  for (size_t i = 0; i < items.size(); ++i) {
    out += (i == 0 ? "" : i + 1 == items.size() ? last : separator) + items[i];
  }
  return out;
}

std::vector<std::string> keysOf(ConfigBlock block) {
  std::vector<std::string> keys;
#define KURVIX_KEY_OF(name, word, keyBlock, valueStart, kind) \
  if (keyBlock == block) keys.push_back(utf16ToUtf8(name##_KEY));
  KURVIX_CONFIG_KEYS(KURVIX_KEY_OF)
#undef KURVIX_KEY_OF
  return keys;
}

// A text the table keeps for as long as the program runs: its entries point into it.
const char* kept(const std::string& text) {
  static std::deque<std::string> texts;
  texts.push_back(text);
  return texts.back().c_str();
}

}  // namespace

std::string commentMarks() {
  std::vector<std::string> marks;
  for (const WCHAR* mark = COMMENT_STARTS; *mark != 0; ++mark) marks.push_back(utf16ToUtf8(std::u16string(1, *mark)));
  return spokenList(marks, " ", " or ");
}

std::string keyWords(ConfigBlock block) { return spokenList(keysOf(block), ", ", " and "); }

const std::vector<HintEntry>& hintTable() {
  static const std::string binding = utf16ToUtf8(BINDING_HEADER), settings = utf16ToUtf8(SETTINGS_HEADER);
  static const std::string words = spokenList({binding, settings}, ", ", ", ") + ", " +
                                   spokenList(keysOf(BINDING_BLOCK), ", ", ", ") + ", " +
                                   spokenList(keysOf(SETTINGS_BLOCK), ", ", ", ");
  static const std::vector<HintEntry> kTable = {
      {"encoding", "note", "the file is not UTF-16LE with the byte-order mark",
       "The device reads only UTF-16 little-endian text that begins with the byte-order mark FF FE. A file saved "
       "as UTF-8, \"ANSI\" (Windows-1252), big-endian UTF-16 or UTF-16 without the mark is refused as a whole with "
       "\"Die Datei ist leer oder nicht im Unicode Format\", and no key is bound.",
       "(bytes) 4B 55 52 56 49 58 0D 0A 4B 65 79 43 6F 64 65 3D 31 39 33 0D 0A   KURVIX, KeyCode=193 in UTF-8\n",
       "(bytes) FF FE K.U.R.V.I.X. 0D 00 0A 00 K.e.y.C.o.d.e.=.1.9.3. 0D 00 0A 00   the same in UTF-16LE with "
       "byte-order mark\n",
       "Save the file with the encoding \"Unicode\" (Notepad) or \"UTF-16 LE BOM\", or convert it with "
       "kurvix-check --to-unicode FILE NEW-FILE (add --from=CP1252 for an \"ANSI\" file)."},
      {"long-line", "note", "a line longer than the device reads at once",
       "The device reads at most 259 characters of a line; the rest is read as a line of its own, which it "
       "then reports as unknown or, after a line of 258 or 259 characters, takes as an empty line that ends "
       "the block.",
       "KURVIX\nKeyCode=193\nCommand=\\Programme\\...(more than 250 characters)...\\a.exe\n",
       "KURVIX\nKeyCode=193\nCommand=\\Programme\\kurz\\a.exe\n",
       "Shorten the line: move the program to a folder with a shorter path."},
      {"line-ends", "note", "line ends doubled (CR CR LF) or mixed",
       "The device ends a line at CR LF, at LF and at CR. CR CR LF, what adding a CR to every line of a file "
       "that already has CR LF gives, is therefore a line and an empty line: every block ends after its header, "
       "and the device reports each key line after it. Lone CR or LF among CR LF ends the device reads as "
       "meant, but an editor that knows only CR LF shows such lines joined.",
       "(bytes) FF FE K.U.R.V.I.X. 0D 00 0D 00 0A 00 K.e.y.C.o.d.e.=.1.9.3. 0D 00 0D 00 0A 00\n",
       "(bytes) FF FE K.U.R.V.I.X. 0D 00 0A 00 K.e.y.C.o.d.e.=.1.9.3. 0D 00 0A 00\n",
       "Save the file again with Windows line ends (CR LF) only; on Linux add the CR only where none is: "
       "sed 's/\\r*$/\\r/'."},
      {"blank-line", "note", "a line of blanks that does not end a block",
       "Only a really empty line ends a block. A line holding blanks or tabs is not empty: inside a block the "
       "lines after it still belong to that block, and outside one the device reports it.",
       "KURVIX\nKeyCode=193\n  \nKURVIX\nKeyCode=194\n",
       "KURVIX\nKeyCode=193\n\nKURVIX\nKeyCode=194\n",
       "Delete the blanks, so that the line is empty."},
      {"bracket-header", "note", "a header in square brackets",
       "A block begins with the word KURVIX or SETTINGS at the very start of a line. [SETTINGS] begins with a "
       "bracket, so the device reports the line and reads no block.",
       "[SETTINGS]\nCheckIntervall=50\n",
       "SETTINGS\nCheckIntervall=50\n",
       "Write the header without brackets, alone on its line, after an empty line."},
      {"key-outside-block", "note", "a key line that belongs to no block",
       "Key lines count only inside a KURVIX or SETTINGS block, and an empty line ends a block. A key line "
       "after an empty line, or before any header, changes nothing.",
       "KURVIX\nKeyCode=193\n\nCommand=\\Windows\\a.exe\n",
       "KURVIX\nKeyCode=193\nCommand=\\Windows\\a.exe\n",
       "Remove the empty line inside the block, or put a header before the key lines."},
      {"wrong-block", "note", "a key of the other kind of block",
       kept(keyWords(BINDING_BLOCK) + " belong in a " + binding + " block; " + keyWords(SETTINGS_BLOCK) + " in the " +
            settings + " block. In the other block the device reports the line and ignores it."),
       "KURVIX\nKeyCode=193\nElapseTime=800\n",
       "SETTINGS\nElapseTime=800\n\nKURVIX\nKeyCode=193\n",
       "Move the line into a block of the right kind."},
      {"near-miss", "note", "a misspelt key or header",
       "The device compares keys and headers exactly, upper and lower case included. A word that is nearly "
       "one it knows is reported as unknown, and the value it was meant to set keeps what it had.",
       "SETTINGS\nCheckInterval=50\n",
       "SETTINGS\nCheckIntervall=50\n",
       kept("Write the word exactly as the device knows it: " + words + ".")},
      {"leading-blanks", "note", "a line that begins with blanks",
       "The device compares a line from its very first character and does not skip leading blanks or tabs. "
       "An indented key or header is reported as unknown and does nothing.",
       "KURVIX\n  KeyCode=193\n",
       "KURVIX\nKeyCode=193\n",
       "Remove the blanks and tabs at the start of the line."},
      {"not-a-comment", "note", "a comment that the device does not take as one",
       kept("A comment line begins with " + commentMarks() + ". A line that begins with anything else, as --, * "
            "or REM, is read as a key or a header and reported as unknown."),
       "-- Scanner\nKURVIX\nKeyCode=193\n",
       "; Scanner\nKURVIX\nKeyCode=193\n",
       kept("Begin the comment line with " + commentMarks() + ".")},
      {"header-inside-block", "note", "a header without the empty line before it",
       "Inside a block a header is not recognised: without an empty line before it, KURVIX or SETTINGS does "
       "not begin a new block, and the key lines after it change the block before.",
       "KURVIX\nKeyCode=193\nKURVIX\nKeyCode=194\n",
       "KURVIX\nKeyCode=193\n\nKURVIX\nKeyCode=194\n",
       "Put an empty line before the header."},
      {"settings-twice", "note", "a second SETTINGS block",
       "The device reads every SETTINGS block, one after the other: a value given in a later block replaces "
       "the one given before, silently.",
       "SETTINGS\nElapseTime=800\n\nSETTINGS\nElapseTime=1500\n",
       "SETTINGS\nElapseTime=800\n",
       "Keep one SETTINGS block with the values meant."},
      {"no-equals", "note", "a key without an equals sign",
       "A key line needs an equals sign between the key and its value; without it the device reports the "
       "line and the value keeps what it had.",
       "KURVIX\nKeyCode=193\nCommand \\Windows\\a.exe\n",
       "KURVIX\nKeyCode=193\nCommand=\\Windows\\a.exe\n",
       "Write an equals sign after the key."},
      {"empty-command", "note", "a Command without a value",
       "A Command line without a value starts nothing: a long press of the key does nothing at all.",
       "KURVIX\nKeyCode=193\nCommand=\n",
       "KURVIX\nKeyCode=193\nCommand=\\Windows\\Kalender.exe\n",
       "Write the program's full path after the equals sign, or remove the line."},
      {"empty-newini", "note", "a NewIni without a value",
       "A NewIni line without a value loads nothing: a long press of the key does nothing at all.",
       "KURVIX\nKeyCode=193\nNewIni=\n",
       "KURVIX\nKeyCode=193\nNewIni=\\Speicher\\Kurvix\\Nacht.ini\n",
       "Write the full path of the configuration file to load, or remove the line."},
      {"key-twice", "note", "a key given twice in one block",
       "Within a block the later line wins: the value of the earlier one is lost.",
       "KURVIX\nKeyCode=193\nCommand=\\Windows\\a.exe\nCommand=\\Windows\\b.exe\n",
       "KURVIX\nKeyCode=193\nCommand=\\Windows\\b.exe\n",
       "Keep one line per key in a block; a second program needs a block of its own, with its own key."},
      {"comment-after-value", "note", "a comment behind a value",
       "Comments are whole lines. Behind a Command or NewIni the comment becomes part of the path; behind a "
       "number it is ignored, but so is the rest of the line.",
       "KURVIX\nKeyCode=193\nCommand=\\Windows\\a.exe ; Kalender\n",
       "KURVIX\n; Kalender\nKeyCode=193\nCommand=\\Windows\\a.exe\n",
       "Put the comment on a line of its own that begins with ;."},
      {"keycode-not-decimal", "warning", "a KeyCode written in hexadecimal",
       "The device reads KeyCode in decimal only and stops at the first character that is no digit: 0xC1 is "
       "read as 0, C1 as 0.",
       "KURVIX\nKeyCode=0xC1\n",
       "KURVIX\nKeyCode=193\n",
       "Write the key code in decimal."},
      {"number-stops", "warning", "a number with other characters in it",
       "The device reads a number up to the first character that is no digit: ElapseTime=1,5 is 1 ms, "
       "KeyCode=65abc is 65.",
       "SETTINGS\nElapseTime=1,5\n",
       "SETTINGS\nElapseTime=1500\n",
       "Write whole numbers: key codes in decimal, times in milliseconds."},
      {"keycode-range", "warning", "a KeyCode no key has",
       "Key codes run from 1 to 254. A binding with another code is never reached.",
       "KURVIX\nKeyCode=300\n",
       "KURVIX\nKeyCode=193\n",
       "Write the code the key shows in the status window."},
      {"disable-off-value", "warning", "a Disable value that counts as off",
       "Only a value that begins with 1 or a lower-case y switches the bindings off. Ja, true, Y and the like "
       "count as off, and the binding does nothing.",
       "KURVIX\nKeyCode=194\nDisable=Ja\n",
       "KURVIX\nKeyCode=194\nDisable=1\n",
       "Write Disable=1."},
      {"trailing-blanks", "note", "a path that ends in blanks",
       "Blanks at the end of a Command or NewIni value are part of it: the device looks for a file whose name "
       "ends in blanks, and finds none.",
       "KURVIX\nKeyCode=193\nCommand=\\Windows\\a.exe   \n",
       "KURVIX\nKeyCode=193\nCommand=\\Windows\\a.exe\n",
       "Delete the blanks at the end of the line."},
      {"drive-letter", "note", "a path with a drive letter",
       "Windows CE has no drive letters: a path that begins with C: is found nowhere.",
       "KURVIX\nKeyCode=193\nCommand=C:\\Windows\\a.exe\n",
       "KURVIX\nKeyCode=193\nCommand=\\Windows\\a.exe\n",
       "Write the path from the root, as \\Windows\\... or \\Storage Card\\...."},
      {"command-arguments", "note", "a program with arguments but without quotes",
       "Without quotes around the program, the whole value is taken as the program's name, arguments and all, "
       "and no such program is found.",
       "KURVIX\nKeyCode=193\nCommand=\\Windows\\pword.exe \\My Documents\\x.psw\n",
       "KURVIX\nKeyCode=193\nCommand=\"\\Windows\\pword.exe\" \\My Documents\\x.psw\n",
       "Put the program's path in double quotes and the arguments after it."},
      {"command-quote", "warning", "a Command whose quote is not closed, or empty",
       "Only a Command that begins with a quote, has its closing quote later and something between the two is "
       "split into a program and its arguments. With the closing quote missing, or nothing between the quotes, "
       "the device opens the whole value, quotes included, as the name of a program, and no such program exists.",
       "KURVIX\nKeyCode=193\nCommand=\"\\Speicher\\Inventur.exe /lager=Halle3\n",
       "KURVIX\nKeyCode=193\nCommand=\"\\Speicher\\Inventur.exe\" /lager=Halle3\n",
       "Put the closing quote right after the program's path, before its arguments."},
      {"relative-newini", "note", "a NewIni path not from the root",
       "Windows CE has no current folder: a NewIni path that does not begin with \\ is looked for in the "
       "device's root folder, not in the folder of the configuration file.",
       "KURVIX\nKeyCode=195\nNewIni=Nacht.ini\n",
       "KURVIX\nKeyCode=195\nNewIni=\\Speicher\\Kurvix\\Nacht.ini\n",
       "Write the file's full path from the root of the device."},
      {"newini-missing", "warning", "a NewIni file that is not found",
       "The file a NewIni names was not found where the device will look for it, so it is not checked. On the "
       "device, a long press of the key loads it; where it is missing, the device says so and then holds no "
       "binding, so every key is switched off until the next start.",
       "KURVIX\nKeyCode=195\nNewIni=\\Speicher\\Kurvix\\Nacht.ini    (no such file)\n",
       "KURVIX\nKeyCode=195\nNewIni=\\Speicher\\Kurvix\\Nacht.ini    (Nacht.ini beside this file)\n",
       "Put the file beside the one you check (kurvix-check finds it there by its name, upper and lower case "
       "ignored) and copy it to that path on the device; or correct the path."},
      {"newini-self", "note", "a NewIni that names the file itself: a key that re-reads it",
       "A long press of the key loads the configuration file anew from the device. That is the one way to make "
       "Kurvix take up a Kurvix.ini that a rollout replaced, without a person restarting it at each device. It "
       "loads nothing else, and it forgets the programs that earlier long presses started: their keys start them "
       "again instead of offering to end them. Where the key was meant to switch to another file, it is a mistake.",
       "KURVIX\nKeyCode=195\nNewIni=\\Speicher\\Kurvix\\Kurvix.ini    (meant: switch to the night file)\n",
       "KURVIX\nKeyCode=195\nNewIni=\\Speicher\\Kurvix\\Nacht.ini\n",
       "Keep it for a key that re-reads an updated Kurvix.ini; for a key that switches files, name the other file."},
      {"newini-without-settings", "note", "a NewIni file without SETTINGS",
       "Loading a file starts from the default settings. When this file sets its own CheckIntervall or "
       "ElapseTime and the file it loads has no SETTINGS block, the keys answer with other times after it.",
       "SETTINGS\nElapseTime=500\n\nKURVIX\nKeyCode=195\nNewIni=\\Speicher\\Nacht.ini   (Nacht.ini: no SETTINGS)\n",
       "SETTINGS\nElapseTime=500\n\nKURVIX\nKeyCode=195\nNewIni=\\Speicher\\Nacht.ini   (Nacht.ini: the same "
       "SETTINGS)\n",
       "Copy the SETTINGS block into the other file too."},
      {"check-interval", "note", "a CheckIntervall of 0 or below",
       "A held key must be looked at every few milliseconds; 0 or a negative number is no interval.",
       "SETTINGS\nCheckIntervall=0\n",
       "SETTINGS\nCheckIntervall=50\n",
       "Write a positive number of milliseconds, as 50 or 100."},
      {"elapse-below-interval", "note", "an ElapseTime below CheckIntervall",
       "The device looks at a held key every CheckIntervall milliseconds. With ElapseTime below it, a key "
       "still held at the first look counts as long, however short the press meant: only a press released "
       "before that first look is handed back to the program in front.",
       "SETTINGS\nCheckIntervall=200\nElapseTime=100\n",
       "SETTINGS\nCheckIntervall=50\nElapseTime=800\n",
       "Make ElapseTime several times CheckIntervall."},
      {"check-interval-large", "warning", "a CheckIntervall of seconds",
       "The device looks at a held key only every CheckIntervall milliseconds, and hands a short press back "
       "only at such a look: with a large interval every key press reaches its program seconds late, and "
       "holding a key for ElapseTime is not enough.",
       "SETTINGS\nCheckIntervall=100000\n",
       "SETTINGS\nCheckIntervall=50\n",
       "Write a CheckIntervall of 20 to 200 milliseconds."},
      {"no-binding", "note", "a file without bindings",
       "A file with no KURVIX block binds no key; the device then opens its status window at every start "
       "instead of waiting in the notification area.",
       "; nothing yet\n",
       "KURVIX\nKeyCode=193\nCommand=\\Windows\\Kalender.exe\n",
       "Add a KURVIX block for each key."},
      {"no-keycode", "warning", "a binding without KeyCode",
       "A binding without a KeyCode has the code 0, which no key sends: it is never reached.",
       "KURVIX\nCommand=\\Windows\\a.exe\n",
       "KURVIX\nKeyCode=193\nCommand=\\Windows\\a.exe\n",
       "Add the KeyCode line."},
      {"same-key", "warning", "two bindings of one key",
       "Only the first binding of a key acts on its long press; the later one is never reached.",
       "KURVIX\nKeyCode=193\nCommand=\\Windows\\a.exe\n\nKURVIX\nKeyCode=193\nCommand=\\Windows\\b.exe\n",
       "KURVIX\nKeyCode=193\nCommand=\\Windows\\a.exe\n\nKURVIX\nKeyCode=194\nCommand=\\Windows\\b.exe\n",
       "Give each binding a key of its own."},
  };
  return kTable;
}

const HintEntry* findHintEntry(const std::string& id) {
  for (const HintEntry& entry : hintTable()) {
    if (id == entry.id) return &entry;
  }
  return nullptr;
}

std::string explanationOf(const HintEntry& entry) {
  auto indented = [](const std::string& lines) {
    std::string out;
    for (size_t start = 0; start < lines.size();) {
      size_t end = lines.find('\n', start);
      out += "    " + lines.substr(start, end - start) + "\n";
      start = end == std::string::npos ? lines.size() : end + 1;
    }
    return out;
  };
  return std::string(entry.id) + " (" + entry.severity + "): " + entry.summary + "\n\n" + entry.explanation +
         "\n\nWrong:\n" + indented(entry.wrong) + "\nRight:\n" + indented(entry.right) + "\nFix: " + entry.fix + "\n";
}
