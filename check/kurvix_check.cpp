// kurvix-check's command line: arguments, the host's files, and the exit status. The
// checks themselves live in the kurvix_check_core library (file_check.h, dry_run.h,
// convert.h), which the web page uses too.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <iostream>
#include <optional>
#include <string>
#include <vector>

#include "check/convert.h"
#include "check/dry_run.h"
#include "check/file_check.h"
#include "check/hint_table.h"

namespace {

const int EXIT_LOAD_FAILED = 2;
const int EXIT_USAGE = 64;

const char* const kHelp =
    "Usage: kurvix-check [OPTION]... FILE...\n"
    "  or:  kurvix-check [OPTION]... FILE --press KEY:MS [--press KEY:MS]...\n"
    "  or:  kurvix-check [OPTION]... --to-unicode IN OUT\n"
    "  or:  kurvix-check --explain ID\n"
    "Check Kurvix configuration files (Kurvix.ini) before they go to a device: each FILE is read\n"
    "with the device's own reader on a simulated device, and every message box the device would\n"
    "show is reported, with hints about mistakes it does not report and what it ends up holding.\n"
    "Files that a NewIni names are checked too, each once, where they are found: at the NewIni\n"
    "path itself with / for \\ (a path not from the root is one in the device's root folder,\n"
    "as Windows CE has no current folder), or, for a path from the root, as a file of that name\n"
    "beside FILE; upper and lower case are ignored, as on Windows CE. A NewIni file not found\n"
    "is a warning.\n"
    "\n"
    "Options:\n"
    "  --json              print JSON instead of the report: one object per FILE, each on\n"
    "                      a line of its own (JSON Lines)\n"
    "  --strict            count warnings as messages in the exit status (notes never)\n"
    "  -q, --quiet         print the findings only, without the summary of what the device holds\n"
    "  --press KEY:MS      run the whole program with FILE as its Kurvix.ini, hold key KEY (a\n"
    "                      decimal key code) for MS milliseconds, and say what the device did;\n"
    "                      may be given several times, the presses follow one another\n"
    "  --to-unicode IN OUT\n"
    "                      write OUT in the device's format (UTF-16LE with the byte-order mark,\n"
    "                      CR LF) from IN in UTF-8 or UTF-16, then check OUT; input that is not\n"
    "                      valid is refused with its line, column and byte, and OUT is left alone\n"
    "  --from NAME         with --to-unicode: IN is in the encoding NAME (CP1252, ISO-8859-1,\n"
    "                      CP850, ... as iconv knows them)\n"
    "  --explain ID        explain the hint ID (see Hints below), with a wrong and a right\n"
    "                      example and how to fix it, and exit\n"
    "  --help              print this help and exit\n"
    "  --version           print the version and exit\n"
    "  --                  every argument after it is a file\n"
    "Options take their value as --opt=value or --opt value.\n"
    "\n"
    "Report: one line per finding, FILE:LINE: severity: text (\"error\" for a file the device does\n"
    "not load, \"warning\" for each message box the device shows, with its German caption and text\n"
    "and their meaning, and for a hint where the device will plainly misbehave, \"note\" for the\n"
    "other hints; a hint ends with its id in brackets), then a summary. With --press the hints\n"
    "come first, then one line for each thing the device did.\n"
    "\n"
    "Exit status:\n"
    "  0   loaded without a message\n"
    "  1   loaded with messages (with --strict also with warnings; with --press also messages shown\n"
    "      during the presses)\n"
    "  2   not loaded, or a file could not be read, converted or written\n"
    "  64  wrong usage\n"
    "With several FILEs the worst status wins.\n";

// --help: the options above, then every hint id from the one table of hints.
std::string help() {
  std::string text = kHelp;
  text += "\nHints (kurvix-check --explain ID tells more):\n";
  for (const HintEntry& entry : hintTable()) {
    std::string id = entry.id;
    text += "  " + id + std::string(id.size() < 26 ? 26 - id.size() : 2, ' ') + entry.summary +
            (std::string(entry.severity) == "warning" ? " (warning)" : "") + "\n";
  }
  return text;
}

struct Options {
  bool json = false, strict = false, quiet = false, toUnicode = false;
  std::string from;
  std::vector<std::string> files;
  std::vector<Press> presses;
};

struct UsageError {
  std::string text;
};

bool decimal(const std::string& text) {
  return !text.empty() && text.size() <= 9 && text.find_first_not_of("0123456789") == std::string::npos;
}

Press parsePress(const std::string& text) {
  size_t colon = text.find(':');
  if (colon == std::string::npos) throw UsageError{"--press: " + text + ": write KEY:MS, as 193:1200"};
  std::string key = text.substr(0, colon), ms = text.substr(colon + 1);
  if (!decimal(key)) throw UsageError{"--press: " + text + ": KEY must be decimal"};
  if (!decimal(ms)) throw UsageError{"--press: " + text + ": MS must be decimal, at most 999999999"};
  unsigned code = static_cast<unsigned>(std::stoul(key));
  if (code < 1 || code > 254) throw UsageError{"--press: " + text + ": KEY must be 1 to 254"};
  return Press{code, std::stoull(ms)};
}

Options parse(int argc, char** argv) {
  Options options;
  bool onlyFiles = false;
  for (int i = 1; i < argc; ++i) {
    std::string argument = argv[i];
    if (onlyFiles || argument == "-" || argument.empty() || argument[0] != '-') {
      options.files.push_back(argument);
      continue;
    }
    std::string name = argument.substr(0, argument.find('='));
    bool inlineValue = name.size() < argument.size();
    auto value = [&]() -> std::string {
      if (inlineValue) return argument.substr(name.size() + 1);
      if (i + 1 >= argc) throw UsageError{name + " needs a value"};
      return argv[++i];
    };
    bool takesValue = name == "--press" || name == "--from" || name == "--explain";
    if (inlineValue && !takesValue) throw UsageError{name + " takes no value"};
    if (name == "--") {
      onlyFiles = true;
    } else if (name == "--help" || name == "-h") {
      std::cout << help();
      std::exit(0);
    } else if (name == "--explain") {
      std::string id = value();
      const HintEntry* entry = findHintEntry(id);
      if (entry == nullptr) throw UsageError{"--explain: no hint has the id \"" + id + "\"; kurvix-check --help lists them"};
      std::cout << explanationOf(*entry);
      std::exit(0);
    } else if (name == "--version") {
      std::cout << "kurvix-check (Kurvix) " KURVIX_VERSION "\n";
      std::exit(0);
    } else if (name == "--json") {
      options.json = true;
    } else if (name == "--strict") {
      options.strict = true;
    } else if (name == "-q" || name == "--quiet") {
      options.quiet = true;
    } else if (name == "--to-unicode") {
      options.toUnicode = true;
    } else if (name == "--from") {
      options.from = value();
      if (options.from.empty()) throw UsageError{"--from needs the name of an encoding"};
    } else if (name == "--press") {
      options.presses.push_back(parsePress(value()));
    } else {
      throw UsageError{"unknown option " + name};
    }
  }
  if (options.toUnicode && options.files.size() != 2) throw UsageError{"--to-unicode needs IN and OUT"};
  if (options.toUnicode && !options.presses.empty()) throw UsageError{"--press does not go with --to-unicode"};
  if (!options.from.empty() && !options.toUnicode) throw UsageError{"--from goes with --to-unicode only"};
  if (!options.presses.empty() && options.files.size() != 1) throw UsageError{"--press takes exactly one FILE"};
  if (!options.presses.empty() && options.strict) throw UsageError{"--strict does not go with --press"};
  if (options.files.empty()) throw UsageError{"no FILE given"};
  return options;
}

void cannot(const std::string& what, const std::string& file, const std::string& why) {
  std::cerr << "kurvix-check: " << file << ": cannot " << what << ": " << why << "\n";
}

// The file as the device would meet it: a missing one is the device's to report ("Datei nicht
// gefunden"); one that exists but cannot be read is the tool's error, and nothing comes back.
std::optional<HostFile> readConfiguration(const std::string& file) {
  HostFile read = readHostFile(file);
  if (!read.bytes && !read.missing) {
    cannot("read", file, read.error);
    return std::nullopt;
  }
  return read;
}

int check(const std::string& file, const Options& options) {
  std::optional<HostFile> read = readConfiguration(file);
  if (!read) return EXIT_LOAD_FAILED;
  std::vector<FileCheck> checks = checkWithNewIniFiles(file, read->bytes);
  int status = 0;
  for (const FileCheck& each : checks) status = std::max(status, exitStatus(each, options.strict));
  if (options.json) {
    std::cout << checkJsonOf(checks);
  } else {
    for (const FileCheck& each : checks) std::cout << reportOf(each, options.quiet);
  }
  return status;
}

int press(const std::string& file, const Options& options) {
  std::optional<HostFile> read = readConfiguration(file);
  if (!read) return EXIT_LOAD_FAILED;
  if (!options.json) {
    for (const FileCheck& each : checkWithNewIniFiles(file, read->bytes)) std::cout << hintReportOf(each);
  }
  DryRun run = dryRun(file, read->bytes, options.presses, options.json);
  std::cout << run.output;
  return run.status;
}

// Writes the whole of bytes to a new file beside path and renames it to path, so that path
// is either left as it was or holds all of bytes.
bool writeWhole(const std::string& path, const std::vector<uint8_t>& bytes, std::string& error) {
  std::string temporary = path + ".XXXXXX";
  int file = mkstemp(temporary.data());
  if (file < 0) {
    error = std::strerror(errno);
    return false;
  }
  mode_t mask = umask(0);
  umask(mask);
  bool written = fchmod(file, 0666 & ~mask) == 0;
  for (size_t done = 0; written && done < bytes.size();) {
    ssize_t wrote = write(file, bytes.data() + done, bytes.size() - done);
    if (wrote < 0 && errno == EINTR) continue;
    written = wrote > 0;
    if (written) done += static_cast<size_t>(wrote);
  }
  written = written && fsync(file) == 0;
  if (!written) error = std::strerror(errno);
  written = close(file) == 0 && written;
  if (written && std::rename(temporary.c_str(), path.c_str()) != 0) {
    error = std::strerror(errno);
    written = false;
  }
  if (!written) {
    if (error.empty()) error = std::strerror(errno);
    std::remove(temporary.c_str());
  }
  return written;
}

int convert(const std::string& in, const std::string& out, const Options& options) {
  std::error_code same;
  if (in == out || std::filesystem::equivalent(in, out, same)) {
    std::cerr << "kurvix-check: refusing to overwrite " << in << "; name another file to write\n";
    return EXIT_USAGE;
  }
  HostFile read = readHostFile(in);
  if (!read.bytes) {
    cannot("read", in, read.error);
    return EXIT_LOAD_FAILED;
  }
  Conversion converted = toDeviceFormat(*read.bytes, options.from);
  if (converted.unknownEncoding) throw UsageError{converted.error};
  if (!converted.bytes) {
    std::cerr << in << ":" << converted.position << ": error: " << converted.error << "\n"
              << "kurvix-check: " << out << " was not written\n";
    return EXIT_LOAD_FAILED;
  }
  std::string error;
  if (!writeWhole(out, *converted.bytes, error)) {
    cannot("write", out, error);
    return EXIT_LOAD_FAILED;
  }
  if (!options.json && !options.quiet) std::cout << "wrote " << out << " (UTF-16LE with byte-order mark, CR LF)\n";
  return check(out, options);
}

}  // namespace

int main(int argc, char** argv) {
  try {
    Options options = parse(argc, argv);
    if (options.toUnicode) return convert(options.files[0], options.files[1], options);
    if (!options.presses.empty()) return press(options.files[0], options);
    int status = 0;
    for (const std::string& file : options.files) status = std::max(status, check(file, options));
    return status;
  } catch (const UsageError& usage) {
    std::cerr << "kurvix-check: " << usage.text << "\nTry 'kurvix-check --help' for more information.\n";
    return EXIT_USAGE;
  }
}
