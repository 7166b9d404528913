// The whole program on the simulated device: WinMain from a configuration to its exit code,
// with what a user sees of it: the tray icon, the status window, its painting, its taps.
#include <functional>
#include <string>

#include "harness/program_run.h"
#include "res/resource.h"
#include "shell/main_window.h"
#include "shell/tray_icon.h"
#include "tests/device_test.h"

namespace {

using Calls = std::vector<std::string>;

const std::u16string kThreeBindings =
    joinLines({u"KURVIX", u"KeyCode=193", u"Command=\\Windows\\Kalender.exe", u"", u"KURVIX",
               u"KeyCode=194", u"Disable=1", u"", u"KURVIX", u"KeyCode=195"});
// The client area of the window on the device's defaults, a work area 240 pixels wide: the
// window as wide as that, 240 x (26 + 68), less a 1-pixel border all round and the caption.
const LONG W = 238;
const LONG H = 66;
// On a work area wide enough for the whole window, 276 pixels.
const LONG WIDE_W = 274;
const RECT WIDE_WORK_AREA = {0, 0, 640, 456};

using harness::mainWindow;

class ShellTest : public DeviceTest {
 protected:
  void SetUp() override {
    DeviceTest::SetUp();
    program = harness::ProgramRun();
  }
  void configure(std::u16string_view text) { program.configure(unicodeFile(text)); }
  // Runs an action on the main window at virtual time t.
  void at(uint64_t t, std::function<void(HWND)> action) { program.at(t, std::move(action)); }
  void closeAt(uint64_t t) { program.close(t); }
  // Runs WinMain to its end; every action scheduled with at() must have run by then.
  int runProgram() {
    int exitCode = program.run();
    EXPECT_EQ(program.actionsNotRun(), 0u);
    return exitCode;
  }
  harness::ProgramRun program;
  std::optional<int> trayPicture(HWND window) {
    std::optional<sim::TrayIcon> icon = sim::trayIcon(window, TRAY_ICON_ID);
    if (!icon) return std::nullopt;
    return icon->iconResource;
  }
  // After the program ended: nothing of it may be left on the device.
  void expectNothingLeft() {
    EXPECT_TRUE(sim::trayIcons().empty());
    EXPECT_TRUE(sim::hotKeys().empty());
    EXPECT_TRUE(sim::timers().empty());
    EXPECT_EQ(sim::openHandleCount(), 0u);
    EXPECT_EQ(sim::badCloseCount(), 0u);
    EXPECT_EQ(sim::gdi().pensCreated, sim::gdi().pensDeleted);
    EXPECT_EQ(sim::gdi().errors, 0);
    EXPECT_EQ(bindingTable, nullptr);
  }
  std::vector<sim::DrawOp> lastPaint() {
    EXPECT_FALSE(sim::paints().empty());
    std::vector<sim::DrawOp> drawn;
    for (const sim::DrawOp& op : sim::paints().back().ops) {
      if (op.kind != sim::DrawOp::Erase) drawn.push_back(op);
    }
    return drawn;
  }
  std::u16string keyCodeText() {
    std::vector<sim::DrawOp> ops = lastPaint();
    return ops.empty() ? u"" : ops.front().text;
  }
  std::u16string buttonLetter() {
    std::vector<sim::DrawOp> ops = lastPaint();
    return ops.empty() ? u"" : ops.back().text;
  }
  std::u16string title() { return sim::window(mainWindow()).title; }
};

// ---- Start-up ---------------------------------------------------------------------------

TEST_F(ShellTest, StartsHiddenInTheTrayWithTheNumberOfBindingsInTheTitle) {
  configure(kThreeBindings);
  closeAt(500);
  at(100, [this](HWND window) {
    sim::WindowInfo info = sim::window(window);
    EXPECT_FALSE(info.visible);
    EXPECT_EQ(info.title, u"Kurvix (3)");
    EXPECT_EQ(info.style, static_cast<DWORD>(WS_CAPTION | WS_SYSMENU));
    EXPECT_EQ(info.exStyle, 0u);
    EXPECT_EQ(trayPicture(window), IDI_TRAY_ENABLED);
    std::optional<sim::TrayIcon> icon = sim::trayIcon(window, TRAY_ICON_ID);
    ASSERT_TRUE(icon);
    EXPECT_EQ(icon->callbackMessage, WM_APP_TRAY);
    EXPECT_EQ(icon->tip, u"");
    EXPECT_EQ(sim::hotKeys().size(), 3u);
  });
  EXPECT_EQ(runProgram(), 0);
  expectNothingLeft();
  EXPECT_TRUE(sim::messageBoxes().empty());
}

TEST_F(ShellTest, WithoutBindingsTheWindowIsShownAtOnceAndNoIconAdded) {
  configure(joinLines({u"SETTINGS", u"ElapseTime=5"}));
  closeAt(500);
  at(100, [this](HWND window) {
    EXPECT_TRUE(sim::window(window).visible);
    EXPECT_EQ(title(), u"Kurvix (0)");
    EXPECT_FALSE(trayPicture(window));
    EXPECT_FALSE(sim::paints().empty());
  });
  EXPECT_EQ(runProgram(), 0);
  EXPECT_TRUE(sim::trayCalls().size() == 1 && sim::trayCalls()[0].message == NIM_DELETE);
  expectNothingLeft();
}

TEST_F(ShellTest, MissingOrBrokenConfigurationIsReportedAndTheProgramEnds) {
  EXPECT_EQ(runProgram(), 1);
  EXPECT_EQ(boxes(), (std::vector<Box>{{u"Datei nicht gefunden:", u"\\Programme\\Kurvix.ini", MB_ICONHAND}}));
  EXPECT_EQ(mainWindow(), nullptr);
  expectNothingLeft();

  sim::reset();
  SetUp();
  sim::putFile(u"\\Programme\\Kurvix.ini", {'K', 0, 'U', 0});
  EXPECT_EQ(runProgram(), 1);
  EXPECT_EQ(boxes(), (std::vector<Box>{{u"Fehler",
                                        u"Die Datei ist leer oder nicht im Unicode Format:\n"
                                        u"\\Programme\\Kurvix.ini",
                                        MB_ICONHAND}}));
  expectNothingLeft();
}

struct Screen {
  RECT workArea;
  int caption;
  int x, y, width, height;
};

void PrintTo(const Screen& screen, std::ostream* out) {
  const RECT& area = screen.workArea;
  *out << "work area (" << area.left << ", " << area.top << ", " << area.right << ", "
       << area.bottom << "), caption " << screen.caption;
}

class ScreenTest : public ShellTest, public ::testing::WithParamInterface<Screen> {
 protected:
  void SetUp() override {
    ShellTest::SetUp();
    sim::setWorkArea(GetParam().workArea);
    sim::setCaptionHeight(GetParam().caption);
    configure(kThreeBindings);
  }
};

TEST_P(ScreenTest, WindowIsCentredInAWorkAreaSizedRectangleAtTheScreensCorner) {
  closeAt(100);
  at(50, [](HWND window) {
    sim::WindowInfo info = sim::window(window);
    EXPECT_EQ(info.width, GetParam().width);
    EXPECT_EQ(info.height, GetParam().height);
    EXPECT_EQ(info.x, GetParam().x);
    EXPECT_EQ(info.y, GetParam().y);
  });
  EXPECT_EQ(runProgram(), 0);
}

// Everything a user taps, the caption's close button at the window's top right among them,
// lies on the screen, and the longest key-code text is drawn whole inside the window.
TEST_P(ScreenTest, ButtonsCornerMarkCloseButtonAndKeyCodeTextAreOnScreenAndWork) {
  const RECT& area = GetParam().workArea;
  at(100, [](HWND window) { sim::tapTrayIcon(window, TRAY_ICON_ID); });
  at(200, [&area](HWND window) {
    sim::WindowInfo info = sim::window(window);
    EXPECT_GE(info.x, area.left);
    EXPECT_LE(info.x + info.width, area.right);
    EXPECT_GE(info.y, 0);  // the work area's top is not added: the screen's
    EXPECT_LE(info.y + info.height, area.bottom);
    PostMessageW(window, WM_KEYDOWN, 4294967295u, 0);
  });
  at(300, [this](HWND window) {
    const RECT client = sim::window(window).client;
    const sim::DrawOp text = lastPaint().front();
    EXPECT_EQ(text.text, u"der Key-Code der letzten Taste ist 4294967295");
    EXPECT_GE(text.rect.left, 0);
    EXPECT_LE(text.rect.right, client.right - 18);  // left of the button column
    EXPECT_GE(text.rect.top, 0);
    EXPECT_LE(text.rect.bottom, client.bottom - 18);  // above the contact line
    EXPECT_GE(text.rect.bottom - text.rect.top,
              static_cast<LONG>(text.lines.size()) * sim::kTextLineHeight);
    std::u16string joined;
    for (const std::u16string& line : text.lines) {
      EXPECT_LE(sim::textWidth(line), text.rect.right - text.rect.left) << utf16ToUtf8(line);
      joined += (joined.empty() ? u"" : u" ") + line;
    }
    EXPECT_EQ(joined, text.text);  // not a character cut off
    sim::tap(window, client.right - 20, 17);  // D, at its outermost pixel
  });
  at(400, [this](HWND window) {
    EXPECT_EQ(bindingTable->isDisabled(), 1);
    EXPECT_EQ(buttonLetter(), u"E");
    sim::tap(window, sim::window(window).client.right - 9, 27);  // E
  });
  at(500, [this](HWND window) {
    EXPECT_EQ(bindingTable->isDisabled(), 0);
    EXPECT_EQ(registeredKeys(), (std::vector<UINT>{193, 194, 195}));
    const RECT client = sim::window(window).client;
    sim::tap(window, client.right - 9, client.bottom - 9);  // the corner mark
  });
  at(600, [this](HWND window) {
    EXPECT_FALSE(sim::window(window).visible);
    EXPECT_EQ(trayPicture(window), IDI_TRAY_ENABLED);
  });
  closeAt(700);
  EXPECT_EQ(runProgram(), 0);
  expectNothingLeft();
}

INSTANTIATE_TEST_SUITE_P(WorkAreas, ScreenTest,
                         ::testing::Values(Screen{{0, 0, 640, 456}, 26, 182, 181, 276, 94},
                                           // a QVGA handheld held upright, below a task bar at
                                           // the top: as wide as the screen, 26 pixels above
                                           // the work area's centre
                                           Screen{{0, 26, 240, 320}, 26, 0, 100, 240, 94},
                                           Screen{{0, 0, 240, 294}, 26, 0, 100, 240, 94},
                                           // QVGA on its side: the whole window fits
                                           Screen{{0, 0, 320, 214}, 26, 22, 60, 276, 94},
                                           Screen{{0, 0, 1024, 768}, 19, 374, 340, 276, 87}));

// ---- The status window ------------------------------------------------------------------

TEST_F(ShellTest, TrayTapShowsTheWindowAndCornerMarkHidesItAgain) {
  configure(kThreeBindings);
  at(100, [](HWND window) { sim::tapTrayIcon(window, TRAY_ICON_ID); });
  at(200, [this](HWND window) {
    EXPECT_TRUE(sim::window(window).visible);
    EXPECT_EQ(sim::foreground(), window);
    EXPECT_FALSE(trayPicture(window));
    sim::tap(window, W - 5, H - 18);  // the corner mark's upper bound
  });
  at(300, [this](HWND window) {
    EXPECT_FALSE(sim::window(window).visible);
    EXPECT_EQ(trayPicture(window), IDI_TRAY_ENABLED);
  });
  closeAt(400);
  EXPECT_EQ(runProgram(), 0);
  expectNothingLeft();
}

TEST_F(ShellTest, OtherTrayMessagesDoNothing) {
  configure(kThreeBindings);
  at(100, [](HWND window) {
    PostMessageW(window, WM_APP_TRAY, TRAY_ICON_ID, WM_LBUTTONUP);
    PostMessageW(window, WM_APP_TRAY, 2, WM_LBUTTONDOWN);
  });
  at(200, [this](HWND window) {
    EXPECT_FALSE(sim::window(window).visible);
    EXPECT_EQ(trayPicture(window), IDI_TRAY_ENABLED);
  });
  closeAt(300);
  EXPECT_EQ(runProgram(), 0);
}

TEST_F(ShellTest, PaintingDrawsTheKeyCodeContactLineColumnCornerMarkAndOneLetter) {
  sim::setWorkArea(WIDE_WORK_AREA);  // the whole text on one line, where the window fits
  configure(kThreeBindings);
  at(100, [](HWND window) { sim::tapTrayIcon(window, TRAY_ICON_ID); });
  at(200, [this](HWND) {
    std::vector<sim::DrawOp> ops = lastPaint();
    ASSERT_EQ(ops.size(), 8u);
    EXPECT_EQ(ops[0].kind, sim::DrawOp::Text);
    EXPECT_EQ(ops[0].text, u"dr\u00FCcken Sie eine Taste f\u00FCr deren Key-Code");
    EXPECT_EQ(ops[0].count, -1);
    EXPECT_EQ(std::tie(ops[0].rect.left, ops[0].rect.top, ops[0].rect.right, ops[0].rect.bottom),
              std::make_tuple(0, 0, WIDE_W - 18, H - 18));
    EXPECT_EQ(ops[0].flags, 37u);
    EXPECT_EQ(ops[0].color, 0u);  // the device context's default, black
    EXPECT_EQ(ops[0].bkMode, TRANSPARENT);

    EXPECT_EQ(ops[1].text, u"Kontakt: " KURVIX_CONTACT_WIDE);
    EXPECT_EQ(std::tie(ops[1].rect.left, ops[1].rect.top, ops[1].rect.right, ops[1].rect.bottom),
              std::make_tuple(0, H - 18, WIDE_W - 18, H));
    EXPECT_EQ(ops[1].color, 0x606060u);

    std::vector<std::vector<std::pair<LONG, LONG>>> lines;
    for (size_t i = 2; i < 7; ++i) {
      EXPECT_EQ(ops[i].kind, sim::DrawOp::Lines);
      EXPECT_EQ(ops[i].color, 0x606060u);
      EXPECT_EQ(ops[i].penWidth, 1);
      EXPECT_EQ(ops[i].penStyle, PS_SOLID);
      std::vector<std::pair<LONG, LONG>> points;
      for (const POINT& point : ops[i].points) points.emplace_back(point.x, point.y);
      lines.push_back(points);
    }
    EXPECT_EQ(lines, (std::vector<std::vector<std::pair<LONG, LONG>>>{
                         {{WIDE_W - 18, 0}, {WIDE_W - 18, H}},
                         {{WIDE_W - 2, H - 16}, {WIDE_W - 2, H - 2}, {WIDE_W - 16, H - 2}},
                         {{WIDE_W - 4, H - 14}, {WIDE_W - 4, H - 4}, {WIDE_W - 14, H - 4}},
                         {{WIDE_W - 6, H - 12}, {WIDE_W - 6, H - 6}, {WIDE_W - 12, H - 6}},
                         {{WIDE_W - 8, H - 10}, {WIDE_W - 8, H - 8}, {WIDE_W - 10, H - 8}}}));

    EXPECT_EQ(ops[7].text, u"D");
    EXPECT_EQ(ops[7].count, 1);
    EXPECT_EQ(std::tie(ops[7].rect.left, ops[7].rect.top, ops[7].rect.right, ops[7].rect.bottom),
              std::make_tuple(WIDE_W - 18, 0, WIDE_W, 18));
    EXPECT_EQ(ops[7].color, 0x606060u);
  });
  closeAt(300);
  EXPECT_EQ(runProgram(), 0);
  EXPECT_EQ(sim::gdi().pensCreated, 1);
  expectNothingLeft();
}

TEST_F(ShellTest, KeyCodeTextShowsTheLastKeyThatReachedTheWindow) {
  configure(kThreeBindings);
  at(100, [](HWND window) { sim::tapTrayIcon(window, TRAY_ICON_ID); });
  at(200, [](HWND) { sim::keyDown(65); });  // an unbound key reaches the shown window
  at(210, [](HWND) { sim::keyUp(65); });
  at(300, [](HWND window) {
    ASSERT_FALSE(sim::invalidations().empty());
    const sim::Invalidation& last = sim::invalidations().back();
    EXPECT_EQ(last.window, window);
    EXPECT_EQ(std::tie(last.rect.left, last.rect.top, last.rect.right, last.rect.bottom),
              std::make_tuple(0, 0, W - 18, H - 18));
    EXPECT_EQ(last.erase, TRUE);
  });
  at(310, [this](HWND window) {
    EXPECT_EQ(keyCodeText(), u"der Key-Code der letzten Taste ist 65");
    PostMessageW(window, WM_KEYDOWN, 4294967295u, 0);
  });
  at(400, [this](HWND window) {
    std::u16string longest = keyCodeText();
    EXPECT_EQ(longest, u"der Key-Code der letzten Taste ist 4294967295");
    EXPECT_EQ(longest.size(), 45u);
    PostMessageW(window, WM_KEYDOWN, 0, 0);
  });
  at(500, [this](HWND) { EXPECT_EQ(keyCodeText(), u"dr\u00FCcken Sie eine Taste f\u00FCr deren Key-Code"); });
  closeAt(600);
  EXPECT_EQ(runProgram(), 0);
  expectNothingLeft();
}

// Reading a key's code with the window open: every key-down that reaches the window counts,
// a short press of a bound key too, as it is handed back to the window in front.
TEST_F(ShellTest, KeyCodeLineShowsEveryKeyThatReachesTheWindowAndNoLongPress) {
  struct Case {
    UINT key;
    uint64_t holdMs;
    bool switchedOff;                 // D tapped first
    std::optional<UINT> shownCode;  // none: the line still asks for a key
  };
  const std::vector<Case> cases = {
      {65, 50, false, 65},           // no binding has it
      {195, 200, false, 195},        // bound, short: handed back to the window
      {193, 300, false, 193},        // bound to a command, short
      {195, 1300, false, {}},        // bound, long: the binding's, not the window's
      {193, 1300, false, {}},        // long: the command starts and the number stays
      {193, 1300, true, 193},        // bindings off: every key reaches the window
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << "key " << c.key << " held " << c.holdMs << " ms");
    sim::reset();
    SetUp();
    configure(kThreeBindings);
    at(100, [](HWND window) { sim::tapTrayIcon(window, TRAY_ICON_ID); });
    if (c.switchedOff) at(150, [](HWND window) { sim::tap(window, W - 9, 9); });
    sim::pressAt(c.key, 200, 200 + c.holdMs);
    at(2000, [this, &c](HWND) {
      EXPECT_EQ(keyCodeText(), c.shownCode ? u"der Key-Code der letzten Taste ist " +
                                                 utf8ToUtf16(std::to_string(*c.shownCode))
                                           : u"dr\u00FCcken Sie eine Taste f\u00FCr deren Key-Code");
    });
    closeAt(2100);
    EXPECT_EQ(runProgram(), 0);
  }
}

