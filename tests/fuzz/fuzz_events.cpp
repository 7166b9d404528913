// Fuzzes whole-program event sequences: the input bytes choose a configuration and then
// decode, two or three bytes at a time, into what a user and the device do: the clock
// advancing, keys going down and up, taps anywhere in the window, tray taps, closing,
// answers to message boxes, events delivered while a box is open, configuration files
// changing between reloads, started programs ending, the system refusing timers for a while,
// waits on a started program failing. Held keys repeat as on a real keyboard (the first byte
// also picks the repeat's delay and rate, a tick counter just before its wrap, and whether
// another program holds key 197) and keys overlap; the second byte says how many events
// happen while each of start-up's boxes is open, a close among them. WinMain runs unchanged;
// between two events, with every message handled and no box open, the invariants a user
// relies on are checked; whenever a box opens, the ones that must hold at every moment (only
// another program's key is reported as taken, every registration belongs to a binding or a
// held key, none to a file being read); at the end nothing of the program may be left on the
// device.
#include <cstdio>
#include <cstdlib>
#include <map>
#include <string>
#include <vector>

#include "harness/program_run.h"
#include "res/resource.h"
#include "shell/main_window.h"
#include "shell/tray_icon.h"
#include "sim/device.h"
#include "utf/utf.h"

namespace {

const std::u16string kOtherInis[] = {u"\\F\\A.ini", u"\\F\\B.ini", u"\\F\\C.ini"};
const UINT kKeys[] = {193, 194, 195, 196, 197, 65};
// The key another program holds in some sessions.
const UINT kTakenKey = 197;
// No configuration below holds a key for less than this.
const uint64_t kShortestElapseTime = 300;
const uint64_t kLongestCheckInterval = 130;

const std::vector<std::vector<uint8_t>> kFiles = {
    unicodeFile(u"SETTINGS\r\nCheckIntervall=50\r\nElapseTime=300\r\n\r\n"
                u"KURVIX\r\nKeyCode=193\r\nCommand=\\a.exe\r\n\r\n"
                u"KURVIX\r\nKeyCode=194\r\nDisable=1\r\n\r\n"
                u"KURVIX\r\nKeyCode=195\r\nNewIni=\\F\\B.ini\r\n\r\n"
                u"KURVIX\r\nKeyCode=196\r\n\r\n"
                u"KURVIX\r\nKeyCode=193\r\nCommand=\\second.exe"),
    unicodeFile(u"KURVIX\r\nKeyCode=195\r\nNewIni=\\F\\A.ini\r\nbad line\r\n\r\n"
                u"KURVIX\r\nKeyCode=197\r\nCommand=\\b.exe\r\nDisable=1\r\nNewIni=\\F\\C.ini\r\n"
                u"\r\nunknown\r\nKURVIX\r\nKeyCode=193\r\nCommand=\\a.exe"),
    unicodeFile(u"SETTINGS\r\nElapseTime=400\r\nCheckIntervall=130\r\nwrong\r\n\r\n"
                u"KURVIX\r\nKeyCode=194\r\nNewIni=\\F\\C.ini\r\nDisable=y\r\n"),
    unicodeFile(u"; nothing bound\r\nSETTINGS\r\nElapseTime=300"),
    // A block whose KeyCode changes after a bad line.
    unicodeFile(u"KURVIX\r\nKeyCode=195\r\nCommand=\\c.exe\r\nbad line\r\nKeyCode=196\r\n\r\n"
                u"KURVIX\r\nKeyCode=194\r\nNewIni=\\F\\A.ini"),
    {'K', 0, 'U', 0},  // not UTF-16 with a byte-order mark
    {},                // empty
};

[[noreturn]] void broken(const char* invariant) {
  std::fprintf(stderr, "invariant broken: %s (at %llu ms)\n", invariant,
               static_cast<unsigned long long>(sim::now()));
  std::abort();
}

void require(bool holds, const char* invariant) {
  if (!holds) broken(invariant);
}

class Session {
 public:
  Session(const uint8_t* data, size_t size) : data_(data), size_(size) {}

