// Runs one scenario on the simulated device and prints the run's trace (harness/program_run.h):
// the reference that other layers (the emulated Windows CE run) compare their own runs with.
//
//   scenario_run [--module PATH] [--file DEVICE_PATH=HOST_FILE]... [--hold-hot-key KEY]...
//                [--hold-mutex NAME]... [--tick-start TICK] [--box OPEN_MS:ANSWER | --box OPEN_MS:]...
//                [--press KEY:DOWN:UP | --tap-tray T | --tap T:X:Y | --close T]...
// Times are virtual milliseconds from the device's start; a box without an answer gets its
// default one.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <string>

#include "harness/program_run.h"
#include "utf/utf.h"

namespace {

int usage(const std::string& why) {
  std::fprintf(stderr, "scenario_run: %s\n", why.c_str());
  return 64;
}

// Numbers separated by ':'; an empty last field is left out, anything else not a number
// makes the list empty.
std::vector<unsigned long long> numbers(const std::string& text) {
  std::vector<unsigned long long> values;
  size_t start = 0;
  while (start < text.size()) {
    size_t end = text.find(':', start);
    if (end == std::string::npos) end = text.size();
    std::string field = text.substr(start, end - start);
    char* rest = nullptr;
    values.push_back(std::strtoull(field.c_str(), &rest, 0));
    if (field.empty() || *rest != '\0') return {};
    start = end + 1;
  }
  return values;
}

}  // namespace

int main(int argc, char** argv) {
  std::u16string modulePath(harness::ProgramRun::kModulePath);
  for (int i = 1; i + 1 < argc; i += 2) {
    if (std::strcmp(argv[i], "--module") == 0) modulePath = utf8ToUtf16(argv[i + 1]);
  }
  harness::ProgramRun program(modulePath);
  for (int i = 1; i < argc; i += 2) {
    if (i + 1 == argc) return usage(std::string(argv[i]) + " needs a value");
    std::string option = argv[i], value = argv[i + 1];
    std::vector<unsigned long long> n;
    if (option != "--module" && option != "--file" && option != "--hold-mutex") n = numbers(value);
    if (option == "--module") continue;
    if (option == "--file") {
      size_t equals = value.find('=');
      std::ifstream in(value.substr(equals + 1), std::ios::binary);
      if (equals == std::string::npos || !in) return usage("cannot read the file of " + value);
      sim::putFile(utf8ToUtf16(value.substr(0, equals)),
                   std::vector<uint8_t>(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()));
    } else if (option == "--hold-mutex") {
      sim::holdMutex(utf8ToUtf16(value));
    } else if (option == "--hold-hot-key" && n.size() == 1) {
      sim::holdHotKey(static_cast<UINT>(n[0]));
    } else if (option == "--tick-start" && n.size() == 1) {
      sim::setTickCount(static_cast<uint32_t>(n[0]));
    } else if (option == "--box" && (n.size() == 1 || n.size() == 2)) {
      program.answerBox(n[0], n.size() == 2 ? std::optional<int>(static_cast<int>(n[1])) : std::nullopt);
    } else if (option == "--press" && n.size() == 3 && n[2] >= n[1]) {
      program.press(static_cast<UINT>(n[0]), n[1], n[2] - n[1]);
    } else if (option == "--tap-tray" && n.size() == 1) {
      program.tapTrayIcon(n[0]);
    } else if (option == "--tap" && n.size() == 3) {
      program.tap(n[0], static_cast<int>(n[1]), static_cast<int>(n[2]));
    } else if (option == "--close" && n.size() == 1) {
      program.close(n[0]);
    } else {
      return usage("not understood: " + option + " " + value);
    }
  }
  program.run();
  std::printf("%s\n", program.traceJson().c_str());
  return 0;
}