// A block with both a command and Disable=1 starts its program first and switches the
// bindings off after it; when its program still runs, off comes once the question is answered.
TEST_F(ShellTest, CommandAndDisableInOneBlockStartTheProgramThenSwitchOff) {
  configure(joinLines({u"KURVIX", u"KeyCode=193", u"Command=\\Windows\\Kalender.exe", u"Disable=1"}));
  sim::pressAt(193, 100, 1300);
  at(1400, [](HWND) {
    EXPECT_EQ(bindingTable->isDisabled(), 1);
    std::vector<std::string> order = sim::callsOf({"ShellExecuteExW", "UnregisterHotKey"});
    ASSERT_FALSE(order.empty());
    EXPECT_EQ(order.front().rfind("ShellExecuteExW", 0), 0u);
    EXPECT_EQ(statusReports().back(), (std::pair<WPARAM, LPARAM>(STATUS_DISABLED, 0)));
    bindingTable->enable();
  });
  bool offWhileAsked = true;
  at(1500, [&offWhileAsked](HWND) {
    sim::whileBoxOpen([&offWhileAsked](const sim::MessageBoxRecord&) {
      offWhileAsked = bindingTable->isDisabled() != 0;
    });
  });
  sim::pressAt(193, 1600, 2800);  // the calendar still runs: "Terminieren?" first
  at(2900, [this](HWND) {
    EXPECT_EQ(boxes().size(), 1u);
    EXPECT_EQ(bindingTable->isDisabled(), 1);
  });
  closeAt(3000);
  EXPECT_EQ(runProgram(), 0);
  EXPECT_FALSE(offWhileAsked);
  EXPECT_EQ(sim::programs().size(), 1u);
  expectNothingLeft();
}

