// The configuration reader on the simulated device: what a user sees (message boxes, the
// bindings and settings that result) for good files, bad lines and broken files.
#include <string>

#include "config/reader.h"
#include "tests/device_test.h"

namespace {

const UINT kFailure = MB_ICONHAND;
const UINT kBadLine = MB_ICONEXCLAMATION;
const std::u16string kSecondPath = u"\\Speicher\\Zweite.ini";
const std::u16string kEncodingSentence = u"Die Datei ist leer oder nicht im Unicode Format:\n";

std::u16string text(const WCHAR* value) { return value == nullptr ? u"<null>" : value; }

class ReaderTest : public TableTest {
 protected:
  // Creates the table from an empty configuration, then loads `content` into it.
  int load(std::u16string_view content) {
    if (table == nullptr) EXPECT_NE(createFrom(u""), nullptr);
    firstBox = sim::messageBoxes().size();
    return loadText(content);
  }
  // The message boxes shown since the last load().
  std::vector<Box> boxes() {
    std::vector<Box> all = ::boxes();
    return std::vector<Box>(all.begin() + static_cast<long>(firstBox), all.end());
  }
  const KeyBinding& binding(DWORD index) { return *table->binding(index); }
  // The single binding of a file that holds one binding block with this key line.
  const KeyBinding& bindingWithLine(std::u16string_view line) {
    EXPECT_EQ(load(joinLines({u"KURVIX", line})), 0);
    EXPECT_EQ(table->count(), 1u);
    return binding(0);
  }
  size_t firstBox = 0;
  void expectAllHandlesClosed() {
    EXPECT_EQ(sim::openHandleCount(), 0u);
    EXPECT_EQ(sim::badCloseCount(), 0u);
  }
};

TEST_F(ReaderTest, ExampleFileGivesThreeBindingsAndItsSettings) {
  ASSERT_NE(createFrom(joinLines({u"; Tasten", u"SETTINGS", u"CheckIntervall=50",
                                  u"ElapseTime = 800", u"", u"KURVIX Kalender", u"KeyCode=193",
                                  u"Command=\\Windows\\Kalender.exe", u"", u"KURVIX",
                                  u"KeyCode=194", u"Disable=1", u"", u"KURVIX", u"KeyCode=195",
                                  u"NewIni=\\Speicher\\Zweite.ini"})),
            nullptr);
  EXPECT_TRUE(boxes().empty());
  EXPECT_EQ(table->checkInterval(), 50u);
  EXPECT_EQ(table->elapseTime(), 800u);
  ASSERT_EQ(table->count(), 3u);
  EXPECT_EQ(binding(0).keyCode(), 193u);
  EXPECT_EQ(text(binding(0).command()), u"\\Windows\\Kalender.exe");
  EXPECT_EQ(binding(0).newIniPath(), nullptr);
  EXPECT_EQ(binding(1).keyCode(), 194u);
  EXPECT_EQ(binding(1).disableAll(), 1);
  EXPECT_EQ(binding(1).command(), nullptr);
  EXPECT_EQ(binding(2).keyCode(), 195u);
  EXPECT_EQ(text(binding(2).newIniPath()), u"\\Speicher\\Zweite.ini");
  EXPECT_EQ(statusReports(), (std::vector<std::pair<WPARAM, LPARAM>>{{STATUS_LOADED, 3}}));
  expectAllHandlesClosed();
}

TEST_F(ReaderTest, FileIsOpenedForReadingOnly) {
  ASSERT_NE(createFrom(u""), nullptr);
  ASSERT_EQ(sim::fileOpens().size(), 1u);
  const sim::FileOpen& open = sim::fileOpens()[0];
  EXPECT_EQ(open.path, kIniPath);
  EXPECT_EQ(open.access, GENERIC_READ);
  EXPECT_EQ(open.shareMode, static_cast<DWORD>(FILE_SHARE_READ));
  EXPECT_EQ(open.disposition, static_cast<DWORD>(OPEN_EXISTING));
  EXPECT_EQ(open.flags, static_cast<DWORD>(FILE_ATTRIBUTE_NORMAL));
  EXPECT_TRUE(open.securityNull);
  EXPECT_TRUE(open.templateNull);
}

// ---- Files that cannot be loaded ----------------------------------------------------

TEST_F(ReaderTest, ByteOrderMarkAloneLoadsAnEmptyTableWithDefaults) {
  EXPECT_EQ(load(u""), 0);
  EXPECT_EQ(table->count(), 0u);
  EXPECT_EQ(table->checkInterval(), 100u);
  EXPECT_EQ(table->elapseTime(), 1000u);
  // The grammar's defaults, which kurvix-check's hints tell, are what a load starts from.
  EXPECT_EQ(table->checkInterval(), DEFAULT_CHECK_INTERVAL);
  EXPECT_EQ(table->elapseTime(), DEFAULT_ELAPSE_TIME);
  EXPECT_EQ(statusReports().back(), (std::pair<WPARAM, LPARAM>{STATUS_LOADED, 0}));
  EXPECT_TRUE(boxes().empty());
}

TEST_F(ReaderTest, MissingOrUnopenableFileIsReportedWithItsPath) {
  ASSERT_NE(createFrom(joinLines({u"KURVIX", u"KeyCode=65"})), nullptr);
  ASSERT_EQ(table->count(), 1u);
  EXPECT_EQ(table->load(u"\\Nirgends\\Fehlt.ini"), 1);
  sim::putFile(u"\\Gesperrt.ini", unicodeFile(u"KURVIX"));
  sim::failOpen(u"\\Gesperrt.ini");
  EXPECT_EQ(table->load(u"\\Gesperrt.ini"), 1);

  EXPECT_EQ(boxes(), (std::vector<Box>{{u"Datei nicht gefunden:", u"\\Nirgends\\Fehlt.ini", kFailure},
                                       {u"Datei nicht gefunden:", u"\\Gesperrt.ini", kFailure}}));
  EXPECT_EQ(table->count(), 0u);  // the bindings loaded before are gone
  EXPECT_EQ(statusReports(), (std::vector<std::pair<WPARAM, LPARAM>>{
                                 {STATUS_LOADED, 1}, {STATUS_LOADED, 0}, {STATUS_LOADED, 0}}));
  expectAllHandlesClosed();
}

TEST_F(ReaderTest, FileWithoutLittleEndianByteOrderMarkIsRefused) {
  const std::vector<std::vector<uint8_t>> refused = {
      {}, {0xFF}, {0xFE, 0xFF, 'K', 0}, {'K', 0, 'U', 0}, {0xEF, 0xBB, 0xBF, 'K'}, {0xFF, 0xFF, 'K', 0}};
  ASSERT_NE(createFrom(joinLines({u"KURVIX", u"KeyCode=65"})), nullptr);
  for (const auto& bytes : refused) {
    sim::putFile(kSecondPath, bytes);
    EXPECT_EQ(table->load(kSecondPath.c_str()), 1);
    EXPECT_EQ(table->count(), 0u);
    EXPECT_EQ(statusReports().back(), (std::pair<WPARAM, LPARAM>{STATUS_LOADED, 0}));
  }
  ASSERT_EQ(boxes().size(), refused.size());
  for (const Box& box : boxes()) {
    EXPECT_EQ(box, (Box{u"Fehler", kEncodingSentence + kSecondPath, kFailure}));
  }
  expectAllHandlesClosed();
}

TEST_F(ReaderTest, EncodingMessageShowsAtMost259UnitsOfThePath) {
  ASSERT_NE(createFrom(u""), nullptr);
  std::u16string longPath = u"\\" + std::u16string(258, u'p');  // 259 units
  sim::putFile(longPath, {'x'});
  EXPECT_EQ(table->load(longPath.c_str()), 1);
  ASSERT_EQ(boxes().size(), 1u);
  EXPECT_EQ(boxes()[0].text, kEncodingSentence + longPath);
}

TEST_F(ReaderTest, ReadFailureMidFileEndsTheLoadInsteadOfLooping) {
  ASSERT_NE(createFrom(u""), nullptr);
  std::u16string content = joinLines({u"KURVIX", u"KeyCode=65", u"", u"KURVIX", u"KeyCode=66"});
  sim::putFile(kSecondPath, unicodeFile(content));
  sim::failReadsFrom(kSecondPath, 2 + 2 * 8);  // after the header line and its line end
  EXPECT_EQ(table->load(kSecondPath.c_str()), 1);
  EXPECT_EQ(boxes(), (std::vector<Box>{{u"Fehler",
                                        u"Die Datei konnte nicht vollst\u00E4ndig gelesen werden:\n" +
                                            kSecondPath,
                                        kFailure}}));
  EXPECT_EQ(table->count(), 0u);
  EXPECT_EQ(statusReports().back(), (std::pair<WPARAM, LPARAM>{STATUS_LOADED, 0}));
  expectAllHandlesClosed();
}

// ---- The program's own directory ----------------------------------------------------

struct ProgramDirCase {
  std::u16string module, expectedIni;
};

class ProgramDirTest : public ReaderTest, public ::testing::WithParamInterface<ProgramDirCase> {};

TEST_P(ProgramDirTest, ConfigurationIsReadFromBesideTheExecutable) {
  sim::setModulePath(GetParam().module);
  sim::putFile(GetParam().expectedIni, unicodeFile(joinLines({u"KURVIX", u"KeyCode=7"})));
  BindingTable::create(window, sim::instance(), WM_APP_STATUS, table);
  ASSERT_NE(table, nullptr);
  EXPECT_EQ(table->count(), 1u);
  EXPECT_EQ(sim::fileOpens().at(0).path, GetParam().expectedIni);
}

INSTANTIATE_TEST_SUITE_P(
    Paths, ProgramDirTest,
    ::testing::Values(ProgramDirCase{u"\\Programme\\Werkzeug\\prog.exe", u"\\Programme\\Werkzeug\\Kurvix.ini"},
                      ProgramDirCase{u"/Programme/Werkzeug/prog.exe", u"/Programme/Werkzeug/Kurvix.ini"},
                      ProgramDirCase{u"\\prog.exe", u"\\Kurvix.ini"},
                      // no separator at all: the name goes behind the first unit
                      ProgramDirCase{u"prog.exe", u"pKurvix.ini"}));

TEST_F(ReaderTest, UnknownOrTruncatedProgramPathFailsWithoutTouchingAnything) {
  const std::u16string tooLong = u"\\" + std::u16string(240, u'd') + u"\\k.exe";
  for (const std::u16string& module : {std::u16string(), tooLong}) {
    sim::reset();
    SetUp();
    sim::setModulePath(module);
    sim::putFile(u"\\" + std::u16string(240, u'd') + u"\\Kurvix.ini", unicodeFile(u"KURVIX"));
    EXPECT_EQ(BindingTable::create(window, sim::instance(), WM_APP_STATUS, table), nullptr);
    EXPECT_EQ(table, nullptr);
    EXPECT_EQ(boxes(), (std::vector<Box>{{u"Fehler",
                                          u"Der Pfad zum Programm konnte nicht ermittelt werden.",
                                          kFailure}}));
    EXPECT_TRUE(statusReports().empty());
    EXPECT_TRUE(sim::fileOpens().empty());
    EXPECT_TRUE(sim::hotKeys().empty());
  }
}

// ---- Lines ------------------------------------------------------------------------------

TEST_F(ReaderTest, AllThreeLineEndsGiveTheSameTable) {
  for (std::u16string_view end : {u"\r\n", u"\n", u"\r"}) {
    ASSERT_EQ(load(joinLines({u"SETTINGS", u"ElapseTime=300", u"", u"KURVIX", u"KeyCode=65",
                              u"Command=a b", u"", u"KURVIX", u"KeyCode=66"},
                             end)),
              0);
    EXPECT_TRUE(boxes().empty());
    EXPECT_EQ(table->elapseTime(), 300u);
    ASSERT_EQ(table->count(), 2u);
    EXPECT_EQ(text(binding(0).command()), u"a b");  // the last line has no line end
    EXPECT_EQ(binding(1).keyCode(), 66u);
  }
}

TEST_F(ReaderTest, LfFollowedByCrIsAnEmptyLineThatEndsTheBlock) {
  EXPECT_EQ(load(u"KURVIX\n\rKeyCode=65"), 0);
  EXPECT_EQ(boxes(), (std::vector<Box>{{u"Kurvix - Ignoriere unbekannten Typ:", u"KeyCode=65", kBadLine}}));
  EXPECT_EQ(binding(0).keyCode(), 0u);
}

TEST_F(ReaderTest, LongLineIsReadAsLinesOf259Units) {
  std::u16string line = u"X" + std::u16string(299, u'x');
  EXPECT_EQ(load(line), 0);
  EXPECT_EQ(boxes(), (std::vector<Box>{
                         {u"Kurvix - Ignoriere unbekannten Typ:", line.substr(0, 259), kBadLine},
                         {u"Kurvix - Ignoriere unbekannten Typ:", line.substr(259), kBadLine}}));
}

TEST_F(ReaderTest, LineFillingTheBufferIsFollowedByAnEmptyLineThatEndsItsBlock) {
  // 259 units with any line end, or 258 units ended by CR LF, leave their line end (or
  // its LF) for the next read, which is then an empty line.
  const std::u16string command259 = u"Command=" + std::u16string(251, u'c');
  const std::u16string command258 = u"Command=" + std::u16string(250, u'c');
  for (auto [line, end] : {std::pair{command259, u"\r\n"}, std::pair{command259, u"\n"},
                           std::pair{command258, u"\r\n"}}) {
    EXPECT_EQ(load(joinLines({u"KURVIX", line, u"KeyCode=65"}, end)), 0);
    EXPECT_EQ(text(binding(0).command()), line.substr(8));
    EXPECT_EQ(binding(0).keyCode(), 0u);
    EXPECT_EQ(boxes(), (std::vector<Box>{{u"Kurvix - Ignoriere unbekannten Typ:", u"KeyCode=65", kBadLine}}));
  }
  // One unit shorter, the line end fits and the block goes on.
  EXPECT_EQ(load(joinLines({u"KURVIX", command258, u"KeyCode=65"}, u"\n")), 0);
  EXPECT_EQ(binding(0).keyCode(), 65u);
  EXPECT_TRUE(boxes().empty());
}

TEST_F(ReaderTest, OddByteAfterTheLastUnitDoesNotShiftAnyLine) {
  ASSERT_NE(createFrom(u""), nullptr);
  std::u16string content =
      joinLines({u"KURVIX", u"KeyCode=65", u"Command=\\a.exe", u"", u"KURVIX", u"KeyCode=66"}) + u"\r\n";
  std::vector<uint8_t> bytes = unicodeFile(content);
  bytes.push_back('!');
  sim::putFile(kSecondPath, bytes);
  EXPECT_EQ(table->load(kSecondPath.c_str()), 0);
  EXPECT_TRUE(boxes().empty());
  ASSERT_EQ(table->count(), 2u);
  EXPECT_EQ(text(binding(0).command()), u"\\a.exe");
  EXPECT_EQ(binding(1).keyCode(), 66u);

  // The same in a file longer than one read, with a line end inside the last read.
  std::u16string filler = std::u16string(u"; ") + std::u16string(240, u'-');
  content = joinLines({filler, filler, u"KURVIX", u"KeyCode=67"});
  bytes = unicodeFile(content);
  bytes.push_back(0x0A);
  sim::putFile(kSecondPath, bytes);
  EXPECT_EQ(table->load(kSecondPath.c_str()), 0);
  ASSERT_EQ(table->count(), 1u);
  EXPECT_EQ(binding(0).keyCode(), 67u);
  EXPECT_TRUE(boxes().empty());
  expectAllHandlesClosed();
}

TEST_F(ReaderTest, ReadLineCostsOneReadAndOneMove) {
  sim::putFile(kSecondPath, unicodeFile(u"ab\r\ncd"));
  HANDLE file = CreateFileW(kSecondPath.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                            OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  SetFilePointer(file, 2, nullptr, FILE_BEGIN);
  WCHAR line[LINE_CAPACITY];
  sim::clearCalls();
  EXPECT_EQ(readLine(file, line, LINE_CAPACITY), 2u);
  EXPECT_EQ(std::u16string(line), u"ab");
  EXPECT_EQ(sim::callsOf({"ReadFile", "SetFilePointer"}).size(), 2u);
  EXPECT_EQ(SetFilePointer(file, 0, nullptr, FILE_CURRENT), 2u + 8u);  // behind the CR LF
  EXPECT_EQ(readLine(file, line, LINE_CAPACITY), 2u);
  EXPECT_EQ(std::u16string(line), u"cd");
  EXPECT_EQ(readLine(file, line, LINE_CAPACITY), LINE_READ_FAILED);  // at the end
  CloseHandle(file);
}

// ---- Block state ------------------------------------------------------------------------

TEST_F(ReaderTest, EmptyLineEndsABlockAndCommentsDoNot) {
  EXPECT_EQ(load(joinLines({u"KURVIX", u"# comment", u"/ one slash", u"; semicolon", u"' apostrophe",
                            u"( parenthesis", u"KeyCode=65", u"", u"KeyCode=66"})),
            0);
  EXPECT_EQ(binding(0).keyCode(), 65u);
  EXPECT_EQ(boxes(), (std::vector<Box>{{u"Kurvix - Ignoriere unbekannten Typ:", u"KeyCode=66", kBadLine}}));
}

TEST_F(ReaderTest, OnlyTheFirstUnitMakesAComment) {
  EXPECT_EQ(load(joinLines({u" # not a comment", u"KURVIX", u" # not a comment either"})), 0);
  EXPECT_EQ(boxes(), (std::vector<Box>{{u"Kurvix - Ignoriere unbekannten Typ:", u" # not a comment", kBadLine},
                                       {u"Kurvix - Ignoriere unbekannten Wert:", u" # not a comment either", kBadLine}}));
}

TEST_F(ReaderTest, LineOfBlanksIsNotEmpty) {
  EXPECT_EQ(load(joinLines({u"   ", u"KURVIX", u"  ", u"KeyCode=65"})), 0);
  EXPECT_EQ(boxes(), (std::vector<Box>{{u"Kurvix - Ignoriere unbekannten Typ:", u"   ", kBadLine},
                                       {u"Kurvix - Ignoriere unbekannten Wert:", u"  ", kBadLine}}));
  EXPECT_EQ(binding(0).keyCode(), 65u);
}

TEST_F(ReaderTest, HeadersAreCaseSensitiveAndMayCarryText) {
  EXPECT_EQ(load(joinLines({u"KURVIX Kalender und mehr", u"", u"kurvix", u" KURVIX", u"SETTINGS!",
                            u"ElapseTime=5", u"", u"Settings"})),
            0);
  EXPECT_EQ(table->count(), 1u);
  EXPECT_EQ(table->elapseTime(), 5u);
  EXPECT_EQ(boxes(), (std::vector<Box>{{u"Kurvix - Ignoriere unbekannten Typ:", u"kurvix", kBadLine},
                                       {u"Kurvix - Ignoriere unbekannten Typ:", u" KURVIX", kBadLine},
                                       {u"Kurvix - Ignoriere unbekannten Typ:", u"Settings", kBadLine}}));
}

TEST_F(ReaderTest, HeaderInsideABlockIsHandedToTheBlocksParser) {
  EXPECT_EQ(load(joinLines({u"KURVIX", u"KeyCode=65", u"SETTINGS", u"CheckIntervall=5", u"",
                            u"SETTINGS", u"KURVIX", u"KeyCode=66"})),
            0);
  EXPECT_EQ(table->count(), 1u);
  EXPECT_EQ(table->checkInterval(), 100u);
  EXPECT_EQ(boxes(), (std::vector<Box>{{u"Kurvix - Ignoriere unbekannten Wert:", u"SETTINGS", kBadLine},
                                       {u"Kurvix - Ignoriere unbekannten Wert:", u"CheckIntervall=5", kBadLine},
                                       {u"Settings - Ignoriere unbekannten Wert:", u"KURVIX", kBadLine},
                                       {u"Settings - Ignoriere unbekannten Wert:", u"KeyCode=66", kBadLine}}));
}

TEST_F(ReaderTest, BindingBlockWithoutKeyLinesCountsWithDefaults) {
  EXPECT_EQ(load(joinLines({u"KURVIX", u"", u"KURVIX", u"KeyCode=66"})), 0);
  ASSERT_EQ(table->count(), 2u);
  EXPECT_EQ(binding(0).keyCode(), 0u);
  EXPECT_EQ(binding(0).command(), nullptr);
  EXPECT_EQ(binding(0).newIniPath(), nullptr);
  EXPECT_EQ(binding(0).disableAll(), 0);
  EXPECT_TRUE(boxes().empty());
}

TEST_F(ReaderTest, KeysAreCaseSensitiveAndBelongToTheirBlock) {
  EXPECT_EQ(load(joinLines({u"KURVIX", u"keycode=65", u"ElapseTime=5", u"", u"SETTINGS",
                            u"KeyCode=66", u"elapsetime=7"})),
            0);
  EXPECT_EQ(binding(0).keyCode(), 0u);
  EXPECT_EQ(table->elapseTime(), 1000u);
  EXPECT_EQ(boxes(), (std::vector<Box>{{u"Kurvix - Ignoriere unbekannten Wert:", u"keycode=65", kBadLine},
                                       {u"Kurvix - Ignoriere unbekannten Wert:", u"ElapseTime=5", kBadLine},
                                       {u"Settings - Ignoriere unbekannten Wert:", u"KeyCode=66", kBadLine},
                                       {u"Settings - Ignoriere unbekannten Wert:", u"elapsetime=7", kBadLine}}));
}

TEST_F(ReaderTest, LaterLinesOverwriteEarlierOnes) {
  EXPECT_EQ(load(joinLines({u"SETTINGS", u"ElapseTime=5", u"", u"KURVIX", u"Command=first",
                            u"Command=second", u"", u"SETTINGS", u"ElapseTime=6"})),
            0);
  EXPECT_EQ(text(binding(0).command()), u"second");
  EXPECT_EQ(table->elapseTime(), 6u);
}

TEST_F(ReaderTest, ReloadStartsFromDefaultSettingsAndLeavesTheSwitchAlone) {
  ASSERT_NE(createFrom(joinLines({u"SETTINGS", u"CheckIntervall=7", u"ElapseTime=9", u"", u"KURVIX",
                                  u"KeyCode=65"})),
            nullptr);
  table->disable();
  EXPECT_EQ(loadText(joinLines({u"KURVIX", u"KeyCode=66"})), 0);
  EXPECT_EQ(table->checkInterval(), 100u);
  EXPECT_EQ(table->elapseTime(), 1000u);
  EXPECT_EQ(table->isDisabled(), 1);  // a NewIni press switches on, not the reading
  EXPECT_EQ(binding(0).keyCode(), 66u);
}

TEST_F(ReaderTest, ReloadFromThePathOfABindingItDeletes) {
  ASSERT_NE(createFrom(joinLines({u"KURVIX", u"KeyCode=195", u"NewIni=\\Speicher\\Zweite.ini"})), nullptr);
  sim::putFile(kSecondPath, unicodeFile(joinLines({u"KURVIX", u"KeyCode=196"})));
  EXPECT_EQ(table->load(table->binding(0)->newIniPath()), 0);
  EXPECT_EQ(binding(0).keyCode(), 196u);
}

// ---- Values -------------------------------------------------------------------------------

TEST_F(ReaderTest, KeyCodeLinesAcceptBlanksAndAnythingBeforeTheEqualsSign) {
  for (std::u16string_view line :
       {u"KeyCode=65", u"KeyCode = 65", u"KeyCode  =65", u"KeyCode=\t65", u"KeyCodeX=65",
        u"KeyCode=65 abc", u"KeyCode=65abc"}) {
    EXPECT_EQ(bindingWithLine(line).keyCode(), 65u) << ::testing::PrintToString(std::u16string(line));
    EXPECT_TRUE(boxes().empty());
  }
}

TEST_F(ReaderTest, NumbersFollowTheDevicesOwnArithmetic) {
  const std::pair<std::u16string_view, DWORD> numbers[] = {
      {u"KeyCode=", 0},
      {u"KeyCode=-1", 0xFFFFFFFFu},
      {u"KeyCode=-", 0},
      {u"KeyCode=0x41", 0},
      {u"KeyCode=+5", 0},
      {u"KeyCode=2147483648", 0x80000000u},
      {u"KeyCode=4294967295", 429496729u},
      {u"KeyCode=2415919109", 2415919109u},
      {u"KeyCode=2415919110", 241591911u},
      {u"KeyCode=000193", 193u},
  };
  for (auto [line, expected] : numbers) {
    EXPECT_EQ(bindingWithLine(line).keyCode(), expected) << ::testing::PrintToString(std::u16string(line));
    EXPECT_TRUE(boxes().empty());
  }
}

TEST_F(ReaderTest, SettingsTakeNumbersAndEmptyValuesGiveZero) {
  EXPECT_EQ(load(joinLines({u"SETTINGS", u"CheckIntervall=", u"ElapseTime=-1"})), 0);
  EXPECT_EQ(table->checkInterval(), 0u);
  EXPECT_EQ(table->elapseTime(), 0xFFFFFFFFu);
  EXPECT_EQ(load(joinLines({u"SETTINGS", u"CheckIntervall 5", u"ElapseTime"})), 0);
  EXPECT_EQ(table->checkInterval(), 100u);
  EXPECT_EQ(boxes(), (std::vector<Box>{{u"Settings - Ignoriere Fehler:", u"CheckIntervall 5", kBadLine},
                                       {u"Settings - Ignoriere Fehler:", u"ElapseTime", kBadLine}}));
}

TEST_F(ReaderTest, KeyWithoutValueIsReportedAndChangesNothing) {
  EXPECT_EQ(load(joinLines({u"KURVIX", u"KeyCode=65", u"Command=keep", u"Disable=1", u"KeyCode 66",
                            u"Command=", u"NewIni=a", u"NewIni=  ", u"Disable="})),
            0);
  EXPECT_EQ(binding(0).keyCode(), 65u);
  EXPECT_EQ(text(binding(0).command()), u"keep");
  EXPECT_EQ(binding(0).newIniPath(), nullptr);
  EXPECT_EQ(binding(0).disableAll(), 1);
  const std::u16string caption = u"Kurvix - Ignoriere Fehler:";
  EXPECT_EQ(boxes(), (std::vector<Box>{{caption, u"KeyCode 66", kBadLine},
                                       {caption, u"Command=", kBadLine},
                                       {caption, u"NewIni=a", kBadLine},
                                       {caption, u"NewIni=  ", kBadLine},
                                       {caption, u"Disable=", kBadLine}}));
}

TEST_F(ReaderTest, TextValuesKeepEverythingBehindTheSkippedBlanks) {
  const std::pair<std::u16string_view, std::u16string_view> commands[] = {
      {u"Command= ", u""},
      {u"Command=x", u"x"},
      {u"Command=  \\Programme\\App.exe  ", u"\\Programme\\App.exe  "},
      {u"Command=\\a b.exe /x \"y\"", u"\\a b.exe /x \"y\""},
  };
  for (auto [line, expected] : commands) {
    EXPECT_EQ(text(bindingWithLine(line).command()), expected);
  }
  EXPECT_EQ(text(bindingWithLine(u"NewIni=ab").newIniPath()), u"ab");
  EXPECT_EQ(text(bindingWithLine(u"NewIni=   ").newIniPath()), u"");
  EXPECT_TRUE(boxes().empty());
}

TEST_F(ReaderTest, FlagsAreOnOnlyForOneAndLowerCaseY) {
  const std::pair<std::u16string_view, int> flags[] = {
      {u"Disable=1", 1}, {u"Disable=y", 1}, {u"Disable=yes", 1}, {u"Disable= 1", 1},
      {u"Disable=Y", 0}, {u"Disable=0", 0}, {u"Disable=no", 0},  {u"Disable=true", 0}};
  for (auto [line, expected] : flags) {
    EXPECT_EQ(bindingWithLine(line).disableAll(), expected) << ::testing::PrintToString(std::u16string(line));
  }
}

TEST_F(ReaderTest, StrangeUnitsNeitherCrashNorStopTheReader) {
  std::u16string content = joinLines({std::u16string(u"KURVIX\0x", 8), std::u16string(u"Command=\0z", 10),
                                      u"KeyCode=\xD800\xDFFF", u"\xFFFF\xD800", u"", u"KURVIX",
                                      u"KeyCode=9"});
  EXPECT_EQ(load(content), 0);
  ASSERT_EQ(table->count(), 2u);
  EXPECT_EQ(text(binding(0).command()), u"");  // the value ends at its first zero
  EXPECT_EQ(binding(1).keyCode(), 9u);
  expectAllHandlesClosed();
}

}  // namespace
