// kurvix-check through its real entry point: the program, its output and its exit status.
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

namespace {

struct CheckRun {
  std::string out;
  int status;
};

CheckRun runCheck(const std::string& arguments) {
  std::string command = std::string(KURVIX_CHECK) + " " + arguments + " 2>/dev/null";
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

class KurvixCheckTest : public ::testing::Test {
 protected:
  void SetUp() override {
    directory = std::filesystem::temp_directory_path() /
                ("kurvix-check-" + std::to_string(::getpid()) + "-" +
                 ::testing::UnitTest::GetInstance()->current_test_info()->name());
    std::filesystem::create_directories(directory);
  }
  void TearDown() override { std::filesystem::remove_all(directory); }
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
  std::filesystem::path directory;
};

TEST_F(KurvixCheckTest, BundledExampleLoadsCleanly) {
  CheckRun run = runCheck("--json " + std::string(SOURCE_DIR) + "/examples/Kurvix.ini");
  EXPECT_EQ(run.status, 0);
  EXPECT_EQ(run.out,
            "{\"result\": 0, \"messages\": [], \"checkInterval\": 50, \"elapseTime\": 800, "
            "\"bindings\": [{\"keyCode\": 193, \"command\": \"\\\\Windows\\\\Kalender.exe\", "
            "\"newIniPath\": null, \"disableAll\": 0}, {\"keyCode\": 194, \"command\": null, "
            "\"newIniPath\": null, \"disableAll\": 1}, {\"keyCode\": 195, \"command\": null, "
            "\"newIniPath\": \"\\\\Speicher\\\\Zweite.ini\", \"disableAll\": 0}], \"hints\": []}\n");
}

TEST_F(KurvixCheckTest, BadLinesAreListedAndTheExitStatusIsOne) {
  std::string file = write("a.ini", unicode("KURVIX\r\nKeyCode=65\r\nCommand=\r\n\r\nfoo \"x\"\\\r\n"));
  CheckRun run = runCheck("--json " + file);
  EXPECT_EQ(run.status, 1);
  EXPECT_NE(run.out.find("\"messages\": [{\"caption\": \"Kurvix - Ignoriere Fehler:\", \"text\": "
                         "\"Command=\", \"type\": 48, \"line\": 3}, {\"caption\": \"Kurvix - Ignoriere "
                         "unbekannten Typ:\", \"text\": \"foo \\\"x\\\"\\\\\", \"type\": 48, \"line\": 5}]"),
            std::string::npos)
      << run.out;

  run = runCheck(file);
  EXPECT_EQ(run.status, 1);
  EXPECT_NE(run.out.find("Kurvix - Ignoriere Fehler:"), std::string::npos) << run.out;
  EXPECT_NE(run.out.find("1. KeyCode 65, no action"), std::string::npos) << run.out;
}

TEST_F(KurvixCheckTest, UnloadableFilesExitWithTwo) {
  CheckRun missing = runCheck("--json " + (directory / "fehlt.ini").string());
  EXPECT_EQ(missing.status, 2);
  EXPECT_NE(missing.out.find("\"result\": 1, \"messages\": [{\"caption\": \"Datei nicht gefunden:\""),
            std::string::npos)
      << missing.out;
  CheckRun utf8 = runCheck("--json " + write("utf8.ini", "KURVIX\r\nKeyCode=65\r\n"));
  EXPECT_EQ(utf8.status, 2);
  EXPECT_NE(utf8.out.find("\"caption\": \"Fehler\", \"text\": \"Die Datei ist leer oder nicht im "
                          "Unicode Format:\\n"),
            std::string::npos)
      << utf8.out;
}

TEST_F(KurvixCheckTest, TextsKeepTrailingBlanksAndShowLoneSurrogatesEscaped) {
  std::string bytes = unicode("KURVIX\r\nCommand=a  \r\nNewIni=") + std::string("\x00\xD8", 2) + unicode("b").substr(2);
  CheckRun run = runCheck("--json " + write("b.ini", bytes));
  EXPECT_EQ(run.status, 0);
  EXPECT_NE(run.out.find("\"command\": \"a  \", \"newIniPath\": \"\\ud800b\""), std::string::npos)
      << run.out;
  EXPECT_NE(runCheck(write("c.ini", bytes)).out.find("Command \"a  \""), std::string::npos);
}

TEST_F(KurvixCheckTest, MessagesNameTheLineAsTheDeviceCountsIt) {
  // Line 2 is 259 units and so followed by an extra empty line: the bad line is line 7.
  std::string file = write("lines.ini", unicode("KURVIX\r\nCommand=" + std::string(251, 'c') +
                                               "\r\n; 4\r\nKURVIX\r\nKeyCode=1\r\nbad\r\n"));
  CheckRun run = runCheck("--json " + file);
  EXPECT_NE(run.out.find("\"text\": \"bad\", \"type\": 48, \"line\": 7}"), std::string::npos) << run.out;
  EXPECT_NE(runCheck(file).out.find("message 1 (line 7)"), std::string::npos);
  // Messages about the whole file have no line.
  run = runCheck("--json " + (directory / "fehlt.ini").string());
  EXPECT_EQ(run.out.find("\"line\""), std::string::npos) << run.out;
}

TEST_F(KurvixCheckTest, HintsPointAtMistakesTheDeviceDoesNotExplain) {
  std::string utf8 = write("utf8.ini", "KURVIX\nKeyCode=65\n");
  CheckRun run = runCheck(utf8);
  EXPECT_EQ(run.status, 2);
  EXPECT_NE(run.out.find("hint: the file is UTF-8"), std::string::npos) << run.out;
  EXPECT_NE(run.out.find("--to-unicode"), std::string::npos);
  EXPECT_NE(runCheck(write("be.ini", "\xFE\xFF")).out.find("UTF-16 big-endian"), std::string::npos);

  std::string mistakes = write("m.ini", unicode("KURVIX\r\nkeyCode=65\r\n\r\nKURVIX\r\nKeyCode=66\r\n\r\n"
                                                "KURVIX\r\nKeyCode=66\r\nNewIni=m.ini\r\n"));
  run = runCheck(mistakes);
  EXPECT_EQ(run.status, 1);  // the device's own message about keyCode=65
  for (const char* hint : {"hint (line 2): \"keyCode\" differs from \"KeyCode\" only in case",
                           "hint: binding 1 has no KeyCode", "binding 3 (KeyCode 66) has the key of binding 2",
                           "binding 3 (KeyCode 66): NewIni names this file itself"}) {
    EXPECT_NE(run.out.find(hint), std::string::npos) << hint << "\n" << run.out;
  }
  // Hints alone change the exit status only with --strict.
  std::string duplicates = write("d.ini", unicode("KURVIX\r\nKeyCode=5\r\n\r\nKURVIX\r\nKeyCode=5"));
  EXPECT_EQ(runCheck(duplicates).status, 0);
  EXPECT_EQ(runCheck("--strict " + duplicates).status, 1);
}

TEST_F(KurvixCheckTest, DryRunSaysWhatTheDeviceDidWithEachPress) {
  std::string example = std::string(SOURCE_DIR) + "/examples/Kurvix.ini";
  CheckRun run = runCheck(example + " --press 193:1200 --press 193:300 --press 193:1200 --press 194:1200 "
                          "--press 193:1200 --press 77:50");
  EXPECT_EQ(run.status, 0);
  EXPECT_EQ(run.out,
            "press 1, key 193 held 1200 ms: started \"\\\\Windows\\\\Kalender.exe\"\n"
            "press 2, key 193 held 300 ms: passed the key through to the program in front\n"
            "press 3, key 193 held 1200 ms: asked whether to end the program it started last (answered No)\n"
            "press 4, key 194 held 1200 ms: switched the bindings off\n"
            "press 5, key 193 held 1200 ms: did not catch the key (no binding has it, or the bindings are "
            "off): it went to the program in front\n"
            "press 6, key 77 held 50 ms: did not catch the key (no binding has it, or the bindings are off): "
            "it went to the program in front\n");

  // NewIni: the named file is found beside FILE; its messages come with the press.
  std::filesystem::copy_file(example, directory / "Kurvix.ini");
  write("Zweite.ini", unicode("KURVIX\r\nKeyCode=200\r\nbad\r\n"));
  run = runCheck("--json " + (directory / "Kurvix.ini").string() + " --press 195:1100 --press 200:1100");
  EXPECT_EQ(run.out,
            "[{\"press\": 1, \"key\": 195, \"ms\": 1100, \"event\": \"loaded\", \"file\": "
            "\"\\\\Speicher\\\\Zweite.ini\", \"bindings\": 1}, {\"press\": 1, \"key\": 195, \"ms\": 1100, "
            "\"event\": \"message\", \"caption\": \"Kurvix - Ignoriere unbekannten Wert:\", \"text\": \"bad\", "
            "\"type\": 48, \"line\": 3}, {\"press\": 2, \"key\": 200, \"ms\": 1100, \"event\": \"nothing\"}]\n");
  EXPECT_EQ(runCheck(example + " --press 193").status, 64);
}

TEST_F(KurvixCheckTest, DryRunOfALongHoldLoadsOnceAlthoughTheNewFileBindsTheSameKey) {
  // Two files that load each other with the same key: a key held for ten seconds, repeating
  // all the while, loads the other file once.
  std::string first = write("Kurvix.ini", unicode("KURVIX\r\nKeyCode=195\r\nNewIni=\\Speicher\\Zweite.ini\r\n"));
  write("Zweite.ini", unicode("KURVIX\r\nKeyCode=195\r\nNewIni=\\Speicher\\Kurvix.ini\r\n\r\nKURVIX\r\nKeyCode=196\r\n"));
  CheckRun run = runCheck(first + " --press 195:10000 --press 195:1500");
  EXPECT_EQ(run.status, 0);
  EXPECT_EQ(run.out,
            "press 1, key 195 held 10000 ms: loaded \"\\\\Speicher\\\\Zweite.ini\": 2 bindings\n"
            "press 2, key 195 held 1500 ms: loaded \"\\\\Speicher\\\\Kurvix.ini\": 1 bindings\n");
}

TEST_F(KurvixCheckTest, ToUnicodeWritesTheDevicesFormatAndChecksIt) {
  std::string in = write("desktop.txt", "\xEF\xBB\xBFKURVIX Stra\xC3\x9F" "e\nKeyCode=65\r\nCommand=\\a.exe\r");
  std::string out = (directory / "Kurvix.ini").string();
  CheckRun run = runCheck("--to-unicode " + in + " " + out);
  EXPECT_EQ(run.status, 0) << run.out;
  std::ifstream written(out, std::ios::binary);
  std::string bytes((std::istreambuf_iterator<char>(written)), std::istreambuf_iterator<char>());
  EXPECT_EQ(bytes, unicode("KURVIX Stra") + std::string("\xDF\x00", 2) +
                       unicode("e\r\nKeyCode=65\r\nCommand=\\a.exe\r\n").substr(2));
  EXPECT_NE(run.out.find("1. KeyCode 65, Command \"\\\\a.exe\""), std::string::npos) << run.out;

  EXPECT_EQ(runCheck("--to-unicode " + in + " " + in).status, 64);  // never overwrites its input
  std::ifstream unchanged(in, std::ios::binary);
  EXPECT_EQ(std::string((std::istreambuf_iterator<char>(unchanged)), std::istreambuf_iterator<char>()).substr(0, 9),
            "\xEF\xBB\xBFKURVIX");
}

TEST_F(KurvixCheckTest, WrongUsageExitsWith64) {
  EXPECT_EQ(runCheck("").status, 64);
  EXPECT_EQ(runCheck("a.ini b.ini").status, 64);
  EXPECT_EQ(runCheck("--strange a.ini").status, 64);
}

}  // namespace
