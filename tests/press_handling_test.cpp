// Press handling on the simulated device: scenarios of a user holding and releasing keys
// on a virtual clock, checked by what the device did (programs started, keys injected and
// registered, timers, reports), including presses that arrive while a message box is open.
#include <functional>
#include <string>

#include "tests/device_test.h"

namespace {

using Calls = std::vector<std::string>;
using Reports = std::vector<std::pair<WPARAM, LPARAM>>;

const UINT kKey = 193;
const UINT kOtherKey = 194;
const std::u16string kSecondIni = u"\\Speicher\\Zweite.ini";
const std::u16string kThirdIni = u"\\Speicher\\Dritte.ini";

std::u16string number(uint64_t value) {
  std::string digits = std::to_string(value);
  return std::u16string(digits.begin(), digits.end());
}

class PressTest : public TableTest {
 protected:
  Calls pressCalls() {
    return sim::callsOf({"SetTimer", "KillTimer", "UnregisterHotKey", "RegisterHotKey", "keybd_event"});
  }
  size_t started() { return sim::programs().size(); }
  // The user's own key-downs of a key (first ones and repeats) that reached the program in front.
  size_t keyDownsToOthers(UINT key) {
    size_t count = 0;
    for (const sim::KeyEvent& event : sim::keysToOthers()) count += event.virtualKey == key && event.down && !event.injected;
    return count;
  }
  // Key events injected for a key, as (down, flags) pairs in order.
  std::vector<std::pair<bool, DWORD>> injectedFor(UINT key) {
    std::vector<std::pair<bool, DWORD>> events;
    for (const sim::KeyEvent& event : sim::injectedKeys()) {
      if (event.virtualKey == key) events.emplace_back(event.down, event.flags);
    }
    return events;
  }
  const std::vector<std::pair<bool, DWORD>> kOnePassThrough = {{true, KEYEVENTF_SILENT}, {false, KEYEVENTF_KEYUP}};
  // Creates the table from a file with one binding of kKey that starts \a.exe, plus `more`.
  void createWithCommand(std::u16string_view more = u"") {
    ASSERT_NE(createFrom(joinLines({u"KURVIX", u"KeyCode=193", u"Command=\\a.exe", u"", more})), nullptr);
    sim::clearCalls();
  }
  void expectNothingLeft() {
    destroyTable();
    EXPECT_TRUE(sim::hotKeys().empty());
    EXPECT_TRUE(sim::timers().empty());
    EXPECT_EQ(sim::openHandleCount(), 0u);
    EXPECT_EQ(sim::badCloseCount(), 0u);
  }
};

// ---- One key, one binding -------------------------------------------------------------

TEST_F(PressTest, ShortPressIsHandedBackToTheSystemInOrder) {
  createWithCommand();
  sim::pressAt(kKey, 0, 250);
  sim::runUntil(2000);
  EXPECT_EQ(pressCalls(), (Calls{"SetTimer(w1,193,100)", "KillTimer(w1,193)", "UnregisterHotKey(w1,193)",
                                 "keybd_event(193,0,4,0)", "keybd_event(193,0,2,0)",
                                 "RegisterHotKey(w1,193,0,193)"}));
  EXPECT_EQ(started(), 0u);
  // The injected pair reached the program in front as an ordinary key.
  std::vector<std::pair<UINT, bool>> injectedToOthers;
  for (const sim::KeyEvent& event : sim::keysToOthers()) {
    if (event.injected) injectedToOthers.emplace_back(event.virtualKey, event.down);
  }
  EXPECT_EQ(injectedToOthers, (std::vector<std::pair<UINT, bool>>{{kKey, true}, {kKey, false}}));
  EXPECT_EQ(registeredKeys(), (std::vector<UINT>{kKey}));
  EXPECT_EQ(table->binding(0)->pressed(), 0);
  EXPECT_TRUE(sim::timers().empty());
}

TEST_F(PressTest, LongPressLaunchesOnceHoweverLongTheKeyIsHeld) {
  createWithCommand();
  sim::pressAt(kKey, 0, 9050);
  sim::runUntil(999);
  EXPECT_EQ(started(), 0u);
  sim::runUntil(1000);  // the tick at which the key has been held exactly ElapseTime
  EXPECT_EQ(started(), 1u);
  sim::runUntil(12000);
  EXPECT_EQ(started(), 1u);
  EXPECT_TRUE(sim::injectedKeys().empty());
  EXPECT_EQ(pressCalls(), (Calls{"SetTimer(w1,193,100)", "KillTimer(w1,193)"}));
  EXPECT_TRUE(sim::timers().empty());
  EXPECT_EQ(registeredKeys(), (std::vector<UINT>{kKey}));
  EXPECT_EQ(table->binding(0)->pressed(), 0);
  // Ticks went on until the release found the key up: one key-state query per tick.
  EXPECT_EQ(sim::callsOf({"GetAsyncKeyState"}).size(), 91u);
}

TEST_F(PressTest, HoldNeededLiesBetweenElapseTimeAndOneIntervalMore) {
  for (auto [elapse, interval] : {std::pair{1000u, 100u}, std::pair{250u, 100u}, std::pair{300u, 50u},
                                  std::pair{0u, 40u}}) {
    uint64_t shortestFiring = 0;
    uint64_t hold = elapse > interval ? elapse - interval : 1;
    for (; hold <= elapse + interval + 1 && shortestFiring == 0; ++hold) {
      sim::reset();
      TableTest::SetUp();
      createWithCommand(u"SETTINGS\r\nElapseTime=" + number(elapse) + u"\r\nCheckIntervall=" + number(interval));
      sim::pressAt(kKey, 7, 7 + hold);
      sim::runUntil(elapse + 2 * interval + 100);
      if (started() == 1) {
        shortestFiring = hold;
      } else {
        EXPECT_EQ(sim::injectedKeys().size(), 2u) << "hold " << hold;  // passed through instead
      }
      destroyTable();
    }
    EXPECT_GE(shortestFiring, elapse) << elapse << "/" << interval;
    // A release in the very millisecond of a tick may count either way.
    EXPECT_LE(shortestFiring, elapse + interval + 1) << elapse << "/" << interval;
  }
}

TEST_F(PressTest, TickCounterWrappingDuringAPressStillTimesItRight) {
  sim::setTickCount(0xFFFFFF00u);
  createWithCommand();
  sim::pressAt(kKey, 0, 5000);
  sim::runUntil(900);  // the counter wrapped at 256 ms
  EXPECT_EQ(started(), 0u);
  sim::runUntil(1000);
  EXPECT_EQ(started(), 1u);
}

TEST_F(PressTest, ElapseTimeZeroFiresAtTheFirstTickAndAllOnesNever) {
  createWithCommand(joinLines({u"SETTINGS", u"ElapseTime=0"}));
  sim::pressAt(kKey, 0, 50);  // released before the first tick
  sim::pressAt(kKey, 1000, 1150);
  sim::runUntil(2000);
  EXPECT_EQ(started(), 1u);
  EXPECT_EQ(sim::injectedKeys().size(), 2u);

  destroyTable();
  sim::reset();
  TableTest::SetUp();
  createWithCommand(joinLines({u"SETTINGS", u"ElapseTime=-1"}));
  sim::pressAt(kKey, 0, 60000);
  sim::runUntil(61000);
  EXPECT_EQ(started(), 0u);
  EXPECT_EQ(sim::injectedKeys().size(), 2u);
}

TEST_F(PressTest, KeyMessagesThatDoNotMatchABindingChangeNothing) {
  createWithCommand();
  PostMessageW(window, WM_HOTKEY, kKey, static_cast<LPARAM>(kOtherKey) << 16);  // other virtual key
  PostMessageW(window, WM_HOTKEY, 77, 77 << 16);                                  // no binding
  PostMessageW(window, WM_TIMER, kKey, 0);                                        // late tick, idle binding
  PostMessageW(window, WM_TIMER, 77, 0);
  sim::pump();
  EXPECT_TRUE(pressCalls().empty());
  EXPECT_EQ(table->binding(0)->pressed(), 0);

  destroyTable();
  ASSERT_NE(createFrom(joinLines({u"KURVIX", u"KeyCode=65601"})), nullptr);  // 0x10041
  sim::clearCalls();
  PostMessageW(window, WM_HOTKEY, 65601, 65 << 16);
  PostMessageW(window, WM_HOTKEY, 65601, static_cast<LPARAM>(static_cast<ULONG_PTR>(65601) << 16));
  sim::pump();
  EXPECT_TRUE(pressCalls().empty());
}

TEST_F(PressTest, RepeatedKeyMessagesNeitherRestampNorRestartThePress) {
  createWithCommand();
  sim::setTickCount(1000);
  sim::pressAt(kKey, 0, 1500);
  sim::at(420, [] { PostMessageW(sim::findWindow(u"Test.Class"), WM_HOTKEY, kKey, kKey << 16); });
  sim::runUntil(430);
  EXPECT_EQ(table->binding(0)->pressTick(), 1000u);
  EXPECT_EQ(sim::callsOf({"SetTimer"}).size(), 1u);
  sim::runUntil(1000);
  EXPECT_EQ(started(), 1u);  // still timed from the first message
}

TEST_F(PressTest, BindingWithoutActionsSwallowsALongPress) {
  ASSERT_NE(createFrom(joinLines({u"KURVIX", u"KeyCode=193"})), nullptr);
  sim::pressAt(kKey, 0, 1500);
  sim::runUntil(3000);
  EXPECT_EQ(started(), 0u);
  EXPECT_TRUE(sim::injectedKeys().empty());
  EXPECT_TRUE(sim::messageBoxes().empty());
}

TEST_F(PressTest, TwoBindingsOfOneKeyOnlyTheFirstActs) {
  ASSERT_NE(createFrom(joinLines({u"KURVIX", u"KeyCode=193", u"Command=\\first.exe", u"", u"KURVIX",
                                  u"KeyCode=193", u"Command=\\second.exe"})),
            nullptr);
  sim::clearCalls();
  sim::pressAt(kKey, 0, 1500);
  sim::runUntil(3000);
  ASSERT_EQ(started(), 1u);
  EXPECT_EQ(sim::programs()[0].file, u"\\first.exe");
  EXPECT_EQ(sim::callsOf({"SetTimer"}), (Calls{"SetTimer(w1,193,100)", "SetTimer(w1,193,100)"}));
  EXPECT_EQ(table->binding(0)->pressed(), 0);
  EXPECT_EQ(table->binding(1)->pressed(), 1);  // ticks never reach it; it waits for the clear
  expectNothingLeft();
}

// ---- Switching off and reloading ----------------------------------------------------------

TEST_F(PressTest, DisableBindingSwitchesEverythingOffAndItsReleaseStaysQuiet) {
  createWithCommand(joinLines({u"KURVIX", u"KeyCode=194", u"Disable=1"}));
  sim::pressAt(kOtherKey, 0, 1500);
  sim::runUntil(3000);
  EXPECT_EQ(table->isDisabled(), 1);
  EXPECT_TRUE(registeredKeys().empty());
  EXPECT_TRUE(sim::injectedKeys().empty());
  EXPECT_EQ(statusReports().back(), (std::pair<WPARAM, LPARAM>{STATUS_DISABLED, 0}));
  sim::pressAt(kKey, 4000, 6000);  // a bound key is no longer caught
  sim::runUntil(7000);
  EXPECT_EQ(started(), 0u);
}

TEST_F(PressTest, DisableAndNewIniTogetherReportOffThenLoadAndEndEnabled) {
  sim::putFile(kSecondIni, unicodeFile(joinLines({u"KURVIX", u"KeyCode=200", u"", u"KURVIX", u"KeyCode=201"})));
  ASSERT_NE(createFrom(joinLines({u"KURVIX", u"KeyCode=193", u"Disable=1", u"NewIni=\\Speicher\\Zweite.ini"})),
            nullptr);
  sim::pressAt(kKey, 0, 1500);
  sim::runUntil(3000);
  EXPECT_EQ(statusReports(), (Reports{{STATUS_LOADED, 1}, {STATUS_DISABLED, 0}, {STATUS_LOADED, 2}}));
  EXPECT_EQ(table->isDisabled(), 0);
  EXPECT_EQ(registeredKeys(), (std::vector<UINT>{200, 201}));
  EXPECT_TRUE(sim::injectedKeys().empty());  // the held key's press ended with the reload
  EXPECT_TRUE(sim::timers().empty());
}

TEST_F(PressTest, NewIniReplacesTheBindingsAndTheSameKeyStartsIdle) {
  sim::putFile(kSecondIni, unicodeFile(joinLines({u"KURVIX", u"KeyCode=193", u"Command=\\b.exe"})));
  ASSERT_NE(createFrom(joinLines({u"KURVIX", u"KeyCode=193", u"NewIni=\\Speicher\\Zweite.ini"})), nullptr);
  sim::clearCalls();
  sim::pressAt(kKey, 0, 10000);  // repeating all the while
  sim::runUntil(11000);
  EXPECT_EQ(sim::fileOpens().size(), 2u);  // loaded once
  EXPECT_EQ(keyDownsToOthers(kKey), 0u);
  // The held key stays registered through the reload, not registered a second time, and on
  // its release the new binding has it.
  EXPECT_EQ(pressCalls(), (Calls{"SetTimer(w1,193,100)", "KillTimer(w1,193)"}));
  EXPECT_EQ(table->binding(0)->pressed(), 0);
  EXPECT_EQ(started(), 0u);
  sim::pressAt(kKey, 12000, 13500);
  sim::runUntil(14000);
  ASSERT_EQ(started(), 1u);
  EXPECT_EQ(sim::programs()[0].file, u"\\b.exe");
}

TEST_F(PressTest, FailedReloadLeavesAnEmptyTableSwitchedOff) {
  ASSERT_NE(createFrom(joinLines({u"KURVIX", u"KeyCode=193", u"NewIni=\\Speicher\\Fehlt.ini"})), nullptr);
  sim::pressAt(kKey, 0, 1500);
  sim::runUntil(3000);
  EXPECT_EQ(boxes(), (std::vector<Box>{{u"Datei nicht gefunden:", u"\\Speicher\\Fehlt.ini", MB_ICONHAND}}));
  EXPECT_EQ(statusReports(), (Reports{{STATUS_LOADED, 1}, {STATUS_LOADED, 0}, {STATUS_DISABLED, 0}}));
  EXPECT_EQ(table->count(), 0u);
  EXPECT_EQ(table->isDisabled(), 1);  // as reported, so the window's letter agrees with the icon
  EXPECT_TRUE(registeredKeys().empty());
  EXPECT_TRUE(sim::timers().empty());
}

// ---- Held keys: repeats, overlapping keys, switching off -----------------------------------

TEST_F(PressTest, HeldCommandKeyRepeatsIntoNothingAndActsOnce) {
  createWithCommand();
  sim::pressAt(kKey, 0, 5000);
  sim::runUntil(6000);
  EXPECT_EQ(started(), 1u);
  EXPECT_EQ(keyDownsToOthers(kKey), 0u);
  EXPECT_TRUE(sim::injectedKeys().empty());
  EXPECT_EQ(pressCalls(), (Calls{"SetTimer(w1,193,100)", "KillTimer(w1,193)"}));
}

TEST_F(PressTest, ShortPressWithARepeatBeforeElapseTimeIsPassedThroughOnce) {
  createWithCommand();
  sim::pressAt(kKey, 0, 800);  // repeats from 500 on
  sim::runUntil(2000);
  EXPECT_EQ(started(), 0u);
  EXPECT_EQ(injectedFor(kKey), kOnePassThrough);
  EXPECT_EQ(keyDownsToOthers(kKey), 0u);
  EXPECT_EQ(registeredKeys(), (std::vector<UINT>{kKey}));
}

TEST_F(PressTest, HeldDisableKeyStaysCaughtUntilItIsReleased) {
  createWithCommand(joinLines({u"KURVIX", u"KeyCode=194", u"Disable=1"}));
  sim::pressAt(kOtherKey, 0, 3000);
  sim::runUntil(2000);
  EXPECT_EQ(table->isDisabled(), 1);
  EXPECT_EQ(registeredKeys(), (std::vector<UINT>{kOtherKey}));  // only the key held right now
  sim::runUntil(4000);
  EXPECT_EQ(keyDownsToOthers(kOtherKey), 0u);  // 50 repeats came, none got through
  EXPECT_TRUE(sim::injectedKeys().empty());
  EXPECT_TRUE(registeredKeys().empty());
  EXPECT_TRUE(sim::timers().empty());
  sim::pressAt(kOtherKey, 5000, 6500);  // off means off: the key is an ordinary key again
  sim::runUntil(7000);
  EXPECT_EQ(keyDownsToOthers(kOtherKey), 26u);
  EXPECT_EQ(statusReports().back(), (std::pair<WPARAM, LPARAM>{STATUS_DISABLED, 0}));
  expectNothingLeft();
}

TEST_F(PressTest, HeldNewIniKeyLoadsOnceWhenTheNewFileDoesNotBindIt) {
  sim::putFile(kSecondIni, unicodeFile(joinLines({u"KURVIX", u"KeyCode=200"})));
  ASSERT_NE(createFrom(joinLines({u"KURVIX", u"KeyCode=193", u"NewIni=\\Speicher\\Zweite.ini"})), nullptr);
  sim::clearCalls();
  sim::pressAt(kKey, 0, 5000);
  sim::runUntil(3000);
  EXPECT_EQ(registeredKeys(), (std::vector<UINT>{kKey, 200}));
  sim::runUntil(6000);
  EXPECT_EQ(sim::fileOpens().size(), 2u);
  EXPECT_EQ(keyDownsToOthers(kKey), 0u);
  EXPECT_EQ(pressCalls(), (Calls{"SetTimer(w1,193,100)", "RegisterHotKey(w1,200,0,200)", "KillTimer(w1,193)",
                                 "UnregisterHotKey(w1,193)"}));
  EXPECT_EQ(registeredKeys(), (std::vector<UINT>{200}));
  expectNothingLeft();
}

TEST_F(PressTest, KeyHeldAcrossAReloadByAnotherKeyIsHandedThroughOnceThenBoundAnew) {
  sim::putFile(kSecondIni, unicodeFile(joinLines({u"KURVIX", u"KeyCode=193", u"Command=\\b.exe"})));
  createWithCommand(joinLines({u"KURVIX", u"KeyCode=194", u"NewIni=\\Speicher\\Zweite.ini"}));
  sim::pressAt(kOtherKey, 0, 1200);  // reloads at 1000 ...
  sim::pressAt(kKey, 600, 2500);     // ... while this one is still timed; its repeats follow
  sim::runUntil(3000);
  EXPECT_EQ(started(), 0u);  // neither the old binding nor the new one acted
  EXPECT_EQ(injectedFor(kKey), kOnePassThrough);
  EXPECT_EQ(keyDownsToOthers(kKey), 0u);
  EXPECT_EQ(registeredKeys(), (std::vector<UINT>{kKey}));
  sim::pressAt(kKey, 4000, 5500);
  sim::runUntil(6000);
  ASSERT_EQ(started(), 1u);
  EXPECT_EQ(sim::programs()[0].file, u"\\b.exe");
  expectNothingLeft();
}

TEST_F(PressTest, BoundKeyTimedAcrossTheDisableKeyIsHandedThroughAndLetGo) {
  createWithCommand(joinLines({u"KURVIX", u"KeyCode=194", u"Disable=1"}));
  sim::pressAt(kOtherKey, 0, 2000);  // switches off at 1000
  sim::pressAt(kKey, 900, 1300);     // tapped meanwhile, let go after the switch-off
  sim::runUntil(3000);
  EXPECT_EQ(table->isDisabled(), 1);
  EXPECT_EQ(injectedFor(kKey), kOnePassThrough);
  EXPECT_TRUE(registeredKeys().empty());
  // Off is off: its next long press acts on nothing and reaches the program in front.
  sim::pressAt(kKey, 4000, 6000);
  sim::runUntil(7000);
  EXPECT_EQ(started(), 0u);
  EXPECT_GT(keyDownsToOthers(kKey), 1u);
  expectNothingLeft();
}

TEST_F(PressTest, BoundKeyTimedAcrossTheWindowsSwitchOffIsHandedThroughAndLetGo) {
  createWithCommand();
  sim::pressAt(kKey, 0, 250);
  sim::at(100, [this] { table->disable(); });  // what the window's "D" does
  sim::runUntil(1000);
  EXPECT_EQ(injectedFor(kKey), kOnePassThrough);
  EXPECT_TRUE(registeredKeys().empty());
  sim::pressAt(kKey, 2000, 4000);
  sim::runUntil(5000);
  EXPECT_EQ(started(), 0u);
  expectNothingLeft();
}

TEST_F(PressTest, PollTimerRunningWhenTheBindingsGoOffDoesNotAct) {
  createWithCommand(joinLines({u"KURVIX", u"KeyCode=194", u"Disable=1"}));
  sim::pressAt(kOtherKey, 0, 1100);  // switches off at 1000 ...
  sim::pressAt(kKey, 500, 3000);     // ... before this one reaches its hold time at 1500
  sim::at(2000, [this] { EXPECT_EQ(registeredKeys(), (std::vector<UINT>{kKey})); });
  sim::runUntil(4000);
  EXPECT_EQ(started(), 0u);
  // The press acted on nothing, so its key is handed back once, and then let go.
  EXPECT_EQ(injectedFor(kKey), kOnePassThrough);
  EXPECT_EQ(keyDownsToOthers(kKey), 0u);
  EXPECT_TRUE(registeredKeys().empty());
  EXPECT_TRUE(sim::timers().empty());

  // The same when the window switches off, and when it switches on again while the key is
  // still held: that press stays without effect; the next one acts.
  table->enable();
  sim::pressAt(kKey, 5000, 7000);
  sim::at(5300, [this] { table->disable(); });
  sim::at(5600, [this] { table->enable(); });
  sim::runUntil(8000);
  EXPECT_EQ(started(), 0u);
  EXPECT_EQ(registeredKeys(), (std::vector<UINT>{kOtherKey, kKey}));  // kKey again after its pass-through
  sim::pressAt(kKey, 9000, 10500);
  sim::runUntil(11000);
  EXPECT_EQ(started(), 1u);
  expectNothingLeft();
}

TEST_F(PressTest, SecondBindingOfAKeyLeftPressedIsNotHeldByAReload) {
  sim::putFile(kSecondIni, unicodeFile(joinLines({u"KURVIX", u"KeyCode=200"})));
  ASSERT_NE(createFrom(joinLines({u"KURVIX", u"KeyCode=193", u"", u"KURVIX", u"KeyCode=193", u"", u"KURVIX",
                                  u"KeyCode=194", u"NewIni=\\Speicher\\Zweite.ini"})),
            nullptr);
  sim::pressAt(kKey, 0, 50);  // the second binding stays pressed: ticks reach only the first
  sim::pressAt(kOtherKey, 1000, 2500);
  sim::runUntil(4000);
  EXPECT_EQ(table->isHeld(kKey), 0);
  EXPECT_EQ(registeredKeys(), (std::vector<UINT>{200}));
  EXPECT_TRUE(sim::timers().empty());
  expectNothingLeft();
}

TEST_F(PressTest, KeyMessageArrivingWhileOffStartsNoPressAndHandsTheKeyBack) {
  createWithCommand();
  // The key-down is caught and waits in the queue while the bindings go off.
  sim::keyDown(kKey);
  table->disable();
  sim::clearCalls();
  sim::runFor(3000);  // repeating all the while
  sim::keyUp(kKey);
  sim::runFor(500);
  EXPECT_EQ(started(), 0u);
  EXPECT_EQ(keyDownsToOthers(kKey), 0u);
  EXPECT_EQ(injectedFor(kKey), kOnePassThrough);  // the program in front gets the key once
  EXPECT_TRUE(registeredKeys().empty());
  EXPECT_TRUE(sim::timers().empty());
}

// ---- Presses while a message box is open ----------------------------------------------------

TEST_F(PressTest, TicksDuringTheQuestionNeitherLaunchAgainNorPassThrough) {
  createWithCommand();
  sim::pressAt(kKey, 0, 1500);
  sim::runUntil(2000);
  ASSERT_EQ(started(), 1u);
  // Second long press while the program runs: the question stays open for 3 s, the key is
  // released meanwhile.
  sim::whileBoxOpen([](const sim::MessageBoxRecord&) { sim::runFor(3000); });
  sim::answerBoxes({IDYES});
  sim::pressAt(kKey, 3000, 4500);
  sim::runUntil(8000);
  EXPECT_EQ(sim::messageBoxes().size(), 1u);
  EXPECT_EQ(started(), 1u);
  EXPECT_TRUE(sim::programs()[0].terminated);
  EXPECT_TRUE(sim::injectedKeys().empty());
  EXPECT_EQ(table->binding(0)->pressed(), 0);
  expectNothingLeft();
}

TEST_F(PressTest, AnswerToAQuestionConcernsOnlyTheProgramItAskedAbout) {
  createWithCommand();
  sim::pressAt(kKey, 0, 1500);
  sim::runUntil(2000);
  // While the first question is open the key is released, pressed long again, and the
  // second question is answered yes; then the first one is answered yes too.
  sim::whileBoxOpen([](const sim::MessageBoxRecord& box) {
    if (box.depth != 1) return;
    sim::pressAt(kKey, sim::now() + 200, sim::now() + 1500);
    sim::runFor(2000);
  });
  sim::answerBoxes({IDYES, IDYES});
  sim::pressAt(kKey, 3000, 4050);
  sim::runUntil(9000);
  EXPECT_EQ(sim::messageBoxes().size(), 2u);
  EXPECT_EQ(sim::callsOf({"TerminateProcess"}).size(), 1u);
  EXPECT_EQ(sim::badCloseCount(), 0u);
  EXPECT_EQ(sim::openHandleCount(), 0u);
}

TEST_F(PressTest, ReloadByAnotherKeyDuringTheQuestionWaitsUntilTheQuestionIsAnswered) {
  sim::putFile(kSecondIni, unicodeFile(joinLines({u"KURVIX", u"KeyCode=200"})));
  createWithCommand(joinLines({u"KURVIX", u"KeyCode=194", u"NewIni=\\Speicher\\Zweite.ini"}));
  sim::pressAt(kKey, 0, 1500);
  sim::runUntil(2000);
  sim::whileBoxOpen([this](const sim::MessageBoxRecord& box) {
    if (box.caption != u"Terminieren?") return;
    sim::pressAt(kOtherKey, sim::now() + 10, sim::now() + 1600);
    sim::runFor(2000);
    EXPECT_EQ(table->count(), 2u);  // not reloaded under the open question
  });
  sim::answerBoxes({IDYES});
  sim::pressAt(kKey, 3000, 4500);
  sim::runUntil(9000);
  EXPECT_TRUE(sim::programs()[0].terminated);
  ASSERT_EQ(table->count(), 1u);
  EXPECT_EQ(table->binding(0)->keyCode(), 200u);
  EXPECT_EQ(registeredKeys(), (std::vector<UINT>{200}));
  expectNothingLeft();
}

TEST_F(PressTest, ReloadAskedForWhileAFileIsStillBeingReadWaitsForTheRead) {
  // The bad line stands inside the block whose binding is long-pressed during its message.
  sim::putFile(kSecondIni, unicodeFile(joinLines({u"KURVIX", u"KeyCode=195", u"NewIni=\\Speicher\\Dritte.ini",
                                                  u"bad line", u"Command=\\c.exe", u"", u"KURVIX",
                                                  u"KeyCode=196"})));
  sim::putFile(kThirdIni, unicodeFile(joinLines({u"KURVIX", u"KeyCode=210"})));
  ASSERT_NE(createFrom(joinLines({u"KURVIX", u"KeyCode=193", u"NewIni=\\Speicher\\Zweite.ini"})), nullptr);
  bool switched = false;
  sim::whileBoxOpen([&](const sim::MessageBoxRecord& box) {
    if (box.text != u"bad line" || switched) return;
    switched = true;
    // The user switches off and on and long-presses the key read so far: a file being read
    // has none of its keys registered, so the press reaches the program in front.
    table->disable();
    table->enable();
    EXPECT_EQ(registeredKeys(), (std::vector<UINT>{kKey}));  // kKey: still held
    sim::pressAt(195, sim::now() + 10, sim::now() + 1500);
    sim::runFor(2000);
  });
  sim::pressAt(kKey, 0, 1500);
  sim::runUntil(5000);
  EXPECT_TRUE(switched);
  ASSERT_EQ(table->count(), 2u);
  EXPECT_EQ(registeredKeys(), (std::vector<UINT>{195, 196}));
  EXPECT_GT(keyDownsToOthers(195), 0u);
  expectNothingLeft();
}

TEST_F(PressTest, TableDestroyedDuringTheQuestionIsFreedWhenTheQuestionReturns) {
  createWithCommand();
  sim::pressAt(kKey, 0, 1500);
  sim::runUntil(2000);
  sim::whileBoxOpen([this](const sim::MessageBoxRecord&) {
    destroyTable();  // the window is closed meanwhile
    EXPECT_TRUE(sim::hotKeys().empty());
    EXPECT_TRUE(sim::timers().empty());
  });
  sim::answerBoxes({IDYES});
  sim::pressAt(kKey, 3000, 4500);
  sim::runUntil(5000);
  EXPECT_TRUE(sim::programs()[0].terminated);  // the answer still counts
  EXPECT_TRUE(sim::hotKeys().empty());
  EXPECT_TRUE(sim::timers().empty());
  EXPECT_EQ(sim::openHandleCount(), 0u);
}

TEST_F(PressTest, TableDestroyedDuringAReadersMessageStopsReadingAndIsFreed) {
  sim::putFile(kSecondIni, unicodeFile(joinLines({u"KURVIX", u"KeyCode=195", u"", u"bad line", u"also bad",
                                                  u"KURVIX", u"KeyCode=196"})));
  ASSERT_NE(createFrom(joinLines({u"KURVIX", u"KeyCode=193", u"Disable=1", u"NewIni=\\Speicher\\Zweite.ini"})),
            nullptr);
  sim::whileBoxOpen([this](const sim::MessageBoxRecord&) { destroyTable(); });
  sim::pressAt(kKey, 0, 1500);
  sim::runUntil(3000);
  EXPECT_EQ(boxes().size(), 1u);  // reading stopped at the first message
  EXPECT_TRUE(sim::hotKeys().empty());
  EXPECT_TRUE(sim::timers().empty());
  EXPECT_EQ(sim::openHandleCount(), 0u);
}

// ---- Keys held while boxes are open -------------------------------------------------------

// Key 197 is held by another program in every scenario: it is the only key a taken-key box
// may ever name. The drive creates the table itself (create()), so that it can be inside a
// box of the start-up.
struct HeldKeyBoxCase {
  const char* scenario;
  std::u16string first, second;  // Kurvix.ini and \Speicher\Zweite.ini
  std::function<void(BindingTable*& table, const std::function<void()>& create)> drive;
  std::vector<std::u16string> reported;  // the keys named by taken-key boxes, in order
  std::vector<UINT> registered;          // once every key is up again
  size_t started;                        // programs started
};

void PrintTo(const HeldKeyBoxCase& row, std::ostream* out) { *out << row.scenario; }

class HeldKeyBoxTest : public PressTest, public ::testing::WithParamInterface<HeldKeyBoxCase> {};

TEST_P(HeldKeyBoxTest, OnlyAnotherProgramsKeyIsReportedAndEveryRegistrationHasItsBinding) {
  const HeldKeyBoxCase& row = GetParam();
  sim::holdHotKey(197);
  sim::putFile(kSecondIni, unicodeFile(row.second));
  sim::putFile(std::u16string(kIniPath), unicodeFile(row.first));
  row.drive(table, [this] { BindingTable::create(window, sim::instance(), WM_APP_STATUS, table); });
  ASSERT_NE(table, nullptr);
  std::vector<std::u16string> reported;
  for (const Box& box : boxes()) {
    if (box.caption == u"Kurvix - Taste belegt:") reported.push_back(box.text);
  }
  EXPECT_EQ(reported, row.reported);
  EXPECT_EQ(registeredKeys(), row.registered);
  for (UINT key : registeredKeys()) {
    bool bound = false;
    for (DWORD i = 0; i < table->count(); ++i) bound |= table->binding(i)->keyCode() == key;
    EXPECT_TRUE(bound && !table->isDisabled()) << key << " is registered without a binding in force";
  }
  EXPECT_EQ(started(), row.started);
  expectNothingLeft();
}

// Opens the file's reader box for `bad line` while the user goes on for `ms`.
void whileReaderReports(uint64_t ms) {
  sim::whileBoxOpen([ms](const sim::MessageBoxRecord& box) {
    if (box.text == u"bad line") sim::runFor(ms);
  });
}

// kKey starts \a.exe and is long-pressed again; while "Terminieren?" is open the user
// long-presses 195 (NewIni: the reload waits for the answer), then puts 196 down just before
// the answer, its key message still queued when the reload begins, and lets it go during the
// new file's "bad line" box, or at once, before the reload.
void tapQueuedAcrossAReload(bool upBeforeTheReload = false) {
  sim::whileBoxOpen([upBeforeTheReload](const sim::MessageBoxRecord& box) {
    if (box.caption == u"Terminieren?") {
      sim::keyDown(195);
      sim::runFor(1200);
      sim::keyUp(195);
      sim::runFor(200);
      sim::keyDown(196);
      if (upBeforeTheReload) sim::keyUp(196);
    } else if (box.text == u"bad line" && !upBeforeTheReload) {
      sim::runFor(100);
      sim::keyUp(196);
      sim::runFor(300);
    }
  });
  sim::pressAt(kKey, 0, 1500);
  sim::pressAt(kKey, 2000, 3500);
  sim::runUntil(8000);
}

const std::u16string kNewIni195 = joinLines({u"KURVIX", u"KeyCode=195", u"NewIni=\\Speicher\\Zweite.ini"});

INSTANTIATE_TEST_SUITE_P(
    Scenarios, HeldKeyBoxTest,
    ::testing::Values(
        HeldKeyBoxCase{
            "NewIni key let go during the new file's reader box; its new binding works",
            kNewIni195, joinLines({u"KURVIX", u"KeyCode=195", u"Command=\\b.exe", u"bad line"}),
            [](BindingTable*&, const std::function<void()>& create) {
              create();
              whileReaderReports(1000);
              sim::pressAt(195, 0, 1500);
              sim::pressAt(195, 4000, 5500);
              sim::runUntil(6000);
            },
            {}, {195}, 1},
        HeldKeyBoxCase{
            "NewIni key let go during the new file's taken-key box",
            kNewIni195, joinLines({u"KURVIX", u"KeyCode=197", u"", u"KURVIX", u"KeyCode=195", u"Command=\\b.exe"}),
            [](BindingTable*&, const std::function<void()>& create) {
              create();
              sim::whileBoxOpen([](const sim::MessageBoxRecord&) { sim::runFor(1000); });
              sim::pressAt(195, 0, 1500);
              sim::pressAt(195, 4000, 5500);
              sim::runUntil(6000);
            },
            {u"197"}, {195}, 1},
        HeldKeyBoxCase{
            "key held across D let go during E's taken-key box",
            joinLines({u"KURVIX", u"KeyCode=197", u"", u"KURVIX", u"KeyCode=193", u"Command=\\a.exe"}), u"",
            [](BindingTable*& table, const std::function<void()>& create) {
              create();
              sim::whileBoxOpen([](const sim::MessageBoxRecord&) { sim::runFor(2000); });
              sim::pressAt(kKey, 0, 3000);  // acts at 1000
              sim::at(1500, [&table] { table->disable(); });
              sim::at(2000, [&table] { table->enable(); });
              sim::runUntil(5000);
            },
            {u"197", u"197"}, {kKey}, 1},
        HeldKeyBoxCase{
            "D then E tapped while the start-up's taken-key box is open",
            joinLines({u"KURVIX", u"KeyCode=197", u"", u"KURVIX", u"KeyCode=193", u"", u"KURVIX", u"KeyCode=194"}),
            u"",
            [](BindingTable*& table, const std::function<void()>& create) {
              sim::whileBoxOpen([&table](const sim::MessageBoxRecord& box) {
                if (box.depth != 1) return;
                table->disable();
                table->enable();  // reports 197 again, in a box of its own
              });
              create();
            },
            {u"197", u"197"}, {kKey, kOtherKey}, 0},
        HeldKeyBoxCase{
            "D then E tapped while the new file's reader box is open",
            kNewIni195, joinLines({u"KURVIX", u"KeyCode=200", u"bad line", u"", u"KURVIX", u"KeyCode=201"}),
            [](BindingTable*& table, const std::function<void()>& create) {
              create();
              sim::whileBoxOpen([&table](const sim::MessageBoxRecord&) {
                table->disable();
                table->enable();
              });
              sim::pressAt(195, 0, 1500);
              sim::runUntil(3000);
            },
            {}, {200, 201}, 0},
        HeldKeyBoxCase{
            "a key queued just before a reload, handled during the new file's first box",
            joinLines({u"KURVIX", u"KeyCode=193", u"Command=\\a.exe", u"", u"KURVIX", u"KeyCode=195",
                       u"NewIni=\\Speicher\\Zweite.ini", u"", u"KURVIX", u"KeyCode=196", u"Command=\\c.exe"}),
            joinLines({u"KURVIX", u"KeyCode=196", u"Command=\\c.exe", u"bad line"}),
            [](BindingTable*&, const std::function<void()>& create) {
              create();
              tapQueuedAcrossAReload();
            },
            {}, {196}, 1},
        HeldKeyBoxCase{
            "held key let go during the new file's reader box, its block then bound to another key",
            kNewIni195, joinLines({u"KURVIX", u"KeyCode=195", u"bad line", u"KeyCode=196"}),
            [](BindingTable*&, const std::function<void()>& create) {
              create();
              whileReaderReports(1000);
              sim::pressAt(195, 0, 1500);
              sim::runUntil(3000);
            },
            {}, {196}, 0},
        HeldKeyBoxCase{
            "a press during the start-up's taken-key box is timed: short handed back, long acts",
            joinLines({u"KURVIX", u"KeyCode=193", u"Command=\\a.exe", u"", u"KURVIX", u"KeyCode=197"}), u"",
            [](BindingTable*&, const std::function<void()>& create) {
              sim::whileBoxOpen([](const sim::MessageBoxRecord&) {
                sim::pressAt(kKey, sim::now() + 10, sim::now() + 200);
                sim::pressAt(kKey, sim::now() + 500, sim::now() + 2000);
                sim::runFor(3000);
              });
              create();
            },
            {u"197"}, {kKey}, 1}),
    [](const ::testing::TestParamInfo<HeldKeyBoxCase>& info) { return std::to_string(info.index); });

TEST_F(PressTest, AReloadAskedForDuringTheStartUpsTakenKeyBoxRegistersNoMoreOfTheOldKeys) {
  sim::holdHotKey(197);
  sim::putFile(kSecondIni, unicodeFile(joinLines({u"KURVIX", u"KeyCode=200"})));
  sim::whileBoxOpen([](const sim::MessageBoxRecord&) {
    sim::keyDown(195);  // the reload waits until the start-up is over
    sim::runFor(1200);
    sim::keyUp(195);
    sim::runFor(200);
  });
  ASSERT_NE(createFrom(joinLines({kNewIni195, u"", u"KURVIX", u"KeyCode=197", u"", u"KURVIX", u"KeyCode=198"})), nullptr);
  // 198, behind the taken key, belongs to the bindings the reload replaced: never registered.
  EXPECT_EQ(sim::callsOf({"RegisterHotKey"}),
            (Calls{"RegisterHotKey(w1,195,0,195)", "RegisterHotKey(w1,197,0,197)", "RegisterHotKey(w1,200,0,200)"}));
  EXPECT_EQ(registeredKeys(), (std::vector<UINT>{200}));
  expectNothingLeft();
}

TEST_F(PressTest, PressDuringTheStartUpsTakenKeyBoxReachesTheProgramInFrontOnce) {
  sim::holdHotKey(197);
  sim::whileBoxOpen([](const sim::MessageBoxRecord&) {
    sim::pressAt(kKey, sim::now() + 10, sim::now() + 200);
    sim::runFor(1000);
  });
  ASSERT_NE(createFrom(joinLines({u"KURVIX", u"KeyCode=193", u"", u"KURVIX", u"KeyCode=197"})), nullptr);
  EXPECT_EQ(injectedFor(kKey), kOnePassThrough);
  EXPECT_EQ(keyDownsToOthers(kKey), 0u);
}

// ---- A file being read has none of its keys registered ------------------------------------

// The reload's file binds 195, then a bad line, then changes the block's KeyCode to 196.
// While the bad line's box is open the user presses 195 and keeps it down past the answer.
struct HalfReadBlockCase {
  const char* scenario;
  std::u16string first;  // Kurvix.ini; its NewIni key is long-pressed from 0 to 1500
  UINT newIniKey;
  std::function<void(BindingTable* table)> inTheBox;  // before 195 goes down
};

TEST_F(PressTest, AKeyOfAHalfReadBlockIsNeverCaughtAndItsBlocksFinalKeyWorks) {
  const std::vector<HalfReadBlockCase> cases = {
      {"D then E tapped during the box", joinLines({u"KURVIX", u"KeyCode=194", u"NewIni=\\Speicher\\Zweite.ini"}),
       kOtherKey, [](BindingTable* table) { table->disable(); table->enable(); }},
      {"195 held across the reload and let go during the box", kNewIni195, 195,
       [](BindingTable*) { sim::runFor(700); }},
  };
  for (const HalfReadBlockCase& row : cases) {
    sim::reset();
    TableTest::SetUp();
    sim::putFile(kSecondIni, unicodeFile(joinLines({u"KURVIX", u"KeyCode=195", u"Command=\\c.exe", u"bad line",
                                                    u"KeyCode=196"})));
    ASSERT_NE(createFrom(row.first), nullptr);
    sim::whileBoxOpen([this, &row](const sim::MessageBoxRecord& box) {
      if (box.text != u"bad line") return;
      row.inTheBox(table);
      sim::keyDown(195);
      sim::runFor(300);  // answered with 195 down
    });
    sim::pressAt(row.newIniKey, 0, 1500);
    sim::runUntil(2800);
    sim::keyUp(195);
    sim::runFor(500);
    EXPECT_EQ(registeredKeys(), (std::vector<UINT>{196})) << row.scenario;
    EXPECT_TRUE(sim::timers().empty()) << row.scenario;  // no tick without a press
    EXPECT_GT(keyDownsToOthers(195), 0u) << row.scenario;
    EXPECT_TRUE(injectedFor(195).empty()) << row.scenario;
    sim::whileBoxOpen(nullptr);
    sim::pressAt(196, 4000, 5500);  // the block's final key: long press starts its Command
    sim::pressAt(196, 6000, 6100);  // short press handed back
    sim::runUntil(7000);
    EXPECT_EQ(started(), 1u) << row.scenario;
    EXPECT_EQ(injectedFor(196), kOnePassThrough) << row.scenario;
    expectNothingLeft();
  }
}

// ---- A key-down Kurvix caught is timed or handed back, whatever happened meanwhile -------------

// Kurvix.ini binds 193 (\a.exe), 195 (NewIni) and 196 (\c.exe); see tapQueuedAcrossAReload.
struct QueuedAcrossReloadCase {
  const char* scenario;
  std::u16string second;  // Zweite.ini; its bad line's box lets the queued message through
  bool upBeforeTheReload;
};

TEST_F(PressTest, AKeyDownQueuedAcrossAReloadIsHandedBackOnceWhateverTheNewFileBinds) {
  const std::vector<QueuedAcrossReloadCase> cases = {
      {"the new file binds 196 before its bad line", joinLines({u"KURVIX", u"KeyCode=196", u"bad line"}), false},
      {"the new file binds 196 after its bad line", joinLines({u"KURVIX", u"KeyCode=200", u"bad line", u"",
                                                               u"KURVIX", u"KeyCode=196"}), false},
      {"the new file does not bind 196", joinLines({u"KURVIX", u"KeyCode=200", u"bad line"}), false},
      {"196 up before the reload, the new file binds it", joinLines({u"KURVIX", u"KeyCode=196", u"bad line"}), true},
      {"196 up before the reload, the new file does not bind it", joinLines({u"KURVIX", u"KeyCode=200", u"bad line"}),
       true},
  };
  for (const QueuedAcrossReloadCase& row : cases) {
    sim::reset();
    TableTest::SetUp();
    sim::putFile(kSecondIni, unicodeFile(row.second));
    createWithCommand(joinLines({u"KURVIX", u"KeyCode=195", u"NewIni=\\Speicher\\Zweite.ini", u"", u"KURVIX",
                                 u"KeyCode=196", u"Command=\\c.exe"}));
    tapQueuedAcrossAReload(row.upBeforeTheReload);
    EXPECT_EQ(injectedFor(196), kOnePassThrough) << row.scenario;
    EXPECT_EQ(keyDownsToOthers(196), 0u) << row.scenario;
    EXPECT_EQ(started(), 1u) << row.scenario;
    EXPECT_TRUE(sim::timers().empty()) << row.scenario;
    expectNothingLeft();
  }
}

// ---- Keys already down when they are registered ----------------------------------------------

struct DownBeforeCase {
  const char* scenario;
  std::u16string first;                              // Kurvix.ini; Zweite.ini binds kKey
  std::function<void(BindingTable*& table)> drive;  // kKey is held from 500 to 4000 meanwhile
};

TEST_F(PressTest, AKeyDownBeforeItIsRegisteredNeverActsAndIsNotHandedBack) {
  const std::u16string newIni = joinLines({u"KURVIX", u"KeyCode=194", u"NewIni=\\Speicher\\Zweite.ini"});
  const std::vector<DownBeforeCase> cases = {
      {"pressed while off, held across E",
       joinLines({u"KURVIX", u"KeyCode=193", u"Command=\\a.exe", u"", newIni}),
       [](BindingTable*& table) {
         table->disable();
         sim::at(1500, [&table] { table->enable(); });
       }},
      {"unbound, held across a reload that binds it", newIni,
       [](BindingTable*&) { sim::pressAt(kOtherKey, 0, 1200); }},  // reloads at 1000
  };
  for (const DownBeforeCase& row : cases) {
    sim::reset();
    TableTest::SetUp();
    sim::putFile(kSecondIni, unicodeFile(joinLines({u"KURVIX", u"KeyCode=193", u"Command=\\a.exe", u"", newIni})));
    ASSERT_NE(createFrom(row.first), nullptr);
    row.drive(table);
    sim::pressAt(kKey, 500, 4000);  // repeating from 1000 on, through the registration
    sim::runUntil(5000);
    EXPECT_EQ(started(), 0u) << row.scenario;
    EXPECT_TRUE(sim::injectedKeys().empty()) << row.scenario;  // its key-down went to the program in front
    EXPECT_TRUE(sim::isRegistered(kKey)) << row.scenario;
    sim::pressAt(kKey, 6000, 7500);  // the next press acts
    sim::runUntil(8000);
    EXPECT_EQ(started(), 1u) << row.scenario;
    expectNothingLeft();
  }
}

// ---- The system refuses a poll timer -------------------------------------------------------------

TEST_F(PressTest, WithoutAPollTimerThePressIsHandedBackAndTheNextOneWorks) {
  createWithCommand();
  sim::failTimers(true);
  sim::pressAt(kKey, 0, 300);
  sim::runUntil(1000);
  EXPECT_EQ(table->binding(0)->pressed(), 0);
  EXPECT_EQ(injectedFor(kKey), kOnePassThrough);
  EXPECT_EQ(keyDownsToOthers(kKey), 0u);
  EXPECT_EQ(registeredKeys(), (std::vector<UINT>{kKey}));
  sim::failTimers(false);
  sim::pressAt(kKey, 2000, 3500);
  sim::runUntil(4000);
  EXPECT_EQ(started(), 1u);
  expectNothingLeft();
}

// A key-down the table did not catch (it went to the program in front) or handed back never
// acts, not even when the system had no timer left at that moment: 193 stays down from 500 to
// 4000, repeating, then its next press acts.
struct UntimedKeyDownCase {
  const char* scenario;
  std::function<void(BindingTable* table)> drive;
  std::vector<std::pair<bool, DWORD>> injected;  // for 193, by the end
};

TEST_F(PressTest, AKeyDownWithoutATimerNeverActsThroughItsRepeats) {
  const std::vector<UntimedKeyDownCase> cases = {
      {"pressed while off, E tapped while no timer is free",
       [](BindingTable* table) {
         table->disable();
         sim::at(1500, [table] {
           sim::failTimers(true);
           table->enable();
           sim::failTimers(false);
         });
       },
       {}},
      {"its press handed back as no timer was free",
       [](BindingTable*) {
         sim::at(499, [] { sim::failTimers(true); });
         sim::at(501, [] { sim::failTimers(false); });
       },
       {{true, KEYEVENTF_SILENT}, {false, KEYEVENTF_KEYUP}}},
  };
  for (const UntimedKeyDownCase& row : cases) {
    sim::reset();
    TableTest::SetUp();
    createWithCommand();
    row.drive(table);
    sim::pressAt(kKey, 500, 4000);
    sim::runUntil(5000);
    EXPECT_EQ(started(), 0u) << row.scenario;
    EXPECT_EQ(injectedFor(kKey), row.injected) << row.scenario;
    EXPECT_TRUE(sim::timers().empty()) << row.scenario;
    sim::pressAt(kKey, 6000, 7500);
    sim::runUntil(8000);
    EXPECT_EQ(started(), 1u) << row.scenario;
    expectNothingLeft();
  }
}

// ---- Switching off while a reload waits for a box ----------------------------------------------

struct SwitchWhileReloadWaitsCase {
  const char* scenario;
  std::function<void(BindingTable* table)> afterTheNewIniPress;  // still inside the box
  unsigned char endsDisabled;
};

TEST_F(PressTest, TheUsersLastSwitchWinsOverAReloadThatWaitedForABox) {
  const std::vector<SwitchWhileReloadWaitsCase> cases = {
      {"nothing tapped", [](BindingTable*) {}, 0},
      {"D tapped", [](BindingTable* table) { table->disable(); }, 1},
      {"D, then E tapped", [](BindingTable* table) { table->disable(); table->enable(); }, 0},
  };
  for (const SwitchWhileReloadWaitsCase& row : cases) {
    sim::reset();
    TableTest::SetUp();
    sim::putFile(kSecondIni, unicodeFile(joinLines({u"KURVIX", u"KeyCode=200"})));
    createWithCommand(joinLines({u"KURVIX", u"KeyCode=194", u"NewIni=\\Speicher\\Zweite.ini"}));
    sim::whileBoxOpen([this, &row](const sim::MessageBoxRecord&) {
      sim::pressAt(kOtherKey, sim::now() + 10, sim::now() + 1300);
      sim::runFor(1500);
      row.afterTheNewIniPress(table);
    });
    sim::pressAt(kKey, 0, 1500);     // starts \a.exe
    sim::pressAt(kKey, 2000, 3500);  // asks whether to end it: the reload waits for the answer
    sim::runUntil(6000);
    ASSERT_EQ(table->count(), 1u) << row.scenario;
    EXPECT_EQ(table->isDisabled(), row.endsDisabled) << row.scenario;
    EXPECT_EQ(registeredKeys(), row.endsDisabled ? std::vector<UINT>{} : std::vector<UINT>{200}) << row.scenario;
    expectNothingLeft();
  }
}

}  // namespace
