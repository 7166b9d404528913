// kurvix-check: loads a configuration file with the device's own reader on the simulated
// device and reports what the device would show: every message box, the settings and the
// bindings. Exit status: 0 loaded without a message, 1 loaded with messages, 2 the load
// failed, 64 wrong usage.
#include <cstdio>
#include <fstream>
#include <iostream>
#include <iterator>
#include <sstream>
#include <string>
#include <vector>

#include "engine/binding_table.h"
#include "sim/device.h"
#include "tools/utf.h"

namespace {

const int EXIT_LOADED_WITH_MESSAGES = 1;
const int EXIT_LOAD_FAILED = 2;
const int EXIT_USAGE = 64;

std::string optionalText(const WCHAR* text) {
  return text == nullptr ? "null" : jsonString(text);
}

void printJson(int result, const BindingTable& table) {
  std::ostringstream out;
  out << "{\"result\": " << result << ", \"messages\": [";
  const auto& boxes = sim::messageBoxes();
  for (size_t i = 0; i < boxes.size(); ++i) {
    out << (i ? ", " : "") << "{\"caption\": " << jsonString(boxes[i].caption)
        << ", \"text\": " << jsonString(boxes[i].text) << ", \"type\": " << boxes[i].type << "}";
  }
  out << "], \"checkInterval\": " << table.checkInterval()
      << ", \"elapseTime\": " << table.elapseTime() << ", \"bindings\": [";
  for (DWORD i = 0; i < table.count(); ++i) {
    const KeyBinding* binding = table.binding(i);
    out << (i ? ", " : "") << "{\"keyCode\": " << binding->keyCode()
        << ", \"command\": " << optionalText(binding->command())
        << ", \"newIniPath\": " << optionalText(binding->newIniPath())
        << ", \"disableAll\": " << int(binding->disableAll()) << "}";
  }
  out << "]}\n";
  std::cout << out.str();
}

void printReport(const std::string& file, int result, const BindingTable& table) {
  std::cout << file << ": " << (result == 0 ? "loaded" : "not loaded") << "\n";
  const auto& boxes = sim::messageBoxes();
  for (size_t i = 0; i < boxes.size(); ++i) {
    std::cout << "message " << i + 1 << ": " << jsonString(boxes[i].caption) << "\n    "
              << jsonString(boxes[i].text) << "\n";
  }
  std::cout << "CheckIntervall " << table.checkInterval() << " ms, ElapseTime "
            << table.elapseTime() << " ms\n";
  std::cout << table.count() << (table.count() == 1 ? " binding" : " bindings") << "\n";
  for (DWORD i = 0; i < table.count(); ++i) {
    const KeyBinding* binding = table.binding(i);
    std::cout << "  " << i + 1 << ". KeyCode " << binding->keyCode();
    if (binding->command() != nullptr) std::cout << ", Command " << jsonString(binding->command());
    if (binding->newIniPath() != nullptr) {
      std::cout << ", NewIni " << jsonString(binding->newIniPath());
    }
    if (binding->disableAll()) std::cout << ", Disable";
    if (binding->command() == nullptr && binding->newIniPath() == nullptr &&
        !binding->disableAll()) {
      std::cout << ", no action";
    }
    std::cout << "\n";
  }
}

}  // namespace

int main(int argc, char** argv) {
  bool json = false;
  std::vector<std::string> files;
  for (int i = 1; i < argc; ++i) {
    std::string argument = argv[i];
    if (argument == "--json") {
      json = true;
    } else if (argument.size() > 1 && argument[0] == '-') {
      files.clear();
      break;
    } else {
      files.push_back(argument);
    }
  }
  if (files.size() != 1) {
    std::cerr << "usage: kurvix-check [--json] FILE\n";
    return EXIT_USAGE;
  }

  sim::reset();
  const std::string& file = files[0];
  std::u16string path = utf8ToUtf16(file);
  std::ifstream in(file, std::ios::binary);
  if (in) {
    std::vector<uint8_t> bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    if (!in.bad()) sim::putFile(path, std::move(bytes));
  }

  BindingTable table;
  int result = table.load(path.c_str());
  if (json) {
    printJson(result, table);
  } else {
    printReport(file, result, table);
  }
  if (result != 0) return EXIT_LOAD_FAILED;
  return sim::messageBoxes().empty() ? 0 : EXIT_LOADED_WITH_MESSAGES;
}