TEST_F(ShellTest, ButtonSquaresAnswerOnlyInTheirStateAndFromTwoPixelsLeftOfTheSeparator) {
  configure(kThreeBindings);
  at(100, [](HWND window) { sim::tapTrayIcon(window, TRAY_ICON_ID); });
  at(200, [](HWND window) {
    sim::clearCalls();
    sim::tap(window, W - 21, 5);   // left of the column
    sim::tap(window, W - 10, 18);  // the E square while on
    sim::tap(window, W - 10, 40);  // between the squares and the corner
  });
  at(300, [](HWND window) {
    EXPECT_EQ(bindingTable->isDisabled(), 0);
    EXPECT_TRUE(sim::callsOf({"InvalidateRect"}).empty());
    sim::tap(window, W - 20, 17);  // the D square's outermost pixel
  });
  at(400, [this](HWND window) {
    EXPECT_EQ(bindingTable->isDisabled(), 1);
    EXPECT_TRUE(sim::hotKeys().empty());
    EXPECT_EQ(buttonLetter(), u"E");
    sim::clearCalls();
    sim::tap(window, W - 19, 0);  // D while off
  });
  at(500, [](HWND window) {
    EXPECT_EQ(bindingTable->isDisabled(), 1);
    EXPECT_TRUE(sim::callsOf({"InvalidateRect"}).empty());
    sim::tap(window, W - 1, 35);  // the E square
  });
  at(600, [this](HWND) {
    EXPECT_EQ(bindingTable->isDisabled(), 0);
    EXPECT_EQ(sim::hotKeys().size(), 3u);
    EXPECT_EQ(buttonLetter(), u"D");
    const sim::Invalidation& last = sim::invalidations().back();
    EXPECT_EQ(std::tie(last.rect.left, last.rect.top, last.rect.right, last.rect.bottom),
              std::make_tuple(W - 18, 0, W, 36));
  });
  closeAt(700);
  EXPECT_EQ(runProgram(), 0);
  expectNothingLeft();
}

