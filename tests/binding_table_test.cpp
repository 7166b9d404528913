// The binding table's bookkeeping of key registrations and its reports, and a binding's
// launch of its program, on the simulated device.
#include <algorithm>
#include <functional>
#include <string>

#include "tests/device_test.h"

namespace {

using Calls = std::vector<std::string>;

class BindingTableTest : public TableTest {
 protected:
  Calls registrationCalls() { return sim::callsOf({"RegisterHotKey", "UnregisterHotKey", "KillTimer"}); }
  const std::u16string threeBindings =
      joinLines({u"KURVIX", u"KeyCode=193", u"", u"KURVIX", u"KeyCode=194", u"", u"KURVIX", u"KeyCode=195"});
};

TEST_F(BindingTableTest, CreateRegistersEveryKeyInTableOrderAndStartsEnabled) {
  ASSERT_NE(createFrom(threeBindings), nullptr);
  EXPECT_EQ(registrationCalls(), (Calls{"RegisterHotKey(w1,193,0,193)", "RegisterHotKey(w1,194,0,194)",
                                        "RegisterHotKey(w1,195,0,195)"}));
  EXPECT_EQ(table->isDisabled(), 0);
  // Only the load reports; starting enabled posts nothing more.
  EXPECT_EQ(statusReports(), (std::vector<std::pair<WPARAM, LPARAM>>{{STATUS_LOADED, 3}}));
}

TEST_F(BindingTableTest, CreateWithAMissingFileRegistersNothingAndReturnsNull) {
  EXPECT_EQ(BindingTable::create(window, sim::instance(), WM_APP_STATUS, table), nullptr);
  EXPECT_EQ(table, nullptr);
  EXPECT_TRUE(registrationCalls().empty());
  EXPECT_EQ(statusReports(), (std::vector<std::pair<WPARAM, LPARAM>>{{STATUS_LOADED, 0}}));
  EXPECT_EQ(sim::openHandleCount(), 0u);
}

TEST_F(BindingTableTest, CreateWithSettingsOnlyHoldsNoBinding) {
  ASSERT_NE(createFrom(joinLines({u"SETTINGS", u"ElapseTime=5"})), nullptr);
  EXPECT_EQ(table->count(), 0u);
  EXPECT_EQ(table->elapseTime(), 5u);
  EXPECT_TRUE(registrationCalls().empty());
}

TEST_F(BindingTableTest, SecondBindingOfTheSameKeyIsNotRegisteredAgainNorReported) {
  ASSERT_NE(createFrom(joinLines({u"KURVIX", u"KeyCode=65", u"", u"KURVIX", u"KeyCode=65"})), nullptr);
  EXPECT_EQ(registrationCalls(), (Calls{"RegisterHotKey(w1,65,0,65)"}));
  EXPECT_TRUE(sim::messageBoxes().empty());
  EXPECT_EQ(registeredKeys(), (std::vector<UINT>{65}));
}

TEST_F(BindingTableTest, DisableAndEnableSwitchRegistrationsAndAlwaysReport) {
  ASSERT_NE(createFrom(threeBindings), nullptr);
  sim::clearCalls();
  table->disable();
  EXPECT_EQ(table->isDisabled(), 1);
  EXPECT_TRUE(registeredKeys().empty());
  table->disable();  // already off: releases nothing, reports again
  EXPECT_EQ(registrationCalls(), (Calls{"UnregisterHotKey(w1,193)", "UnregisterHotKey(w1,194)",
                                        "UnregisterHotKey(w1,195)"}));
  sim::clearCalls();
  table->enable();
  table->enable();
  EXPECT_EQ(registrationCalls(), (Calls{"RegisterHotKey(w1,193,0,193)", "RegisterHotKey(w1,194,0,194)",
                                        "RegisterHotKey(w1,195,0,195)"}));
  EXPECT_EQ(registeredKeys(), (std::vector<UINT>{193, 194, 195}));
  EXPECT_EQ(statusReports(), (std::vector<std::pair<WPARAM, LPARAM>>{{STATUS_LOADED, 3},
                                                                      {STATUS_DISABLED, 0},
                                                                      {STATUS_DISABLED, 0},
                                                                      {STATUS_ENABLED, 0},
                                                                      {STATUS_ENABLED, 0}}));
}

TEST_F(BindingTableTest, DestroyReleasesTheRegistrationsInForceOnly) {
  ASSERT_NE(createFrom(threeBindings), nullptr);
  sim::clearCalls();
  destroyTable();
  EXPECT_EQ(registrationCalls(), (Calls{"UnregisterHotKey(w1,193)", "UnregisterHotKey(w1,194)",
                                        "UnregisterHotKey(w1,195)"}));
  EXPECT_TRUE(registeredKeys().empty());

  ASSERT_NE(createFrom(threeBindings), nullptr);
  table->disable();
  sim::clearCalls();
  destroyTable();  // switched off: nothing is registered, nothing to release
  EXPECT_TRUE(registrationCalls().empty());
  BindingTable::destroy(nullptr);
}

TEST_F(BindingTableTest, ReloadReleasesOldKeysBeforeReadingTheNewFile) {
  ASSERT_NE(createFrom(threeBindings), nullptr);
  sim::clearCalls();
  EXPECT_EQ(loadText(joinLines({u"KURVIX", u"KeyCode=200"})), 0);
  EXPECT_EQ(sim::callsOf({"UnregisterHotKey", "RegisterHotKey", "CreateFileW"}).front(),
            "UnregisterHotKey(w1,193)");
  EXPECT_EQ(sim::callsOf({"UnregisterHotKey", "RegisterHotKey", "CreateFileW"}).size(), 4u);
  EXPECT_TRUE(registeredKeys().empty());  // the caller registers the new keys
  table->registerAll();
  EXPECT_EQ(registeredKeys(), (std::vector<UINT>{200}));
}

TEST_F(BindingTableTest, EveryKeyIsFoundWhileManyAreRegisteredAndThoseAroundHeldKeysLetGo) {
  // 64 keys, some bound twice: the list of registered keys and its index grow several times,
  // and letting go of the keys between held ones takes keys out of the middle of both.
  std::string text;
  std::vector<UINT> keys, held;
  for (UINT i = 0; i < 64; ++i) keys.push_back(2 + 3 * i);
  for (UINT i = 0; i < 72; ++i) {
    text += "KURVIX\r\nKeyCode=" + std::to_string(keys[i % 64]) + "\r\n\r\n";
  }
  ASSERT_NE(createFrom(utf8ToUtf16(text)), nullptr);
  EXPECT_EQ(registeredKeys(), keys);  // the second bindings registered nothing again
  EXPECT_TRUE(sim::messageBoxes().empty());
  for (UINT i = 0; i < 64; i += 4) held.push_back(keys[i]);
  for (UINT key : held) sim::keyDown(key);
  table->disable();
  EXPECT_EQ(registeredKeys(), held);
  for (UINT code = 0; code < 256; ++code) {
    bool isHeld = std::find(held.begin(), held.end(), code) != held.end();
    EXPECT_EQ(table->isRegistered(code), isHeld ? 1 : 0) << "key " << code;
  }
  for (UINT key : held) sim::keyUp(key);
  sim::runFor(1000);
  EXPECT_TRUE(registeredKeys().empty());
  EXPECT_EQ(table->isRegistered(keys[0]), 0);
  table->enable();
  EXPECT_EQ(registeredKeys(), keys);
}

// ---- launch ------------------------------------------------------------------------------

class LaunchTest : public DeviceTest {
 protected:
  void giveCommand(KeyBinding& binding, std::u16string_view command) {
    std::u16string line = u"Command=" + std::u16string(command);
    binding.parseLine(line.c_str(), static_cast<DWORD>(line.size()));
  }
  const std::u16string terminateQuestion = u"Der Prozess l\u00E4uft schon.\nSoll er terminiert werden?";
};

TEST_F(LaunchTest, WithoutCommandOnlyMarksThePressAsFired) {
  KeyBinding binding;
  binding.markPressed();
  binding.launch();
  EXPECT_EQ(binding.fired(), 1);
  EXPECT_EQ(binding.pressed(), 1);
  EXPECT_TRUE(sim::programs().empty());
  EXPECT_TRUE(sim::messageBoxes().empty());
}

TEST_F(LaunchTest, OpensTheWholeCommandThroughTheShell) {
  KeyBinding binding;
  giveCommand(binding, u"\\Programme\\App mit Leerzeichen.exe /a \"b\"");
  binding.launch();
  ASSERT_EQ(sim::programs().size(), 1u);
  const sim::Program& program = sim::programs()[0];
  EXPECT_EQ(program.cbSize, sizeof(SHELLEXECUTEINFO));
  EXPECT_EQ(program.mask, static_cast<ULONG>(SEE_MASK_NOCLOSEPROCESS));
  EXPECT_EQ(program.owner, nullptr);
  EXPECT_EQ(program.verb, u"Open");
  EXPECT_EQ(program.file, u"\\Programme\\App mit Leerzeichen.exe /a \"b\"");
  EXPECT_TRUE(program.parametersNull);
  EXPECT_TRUE(program.directoryNull);
  EXPECT_EQ(program.show, SW_SHOW);
  EXPECT_EQ(program.instApp, sim::instance());
  EXPECT_EQ(sim::openHandleCount(), 1u);  // kept for the running check of the next launch
}

TEST_F(LaunchTest, RunningProgramAnsweredYesIsEndedAndNothingStarts) {
  {
    KeyBinding binding;
    giveCommand(binding, u"\\a.exe");
    binding.launch();
    sim::answerBoxes({IDYES});
    binding.launch();
    ASSERT_EQ(sim::messageBoxes().size(), 1u);
    const sim::MessageBoxRecord& box = sim::messageBoxes()[0];
    EXPECT_EQ(box.caption, u"Terminieren?");
    EXPECT_EQ(box.text, terminateQuestion);
    EXPECT_EQ(box.type, 0x34u);
    EXPECT_EQ(box.owner, nullptr);
    ASSERT_EQ(sim::programs().size(), 1u);
    EXPECT_TRUE(sim::programs()[0].terminated);
    EXPECT_EQ(sim::programs()[0].terminateCode, 0u);
    EXPECT_EQ(sim::openHandleCount(), 0u);

    binding.launch();  // the next long press starts it anew, without asking
    EXPECT_EQ(sim::programs().size(), 2u);
    EXPECT_EQ(sim::messageBoxes().size(), 1u);
  }
  EXPECT_EQ(sim::openHandleCount(), 0u);
  EXPECT_EQ(sim::badCloseCount(), 0u);
  EXPECT_TRUE(sim::programs()[1].running);  // destroying a binding never ends its program
}

TEST_F(LaunchTest, RunningProgramAnsweredNoKeepsRunningAndIsAskedAboutAgain) {
  KeyBinding binding;
  giveCommand(binding, u"\\a.exe");
  binding.launch();
  binding.launch();
  binding.launch();
  EXPECT_EQ(sim::messageBoxes().size(), 2u);
  EXPECT_EQ(sim::programs().size(), 1u);
  EXPECT_FALSE(sim::programs()[0].terminated);
  EXPECT_EQ(sim::openHandleCount(), 1u);
}

struct SecondLaunchCase {
  const char* what;
  std::function<void()> meanwhile;  // what happens to the first program before the second launch
  bool asks;                        // "Terminieren?" instead of a second start
};

TEST_F(LaunchTest, SecondLaunchAsksOnlyWhileTheProcessHasNotEnded) {
  const std::vector<SecondLaunchCase> cases = {
      {"still running", [] {}, true},
      {"ended with 3", [] { sim::endProgram(0, 3); }, false},
      // 259 is STILL_ACTIVE: an exit code cannot tell that the program ended.
      {"ended with 259", [] { sim::endProgram(0, STILL_ACTIVE); }, false},
      // A failed wait says nothing of the program: it counts as ended, no question about a ghost.
      {"running, the wait on it fails", [] { sim::failWait(0); }, false},
  };
  for (const SecondLaunchCase& row : cases) {
    sim::reset();
    SetUp();
    {
      KeyBinding binding;
      giveCommand(binding, u"\\a.exe");
      binding.launch();
      row.meanwhile();
      binding.launch();
      EXPECT_EQ(sim::messageBoxes().size(), row.asks ? 1u : 0u) << row.what;
      EXPECT_EQ(sim::programs().size(), row.asks ? 1u : 2u) << row.what;
      EXPECT_EQ(sim::openHandleCount(), 1u) << row.what;  // the old handle closed, the new one kept
    }
    EXPECT_EQ(sim::badCloseCount(), 0u) << row.what;
  }
}

TEST_F(LaunchTest, StartsWithoutAProcessHandleAreRetriedWithoutAsking) {
  KeyBinding binding;
  giveCommand(binding, u"\\fehlt.exe");
  sim::setStartOutcome(u"\\fehlt.exe", sim::StartOutcome::Fails);
  binding.launch();
  binding.launch();
  sim::setStartOutcome(u"\\fehlt.exe", sim::StartOutcome::NoHandle);
  binding.launch();
  binding.launch();
  EXPECT_EQ(sim::programs().size(), 4u);
  EXPECT_TRUE(sim::messageBoxes().empty());
  EXPECT_EQ(sim::openHandleCount(), 0u);
}

TEST_F(LaunchTest, PressStateMovesBetweenIdleTimingAndFired) {
  sim::setTickCount(5000);
  KeyBinding binding;
  giveCommand(binding, u"\\a.exe");
  binding.markPressed();
  EXPECT_EQ(binding.pressTick(), 5000u);
  EXPECT_EQ(binding.pressed(), 1);
  EXPECT_EQ(binding.fired(), 0);
  binding.launch();
  EXPECT_EQ(binding.fired(), 1);
  binding.resetPress();
  EXPECT_EQ(binding.pressed(), 0);
  EXPECT_EQ(binding.fired(), 0);
  EXPECT_EQ(binding.pressTick(), 0u);
  EXPECT_EQ(std::u16string(binding.command()), u"\\a.exe");  // untouched by resetPress
}

}  // namespace
