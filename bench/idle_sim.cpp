// Idle cost on the simulated device: Kurvix started with the example configuration and left
// alone for a virtual day, no key held. Counts what it did meanwhile: messages it received,
// timers it ran, key-state queries it made. The figures should all be zero but for start-up
// and the final close.
#include <cstdio>
#include <fstream>
#include <iterator>
#include <vector>

#include "harness/program_run.h"

int main(int argc, char** argv) {
  const char* example = argc > 1 ? argv[1] : "examples/Kurvix.ini";
  std::ifstream in(example, std::ios::binary);
  if (!in) {
    std::fprintf(stderr, "usage: idle_sim [CONFIGURATION]  (cannot read %s)\n", example);
    return 64;
  }
  harness::ProgramRun program;
  program.configure(std::vector<uint8_t>((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>()));

  const uint64_t day = 24ull * 3600 * 1000;
  size_t startupMessages = 0;
  program.at(1000, [&](HWND) {
    startupMessages = sim::callsOf({"GetMessageW"}).size();
    sim::clearCalls();
  });
  program.at(1000 + day, [](HWND window) {
    std::printf("idle on the simulated device for 24 h (virtual), no key held:\n");
    // One GetMessageW call waits through the whole day: it is still open when this runs.
    std::printf("  messages received        %zu\n", sim::callsOf({"GetMessageW"}).size());
    std::printf("  timers started           %zu\n", sim::callsOf({"SetTimer"}).size());
    std::printf("  key-state queries        %zu\n", sim::callsOf({"GetAsyncKeyState"}).size());
    std::printf("  timers running           %zu\n", sim::timers().size());
    std::printf("  platform calls in all    %zu\n", sim::calls().size());
    PostMessageW(window, WM_CLOSE, 0, 0);
  });
  int exitCode = program.run();
  std::printf("  (start-up took %zu messages; exit code %d)\n", startupMessages, exitCode);
  return exitCode;
}