TEST_F(ShellTest, CornerMarkTakesBothBoundsAndWinsOverTheButtonsInALowWindow) {
  configure(kThreeBindings);
  at(100, [](HWND window) { sim::tapTrayIcon(window, TRAY_ICON_ID); });
  at(150, [](HWND window) { sim::tap(window, W - 10, H - 19); });  // falls through: nothing
  at(200, [](HWND window) {
    EXPECT_TRUE(sim::window(window).visible);
    sim::tap(window, W - 10, H);
  });
  at(250, [](HWND window) { EXPECT_FALSE(sim::window(window).visible); });
  closeAt(300);
  EXPECT_EQ(runProgram(), 0);

  // A border of 8 pixels leaves a client area 52 high: y = 35 lies in the corner square
  // and in the E square at once.
  sim::reset();
  SetUp();
  sim::setBorderWidth(8);
  configure(kThreeBindings);
  at(100, [](HWND window) { sim::tapTrayIcon(window, TRAY_ICON_ID); });
  at(150, [](HWND window) {
    bindingTable->disable();
    EXPECT_EQ(sim::window(window).client.bottom, 52);
    sim::tap(window, sim::window(window).client.right - 10, 35);
  });
  at(200, [this](HWND window) {
    EXPECT_FALSE(sim::window(window).visible);
    EXPECT_EQ(bindingTable->isDisabled(), 1);
    EXPECT_EQ(trayPicture(window), IDI_TRAY_DISABLED);
  });
  closeAt(300);
  EXPECT_EQ(runProgram(), 0);
  expectNothingLeft();
}

TEST_F(ShellTest, TrayPictureFollowsTheBindingsWhileHiddenAndOnHiding) {
  configure(kThreeBindings);
  sim::pressAt(194, 100, 1300);  // the Disable binding
  at(1400, [this](HWND window) {
    EXPECT_EQ(trayPicture(window), IDI_TRAY_DISABLED);
    bindingTable->enable();
  });
  at(1500, [this](HWND window) {
    EXPECT_EQ(trayPicture(window), IDI_TRAY_ENABLED);
    sim::tapTrayIcon(window, TRAY_ICON_ID);
  });
  at(1600, [](HWND) {
    sim::clearCalls();
    bindingTable->disable();  // as a Disable binding would, while the window is shown
  });
  at(1700, [this](HWND window) {
    EXPECT_FALSE(trayPicture(window));
    EXPECT_TRUE(sim::callsOf({"Shell_NotifyIconW"}).empty());
    EXPECT_EQ(buttonLetter(), u"E");  // the letter follows at once
    sim::tap(window, W - 10, H - 5);
  });
  at(1800, [this](HWND window) { EXPECT_EQ(trayPicture(window), IDI_TRAY_DISABLED); });
  closeAt(1900);
  EXPECT_EQ(runProgram(), 0);
  expectNothingLeft();
}

TEST_F(ShellTest, TrayPictureShowsTheBindingsOnAgainAfterAReloadThatSwitchedThemOffFirst) {
  sim::putFile(u"\\Speicher\\Zweite.ini", unicodeFile(joinLines({u"KURVIX", u"KeyCode=200"})));
  configure(joinLines({u"KURVIX", u"KeyCode=193", u"Disable=1", u"NewIni=\\Speicher\\Zweite.ini"}));
  sim::pressAt(193, 100, 1300);
  at(1400, [this](HWND window) {
    EXPECT_EQ(bindingTable->isDisabled(), 0);
    EXPECT_EQ(trayPicture(window), IDI_TRAY_ENABLED);
    EXPECT_EQ(title(), u"Kurvix (1)");
  });
  closeAt(1500);
  EXPECT_EQ(runProgram(), 0);
}