  void run() {
    uint8_t first = next();
    program_.configure(kFiles[first % 4]);  // the first file always loads
    sim::setKeyRepeat(true, 250 + first / 4 % 4 * 250, 30 + first / 16 % 3 * 10);
    if (first / 64 % 2) sim::setTickCount(0xFFFFFFFFu - first * 20u);
    othersKey_ = first >= 128;
    if (othersKey_) sim::holdHotKey(kTakenKey);
    nestedEvents_ = next() % 6;  // during start-up's boxes
    for (const std::u16string& path : kOtherInis) sim::putFile(path, kFiles[next() % kFiles.size()]);
    sim::whileBoxOpen([this](const sim::MessageBoxRecord& box) { whileBoxOpen(box); });
    program_.at(1, [this](HWND) { step(); });
    int exitCode = program_.run();
    // Start-up is over once the window showed itself or its tray icon; a close during one of
    // start-up's boxes ends the program before that.
    bool cameUp = false;
    for (const sim::TrayCall& call : sim::trayCalls()) cameUp |= call.message == NIM_ADD;
    for (const std::string& call : sim::calls()) cameUp |= call.rfind("ShowWindow(", 0) == 0;
    require(exitCode == 0 || !cameUp, "the program ends with 0 once it ran");
    require(sim::trayIcons().empty(), "no tray icon outlives the program");
    require(sim::hotKeys().empty(), "no registration outlives the program");
    require(sim::timers().empty(), "no timer outlives the program");
    require(sim::openHandleCount() == 0 && sim::badCloseCount() == 0, "every handle closed once");
    require(sim::gdi().pensCreated == sim::gdi().pensDeleted && sim::gdi().errors == 0,
            "every pen deleted, no drawing mistakes");
    require(bindingTable == nullptr, "the table is gone");
  }

 private:
  uint8_t next() { return position_ < size_ ? data_[position_++] : 0; }
  bool exhausted() const { return position_ >= size_; }

  // One event of the main sequence, then the next one scheduled.
  void step() {
    sim::pump();
    require(bindingTable == nullptr || harness::mainWindow() != nullptr,
            "a table is in use only while its window lives (create never returns a destroyed one)");
    if (openBoxes_ == 0) checkInvariants();
    if (exhausted()) {
      PostMessageW(harness::mainWindow(), WM_CLOSE, 0, 0);
      return;
    }
    uint64_t delay = apply();
    program_.at(sim::now() + delay, [this](HWND) { step(); });
  }

  // Applies one event and returns how long until the next one.
  uint64_t apply() {
    HWND window = harness::mainWindow();
    uint8_t kind = next() % 12;
    uint8_t value = next();
    switch (kind) {
      case 0:
        return 1 + value * 8u;
      case 1:
        keyDown(kKeys[value % 6]);
        break;
      case 2:
        keyUp(kKeys[value % 6]);
        break;
      case 3:
        sim::tap(window, 200 + value % 80, next() % 72);
        break;
      case 4:
        if (window != nullptr) sim::tapTrayIcon(window, TRAY_ICON_ID);
        break;
      case 5:
        if (value % 8 == 0) PostMessageW(window, WM_CLOSE, 0, 0);
        break;
      case 6:
        sim::answerBoxes({value % 2 ? IDYES : IDNO});
        break;
      case 7:
        sim::putFile(kOtherInis[value % 3], kFiles[next() % kFiles.size()]);
        break;
      case 8:
        nestedEvents_ = value % 6;
        break;
      case 9:
        if (!sim::programs().empty()) sim::endProgram(value % sim::programs().size(), 0);
        break;
      case 10:
        // No timer left for a while.
        sim::failTimers(true);
        timersRefused_ = true;
        program_.failTimers(sim::now() + 1 + value, false);
        break;
      case 11:
        if (!sim::programs().empty()) sim::failWait(value % sim::programs().size());
        break;
    }
    return 1 + value % 40;
  }

  // The user goes on while a box is open: the events delivered meanwhile run nested.
  void whileBoxOpen(const sim::MessageBoxRecord& box) {
    if (box.caption == u"Kurvix - Taste belegt:") {
      require(othersKey_ && box.text == u"197", "only a key another program holds is reported as taken");
    }
    if (bindingTable != nullptr) checkRegistrations(*bindingTable);
    if (box.depth > 2) return;
    ++openBoxes_;
    for (int events = nestedEvents_; events > 0 && !exhausted(); --events) sim::runFor(apply());
    nestedEvents_ = 0;
    --openBoxes_;
  }

  void keyDown(UINT key) {
    // Polling cannot tell a release shorter than one poll period from no release at all: the
    // device would time both presses as one. Keys stay up a little longer than the longest
    // CheckIntervall of these files before they go down again.
    auto up = upSince_.find(key);
    if (downSince_.count(key) || (up != upSince_.end() && sim::now() < up->second + kLongestCheckInterval + 20)) {
      return;
    }
    countPressStarts();
    pressStarts_[key] = 0;
    // Caught when the key-down went to the program as a key message, not to the focus.
    size_t before = keyDownsToOthers(key);
    downSince_[key] = sim::now();
    caughtAtCall_[key] = sim::calls().size();
    sim::keyDown(key);
    if (keyDownsToOthers(key) == before && !kurvixHasTheFocus()) {
      caught_[key] = before;
    } else {
      caught_.erase(key);
    }
  }

