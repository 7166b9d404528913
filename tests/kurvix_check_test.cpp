// kurvix-check through its real entry point: the program, its output and its exit status.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <tuple>
#include <vector>

#include "check/check_api.h"
#include "check/hint_table.h"

namespace {

struct CheckRun {
  std::string out;
  int status;
};

// Runs kurvix-check with the arguments (shell words); stderr joins stdout with withErrors.
CheckRun runCheck(const std::string& arguments, bool withErrors = false) {
  std::string command = std::string(KURVIX_CHECK) + " " + arguments + (withErrors ? " 2>&1" : " 2>/dev/null");
  FILE* pipe = popen(command.c_str(), "r");
  CheckRun run{"", -1};
  if (pipe == nullptr) return run;
  char buffer[4096];
  size_t got;
  while ((got = fread(buffer, 1, sizeof buffer, pipe)) > 0) run.out.append(buffer, got);
  int status = pclose(pipe);
  run.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  return run;
}

std::string contents(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

bool has(const std::string& text, const std::string& part) { return text.find(part) != std::string::npos; }

class KurvixCheckTest : public ::testing::Test {
 protected:
  void SetUp() override {
    directory = std::filesystem::temp_directory_path() /
                ("kurvix-check-" + std::to_string(::getpid()) + "-" +
                 ::testing::UnitTest::GetInstance()->current_test_info()->name());
    std::filesystem::create_directories(directory);
  }
  void TearDown() override {
    std::filesystem::permissions(directory, std::filesystem::perms::owner_all);
    std::filesystem::remove_all(directory);
  }
  // Writes bytes to a file in the test's directory and returns its path.
  std::string write(const std::string& name, const std::string& bytes) {
    std::filesystem::path path = directory / name;
    std::ofstream(path, std::ios::binary) << bytes;
    return path.string();
  }
  // UTF-16LE with byte-order mark from ASCII text.
  static std::string unicode(const std::string& ascii) {
    std::string bytes = "\xFF\xFE";
    for (char c : ascii) {
      bytes += c;
      bytes += '\0';
    }
    return bytes;
  }
  std::string example() const { return std::string(SOURCE_DIR) + "/examples/Kurvix.ini"; }
  // The example loads \Speicher\Zweite.ini, which does not come with it.
  std::string exampleWarning() const {
    return example() + ":16: warning: binding 3: the NewIni file \"\\Speicher\\Zweite.ini\" is not found (looked for at "
           "/Speicher/Zweite.ini or " + std::string(SOURCE_DIR) + "/examples/Zweite.ini, upper and lower case ignored), so "
           "it is not checked; on the device a long press of key 195 switches every binding off unless the file is at "
           "that path [newini-missing]\n";
  }
  std::filesystem::path directory;
};

// A five-key file as an administrator writes it, with nothing wrong in it.
const char* const kCleanFile =
    "; Lager, Handscanner\r\n"
    "SETTINGS\r\nCheckIntervall=50\r\nElapseTime=800\r\n\r\n"
    "KURVIX Scanner\r\nKeyCode=193\r\nCommand=\"\\Programme\\Scan\\scan.exe\" /auto\r\n\r\n"
    "KURVIX Kalender\r\n; the calendar\r\nKeyCode=194\r\nCommand=\\Windows\\Kalender.exe\r\n\r\n"
    "KURVIX\r\nKeyCode=195\r\nCommand=\\My Documents\\Liste.psw\r\n\r\n"
    "KURVIX aus\r\nKeyCode=196\r\nDisable=1\r\n\r\n"
    "KURVIX\r\nKeyCode=197\r\nNewIni=\\Speicher\\Zweite.ini\r\n";

TEST_F(KurvixCheckTest, CorrectFilesGetNoHintsEvenWhenStrict) {
  std::string clean = write("Kurvix.ini", unicode(kCleanFile));
  write("Zweite.ini", unicode("SETTINGS\r\nCheckIntervall=50\r\nElapseTime=800\r\n\r\nKURVIX\r\nKeyCode=198\r\n"
                              "Command=\\Windows\\x.exe\r\n"));
  std::filesystem::create_directory(directory / "example");
  std::filesystem::copy_file(example(), directory / "example" / "Kurvix.ini");
  std::filesystem::copy_file(directory / "Zweite.ini", directory / "example" / "Zweite.ini");
  for (const std::string& file : {(directory / "example" / "Kurvix.ini").string(),
                                  std::string(SOURCE_DIR) + "/examples/desktop/Kurvix.ini", clean}) {
    CheckRun run = runCheck("--strict " + file);
    EXPECT_EQ(run.status, 0) << run.out;
    EXPECT_TRUE(has(run.out, file + ": loaded, 0 messages, 0 hints\n")) << run.out;
  }
  CheckRun run = runCheck("--strict -q " + clean);
  EXPECT_EQ(run.out, "") << "the NewIni file beside it is checked and clean too";

  // Lines written in other ways that the device reads as meant.
  for (const char* text : {"KURVIX\r\nKeyCode = 193\r\nCommand=\\Program Files\\Scan 2\\x.exe\r\n",
                           "KURVIX\nKeyCode=193  \nCommand=\\Programme\\C#\\x.exe\nDisable=yes\n",
                           "KURVIX\rKeyCode=193\rDisable=0\r\rSETTINGS\rElapseTime\t=\t800\r",
                           "// Kommentar\r\n(Klammer\r\nKURVIX Scanner (links)\r\n'x\r\nKeyCode=193\r\n"
                           "NewIni=/Speicher/Zweite.ini\r\n",
                           "SETTINGS\r\nElapseTime=800 ms\r\nCheckIntervall=50ms\r\n\r\nKURVIX\r\nKeyCode=193\r\n"
                           "Command=\"\\Speicher\\Inventur.exe\" /lager=\"Halle 3\"\r\n"}) {
    run = runCheck("--strict -q " + write("fine.ini", unicode(text)));
    EXPECT_EQ(run.status, 0) << text << "\n" << run.out;
    EXPECT_EQ(run.out, "") << text;
  }
}

// The entry points the web page calls give exactly what the command line prints.
TEST_F(KurvixCheckTest, CheckApiAnswersAsTheCommandLine) {
  std::filesystem::copy_file(example(), directory / "Kurvix.ini");
  write("Zweite.ini", unicode("KURVIX\r\nKeyCode=200\r\nbad\r\n"));
  for (const std::string& text : {contents(example()), unicode("KURVIX\r\nKeycode=0xC1\r\nDisable=Ja\r\n"),
                                  std::string("KURVIX\r\n"), std::string()}) {
    std::string file = write("api.ini", text);
    std::vector<uint8_t> bytes(text.begin(), text.end());
    EXPECT_EQ(checkJson(file, bytes), runCheck("--json " + file).out);
    EXPECT_EQ(pressJson(file, bytes, {{193, 1200}, {194, 300}}), runCheck("--json " + file + " --press 193:1200 --press 194:300").out);
  }
  std::string file = (directory / "Kurvix.ini").string();
  std::string text = contents(file);
  std::vector<uint8_t> bytes(text.begin(), text.end());
  EXPECT_EQ(checkJson(file, bytes), runCheck("--json " + file).out);
  EXPECT_EQ(pressJson(file, bytes, {{195, 1200}}), runCheck("--json " + file + " --press 195:1200").out);
  // Without a file system beside it, NewIni files are simply not found.
  EXPECT_TRUE(has(checkJson("\\nowhere\\Kurvix.ini", bytes), "\"newIniFiles\": []}"));
}

TEST_F(KurvixCheckTest, JsonKeepsItsKeysInTheirOrder) {
  CheckRun run = runCheck("--json " + example());
  EXPECT_EQ(run.status, 0);
  EXPECT_EQ(run.out,
            "{\"result\": 0, \"messages\": [], \"checkInterval\": 50, \"elapseTime\": 800, "
            "\"bindings\": [{\"keyCode\": 193, \"command\": \"\\\\Windows\\\\Kalender.exe\", "
            "\"newIniPath\": null, \"disableAll\": 0}, {\"keyCode\": 194, \"command\": null, "
            "\"newIniPath\": null, \"disableAll\": 1}, {\"keyCode\": 195, \"command\": null, "
            "\"newIniPath\": \"\\\\Speicher\\\\Zweite.ini\", \"disableAll\": 0}], \"hints\": [{\"text\": \"binding 3: "
            "the NewIni file \\\"\\\\Speicher\\\\Zweite.ini\\\" is not found (looked for at /Speicher/Zweite.ini or " +
                std::string(SOURCE_DIR) + "/examples/Zweite.ini, upper and lower case ignored), so it is not checked; on the "
                "device a long press of key 195 switches every binding off unless the file is at that path\", \"line\": 16, "
                "\"id\": \"newini-missing\", \"severity\": \"warning\"}], \"file\": \"" +
                example() + "\", \"newIniFiles\": []}\n");

  std::string file = write("a.ini", unicode("KURVIX\r\nKeycode=65\r\nCommand=\r\n\r\nfoo \"x\"\\\r\n"));
  run = runCheck("--json " + file);
  EXPECT_EQ(run.status, 1);
  EXPECT_TRUE(has(run.out, "\"messages\": [{\"caption\": \"Kurvix - Ignoriere unbekannten Wert:\", \"text\": "
                           "\"Keycode=65\", \"type\": 48, \"line\": 2, \"explanation\": "))
      << run.out;
  EXPECT_TRUE(has(run.out, "{\"caption\": \"Kurvix - Ignoriere unbekannten Typ:\", \"text\": \"foo \\\"x\\\"\\\\\", "
                           "\"type\": 48, \"line\": 5, \"explanation\": "))
      << run.out;
  EXPECT_TRUE(has(run.out, "\"hints\": [{\"text\": \"binding 1 has no KeyCode: no key ever reaches it\", "
                           "\"line\": 1, \"id\": \"no-keycode\", \"severity\": \"warning\"}, {\"text\": \"\\\"Keycode\\\" differs from"))
      << run.out;
}

TEST_F(KurvixCheckTest, TextsKeepTrailingBlanksAndShowLoneSurrogatesEscaped) {
  std::string bytes = unicode("KURVIX\r\nCommand=a  \r\nNewIni=") + std::string("\x00\xD8", 2) + unicode("b").substr(2);
  CheckRun run = runCheck("--json " + write("b.ini", bytes));
  EXPECT_EQ(run.status, 0);
  EXPECT_TRUE(has(run.out, "\"command\": \"a  \", \"newIniPath\": \"\\ud800b\"")) << run.out;
  EXPECT_TRUE(has(runCheck(write("c.ini", bytes)).out, "Command \"a  \""));
  // A value that holds quotes itself is shown as it stands, not in quotes again.
  std::string quoted = write("q.ini", unicode("KURVIX\r\nKeyCode=5\r\nCommand=\"\\Speicher\\Inventur.exe\" /lager=Halle3\r\n"));
  EXPECT_TRUE(has(runCheck(quoted).out, "1. KeyCode 5, Command \"\\Speicher\\Inventur.exe\" /lager=Halle3\n"))
      << runCheck(quoted).out;
}

TEST_F(KurvixCheckTest, ReportSpeaksTheCompilersLanguage) {
  std::string file = write("mine.ini", unicode("KURVIX\r\nKeyCode=65\r\nCommand=\\Windows\\a.exe\r\nkeycode=5\r\n"));
  CheckRun run = runCheck(file);
  EXPECT_EQ(run.status, 1);
  EXPECT_EQ(run.out,
            file + ":4: warning: Kurvix - Ignoriere unbekannten Wert: \"keycode=5\" (ignoring an unknown key: a line "
            "in a KURVIX block that begins with none of KeyCode, Command, NewIni, Disable)\n" +
            file + ":4: note: \"keycode\" differs from \"KeyCode\" only in case; upper and lower case matter "
            "[near-miss]\n" +
            file + ": loaded, 1 message, 1 hint\n"
            "CheckIntervall 100 ms, ElapseTime 1000 ms\n"
            "1 binding\n"
            "  1. KeyCode 65, Command \"\\Windows\\a.exe\"\n");
  EXPECT_EQ(runCheck("-q " + file).out, run.out.substr(0, run.out.find(file + ": loaded")));

  // A file the device does not load: an error about the whole file, with the device's path.
  run = runCheck((directory / "fehlt.ini").string());
  EXPECT_EQ(run.status, 2);
  EXPECT_TRUE(has(run.out, (directory / "fehlt.ini").string() + ": error: Datei nicht gefunden: \"" +
                               (directory / "fehlt.ini").string() + "\" (file not found"))
      << run.out;
  run = runCheck(write("utf8.ini", "KURVIX\r\n"));
  EXPECT_TRUE(has(run.out, ": error: Fehler \"Die Datei ist leer oder nicht im Unicode Format:\\n")) << run.out;
  EXPECT_TRUE(has(run.out, "utf8.ini: note: the file is UTF-8 or plain text; the device reads only UTF-16 "
                           "little-endian that begins with the byte-order mark FF FE; convert it with: kurvix-check "
                           "--to-unicode FILE NEW-FILE [encoding]"))
      << run.out;
}

TEST_F(KurvixCheckTest, LinesAreTheEditorsLines) {
  // Line 2 is 259 units and so read as two lines by the device; the bad line is still line 6.
  std::string file = write("lines.ini", unicode("KURVIX\r\nCommand=" + std::string(251, 'c') +
                                               "\r\n; 3\r\nKURVIX\r\nKeyCode=1\r\nbad\r\n"));
  CheckRun run = runCheck("--json " + file);
  EXPECT_TRUE(has(run.out, "\"text\": \"bad\", \"type\": 48, \"line\": 6,")) << run.out;
  run = runCheck(file);
  EXPECT_TRUE(has(run.out, "lines.ini:2: note: the device reads this line as two")) << run.out;
  // LF, CR and CR LF each end a line.
  file = write("ends.ini", unicode("KURVIX\nKeyCode=1\rCommand=\\a.exe\r\nbad\n"));
  EXPECT_TRUE(has(runCheck(file).out, "ends.ini:4: warning: ")) << runCheck(file).out;
}

// Each hint: a file with the mistake, the line the hint must name, its id.
TEST_F(KurvixCheckTest, EveryHintNamesItsLineAndId) {
  const std::tuple<std::string, int, std::string> kCases[] = {
      {"KURVIX\r\nKeyCode=193\r\nSETTINGS\r\nCheckIntervall=50\r\n", 3, "header-inside-block"},
      {"KURVIX\r\nKeyCode=193\r\n  \r\nKURVIX\r\nKeyCode=194\r\n", 3, "blank-line"},
      {"  \r\nKURVIX\r\nKeyCode=194\r\n", 1, "blank-line"},
      {"KURVIX\r\nKeyCode=193\r\nCommand=\\a.exe\r\nCommand=\\b.exe\r\n", 4, "key-twice"},
      {"KURVIX\r\nKeyCode=193\r\nDisable=Ja\r\n", 3, "disable-off-value"},
      {"KURVIX\r\nKeyCode=193\r\nDisable=true\r\n", 3, "disable-off-value"},
      {"KURVIX\r\nKeyCode=193\r\nDisable=Y\r\n", 3, "disable-off-value"},
      {"KURVIX\r\nKeyCode=193\r\nCommand=\\Windows\\a.exe ; Kalender\r\n", 3, "comment-after-value"},
      {"KURVIX\r\nKeyCode=193 # Scanner\r\n", 2, "comment-after-value"},
      {"KURVIX\r\nKeyCode=193\r\nCommand=\\Windows\\a.exe  \r\n", 3, "trailing-blanks"},
      {"KURVIX\r\nKeyCode=0xC5\r\n", 2, "keycode-not-decimal"},
      {"KURVIX\r\nKeyCode=C5\r\n", 2, "keycode-not-decimal"},
      {"KURVIX\r\nKeyCode=65abc\r\n", 2, "number-stops"},
      {"KURVIX\r\nKeyCode=300\r\n", 2, "keycode-range"},
      {"KURVIX\r\nKeyCode=-1\r\n", 2, "keycode-range"},
      {"[SETTINGS]\r\nCheckIntervall=50\r\n", 1, "bracket-header"},
      {"[KURVIX Scanner]\r\nKeyCode=193\r\n", 1, "bracket-header"},
      {"; Lager\r\n[settings]\r\nElapseTime=800\r\n", 2, "bracket-header"},
      {"KURVIX\r\r\nKeyCode=193\r\r\n", 1, "line-ends"},
      {"; Lager\r\nKURVIX\r\nKeyCode=193\r\r\nCommand=\\a.exe\r\r\n", 3, "line-ends"},
      {"KURVIX\r\nKeyCode=193\nCommand=\\a.exe\r\n", 2, "line-ends"},
      {"KURVIX\nKeyCode=193\n\nKURVIX\rKeyCode=194\n", 4, "line-ends"},
      {"KURVIX\r\nKeyCode=193\r\nCommand=\"\\Speicher\\Inventur.exe /lager=Halle3\r\n", 3, "command-quote"},
      {"KURVIX\r\nKeyCode=193\r\nCommand=\"\" \\a.exe\r\n", 3, "command-quote"},
      {"SETTINGS\r\nElapseTime=0,8s\r\n", 2, "number-stops"},
      {"SETTINGS\r\nElapseTime=1 s\r\n", 2, "number-stops"},
      {"KURVIX\r\nKeyCode=0xC4\r\n", 2, "keycode-not-decimal"},
      {"SETTINGS\r\nCheckInterval=50\r\n", 2, "near-miss"},
      {"SETTINGS\r\nElapsetime=800\r\n", 2, "near-miss"},
      {"KURVIX\r\nKeycode=193\r\n", 2, "near-miss"},
      {"KURVIX\r\nKeyCode=193\r\nElapseTime=800\r\n", 3, "wrong-block"},
      {"KURVIX\r\nKeyCode=193\r\n\r\nCommand=\\a.exe\r\n", 4, "key-outside-block"},
      {"SETTINGS\r\nElapseTime=1,5\r\n", 2, "number-stops"},
      {"SETTINGS\r\nCheckIntervall=0\r\n", 2, "check-interval"},
      {"SETTINGS\r\nCheckIntervall=-50\r\n", 2, "check-interval"},
      {"SETTINGS\r\nCheckIntervall=200\r\nElapseTime=100\r\n", 3, "elapse-below-interval"},
      {"KURVIX\r\nKeyCode=193\r\nCommand= \r\n", 3, "empty-command"},
      {"KURVIX\r\nKeyCode=193\r\nNewIni=\r\n", 3, "empty-newini"},
      {"KURVIX\r\nKeyCode=193\r\nCommand=C:\\Windows\\a.exe\r\n", 3, "drive-letter"},
      {"KURVIX\r\nKeyCode=193\r\nCommand=\\Windows\\pword.exe \\My Documents\\x.psw\r\n", 3, "command-arguments"},
      {"KURVIX\r\nKeyCode=193\r\nNewIni=Zweite.ini\r\n", 3, "relative-newini"},
      {"KURVIX\r\nKeyCode=193\r\nCommand=\\" + std::string(300, 'a') + "\r\n", 3, "long-line"},
      {"KURVIX\r\nKeyCode=193\r\nCommand \\a.exe\r\n", 3, "no-equals"},
      {"KURVIX\r\nCommand=\\a.exe\r\n", 1, "no-keycode"},
      {"KURVIX\r\nKeyCode=5\r\n\r\nKURVIX Zwei\r\n; Taste\r\nKeyCode=5\r\n", 6, "same-key"},
      {"KURVIX\r\nKeyCode=5\r\n\r\nKURVIX\r\nKeyCode=5\r\nCommand=\\a.exe\r\nKeyCode=6\r\n\r\nKURVIX\r\nKeyCode=6\r\n", 10,
       "same-key"},
      {"KURVIX\r\n\tKeyCode=193\r\n", 2, "leading-blanks"},
      {"KURVIX\r\nKeyCode=193\r\n  Command=\\a.exe\r\n", 3, "leading-blanks"},
      {"  KURVIX\r\nKeyCode=193\r\n", 1, "leading-blanks"},
      {" ; Kommentar\r\nKURVIX\r\nKeyCode=193\r\n", 1, "leading-blanks"},
      {"-- Scanner\r\nKURVIX\r\nKeyCode=193\r\n", 1, "not-a-comment"},
      {"KURVIX\r\n* Scanner\r\nKeyCode=193\r\n", 2, "not-a-comment"},
      {"REM Scanner\r\nKURVIX\r\nKeyCode=193\r\n", 1, "not-a-comment"},
      {"SETTINGS\r\nElapseTime=800\r\n\r\nKURVIX\r\nKeyCode=1\r\n\r\nSETTINGS\r\nElapseTime=1500\r\n", 8,
       "settings-twice"},
      {"SETTINGS\r\nCheckIntervall=100000\r\n", 2, "check-interval-large"},
      {"KURVIX\r\nKeyCode=193\r\nNewIni=\\Speicher\\Fehlt.ini\r\n", 3, "newini-missing"},
      // Two bindings that name one missing file: each warning at its own binding's line.
      {"KURVIX\r\nKeyCode=195\r\nNewIni=\\x\\Fehlt.ini\r\n\r\nKURVIX\r\nKeyCode=196\r\nNewIni=\\x\\Fehlt.ini\r\n", 3,
       "newini-missing"},
      {"KURVIX\r\nKeyCode=195\r\nNewIni=\\x\\Fehlt.ini\r\n\r\nKURVIX\r\nNewIni=\\x\\Fehlt.ini\r\nKeyCode=196\r\n", 6,
       "newini-missing"},
  };
  for (const auto& [text, line, id] : kCases) {
    std::string file = write("hint.ini", unicode(text));
    CheckRun run = runCheck("--strict " + file);
    // Each hint is explained, and graded in the report as its explanation grades it.
    CheckRun explained = runCheck("--explain " + id);
    EXPECT_EQ(explained.status, 0) << id;
    std::string severity = has(explained.out, id + " (warning): ") ? "warning" : "note";
    EXPECT_TRUE(has(explained.out, id + " (" + severity + "): ")) << explained.out;
    std::string prefix = file + ":" + std::to_string(line) + ": " + severity + ": ";
    size_t at = run.out.find(prefix);
    ASSERT_NE(at, std::string::npos) << id << "\n" << run.out;
    EXPECT_EQ(run.out.substr(at, run.out.find('\n', at) - at).substr(run.out.find('\n', at) - at - id.size() - 2),
              "[" + id + "]")
        << id << "\n" << run.out;
  }
  // A key the device leaves dead without a box is a warning, not a note.
  for (const char* id : {"keycode-not-decimal", "number-stops", "keycode-range", "disable-off-value", "no-keycode",
                         "same-key", "command-quote", "newini-missing", "check-interval-large"}) {
    EXPECT_EQ(findHintEntry(id) ? std::string(findHintEntry(id)->severity) : "", "warning") << id;
  }
  // What a header inside a block does to the binding before it is named.
  CheckRun run = runCheck(write("h.ini", unicode("KURVIX\r\nKeyCode=193\r\nCommand=\\a.exe\r\nKURVIX\r\n"
                                                 "KeyCode=194\r\nCommand=\\b.exe\r\n")));
  EXPECT_TRUE(has(run.out, ":4: note: KURVIX stands inside the KURVIX block of line 1 because the empty line before "
                           "it is missing: the device does not begin a new block here, and the lines after it "
                           "overwrite KeyCode (line 2), Command (line 3) of that binding [header-inside-block]"))
      << run.out;
  run = runCheck(write("k.ini", unicode("KURVIX\r\nKeyCode=0xC5\r\n")));
  EXPECT_TRUE(has(run.out, "write 197")) << run.out;
  EXPECT_FALSE(has(run.out, "no-keycode")) << "the binding has a KeyCode line, only a wrong one";
  EXPECT_TRUE(has(runCheck(write("n.ini", unicode("SETTINGS\r\nElapseTime=1,5\r\n"))).out,
                  "ElapseTime=1,5 is read as 1: the number stops at \",\""));
  EXPECT_TRUE(has(runCheck(write("c.ini", unicode("KURVIX\r\nKeyCode=1\r\nCommand=\\Windows\\pword.exe "
                                                  "\\My Documents\\x.psw\r\n"))).out,
                  "write Command=\"\\Windows\\pword.exe\" \\My Documents\\x.psw [command-arguments]"));

  // The device's texts and the hints show a tab as \t; indented lines are not taken for misspelt keys.
  run = runCheck(write("t.ini", unicode("KURVIX\r\n\tKeyCode=193\r\n")));
  EXPECT_TRUE(has(run.out, ":2: warning: Kurvix - Ignoriere unbekannten Wert: \"\\tKeyCode=193\"")) << run.out;
  EXPECT_TRUE(has(run.out, "the device does not skip leading blanks: it reads \"\\tKeyCode=193\"")) << run.out;
  EXPECT_FALSE(has(run.out, "near-miss")) << run.out;
  EXPECT_TRUE(has(runCheck("--json " + write("t.ini", unicode("KURVIX\r\n\tKeyCode=193\r\n"))).out,
                  "reads \\\"\\\\tKeyCode=193\\\" as"))
      << "the JSON text shows the tab as the report does";
  run = runCheck(write("v.ini", unicode("KURVIX\r\nKeyCode=193\r\nCommand=\\a.exe\t;x\r\nDisable=J\ta\r\n")));
  EXPECT_TRUE(has(run.out, "Disable=J\\ta counts as off") && has(run.out, "Command \"\\a.exe\\t;x\"")) << run.out;
  EXPECT_TRUE(has(runCheck(write("r.ini", unicode("REM Scanner\r\n"))).out, "a comment line begins with # / ; ' or ("));
  // A short press is handed back only when released before the first look at the key.
  EXPECT_TRUE(has(runCheck(write("e.ini", unicode("SETTINGS\r\nCheckIntervall=200\r\nElapseTime=100\r\n"))).out,
                  "the device first looks at a held key 200 ms after it went down, and a key still held then counts "
                  "as long; only a press released before that is handed back"));
  EXPECT_TRUE(has(runCheck(write("l.ini", unicode("SETTINGS\r\nCheckIntervall=100000\r\n"))).out,
                  "a short press is handed back up to 100 s late"));

  // Whole-file hints and hints about the files a NewIni names.
  run = runCheck("--strict " + write("none.ini", unicode("; nothing yet\r\n")));
  EXPECT_TRUE(has(run.out, "none.ini: note: the file holds no binding")) << run.out;
  EXPECT_TRUE(has(run.out, "[no-binding]"));
  write("self.ini", unicode("SETTINGS\r\nElapseTime=500\r\n\r\nKURVIX\r\nKeyCode=5\r\nNewIni=\\x\\self.ini\r\n\r\n"
                            "KURVIX\r\nKeyCode=6\r\nNewIni=\\x\\plain.ini\r\n"));
  write("plain.ini", unicode("KURVIX\r\nKeyCode=7\r\n"));
  run = runCheck((directory / "self.ini").string());
  EXPECT_TRUE(has(run.out, "self.ini:6: note: binding 1: NewIni names this file itself")) << run.out;
  EXPECT_TRUE(has(run.out, "self.ini:10: note: " + (directory / "plain.ini").string() + " has no SETTINGS block"))
      << run.out;
  EXPECT_TRUE(has(run.out, "[newini-without-settings]"));
  EXPECT_EQ(run.status, 0) << "hints alone count only with --strict";
}

TEST_F(KurvixCheckTest, NewIniFilesAreCheckedUnderTheirOwnNames) {
  std::filesystem::copy_file(example(), directory / "Kurvix.ini");
  std::string second = write("Zweite.ini", unicode("KURVIX\r\nKeyCode=200\r\nbad\r\n"));
  CheckRun run = runCheck((directory / "Kurvix.ini").string());
  EXPECT_EQ(run.status, 1) << "the device would show the second file's message on the long press";
  EXPECT_TRUE(has(run.out, second + ":3: warning: Kurvix - Ignoriere unbekannten Wert: \"bad\"")) << run.out;
  EXPECT_TRUE(has(run.out, second + ": loaded, 1 message, 0 hints\n")) << run.out;
  run = runCheck("--json " + (directory / "Kurvix.ini").string());
  EXPECT_TRUE(has(run.out, "\"newIniFiles\": [{\"result\": 0, \"messages\": [{\"caption\": \"Kurvix - Ignoriere "
                           "unbekannten Wert:\", \"text\": \"bad\""))
      << run.out;
  EXPECT_TRUE(has(run.out, "\"file\": \"" + second + "\"}]}\n")) << run.out;
}

// A NewIni path is a path on the device: found on the host at that path or, from the root, by
// its name beside FILE, upper and lower case ignored; a path not from the root is one in the
// device's root folder. The check and the dry run find the same file, or both miss it.
TEST_F(KurvixCheckTest, NewIniChainsAreFollowedAsTheDeviceFollowsThem) {
  std::filesystem::create_directories(directory / "Sub");
  std::string deviceDirectory = directory.string();
  for (char& c : deviceDirectory) c = c == '/' ? '\\' : c;
  const std::tuple<std::string, std::string, bool> kCases[] = {
      // NewIni value, the host file holding the other configuration, found
      {"\\Speicher\\Kurvix\\NACHT.INI", "nacht.ini", true},
      {"/Speicher/Zweite.ini", "Zweite.ini", true},
      {"\\x\\\xDC" "BERSICHT.INI", "\xC3\xBC" "bersicht.ini", true},
      {deviceDirectory + "\\SUB\\nacht.INI", "Sub/Nacht.ini", true},
      {"Nacht.ini", "Nacht.ini", false},
      {"\\Speicher\\Fehlt.ini", "Nacht.ini", false},
  };
  for (const auto& [newIni, hostName, found] : kCases) {
    std::string other = write(hostName, unicode("SETTINGS\r\nElapseTime=800\r\n\r\nKURVIX\r\nKeyCode=196\r\n"
                                                "Command=\\Windows\\b.exe\r\n"));
    std::string file = write("Kurvix.ini", unicode("SETTINGS\r\nElapseTime=800\r\n\r\nKURVIX\r\nKeyCode=195\r\nNewIni=" +
                                                   newIni + "\r\n"));
    CheckRun run = runCheck("--strict " + file);
    EXPECT_EQ(run.status, found ? 0 : 1) << newIni << "\n" << run.out;
    EXPECT_EQ(has(run.out, other + ": loaded, 0 messages, 0 hints"), found) << newIni << "\n" << run.out;
    EXPECT_EQ(has(run.out, "Kurvix.ini:6: warning: binding 1: the NewIni file"), !found) << newIni << "\n" << run.out;
    EXPECT_EQ(has(run.out, "[relative-newini]"), newIni[0] != '\\' && newIni[0] != '/') << newIni;
    CheckRun json = runCheck("--json " + file);
    EXPECT_EQ(has(json.out, "\"id\": \"newini-missing\", \"severity\": \"warning\"}"), !found) << json.out;
    run = runCheck(file + " --press 195:1200 --press 196:1200");
    EXPECT_EQ(has(run.out, "press 1, key 195 held 1200 ms: loaded "), found) << newIni << "\n" << run.out;
    EXPECT_EQ(has(run.out, "press 2, key 196 held 1200 ms: started \"\\Windows\\b.exe\""), found) << run.out;
    EXPECT_EQ(has(run.out, "press 1, key 195 held 1200 ms: could not load "), !found) << newIni << "\n" << run.out;
    std::filesystem::remove(other);
  }

  // Files that load each other, under names that differ in case and separators: each is
  // checked and reported once, and FILE is not checked again.
  std::string first = write("Kurvix.ini", unicode("KURVIX\r\nKeyCode=195\r\nNewIni=\\Speicher\\Zweite.ini\r\n\r\n"
                                                  "KURVIX\r\nKeyCode=196\r\nNewIni=/speicher/ZWEITE.INI\r\n"));
  std::string second = write("Zweite.ini", unicode("KURVIX\r\nKeyCode=195\r\nNewIni=\\Speicher\\Kurvix.ini\r\n\r\n"
                                                   "KURVIX\r\nKeyCode=196\r\nNewIni=\\Speicher\\zweite.ini\r\nbad\r\n"));
  CheckRun run = runCheck(first);
  auto count = [](const std::string& text, const std::string& part) {
    size_t n = 0;
    for (size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1)) ++n;
    return n;
  };
  EXPECT_EQ(count(run.out, first + ": loaded"), 1u) << run.out;
  EXPECT_EQ(count(run.out, second + ": loaded"), 1u) << run.out;
  run = runCheck("--json " + first);
  EXPECT_EQ(count(run.out, "\"file\": "), 2u) << run.out;
  run = runCheck(first + " --press 195:1200 --press 195:1200");
  EXPECT_TRUE(has(run.out, "press 2, key 195 held 1200 ms: loaded \\Speicher\\Kurvix.ini: 2 bindings")) << run.out;
  // Loaded under another spelling of its name, the file's messages still name their line.
  run = runCheck(first + " --press 196:1200");
  EXPECT_TRUE(has(run.out, "press 1, key 196 held 1200 ms: loaded /speicher/ZWEITE.INI: 2 bindings")) << run.out;
  EXPECT_TRUE(has(run.out, "Ignoriere unbekannten Wert: \"bad\" (line 8)")) << run.out;
}

TEST_F(KurvixCheckTest, ToUnicodeConvertsEveryCharacterOrNothing) {
  std::string out = (directory / "Kurvix.ini").string();
  // UTF-8 with its byte-order mark and mixed line ends.
  std::string in = write("desktop.txt", "\xEF\xBB\xBFKURVIX Stra\xC3\x9F" "e\nKeyCode=65\r\nCommand=\\a.exe\r");
  CheckRun run = runCheck("--to-unicode " + in + " " + out);
  EXPECT_EQ(run.status, 0) << run.out;
  EXPECT_EQ(contents(out), unicode("KURVIX Stra") + std::string("\xDF\x00", 2) +
                               unicode("e\r\nKeyCode=65\r\nCommand=\\a.exe\r\n").substr(2));
  EXPECT_TRUE(has(run.out, "1. KeyCode 65, Command \"\\a.exe\"")) << run.out;

  // Windows-1252 is refused with its place and byte, and OUT keeps what it held.
  std::string ansi = write("ansi.txt", "KURVIX\r\nKeyCode=65\r\nCommand=\\B\xFCro\\a.exe\r\n");
  run = runCheck("--to-unicode " + ansi + " " + out, true);
  EXPECT_EQ(run.status, 2);
  EXPECT_TRUE(has(run.out, ansi + ":3:11: error: byte 0xFC (offset 30) is not UTF-8")) << run.out;
  EXPECT_TRUE(has(run.out, "--from=NAME")) << run.out;
  EXPECT_TRUE(has(runCheck(ansi).out, "--to-unicode --from=CP1252 FILE NEW-FILE")) << "the check's hint says so first";
  EXPECT_EQ(contents(out).substr(0, 14), unicode("KURVIX"));

  // UTF-16LE without byte-order mark, as desktop editors save "Unicode".
  std::string bare = write("bare.txt", unicode("KURVIX\r\nKeyCode=66\r\n").substr(2));
  EXPECT_TRUE(has(runCheck(bare).out, "--to-unicode"));
  EXPECT_EQ(runCheck("--to-unicode " + bare + " " + out).status, 0);
  EXPECT_EQ(contents(out), unicode("KURVIX\r\nKeyCode=66\r\n"));
  // UTF-16 big-endian without byte-order mark is not UTF-8 with zero bytes: refused.
  std::string big = write("big.txt", std::string("\0K\0U\0R\0V\0I\0X\0\r\0\n", 16));
  run = runCheck("--to-unicode " + big + " " + out, true);
  EXPECT_EQ(run.status, 2);
  EXPECT_TRUE(has(run.out, big + ":1:1: error: a zero byte is no text")) << run.out;
  EXPECT_TRUE(has(runCheck(big).out, "--from=UTF-16BE")) << runCheck(big).out;
  // Half a surrogate pair is not a character.
  std::string lone = write("lone.txt", unicode("KURVIX\r\nCommand=") + std::string("\x00\xD8", 2) + unicode("\r\n").substr(2));
  run = runCheck("--to-unicode " + lone + " " + out, true);
  EXPECT_EQ(run.status, 2);
  EXPECT_TRUE(has(run.out, lone + ":2:9: error: bytes 0x00 0xD8 (offset 34)")) << run.out;
  EXPECT_EQ(contents(out), unicode("KURVIX\r\nKeyCode=66\r\n"));
}

TEST_F(KurvixCheckTest, ToUnicodeConvertsFromANamedEncoding) {
#if defined(KURVIX_CHECK_CROSS_BUILT)
  GTEST_SKIP() << "the cross toolchain's C library comes without iconv's conversion modules";
#else
  std::string out = (directory / "Kurvix.ini").string();
  std::string ansi = write("ansi.txt", "KURVIX\r\nKeyCode=65\r\nCommand=\\B\xFCro\\a.exe\r\n");
  CheckRun run = runCheck("--to-unicode --from=CP1252 " + ansi + " " + out);
  EXPECT_EQ(run.status, 0) << run.out;
  EXPECT_TRUE(has(contents(out), unicode("Command=\\B").substr(2) + std::string("\xFC\x00", 2) + unicode("ro").substr(2)));
  EXPECT_EQ(runCheck("--to-unicode --from CP850 " + write("dos.txt", "KURVIX\r\nCommand=\\B\x81ro\r\n") + " " + out).status, 0);
  EXPECT_TRUE(has(contents(out), std::string("\xFC\x00", 2)));
  EXPECT_EQ(runCheck("--to-unicode --from=NO-SUCH-CODE " + ansi + " " + out).status, 64);
  std::string big = write("big.txt", std::string("\0K\0U\0R\0V\0I\0X\0\r\0\n", 16));
  EXPECT_EQ(runCheck("--to-unicode --from=UTF-16BE " + big + " " + out).status, 0);
  EXPECT_EQ(contents(out), unicode("KURVIX\r\n"));
#endif
}

TEST_F(KurvixCheckTest, FailedReadsAndWritesExitWithTwoAndTouchNothing) {
  std::string out = write("out.ini", "kept");
  std::filesystem::create_directory(directory / "folder");
  CheckRun run = runCheck("--to-unicode " + (directory / "folder").string() + " " + out, true);
  EXPECT_EQ(run.status, 2);
  EXPECT_TRUE(has(run.out, "folder: cannot read: Is a directory")) << run.out;
  EXPECT_EQ(contents(out), "kept");
  EXPECT_EQ(runCheck("--to-unicode " + (directory / "fehlt.txt").string() + " " + out).status, 2);
  EXPECT_EQ(contents(out), "kept");
  run = runCheck((directory / "folder").string(), true);
  EXPECT_EQ(run.status, 2);
  EXPECT_FALSE(has(run.out, "Unicode Format")) << "an unreadable file is not an empty one";
  // OUT in a folder that cannot be written: nothing is left behind.
  std::string in = write("in.txt", "KURVIX\r\n");
  std::filesystem::permissions(directory / "folder", std::filesystem::perms::owner_read | std::filesystem::perms::owner_exec);
  if (::geteuid() != 0) {
    run = runCheck("--to-unicode " + in + " " + (directory / "folder" / "Kurvix.ini").string(), true);
    EXPECT_EQ(run.status, 2);
    EXPECT_TRUE(has(run.out, "cannot write")) << run.out;
  }
  EXPECT_TRUE(std::filesystem::is_empty(directory / "folder"));
  EXPECT_EQ(runCheck("--to-unicode " + in + " " + in).status, 64);  // never overwrites its input
  EXPECT_EQ(contents(in), "KURVIX\r\n");
}

TEST_F(KurvixCheckTest, CommandLineFollowsTheConventions) {
  CheckRun help = runCheck("--help", true);
  EXPECT_EQ(help.status, 0);
  for (const char* option : {"--json", "--strict", "-q, --quiet", "--press KEY:MS", "--to-unicode IN OUT", "--from NAME",
                             "--help", "--version", "--  ", "Exit status:"}) {
    EXPECT_TRUE(has(help.out, option)) << option;
  }
  EXPECT_EQ(runCheck("--version").out, "kurvix-check (Kurvix) " PROJECT_VERSION "\n");
  // Every hint is listed in the help (and so in the manual page made from it) and explained,
  // with a wrong and a right example.
  for (const HintEntry& entry : hintTable()) {
    std::string id = entry.id;
    EXPECT_TRUE(has(help.out, "\n  " + id + " ")) << id;
    CheckRun explained = runCheck("--explain=" + id);
    EXPECT_EQ(explained.status, 0) << id;
    EXPECT_EQ(explained.out.rfind(id + " (" + entry.severity + "): " + entry.summary + "\n\n", 0), 0u) << explained.out;
    EXPECT_TRUE(has(explained.out, "\nWrong:\n    ") && has(explained.out, "\nRight:\n    ") &&
                has(explained.out, "\nFix: "))
        << explained.out;
  }

  for (const auto& [arguments, error] : std::initializer_list<std::pair<std::string, std::string>>{
           {"a.ini --press 0xC1:1200", "--press: 0xC1:1200: KEY must be decimal"},
           {"a.ini --press=193", "--press: 193: write KEY:MS, as 193:1200"},
           {"a.ini --press 193:1,5", "--press: 193:1,5: MS must be decimal, at most 999999999"},
           {"--strange a.ini", "unknown option --strange"},
           {"--json=yes a.ini", "--json takes no value"},
           {"", "no FILE given"},
           {"--to-unicode a.txt", "--to-unicode needs IN and OUT"},
           {"--from=CP1252 a.ini", "--from goes with --to-unicode only"},
           {"--explain no-such-hint", "--explain: no hint has the id \"no-such-hint\"; kurvix-check --help lists them"},
           {"--explain", "--explain needs a value"},
       }) {
    CheckRun run = runCheck(arguments, true);
    EXPECT_EQ(run.status, 64) << arguments;
    EXPECT_TRUE(has(run.out, "kurvix-check: " + error + "\n")) << arguments << "\n" << run.out;
  }

  // Several files: each is reported, and the worst exit status wins; -- ends the options.
  std::string clean = write("-clean.ini", unicode("KURVIX\r\nKeyCode=5\r\n"));
  std::string bad = write("bad.ini", unicode("KURVIX\r\nbad\r\n"));
  EXPECT_EQ(runCheck("-- " + clean).status, 0);
  CheckRun run = runCheck(clean + " " + bad);
  EXPECT_EQ(run.status, 1);
  EXPECT_TRUE(has(run.out, "-clean.ini: loaded") && has(run.out, "bad.ini: loaded")) << run.out;
  EXPECT_EQ(runCheck(clean + " " + (directory / "fehlt.ini").string() + " " + bad).status, 2);
}

// The exit status by the worst grade of a file's findings, without and with --strict, as
// docs/kurvix-check.md tabulates it.
TEST_F(KurvixCheckTest, ExitStatusFollowsTheWorstGrade) {
  const std::tuple<std::string, std::string, int, int> kCases[] = {
      // file, the worst finding, status without --strict, with it
      {unicode("KURVIX\r\nKeyCode=193\r\nCommand=\\a.exe\r\n"), "", 0, 0},
      {unicode("KURVIX\r\nKeyCode=193\r\nCommand=\\a.exe  \r\n"), ": note: ", 0, 0},
      {unicode("KURVIX\r\nKeyCode=193\r\nDisable=Ja\r\n"), ": warning: Disable=Ja", 0, 1},
      {unicode("KURVIX\r\nKeyCode=193\r\nkeycode=5\r\n"), ": warning: Kurvix - Ignoriere", 1, 1},
      {"KURVIX\r\nKeyCode=193\r\n", ": error: ", 2, 2},
  };
  for (const auto& [text, finding, plain, strict] : kCases) {
    std::string file = write("grade.ini", text);
    CheckRun run = runCheck("-q " + file);
    EXPECT_EQ(run.out.empty(), finding.empty()) << run.out;
    EXPECT_TRUE(has(run.out, finding)) << finding << "\n" << run.out;
    EXPECT_EQ(run.status, plain) << run.out;
    EXPECT_EQ(runCheck("-q --strict " + file).status, strict) << run.out;
  }
}

TEST_F(KurvixCheckTest, DryRunSaysWhatTheDeviceDidWithEachPress) {
  CheckRun run = runCheck(example() + " --press 193:1200 --press=193:300 --press 193:1200 --press 194:1200 "
                          "--press 193:1200 --press 77:50");
  EXPECT_EQ(run.status, 0);
  EXPECT_EQ(run.out,
            exampleWarning() +
            "press 1, key 193 held 1200 ms: started \"\\Windows\\Kalender.exe\"\n"
            "press 2, key 193 held 300 ms: passed the key through to the program in front\n"
            "press 3, key 193 held 1200 ms: asked whether to end the program it started last (answered No)\n"
            "press 4, key 194 held 1200 ms: switched the bindings off\n"
            "press 5, key 193 held 1200 ms: did not catch the key (no binding has it, or the bindings are "
            "off): it went to the program in front\n"
            "press 6, key 77 held 50 ms: did not catch the key (no binding has it, or the bindings are off): "
            "it went to the program in front\n");

  // NewIni: the named file is found beside FILE; its messages come with the press and count.
  std::filesystem::copy_file(example(), directory / "Kurvix.ini");
  write("Zweite.ini", unicode("KURVIX\r\nKeyCode=200\r\nbad\r\n"));
  run = runCheck("--json " + (directory / "Kurvix.ini").string() + " --press 195:1100 --press 200:1100");
  EXPECT_EQ(run.status, 1);
  EXPECT_EQ(run.out,
            "[{\"press\": 1, \"key\": 195, \"ms\": 1100, \"event\": \"loaded\", \"file\": "
            "\"\\\\Speicher\\\\Zweite.ini\", \"bindings\": 1, \"sentence\": \"loaded \\\\Speicher\\\\Zweite.ini: "
            "1 binding\", \"atMs\": 800}, {\"press\": 1, \"key\": 195, \"ms\": 1100, "
            "\"event\": \"message\", \"caption\": \"Kurvix - Ignoriere unbekannten Wert:\", \"text\": \"bad\", "
            "\"type\": 48, \"line\": 3, \"sentence\": \"message Kurvix - Ignoriere unbekannten Wert: \\\"bad\\\" "
            "(line 3): ignoring an unknown key: a line in a KURVIX block that begins with none of KeyCode, Command, "
            "NewIni, Disable\", \"atMs\": 800}, {\"press\": 2, \"key\": 200, \"ms\": 1100, \"event\": \"nothing\", "
            "\"sentence\": \"did nothing: the binding of line 1 has no action: it has no Command, NewIni or Disable=1\"}]\n");

  // A NewIni that cannot be loaded: the cause comes first, the switch-off follows from it.
  run = runCheck(example() + " --press 195:1200");
  EXPECT_EQ(run.status, 1);
  EXPECT_EQ(run.out,
            exampleWarning() +
            "press 1, key 195 held 1200 ms: could not load \\Speicher\\Zweite.ini\n"
            "press 1, key 195 held 1200 ms: message Datei nicht gefunden: \"\\Speicher\\Zweite.ini\": file not "
            "found: the device cannot open this file, and loads nothing\n"
            "press 1, key 195 held 1200 ms: so nothing is bound any more, and the bindings are off\n");

  // The device's messages name the author's file, not the copy the device loads.
  std::string mine = write("mine.ini", "KURVIX\r\n");
  run = runCheck(mine + " --press 193:1200");
  EXPECT_EQ(run.status, 2);
  EXPECT_TRUE(has(run.out, "Unicode Format:\\n" + mine + "\"")) << run.out;
}

// A block with Disable and NewIni switches off, then loads: the dry run tells its events in the
// order the device did them, and the switch-off of a failed load apart from the block's own.
TEST_F(KurvixCheckTest, DryRunTellsTheEventsOfOnePressInTheDevicesOrder) {
  write("Zweite.ini", unicode("KURVIX\r\nKeyCode=200\r\n"));
  const std::pair<std::string, std::string> kCases[] = {
      {"Zweite.ini",
       "press 1, key 195 held 1200 ms: switched the bindings off\n"
       "press 1, key 195 held 1200 ms: loaded \\Speicher\\Zweite.ini: 1 binding\n"},
      {"Fehlt.ini",
       "press 1, key 195 held 1200 ms: switched the bindings off\n"
       "press 1, key 195 held 1200 ms: could not load \\Speicher\\Fehlt.ini\n"
       "press 1, key 195 held 1200 ms: message Datei nicht gefunden: \"\\Speicher\\Fehlt.ini\": file not "
       "found: the device cannot open this file, and loads nothing\n"
       "press 1, key 195 held 1200 ms: so nothing is bound any more, and the bindings are off\n"},
  };
  for (const auto& [other, told] : kCases) {
    std::string file = write("Kurvix.ini", unicode("KURVIX\r\nKeyCode=195\r\nDisable=1\r\nNewIni=\\Speicher\\" + other + "\r\n"));
    std::string out = runCheck(file + " --press 195:1200").out;
    // A hint about the missing file may come first.
    EXPECT_EQ(out.substr(out.size() - std::min(out.size(), told.size())), told) << other;
  }
}

// Each event of the JSON dry run carries the sentence the command line prints for it, the
// moment in the hold it happened, and for a start the program's arguments apart from it.
TEST_F(KurvixCheckTest, DryRunEventsSayWhatWhenAndWithWhichArguments) {
  std::string file = write("Kurvix.ini", unicode(
      "SETTINGS\r\nCheckIntervall=50\r\nElapseTime=800\r\n\r\n"
      "KURVIX\r\nKeyCode=193\r\nCommand=\"\\Speicher\\Inventur.exe\" /lager=Halle3\r\n\r\n"
      "KURVIX\r\nKeyCode=194\r\nDisable=1\r\n"));
  const std::tuple<std::string, std::string, std::string> kCases[] = {
      {"193:1200", "press 1, key 193 held 1200 ms: started \"\\Speicher\\Inventur.exe\" with arguments \"/lager=Halle3\"\n",
       "{\"press\": 1, \"key\": 193, \"ms\": 1200, \"event\": \"started\", \"file\": \"\\\\Speicher\\\\Inventur.exe\", "
       "\"sentence\": \"started \\\"\\\\Speicher\\\\Inventur.exe\\\" with arguments \\\"/lager=Halle3\\\"\", \"atMs\": 800, "
       "\"arguments\": \"/lager=Halle3\"}"},
      // A short press is handed back when the key comes up.
      {"193:300", "press 1, key 193 held 300 ms: passed the key through to the program in front\n",
       "{\"press\": 1, \"key\": 193, \"ms\": 300, \"event\": \"passed-through\", \"sentence\": \"passed the key "
       "through to the program in front\", \"atMs\": 300}"},
      {"194:2000", "press 1, key 194 held 2000 ms: switched the bindings off\n",
       "{\"press\": 1, \"key\": 194, \"ms\": 2000, \"event\": \"switched-off\", \"sentence\": \"switched the "
       "bindings off\", \"atMs\": 800}"},
      {"77:50", "press 1, key 77 held 50 ms: did not catch the key (no binding has it, or the bindings are off): it "
       "went to the program in front\n",
       "{\"press\": 1, \"key\": 77, \"ms\": 50, \"event\": \"not-caught\", \"sentence\": \"did not catch the key "
       "(no binding has it, or the bindings are off): it went to the program in front\"}"},
  };
  for (const auto& [press, text, json] : kCases) {
    EXPECT_EQ(runCheck(file + " --press " + press).out, text) << press;
    EXPECT_EQ(runCheck("--json " + file + " --press " + press).out, "[" + json + "]\n") << press;
  }
  // A Command without arguments has null ones.
  CheckRun run = runCheck("--json " + example() + " --press 193:1200");
  EXPECT_TRUE(has(run.out, "\"atMs\": 800, \"arguments\": null}]")) << run.out;
}

// A long press that did nothing names the binding's line and what keeps it from acting; the
// hints come first, as without --press.
TEST_F(KurvixCheckTest, DryRunSaysWhyALongPressDidNothing) {
  const std::string kHead = "; Lager\r\nSETTINGS\r\nCheckIntervall=50\r\nElapseTime=800\r\n\r\n"
                            "KURVIX Inventur\r\nKeyCode=193\r\nCommand=\"\\Speicher\\Inventur.exe\" /lager=Halle3\r\n\r\n"
                            "; Tasten aus\r\n; nur lange\r\n\r\n";
  const std::tuple<std::string, std::string, std::string> kCases[] = {
      // the binding from line 13, its hint, why it did nothing
      {"KURVIX aus\r\nKeyCode=194\r\nDisable=ja\r\n", "Kurvix.ini:15: warning: Disable=ja counts as off",
       "the binding of line 13 has no action: `Disable=ja` on line 15 is not on"},
      {"KURVIX\r\nKeyCode=194\r\nCommand=\r\n", "Kurvix.ini:15: note: Command has no value",
       "the binding of line 13 has no action: its Command on line 15 is empty"},
      {"KURVIX\r\n; leer\r\nKeyCode=194\r\nNewIni=  \r\n", "Kurvix.ini:16: note: NewIni has no value",
       "the binding of line 13 has no action: its NewIni on line 16 is empty"},
      {"KURVIX\r\nKeyCode=194\r\n", "", "the binding of line 13 has no action: it has no Command, NewIni or Disable=1"},
  };
  for (const auto& [binding, hint, why] : kCases) {
    std::string file = write("Kurvix.ini", unicode(kHead + binding));
    CheckRun run = runCheck(file + " --press 194:1200 --press 194:300");
    EXPECT_TRUE(run.out.rfind(hint.empty() ? "press 1" : directory.string() + "/" + hint, 0) == 0) << run.out;
    EXPECT_TRUE(has(run.out, "press 1, key 194 held 1200 ms: did nothing: " + why + "\n")) << run.out;
    EXPECT_TRUE(has(run.out, "press 2, key 194 held 300 ms: passed the key through")) << run.out;
    run = runCheck("--json " + file + " --press 194:1200");
    std::string last = "{\"press\": 1, \"key\": 194, \"ms\": 1200, \"event\": \"nothing\", \"sentence\": \"did nothing: " +
                       why + "\"}]\n";
    EXPECT_EQ(run.out.substr(run.out.size() - std::min(run.out.size(), last.size())), last) << run.out;
  }
}

TEST_F(KurvixCheckTest, DryRunOfALongHoldLoadsOnceAlthoughTheNewFileBindsTheSameKey) {
  // Two files that load each other with the same key: a key held for ten seconds, repeating
  // all the while, loads the other file once.
  std::string first = write("Kurvix.ini", unicode("KURVIX\r\nKeyCode=195\r\nNewIni=\\Speicher\\Zweite.ini\r\n"));
  write("Zweite.ini", unicode("KURVIX\r\nKeyCode=195\r\nNewIni=\\Speicher\\Kurvix.ini\r\n\r\nKURVIX\r\nKeyCode=196\r\n"));
  CheckRun run = runCheck(first + " --press 195:10000 --press 195:1500");
  EXPECT_EQ(run.status, 0);
  EXPECT_EQ(run.out,
            "press 1, key 195 held 10000 ms: loaded \\Speicher\\Zweite.ini: 2 bindings\n"
            "press 2, key 195 held 1500 ms: loaded \\Speicher\\Kurvix.ini: 1 binding\n");
}

// A long hold runs in the memory of a short one: the simulated device's records of every poll
// are swept while the key is down. Without the sweeps this hold needs 1.7 GB.
TEST_F(KurvixCheckTest, LongHoldsRunInBoundedMemory) {
#if defined(__SANITIZE_ADDRESS__)
  GTEST_SKIP() << "AddressSanitizer reserves more address space than any limit worth setting";
#else
  std::string limited = "ulimit -v 300000; " + std::string(KURVIX_CHECK) + " " + example() + " --press 193:199999999";
  FILE* pipe = popen(limited.c_str(), "r");
  ASSERT_NE(pipe, nullptr);
  char buffer[512] = {0};
  size_t got = fread(buffer, 1, sizeof buffer - 1, pipe);
  int status = pclose(pipe);
  EXPECT_EQ(std::string(buffer, got), exampleWarning() + "press 1, key 193 held 199999999 ms: started \"\\Windows\\Kalender.exe\"\n");
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
#endif
}

}  // namespace