TEST_F(ShellTest, KeyHeldWhenTheWindowSwitchesOffDoesNotActAndIsHandedBackOnce) {
  configure(kThreeBindings);
  at(100, [](HWND window) { sim::tapTrayIcon(window, TRAY_ICON_ID); });
  sim::pressAt(193, 200, 2500);  // held, repeating, past its hold time
  at(500, [](HWND window) { sim::tap(window, W - 9, 9); });  // D
  at(3000, [](HWND) {
    EXPECT_EQ(bindingTable->isDisabled(), 1);
    EXPECT_TRUE(sim::programs().empty());
    ASSERT_EQ(sim::injectedKeys().size(), 2u);  // the press acted on nothing: handed back once
    EXPECT_TRUE(sim::injectedKeys()[0].down);
    EXPECT_TRUE(sim::hotKeys().empty());
  });
  closeAt(3100);
  EXPECT_EQ(runProgram(), 0);
  expectNothingLeft();
}

// ---- Commands with arguments ------------------------------------------------------------------

TEST_F(ShellTest, AQuotedProgramTakesTheRestOfTheCommandAsItsParameters) {
  struct Case {
    std::u16string command, file;
    std::optional<std::u16string> parameters;
  };
  const std::vector<Case> cases = {
      {u"\"\\Windows\\pword.exe\" \\My Documents\\Liste.psw", u"\\Windows\\pword.exe",
       u"\\My Documents\\Liste.psw"},
      {u"\"\\Program Files\\Mein Programm.exe\"", u"\\Program Files\\Mein Programm.exe",
       std::nullopt},
      {u"\"\\a.exe\" \t -x \"b c\" \t ", u"\\a.exe", u"-x \"b c\""},
      {u"\"\\a.exe\"   ", u"\\a.exe", std::nullopt},
      {u"\"\\a.exe\"-x", u"\\a.exe", u"-x"},
      // Used whole, as always: no quote first, an open quote, nothing between the quotes.
      {u"\\Windows\\pword.exe \\My Documents\\Liste.psw",
       u"\\Windows\\pword.exe \\My Documents\\Liste.psw", std::nullopt},
      {u"\"\\Programme\\offen.exe -x", u"\"\\Programme\\offen.exe -x", std::nullopt},
      {u"\"\" -x", u"\"\" -x", std::nullopt},
  };
  std::u16string ini;
  for (size_t i = 0; i < cases.size(); ++i) {
    ini += u"KURVIX\r\nKeyCode=" + utf8ToUtf16(std::to_string(193 + i)) + u"\r\nCommand=" +
           cases[i].command + u"\r\n\r\n";
  }
  configure(ini);
  for (size_t i = 0; i < cases.size(); ++i) {
    sim::pressAt(static_cast<UINT>(193 + i), 100 + 2000 * i, 1400 + 2000 * i);
  }
  closeAt(100 + 2000 * cases.size());
  EXPECT_EQ(runProgram(), 0);
  ASSERT_EQ(sim::programs().size(), cases.size());
  for (size_t i = 0; i < cases.size(); ++i) {
    const sim::Program& started = sim::programs()[i];
    SCOPED_TRACE(utf16ToUtf8(cases[i].command));
    EXPECT_EQ(started.file, cases[i].file);
    EXPECT_EQ(started.parametersNull, !cases[i].parameters.has_value());
    EXPECT_EQ(started.parameters, cases[i].parameters.value_or(u""));
    EXPECT_TRUE(started.directoryNull);
  }
  expectNothingLeft();
}

// ---- One instance per program file ------------------------------------------------------------

// A second start of the program file while it runs, as the StartUp shortcut and a tap in
// the file explorer make it: on the device a second process, here WinMain entered from the
// first one's message loop, which a guard that works never lets get that far.
int startAgain(const std::u16string& modulePath, Calls* calls) {
  sim::setModulePath(modulePath);
  size_t before = sim::calls().size();
  int exitCode = harness::startProgram();
  calls->assign(sim::calls().begin() + before, sim::calls().end());
  return exitCode;
}

TEST_F(ShellTest, ASecondStartOfTheSameProgramEndsAtOnceAndTheFirstKeepsWorking) {
  configure(kThreeBindings);
  at(100, [](HWND window) {
    for (std::u16string path : {u"\\Programme\\Kurvix.exe", u"\\PROGRAMME\\kurvix.EXE",
                                u"/programme/KURVIX.exe"}) {
      Calls calls;
      EXPECT_EQ(startAgain(path, &calls), 0);
      // Nothing loaded, registered, created or shown: only the look for the first.
      ASSERT_EQ(calls.size(), 6u);
      EXPECT_EQ(calls[0].rfind("GetModuleFileNameW(h1,", 0), 0u);
      EXPECT_EQ(calls[1].rfind("CharUpperBuffW(", 0), 0u);
      EXPECT_EQ(calls[2], "SetLastError(0)");
      EXPECT_EQ(calls[3], "CreateMutexW(0,0)");
      EXPECT_EQ(calls[4], "GetLastError()");
      EXPECT_EQ(calls[5].rfind("CloseHandle(", 0), 0u);
    }
    EXPECT_EQ(mainWindow(), window);
    EXPECT_EQ(sim::trayIcons().size(), 1u);
    EXPECT_EQ(sim::hotKeys().size(), 3u);
    EXPECT_EQ(sim::mutexNames().size(), 1u);
  });
  sim::pressAt(193, 200, 1500);  // the first instance still starts the calendar
  closeAt(2000);
  EXPECT_EQ(runProgram(), 0);
  ASSERT_EQ(sim::programs().size(), 1u);
  EXPECT_EQ(sim::programs()[0].file, u"\\Windows\\Kalender.exe");
  EXPECT_TRUE(sim::messageBoxes().empty());
  expectNothingLeft();
  EXPECT_TRUE(sim::mutexNames().empty());  // the mark goes with the program
}

TEST_F(ShellTest, TheSameFolderSpelledInAnotherCaseIsTheSameProgramBeyondLatin1Too) {
  const std::u16string folder = u"\\Speicher\\\u00C4rger \u00FF \u03C9 \u0434";
  sim::setModulePath(folder + u"\\kurvix.exe");
  sim::putFile(folder + u"\\Kurvix.ini", unicodeFile(joinLines({u"KURVIX", u"KeyCode=196"})));
  at(100, [](HWND) {
    for (std::u16string path : {u"\\SPEICHER\\\u00E4RGER \u0178 \u03A9 \u0414\\KURVIX.EXE",
                                u"/speicher/\u00E4rger \u00FF \u03C9 \u0434/Kurvix.exe"}) {
      Calls calls;
      EXPECT_EQ(startAgain(path, &calls), 0);
      EXPECT_EQ(calls.size(), 6u);  // found the first and ended at once
    }
    EXPECT_EQ(sim::mutexNames(), (std::vector<std::u16string>{
                                     u"Kurvix:/SPEICHER/\u00C4RGER \u0178 \u03A9 \u0414/KURVIX.EXE"}));
  });
  closeAt(200);
  EXPECT_EQ(runProgram(), 0);
  expectNothingLeft();
}