  void keyUp(UINT key) {
    auto down = downSince_.find(key);
    if (down == downSince_.end()) return;
    longestHold_ = std::max(longestHold_, sim::now() - down->second);
    checkCaughtKeys();
    auto caught = caught_.find(key);
    if (caught != caught_.end()) released_.push_back({key, sim::now(), caughtAtCall_[key]});
    downSince_.erase(down);
    caught_.erase(key);
    upSince_[key] = sim::now();
    sim::keyUp(key);
  }

  bool kurvixHasTheFocus() {
    HWND window = harness::mainWindow();
    return window != nullptr && sim::foreground() == window && sim::window(window).visible;
  }

  // The user's own key-downs of a key (first ones and repeats) that reached another program.
  size_t keyDownsToOthers(UINT key) {
    const std::vector<sim::KeyEvent>& events = sim::keysToOthers();
    for (; othersSeen_ < events.size(); ++othersSeen_) {
      const sim::KeyEvent& event = events[othersSeen_];
      if (event.down && !event.injected) ++downsToOthers_[event.virtualKey];
    }
    return downsToOthers_[key];
  }

  // A press begins with the SetTimer for its key; the SetTimer calls of one key message (two
  // bindings of the same key), separated only by the tick queries that stamp them, are one.
  void countPressStarts() {
    const std::vector<std::string>& calls = sim::calls();
    for (; callsSeen_ < calls.size(); ++callsSeen_) {
      const std::string& call = calls[callsSeen_];
      if (call == "GetTickCount()") continue;
      unsigned key = 0;
      if (std::sscanf(call.c_str(), "SetTimer(w%*d,%u,", &key) != 1) {
        lastTimerSet_ = 0;
        continue;
      }
      if (key == lastTimerSet_) continue;
      lastTimerSet_ = key;
      // A refused timer is asked for again at the key's next repeat.
      require(++pressStarts_[key] <= 1 || timersRefused_, "one physical press starts at most one press, so it acts at most once");
    }
  }

  void checkCaughtKeys() {
    // Closing the program lets go of every key, held or not.
    if (bindingTable == nullptr) caught_.clear();
    for (const auto& [key, before] : caught_) {
      require(keyDownsToOthers(key) == before, "no key-down of a caught key reaches the program in front while held");
    }
  }

  // Every key-down the program caught is timed (a poll timer asked for) or handed back (the
  // key injected) by the first tick after its release.
  void checkCaughtKeyDownsEnded() {
    for (size_t i = 0; i < released_.size();) {
      const Released& key = released_[i];
      if (sim::now() <= key.at + kLongestCheckInterval + 10) {
        ++i;
        continue;
      }
      bool ended = false;
      char timer[32];
      std::snprintf(timer, sizeof timer, "SetTimer(w1,%u,", key.key);
      char injected[32];
      std::snprintf(injected, sizeof injected, "keybd_event(%u,", key.key);
      const std::vector<std::string>& calls = sim::calls();
      for (size_t c = key.fromCall; c < calls.size() && !ended; ++c) {
        ended = calls[c].rfind(timer, 0) == 0 || calls[c].rfind(injected, 0) == 0;
      }
      require(ended, "every key-down the program caught is timed or handed back");
      released_.erase(released_.begin() + static_cast<long>(i));
    }
  }

