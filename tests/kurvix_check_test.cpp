// kurvix-check through its real entry point: the program, its output and its exit status.
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
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
            "\"newIniPath\": \"\\\\Speicher\\\\Zweite.ini\", \"disableAll\": 0}]}\n");
}

TEST_F(KurvixCheckTest, BadLinesAreListedAndTheExitStatusIsOne) {
  std::string file = write("a.ini", unicode("KURVIX\r\nKeyCode=65\r\nCommand=\r\n\r\nfoo \"x\"\\\r\n"));
  CheckRun run = runCheck("--json " + file);
  EXPECT_EQ(run.status, 1);
  EXPECT_NE(run.out.find("\"messages\": [{\"caption\": \"Kurvix - Ignoriere Fehler:\", \"text\": "
                         "\"Command=\", \"type\": 48}, {\"caption\": \"Kurvix - Ignoriere "
                         "unbekannten Typ:\", \"text\": \"foo \\\"x\\\"\\\\\", \"type\": 48}]"),
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

TEST_F(KurvixCheckTest, WrongUsageExitsWith64) {
  EXPECT_EQ(runCheck("").status, 64);
  EXPECT_EQ(runCheck("a.ini b.ini").status, 64);
  EXPECT_EQ(runCheck("--strange a.ini").status, 64);
}

}  // namespace