TEST_F(ShellTest, ACopyInAnotherFolderRunsBesideTheFirst) {
  // The first instance, in \Speicher\Kurvix: the name of its mark while it runs.
  sim::setModulePath(u"\\Speicher\\Kurvix\\kurvix.exe");
  sim::putFile(u"\\Speicher\\Kurvix\\Kurvix.ini", unicodeFile(joinLines({u"KURVIX", u"KeyCode=196"})));
  std::vector<std::u16string> marks;
  at(100, [&marks](HWND) { marks = sim::mutexNames(); });
  closeAt(200);
  EXPECT_EQ(runProgram(), 0);
  ASSERT_EQ(marks.size(), 1u);

  // It runs on as another process; the copy in \Programme starts in full beside it.
  sim::holdMutex(marks[0]);
  sim::setModulePath(u"\\Programme\\Kurvix.exe");
  configure(kThreeBindings);
  at(300, [this](HWND window) {
    EXPECT_EQ(title(), u"Kurvix (3)");
    EXPECT_EQ(trayPicture(window), IDI_TRAY_ENABLED);
    EXPECT_EQ(sim::hotKeys().size(), 3u);
  });
  closeAt(400);
  EXPECT_EQ(runProgram(), 0);
  expectNothingLeft();

  // While it runs, the one in \Speicher\Kurvix is not started a second time.
  sim::clearCalls();
  Calls calls;
  EXPECT_EQ(startAgain(u"\\speicher\\kurvix\\KURVIX.EXE", &calls), 0);
  EXPECT_TRUE(sim::callsOf({"RegisterClassW", "CreateWindowExW", "CreateFileW"}).empty());
  EXPECT_EQ(sim::openHandleCount(), 0u);
}

// ---- Keys another program holds ----------------------------------------------------------------

Box takenKey(std::u16string key) {
  return {u"Kurvix - Taste belegt:", std::move(key), MB_OK | MB_ICONEXCLAMATION};
}

TEST_F(ShellTest, KeysRegisteredBeforeATakenKeyIsReportedWorkWhileItsMessageIsOpen) {
  ASSERT_TRUE(sim::holdHotKey(195));
  configure(kThreeBindings);
  sim::whileBoxOpen([](const sim::MessageBoxRecord&) {
    sim::pressAt(193, sim::now() + 10, sim::now() + 200);    // short: handed back
    sim::pressAt(193, sim::now() + 500, sim::now() + 2000);  // long: starts the calendar
    sim::runFor(3000);
  });
  closeAt(4000);
  EXPECT_EQ(runProgram(), 0);
  EXPECT_EQ(boxes(), std::vector<Box>{takenKey(u"195")});
  std::vector<bool> keyDownsInjected;  // of 193, that reached the program in front
  for (const sim::KeyEvent& event : sim::keysToOthers()) {
    if (event.virtualKey == 193 && event.down) keyDownsInjected.push_back(event.injected);
  }
  EXPECT_EQ(keyDownsInjected, std::vector<bool>{true});  // only the short press, handed back
  EXPECT_EQ(sim::programs().size(), 1u);
  expectNothingLeft();
}

TEST_F(ShellTest, KeysTakenAtStartUpAreReportedOnceEachAfterTheReadersMessagesAndTheRestWork) {
  ASSERT_TRUE(sim::holdHotKey(194));
  ASSERT_TRUE(sim::holdHotKey(196));
  // 194 is bound twice: one message. 193 is bound twice and free: no message.
  configure(joinLines({u"KURVIX", u"KeyCode=193", u"Command=\\Windows\\Kalender.exe", u"Farbe=rot",
                       u"", u"KURVIX", u"KeyCode=194", u"", u"KURVIX", u"KeyCode=196", u"",
                       u"KURVIX", u"KeyCode=194", u"", u"KURVIX", u"KeyCode=193"}));
  sim::pressAt(193, 100, 1400);
  sim::pressAt(194, 2000, 2100);
  closeAt(3000);
  EXPECT_EQ(runProgram(), 0);
  EXPECT_EQ(boxes(), (std::vector<Box>{
                         {u"Kurvix - Ignoriere unbekannten Wert:", u"Farbe=rot",
                          MB_OK | MB_ICONEXCLAMATION},
                         takenKey(u"194"), takenKey(u"196")}));
  EXPECT_EQ(sim::programs().size(), 1u);  // the free key works
  std::vector<bool> downs;  // the taken key reaches its holder, down and up
  for (const sim::KeyEvent& event : sim::keysToOthers())
    if (event.virtualKey == 194) downs.push_back(event.down);
  EXPECT_EQ(downs, (std::vector<bool>{true, false}));
  expectNothingLeft();
}

TEST_F(ShellTest, AKeyTakenWhileTheBindingsWereOffIsReportedOnE) {
  configure(kThreeBindings);
  at(100, [](HWND window) { sim::tapTrayIcon(window, TRAY_ICON_ID); });
  at(200, [](HWND window) { sim::tap(window, W - 9, 9); });  // D
  at(300, [](HWND window) {
    EXPECT_TRUE(sim::holdHotKey(195));
    sim::tap(window, W - 9, 27);  // E
  });
  at(400, [this](HWND) {
    EXPECT_EQ(boxes(), std::vector<Box>{takenKey(u"195")});
    EXPECT_EQ(registeredKeys(), (std::vector<UINT>{193, 194}));
    EXPECT_EQ(buttonLetter(), u"D");
    EXPECT_EQ(statusReports().back(), (std::pair<WPARAM, LPARAM>(STATUS_ENABLED, 0)));
  });
  closeAt(500);
  EXPECT_EQ(runProgram(), 0);
  expectNothingLeft();
}

TEST_F(ShellTest, AKeyTakenIsReportedAfterAReloadToo) {
  configure(joinLines({u"KURVIX", u"KeyCode=193", u"NewIni=\\Speicher\\Zweite.ini"}));
  sim::putFile(u"\\Speicher\\Zweite.ini",
               unicodeFile(joinLines({u"KURVIX", u"KeyCode=197", u"", u"KURVIX", u"KeyCode=198"})));
  ASSERT_TRUE(sim::holdHotKey(198));
  sim::pressAt(193, 100, 1400);
  at(1500, [](HWND) {
    EXPECT_EQ(boxes(), std::vector<Box>{takenKey(u"198")});
    EXPECT_EQ(registeredKeys(), std::vector<UINT>{197});
  });
  closeAt(1600);
  EXPECT_EQ(runProgram(), 0);
  expectNothingLeft();
}