  void checkInvariants() {
    HWND window = harness::mainWindow();
    if (window == nullptr || bindingTable == nullptr || sim::quitCode()) {
      released_.clear();  // closing lets go of every key
      return;
    }
    const BindingTable& table = *bindingTable;
    checkCaughtKeyDownsEnded();

    countPressStarts();
    checkCaughtKeys();
    checkRegistrations(table);
    for (const sim::HotKey& hotKey : sim::hotKeys()) {
      // Once timers were refused, a held key may wait unpolled for the next message that
      // reaches the table to see its release.
      if (table.isHeld(hotKey.virtualKey) && !timersRefused_) {
        auto up = upSince_.find(hotKey.virtualKey);
        bool heldNow = downSince_.count(hotKey.virtualKey) != 0 ||
                       (up != upSince_.end() && sim::now() <= up->second + kLongestCheckInterval + 10);
        require(heldNow, "a key is held for its press only until a tick sees it released");
      }
    }
    for (UINT key : kKeys) {
      if (!table.isHeld(key)) continue;
      require(sim::isRegistered(key), "a held key stays registered, so that its repeats are swallowed");
      // Once timers were refused, a key may be held unpolled until its next repeat gets one.
      if (timersRefused_) continue;
      bool polled = false;
      for (const sim::Timer& timer : sim::timers()) polled |= timer.id == key;
      require(polled, "a held key is polled until it is released");
    }
    if (table.isDisabled()) {
      for (DWORD i = 0; i < table.count(); ++i) require(!table.binding(i)->pressed(), "while off, no press runs");
      if (wasDisabled_) {
        require(sim::programs().size() == programsSeen_ && sim::fileOpens().size() == fileOpensSeen_,
                "while off, nothing is started and nothing loaded");
      }
    }
    if (!table.isDisabled()) {
      for (DWORD i = 0; i < table.count(); ++i) {
        DWORD key = table.binding(i)->keyCode();
        require(sim::isRegistered(key) || (othersKey_ && key == kTakenKey),
                "while on, every key is registered but the one another program holds");
      }
    }
    for (const sim::Timer& timer : sim::timers()) {
      bool pressed = table.isHeld(static_cast<DWORD>(timer.id));
      for (DWORD i = 0; i < table.count(); ++i) {
        pressed |= table.binding(i)->keyCode() == timer.id && table.binding(i)->pressed();
      }
      require(pressed && timer.window == window, "a timer runs only for a pressed or held key");
    }

    if (sim::programs().size() > programsSeen_) {
      for (const auto& [key, since] : downSince_) longestHold_ = std::max(longestHold_, sim::now() - since);
      require(longestHold_ >= kShortestElapseTime, "nothing starts without a long press");
      programsSeen_ = sim::programs().size();
    }
    longestHold_ = 0;
    fileOpensSeen_ = sim::fileOpens().size();
    wasDisabled_ = table.isDisabled();

    const std::vector<sim::KeyEvent>& injected = sim::injectedKeys();
    require(injected.size() % 2 == 0, "a short press injects a key-down and a key-up");
    for (size_t i = 0; i + 1 < injected.size(); i += 2) {
      require(injected[i].down && injected[i].flags == KEYEVENTF_SILENT && !injected[i + 1].down &&
                  injected[i + 1].flags == KEYEVENTF_KEYUP &&
                  injected[i].virtualKey == injected[i + 1].virtualKey,
              "a short press injects a silent key-down, then the key-up of the same key");
    }

    std::optional<sim::TrayIcon> icon = sim::trayIcon(window, TRAY_ICON_ID);
    bool visible = sim::window(window).visible;
    require(visible != icon.has_value(), "the tray icon is there exactly while the window is hidden");
    if (icon) {
      int picture = table.isDisabled() ? IDI_TRAY_DISABLED : IDI_TRAY_ENABLED;
      require(icon->iconResource == picture, "the tray icon shows whether the bindings are on");
    }
    if (visible) require(shownLetter(window) == (table.isDisabled() ? u"E" : u"D"), "the D/E letter shows whether the bindings are on");
  }

  // The letter the window's last paint drew in its column: the last text it drew.
  static std::u16string shownLetter(HWND window) {
    const std::vector<sim::Paint>& paints = sim::paints();
    for (auto paint = paints.rbegin(); paint != paints.rend(); ++paint) {
      if (paint->window != window) continue;
      for (auto op = paint->ops.rbegin(); op != paint->ops.rend(); ++op) {
        if (op->kind == sim::DrawOp::Text) return op->text;
      }
    }
    return u"";
  }

  // Must hold at every moment a box can open, too.
  static void checkRegistrations(const BindingTable& table) {
    HWND window = harness::mainWindow();
    for (const sim::HotKey& hotKey : sim::hotKeys()) {
      bool bound = false;
      for (DWORD i = 0; i < table.count(); ++i) bound |= table.binding(i)->keyCode() == hotKey.virtualKey;
      bool held = table.isHeld(hotKey.virtualKey);
      require((bound || held) && hotKey.window == window, "every registration belongs to a binding or a held key");
      require(!table.isLoading() || held, "no key of a file being read is registered before its load returned");
      require(!table.isDisabled() || held, "while off, only a key held right now is registered");
      require(table.isRegistered(hotKey.virtualKey), "the table knows every key it registered");
    }
  }

  const uint8_t* data_;
  size_t size_;
  harness::ProgramRun program_;
  size_t position_ = 0;
  bool othersKey_ = false;
  int openBoxes_ = 0;
  int nestedEvents_ = 0;
  std::map<UINT, uint64_t> downSince_;
  std::map<UINT, uint64_t> upSince_;
  uint64_t longestHold_ = 0;
  size_t programsSeen_ = 0;
  size_t fileOpensSeen_ = 0;
  bool wasDisabled_ = false;
  size_t callsSeen_ = 0;
  unsigned lastTimerSet_ = 0;
  std::map<UINT, int> pressStarts_;  // per key, since its last key-down
  std::map<UINT, size_t> caught_;    // keys held now whose key-down the program caught
  size_t othersSeen_ = 0;
  std::map<UINT, size_t> downsToOthers_;
  struct Released {
    UINT key;
    uint64_t at;
    size_t fromCall;  // the call log's length at its key-down
  };
  std::vector<Released> released_;
  bool timersRefused_ = false;  // caught keys released, their end not yet checked
  std::map<UINT, size_t> caughtAtCall_;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  Session(data, size).run();
  return 0;
}
