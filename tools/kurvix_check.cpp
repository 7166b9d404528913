// kurvix-check: the configuration author's companion. It reads a configuration file with
// the device's own reader on the simulated device and reports what the device would show
// (every message box, with the line that caused it, the settings and the bindings), adds
// hints of its own, runs presses through the whole program, and converts desktop text
// files into the device's format.
//
//   kurvix-check [--json] [--strict] FILE
//   kurvix-check [--json] FILE --press KEY:MS [--press KEY:MS ...]
//   kurvix-check [--json] [--strict] --to-unicode IN OUT
//
// Exit status: 0 loaded without a message, 1 loaded with messages (with --strict also with
// hints), 2 not loaded, 64 wrong usage.
#include <filesystem>
#include <fstream>
#include <iostream>
#include <sstream>
#include <string>
#include <vector>

#include "engine/binding_table.h"
#include "tools/convert.h"
#include "tools/dry_run.h"
#include "tools/hints.h"
#include "tools/utf.h"

namespace {

const int EXIT_LOADED_WITH_MESSAGES = 1;
const int EXIT_LOAD_FAILED = 2;
const int EXIT_USAGE = 64;

const char* const kUsage =
    "usage: kurvix-check [--json] [--strict] FILE\n"
    "       kurvix-check [--json] FILE --press KEY:MS [--press KEY:MS ...]\n"
    "       kurvix-check [--json] [--strict] --to-unicode IN OUT\n";

struct Options {
  bool json = false, strict = false, toUnicode = false;
  std::vector<std::string> files;
  std::vector<Press> presses;
};

std::optional<Options> parse(int argc, char** argv) {
  Options options;
  for (int i = 1; i < argc; ++i) {
    std::string argument = argv[i];
    if (argument == "--json") {
      options.json = true;
    } else if (argument == "--strict") {
      options.strict = true;
    } else if (argument == "--to-unicode") {
      options.toUnicode = true;
    } else if (argument == "--press" && i + 1 < argc) {
      std::optional<Press> press = parsePress(argv[++i]);
      if (!press) return std::nullopt;
      options.presses.push_back(*press);
    } else if (argument.size() > 1 && argument[0] == '-') {
      return std::nullopt;
    } else {
      options.files.push_back(argument);
    }
  }
  size_t files = options.toUnicode ? 2 : 1;
  if (options.files.size() != files || (options.toUnicode && !options.presses.empty()) ||
      (options.strict && !options.presses.empty())) {
    return std::nullopt;
  }
  return options;
}

std::string optionalText(const WCHAR* text) { return text == nullptr ? "null" : jsonString(text); }

void printJson(int result, const std::vector<Message>& messages, const BindingTable& table,
               const std::vector<Hint>& hints) {
  std::ostringstream out;
  out << "{\"result\": " << result << ", \"messages\": [";
  for (size_t i = 0; i < messages.size(); ++i) {
    out << (i ? ", " : "") << "{\"caption\": " << jsonString(messages[i].caption)
        << ", \"text\": " << jsonString(messages[i].text) << ", \"type\": " << messages[i].type;
    if (messages[i].line) out << ", \"line\": " << *messages[i].line;
    out << "}";
  }
  out << "], \"checkInterval\": " << table.checkInterval() << ", \"elapseTime\": " << table.elapseTime()
      << ", \"bindings\": [";
  for (DWORD i = 0; i < table.count(); ++i) {
    const KeyBinding* binding = table.binding(i);
    out << (i ? ", " : "") << "{\"keyCode\": " << binding->keyCode()
        << ", \"command\": " << optionalText(binding->command())
        << ", \"newIniPath\": " << optionalText(binding->newIniPath())
        << ", \"disableAll\": " << int(binding->disableAll()) << "}";
  }
  out << "], \"hints\": [";
  for (size_t i = 0; i < hints.size(); ++i) {
    out << (i ? ", " : "") << "{\"text\": " << jsonString(utf8ToUtf16(hints[i].text));
    if (hints[i].line) out << ", \"line\": " << *hints[i].line;
    out << "}";
  }
  out << "]}\n";
  std::cout << out.str();
}

std::string lineOf(const std::optional<unsigned>& line) {
  return line ? " (line " + std::to_string(*line) + ")" : "";
}

void printReport(const std::string& file, int result, const std::vector<Message>& messages,
                 const BindingTable& table, const std::vector<Hint>& hints) {
  std::ostringstream out;
  out << file << ": " << (result == 0 ? "loaded" : "not loaded") << "\n";
  for (size_t i = 0; i < messages.size(); ++i) {
    out << "message " << i + 1 << lineOf(messages[i].line) << ": " << jsonString(messages[i].caption)
        << "\n    " << jsonString(messages[i].text) << "\n";
  }
  out << "CheckIntervall " << table.checkInterval() << " ms, ElapseTime " << table.elapseTime() << " ms\n";
  out << table.count() << (table.count() == 1 ? " binding" : " bindings") << "\n";
  for (DWORD i = 0; i < table.count(); ++i) {
    const KeyBinding* binding = table.binding(i);
    out << "  " << i + 1 << ". KeyCode " << binding->keyCode();
    if (binding->command() != nullptr) out << ", Command " << jsonString(binding->command());
    if (binding->newIniPath() != nullptr) out << ", NewIni " << jsonString(binding->newIniPath());
    if (binding->disableAll()) out << ", Disable";
    if (binding->command() == nullptr && binding->newIniPath() == nullptr && !binding->disableAll()) {
      out << ", no action";
    }
    out << "\n";
  }
  for (const Hint& hint : hints) out << "hint" << lineOf(hint.line) << ": " << hint.text << "\n";
  std::cout << out.str();
}

int check(const std::string& file, const Options& options) {
  sim::reset();
  MessageLog log;
  std::u16string path = utf8ToUtf16(file);
  std::optional<std::vector<uint8_t>> bytes = readHostFile(file);
  if (bytes) sim::putFile(path, *bytes);

  BindingTable table;
  int result = table.load(path.c_str());
  std::vector<Hint> hints = findHints(file, bytes.value_or(std::vector<uint8_t>()), log.messages(), table);
  if (options.json) {
    printJson(result, log.messages(), table, hints);
  } else {
    printReport(file, result, log.messages(), table, hints);
  }
  if (result != 0) return EXIT_LOAD_FAILED;
  bool anything = !log.messages().empty() || (options.strict && !hints.empty());
  return anything ? EXIT_LOADED_WITH_MESSAGES : 0;
}

int convert(const std::string& in, const std::string& out, const Options& options) {
  std::error_code error;
  if (in == out || std::filesystem::equivalent(in, out, error)) {
    std::cerr << "kurvix-check: refusing to overwrite " << in << "; name another file to write\n";
    return EXIT_USAGE;
  }
  std::optional<std::vector<uint8_t>> bytes = readHostFile(in);
  if (!bytes) {
    std::cerr << "kurvix-check: cannot read " << in << "\n";
    return EXIT_USAGE;
  }
  std::vector<uint8_t> converted = toDeviceFormat(*bytes);
  std::ofstream file(out, std::ios::binary | std::ios::trunc);
  file.write(reinterpret_cast<const char*>(converted.data()), static_cast<std::streamsize>(converted.size()));
  file.close();
  if (!file) {
    std::cerr << "kurvix-check: cannot write " << out << "\n";
    return EXIT_USAGE;
  }
  if (!options.json) std::cout << "wrote " << out << " (UTF-16LE with byte-order mark, CR LF)\n";
  return check(out, options);
}

}  // namespace

int main(int argc, char** argv) {
  std::optional<Options> options = parse(argc, argv);
  if (!options) {
    std::cerr << kUsage;
    return EXIT_USAGE;
  }
  if (options->toUnicode) return convert(options->files[0], options->files[1], *options);
  if (options->presses.empty()) return check(options->files[0], *options);
  std::optional<std::vector<uint8_t>> bytes = readHostFile(options->files[0]);
  if (!bytes) return check(options->files[0], *options);  // says that it cannot be found
  return dryRun(options->files[0], *bytes, options->presses, options->json);
}