TEST_F(ShellTest, SwitchedOffWhileATakenKeyIsReportedRegistersNoMoreKeys) {
  configure(joinLines({u"KURVIX", u"KeyCode=193", u"", u"KURVIX", u"KeyCode=194", u"",
                       u"KURVIX", u"KeyCode=195"}));
  at(100, [](HWND window) { sim::tapTrayIcon(window, TRAY_ICON_ID); });
  at(200, [](HWND window) { sim::tap(window, W - 9, 9); });  // D
  at(300, [](HWND window) {
    sim::holdHotKey(193);
    sim::holdHotKey(194);
    sim::whileBoxOpen([window](const sim::MessageBoxRecord&) {
      sim::tap(window, W - 9, 9);  // D again, while the box about 193 is open
      sim::pump();
    });
    sim::tap(window, W - 9, 27);  // E
  });
  at(400, [this](HWND window) {
    EXPECT_EQ(boxes(), std::vector<Box>{takenKey(u"193")});  // 194 is not tried any more
    EXPECT_TRUE(registeredKeys().empty());
    EXPECT_EQ(buttonLetter(), u"E");
    EXPECT_EQ(statusReports().back(), (std::pair<WPARAM, LPARAM>(STATUS_DISABLED, 0)));
    sim::whileBoxOpen(nullptr);
    sim::tap(window, W - 9, H - 9);  // hidden again: the icon says off
    sim::pump();
    EXPECT_EQ(trayPicture(window), IDI_TRAY_DISABLED);
  });
  closeAt(500);
  EXPECT_EQ(runProgram(), 0);
  expectNothingLeft();
}

TEST_F(ShellTest, ClosedWhileATakenKeyIsReportedOnEEndsCleanly) {
  configure(kThreeBindings);
  at(100, [](HWND window) { sim::tapTrayIcon(window, TRAY_ICON_ID); });
  at(200, [](HWND window) { sim::tap(window, W - 9, 9); });  // D
  at(300, [](HWND window) {
    sim::holdHotKey(193);
    sim::whileBoxOpen([window](const sim::MessageBoxRecord&) {
      sim::close(window);
      sim::pump();
    });
    sim::tap(window, W - 9, 27);  // E
  });
  EXPECT_EQ(runProgram(), 0);
  EXPECT_EQ(boxes(), std::vector<Box>{takenKey(u"193")});
  expectNothingLeft();
}

TEST_F(ShellTest, AReloadWhileATakenKeyIsReportedOnERegistersTheNewFileAlone) {
  configure(joinLines({u"KURVIX", u"KeyCode=193", u"NewIni=\\Speicher\\Zweite.ini", u"",
                       u"KURVIX", u"KeyCode=194", u"", u"KURVIX", u"KeyCode=195"}));
  sim::putFile(u"\\Speicher\\Zweite.ini",
               unicodeFile(joinLines({u"KURVIX", u"KeyCode=197", u"", u"KURVIX", u"KeyCode=198", u"",
                                      u"KURVIX", u"KeyCode=199", u"", u"KURVIX", u"KeyCode=200"})));
  at(100, [](HWND window) { sim::tapTrayIcon(window, TRAY_ICON_ID); });
  at(200, [](HWND window) { sim::tap(window, W - 9, 9); });  // D
  at(300, [](HWND window) {
    sim::holdHotKey(194);
    // While the box about 194 is open, the NewIni key is held long: the new file is loaded
    // when the box closes, and the keys of the old file that were not tried yet are not.
    sim::whileBoxOpen([](const sim::MessageBoxRecord&) {
      sim::keyDown(193);
      sim::runFor(1300);
      sim::keyUp(193);
      sim::runFor(200);
    });
    sim::tap(window, W - 9, 27);  // E
  });
  at(3000, [this](HWND) {
    EXPECT_EQ(boxes(), std::vector<Box>{takenKey(u"194")});
    EXPECT_EQ(registeredKeys(), (std::vector<UINT>{197, 198, 199, 200}));
  });
  closeAt(3100);
  EXPECT_EQ(runProgram(), 0);
  expectNothingLeft();
}

TEST_F(ShellTest, AKeyHeldAcrossDAndEIsTheTablesOwnAndNotReportedOnE) {
  configure(kThreeBindings);
  at(100, [](HWND window) { sim::tapTrayIcon(window, TRAY_ICON_ID); });
  sim::pressAt(193, 200, 600);  // a short press held while the bindings go off and on again
  at(300, [](HWND window) { sim::tap(window, W - 9, 9); });  // D
  at(400, [](HWND window) {
    EXPECT_EQ(registeredKeys(), std::vector<UINT>{193});  // held: still caught
    sim::tap(window, W - 9, 27);  // E
  });
  at(500, [](HWND) { EXPECT_EQ(registeredKeys(), (std::vector<UINT>{193, 194, 195})); });
  at(800, [](HWND) {
    EXPECT_EQ(registeredKeys(), (std::vector<UINT>{194, 195, 193}));  // registered again last
    EXPECT_EQ(sim::injectedKeys().size(), 2u);  // released: handed back once
  });
  closeAt(900);
  EXPECT_EQ(runProgram(), 0);
  EXPECT_TRUE(sim::messageBoxes().empty());
  expectNothingLeft();
}

// ---- A whole session ----------------------------------------------------------------------

TEST_F(ShellTest, WholeSessionFromStartToCloseLeavesNothingBehind) {
  configure(kThreeBindings);
  sim::pressAt(193, 100, 1400);  // long: starts the calendar
  sim::pressAt(195, 2000, 2200);  // short: handed back
  at(3000, [](HWND window) {
    EXPECT_EQ(sim::programs().size(), 1u);
    EXPECT_EQ(sim::injectedKeys().size(), 2u);
    sim::tapTrayIcon(window, TRAY_ICON_ID);
  });
  at(3100, [](HWND window) { sim::tap(window, W - 9, 9); });    // D
  at(3200, [](HWND window) { sim::tap(window, W - 9, 27); });   // E
  at(3300, [](HWND window) { sim::tap(window, W - 9, H - 9); });  // corner
  at(3400, [this](HWND window) {
    EXPECT_EQ(trayPicture(window), IDI_TRAY_ENABLED);
    EXPECT_EQ(sim::hotKeys().size(), 3u);
  });
  closeAt(3500);
  EXPECT_EQ(runProgram(), 0);
  expectNothingLeft();
  EXPECT_TRUE(sim::programs()[0].running);  // closing Kurvix does not end what it started
  EXPECT_EQ(sim::callsOf({"PostQuitMessage"}), (Calls{"PostQuitMessage(0)"}));
}

