// The whole program on the simulated device: WinMain from start-up to its exit code, with a
// timed script of what the user and the device do going in and a trace of what the program
// did coming out. Every host that runs the program (the shell tests, the event fuzzer,
// kurvix-check's dry run, the page, the soak and the idle benchmark) runs it through this.
// It stands apart from sim/ because it links the device code, which the simulated device
// itself must not.
//
// The script's times are absolute virtual milliseconds since the device was reset, as
// sim::at takes them. Anything not listed here (a file written or removed, a program ending,
// an answer queued from inside a box) is done with device.h's control calls from an action.
#ifndef KURVIX_HARNESS_PROGRAM_RUN_H
#define KURVIX_HARNESS_PROGRAM_RUN_H

#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "sim/device.h"

namespace harness {

// WinMain as the device's loader calls it: the program's module, no previous instance, an
// empty command line. A second call while a first one runs is a second start of the program.
int startProgram();

// The program's main window, null while there is none.
HWND mainWindow();

class ProgramRun {
 public:
  static constexpr std::u16string_view kModulePath = u"\\Programme\\Kurvix.exe";

  // A fresh device (sim::reset()) with the program file at modulePath and nothing else.
  explicit ProgramRun(std::u16string modulePath = std::u16string(kModulePath));

  // "Kurvix.ini" in the program's folder, where the program looks for its configuration.
  std::u16string configurationPath() const;
  void configure(std::vector<uint8_t> bytes);

  // ---- The script ----------------------------------------------------------------------
  // Any action; it is handed the main window as it is when the action runs.
  void at(uint64_t t, std::function<void(HWND mainWindow)> action);
  // The user holds the key from `down` until `down + hold`; it repeats as the device's
  // keyboard does (sim::setKeyRepeat).
  void press(UINT virtualKey, uint64_t down, uint64_t hold);
  void tap(uint64_t t, int x, int y);  // in the main window's client area
  void tapTrayIcon(uint64_t t);        // nothing when the icon is not there
  void close(uint64_t t);              // WM_CLOSE, as another program or the caption's button
  void failTimers(uint64_t t, bool on);
  // The next box the program opens stays open for openMs while the script goes on, then is
  // answered with `answer`, or as sim::answerBoxes() says when there is none. Boxes beyond the
  // planned ones are answered at once. Takes the place of a sim::whileBoxOpen callback.
  void answerBox(uint64_t openMs, std::optional<int> answer);

  // Runs the program to its end and returns its exit code.
  int run();
  // Actions of the script that had not run when the program ended: a script that outlives
  // the program is a mistake of the script's.
  size_t actionsNotRun() const;

  // What the program did, as JSON: {"exitCode", "boxes", "started", "injected",
  // "keysToOthers", "calls"}; each event with its virtual time "at". Built from the device's
  // records, so after sim::clearRecords() it holds only what came later.
  std::string traceJson() const;

 private:
  std::u16string modulePath_;
  struct BoxPlan {
    uint64_t openMs;
    std::optional<int> answer;
  };
  std::shared_ptr<size_t> pending_;  // shared with the scheduled actions, which may outlive a move
  std::shared_ptr<std::deque<BoxPlan>> boxPlans_;
  std::optional<int> exitCode_;
};

}  // namespace harness

#endif