TEST_F(ShellTest, ClosedWhileTheQuestionIsOpenEndsCleanly) {
  configure(kThreeBindings);
  sim::pressAt(193, 100, 1400);
  sim::pressAt(193, 2000, 3400);
  sim::whileBoxOpen([](const sim::MessageBoxRecord&) {
    PostMessageW(mainWindow(), WM_CLOSE, 0, 0);
    sim::pump();
  });
  EXPECT_EQ(runProgram(), 0);
  EXPECT_EQ(sim::messageBoxes().size(), 1u);
  EXPECT_FALSE(sim::programs()[0].terminated);  // the box ended unanswered
  expectNothingLeft();
}

TEST_F(ShellTest, ClosedDuringAMessageOfTheFirstLoadEndsCleanly) {
  configure(joinLines({u"KURVIX", u"KeyCode=193", u"bad", u"more bad"}));
  sim::whileBoxOpen([](const sim::MessageBoxRecord&) {
    PostMessageW(mainWindow(), WM_CLOSE, 0, 0);
    sim::pump();
  });
  EXPECT_NE(runProgram(), 0);  // the program never came to run
  // Reading stopped at once, and no key was registered for a window that is gone.
  EXPECT_EQ(boxes(), (std::vector<Box>{{u"Kurvix - Ignoriere unbekannten Wert:", u"bad", MB_OK | MB_ICONEXCLAMATION}}));
  expectNothingLeft();
}

TEST_F(ShellTest, ClosedDuringAReloadThatWaitedForTheStartUpsTakenKeyBoxEndsCleanly) {
  ASSERT_TRUE(sim::holdHotKey(197));
  configure(joinLines({u"KURVIX", u"KeyCode=195", u"NewIni=\\Speicher\\Zweite.ini", u"", u"KURVIX", u"KeyCode=197"}));
  sim::putFile(u"\\Speicher\\Zweite.ini", unicodeFile(joinLines({u"KURVIX", u"KeyCode=196", u"bad line"})));
  sim::whileBoxOpen([](const sim::MessageBoxRecord& box) {
    if (box.caption == u"Kurvix - Taste belegt:") {
      sim::keyDown(195);  // the reload waits until the start-up is over
      sim::runFor(1200);
      sim::keyUp(195);
      sim::runFor(200);
    } else if (box.text == u"bad line") {
      PostMessageW(mainWindow(), WM_CLOSE, 0, 0);
      sim::pump();
    }
  });
  EXPECT_NE(runProgram(), 0);  // closed before its start-up was over: the program never ran
  EXPECT_EQ(boxes().size(), 2u);
  expectNothingLeft();
}

TEST_F(ShellTest, DTappedWhileANewIniPressWaitsForABoxKeepsTheBindingsOffAndTheLetterSaysSo) {
  configure(joinLines({u"KURVIX", u"KeyCode=193", u"Command=\\Windows\\Kalender.exe", u"", u"KURVIX",
                       u"KeyCode=194", u"NewIni=\\Speicher\\Zweite.ini"}));
  sim::putFile(u"\\Speicher\\Zweite.ini", unicodeFile(joinLines({u"KURVIX", u"KeyCode=200"})));
  at(100, [](HWND window) { sim::tapTrayIcon(window, TRAY_ICON_ID); });
  sim::pressAt(193, 200, 1400);   // starts the calendar
  sim::pressAt(193, 2000, 3400);  // asks whether to end it
  sim::whileBoxOpen([](const sim::MessageBoxRecord&) {
    sim::keyDown(194);  // the reload waits for the answer ...
    sim::runFor(1200);
    sim::keyUp(194);
    sim::runFor(200);
    sim::tap(mainWindow(), W - 9, 9);  // ... and the user switches off after asking for it
    sim::runFor(100);
  });
  at(6000, [this](HWND window) {
    EXPECT_EQ(title(), u"Kurvix (1)");  // reloaded
    EXPECT_TRUE(registeredKeys().empty());
    EXPECT_EQ(buttonLetter(), u"E");
    sim::tap(window, W - 9, H - 9);  // hidden: the icon says off too
    sim::pump();
    EXPECT_EQ(trayPicture(window), IDI_TRAY_DISABLED);
  });
  closeAt(6100);
  EXPECT_EQ(runProgram(), 0);
  expectNothingLeft();
}

// ---- The run's trace ---------------------------------------------------------------------

// What the trace says of a session: the program started, the question with the user's answer
// and the program it ended, the short press handed back, each at its virtual time.
TEST_F(ShellTest, TheTraceListsBoxesWithTheirAnswersStartedProgramsAndInjectedKeysInTime) {
  configure(kThreeBindings);
  program.press(193, 100, 1200);   // starts the calendar
  program.press(193, 2000, 1200);  // asks whether to end it: yes, after half a second
  program.answerBox(500, IDYES);
  program.press(193, 4000, 100);   // short: handed back
  program.close(5000);
  EXPECT_EQ(runProgram(), 0);
  std::string trace = program.traceJson();
  std::string events = trace.substr(0, trace.find(", \"keysToOthers\""));
  EXPECT_EQ(events,
            "{\"exitCode\": 0, \"boxes\": [{\"at\": 3000, \"caption\": \"Terminieren?\", \"text\": "
            "\"Der Prozess l\u00e4uft schon.\\nSoll er terminiert werden?\", \"type\": 52, \"answer\": 6}], "
            "\"started\": [{\"at\": 1100, \"file\": \"\\\\Windows\\\\Kalender.exe\", \"parameters\": null, "
            "\"running\": false, \"terminated\": true}], \"injected\": [{\"at\": 4100, \"key\": 193, \"down\": "
            "true, \"flags\": 4, \"repeat\": false}, {\"at\": 4100, \"key\": 193, \"down\": false, \"flags\": 2, "
            "\"repeat\": false}]");
  EXPECT_NE(trace.find("{\"at\": 1100, \"call\": \"ShellExecuteExW()\"}"), std::string::npos);
  EXPECT_NE(trace.find("{\"at\": 3500, \"call\": \"TerminateProcess("), std::string::npos);
}

// The run counts what its script still had to do when the program ended, so that a test's
// checks scheduled after the end cannot pass unseen.
TEST_F(ShellTest, ActionsScheduledAfterTheProgramEndedAreCountedAsNotRun) {
  configure(kThreeBindings);
  program.close(100);
  bool ran = false;
  program.at(200, [&ran](HWND) { ran = true; });
  EXPECT_EQ(program.run(), 0);
  EXPECT_FALSE(ran);
  EXPECT_EQ(program.actionsNotRun(), 1u);
}

}  // namespace
