#include "tools/dry_run.h"

#include <filesystem>
#include <iostream>
#include <map>
#include <sstream>

#include "shell/main_window.h"
#include "tools/utf.h"

namespace {

const size_t kMostFiles = 64;

// The files a run may load: the configuration itself and, file by file, every NewIni that
// can be found on the host, keyed by the device path the device will open.
std::map<std::u16string, std::vector<uint8_t>> filesToLoad(const std::string& hostFile,
                                                           const std::vector<uint8_t>& bytes) {
  std::map<std::u16string, std::vector<uint8_t>> files;
  std::vector<std::vector<uint8_t>> pending = {bytes};
  while (!pending.empty() && files.size() < kMostFiles) {
    sim::reset();
    sim::putFile(u"\\scratch.ini", pending.back());
    pending.pop_back();
    BindingTable table;
    table.load(u"\\scratch.ini");
    for (DWORD i = 0; i < table.count(); ++i) {
      const WCHAR* newIni = table.binding(i)->newIniPath();
      if (newIni == nullptr || files.count(newIni) != 0) continue;
      std::optional<std::string> resolved = resolveNewIni(newIni, hostFile);
      std::optional<std::vector<uint8_t>> found = resolved ? readHostFile(*resolved) : std::nullopt;
      if (!found) continue;
      files[newIni] = *found;
      pending.push_back(*found);
    }
  }
  return files;
}

struct Event {
  unsigned press;
  std::string kind;
  std::u16string file;        // started, asked, loaded
  std::optional<LPARAM> count;  // loaded: bindings
  std::optional<Message> message;
};

std::string describe(const Event& event) {
  if (event.kind == "message") {
    std::string text = "message " + jsonString(event.message->caption) + " " + jsonString(event.message->text);
    if (event.message->line) text += " (line " + std::to_string(*event.message->line) + ")";
    return text;
  }
  if (event.kind == "started") return "started " + jsonString(event.file);
  if (event.kind == "asked") return "asked whether to end the program it started last (answered No)";
  if (event.kind == "passed-through") return "passed the key through to the program in front";
  if (event.kind == "switched-off") return "switched the bindings off";
  if (event.kind == "loaded") {
    return "loaded " + jsonString(event.file) + (event.count ? ": " + std::to_string(*event.count) + " bindings" : "");
  }
  if (event.kind == "load-failed") return "could not load " + jsonString(event.file);
  if (event.kind == "not-caught") {
    return "did not catch the key (no binding has it, or the bindings are off): it went to the program in front";
  }
  return "did nothing";
}

class Run {
 public:
  Run(const std::vector<Press>& presses) : presses_(presses) {}

  // Runs the program on the prepared device; the events of start-up come as press 0.
  int run() {
    sim::at(1000, [this] {
      collect(0, Snapshot{});
      next(0);
    });
    WCHAR commandLine[1] = {0};
    int exitCode = WinMain(sim::instance(), nullptr, commandLine, 0);
    if (exitCode != 0) collect(0, Snapshot{});  // start-up failed: nothing was collected yet
    return exitCode;
  }
  const std::vector<Event>& events() const { return events_; }

 private:
  struct Snapshot {
    size_t programs, injected, messages, posted, opens;
    bool registered;
  };

  Snapshot snapshot(UINT key = 0) {
    return {sim::programs().size(), sim::injectedKeys().size(), log_.messages().size(),
            sim::postedLog().size(), sim::fileOpens().size(), key != 0 && sim::isRegistered(key)};
  }

  void next(size_t index) {
    HWND window = sim::findWindow(u"Kurvix.Class");
    if (index == presses_.size() || bindingTable == nullptr) {
      PostMessageW(window, WM_CLOSE, 0, 0);
      return;
    }
    const Press& press = presses_[index];
    // After the release, long enough for the tick that finds the key up.
    uint64_t settle = 2 * uint64_t(bindingTable->checkInterval() > 10 ? bindingTable->checkInterval() : 10) + 10;
    uint64_t down = sim::now() + 10;
    Snapshot before = snapshot(press.key);
    sim::pressAt(press.key, down, down + press.ms);
    sim::at(down + press.ms + settle, [this, index, before] {
      collect(static_cast<unsigned>(index + 1), before);
      next(index + 1);
    });
  }

  void collect(unsigned press, const Snapshot& before) {
    size_t first = events_.size();
    const std::vector<Message>& messages = log_.messages();
    for (size_t i = before.messages; i < messages.size(); ++i) {
      if (messages[i].caption == u"Terminieren?") events_.push_back({press, "asked", {}, {}, {}});
    }
    for (size_t i = before.programs; i < sim::programs().size(); ++i) {
      events_.push_back({press, "started", sim::programs()[i].file, {}, {}});
    }
    if (sim::injectedKeys().size() > before.injected) events_.push_back({press, "passed-through", {}, {}, {}});
    const std::vector<sim::Posted>& posted = sim::postedLog();
    for (size_t i = before.posted; i < posted.size(); ++i) {
      if (posted[i].message != WM_APP_STATUS) continue;
      if (posted[i].wParam == STATUS_DISABLED) events_.push_back({press, "switched-off", {}, {}, {}});
    }
    bool loadFailed = false;
    for (size_t i = before.messages; i < messages.size(); ++i) {
      loadFailed |= messages[i].type == (MB_OK | MB_ICONHAND);
    }
    for (size_t i = before.opens; i < sim::fileOpens().size(); ++i) {
      Event loaded{press, loadFailed ? "load-failed" : "loaded", sim::fileOpens()[i].path, {}, {}};
      for (size_t j = before.posted; j < posted.size(); ++j) {
        if (posted[j].message == WM_APP_STATUS && posted[j].wParam == STATUS_LOADED) loaded.count = posted[j].lParam;
      }
      if (press != 0) events_.push_back(loaded);
    }
    for (size_t i = before.messages; i < messages.size(); ++i) {
      if (messages[i].caption != u"Terminieren?") events_.push_back({press, "message", {}, {}, messages[i]});
    }
    if (press != 0 && events_.size() == first) {
      events_.push_back({press, before.registered ? "nothing" : "not-caught", {}, {}, {}});
    }
  }

  std::vector<Press> presses_;
  MessageLog log_;
  std::vector<Event> events_;
};

}  // namespace

std::optional<Press> parsePress(const std::string& text) {
  size_t colon = text.find(':');
  if (colon == std::string::npos || colon == 0 || colon + 1 == text.size()) return std::nullopt;
  std::string key = text.substr(0, colon), ms = text.substr(colon + 1);
  if (key.find_first_not_of("0123456789") != std::string::npos ||
      ms.find_first_not_of("0123456789") != std::string::npos || key.size() > 9 || ms.size() > 9) {
    return std::nullopt;
  }
  return Press{static_cast<UINT>(std::stoul(key)), std::stoull(ms)};
}

int dryRun(const std::string& hostFile, const std::vector<uint8_t>& bytes,
           const std::vector<Press>& presses, bool json) {
  std::map<std::u16string, std::vector<uint8_t>> others = filesToLoad(hostFile, bytes);
  sim::reset();
  sim::setKeyRepeat(true);  // a held key repeats as on the device: a long hold shows what it does
  std::filesystem::path directory = std::filesystem::path(hostFile).parent_path();
  std::u16string deviceDirectory = utf8ToUtf16(directory.empty() ? "." : directory.string());
  sim::setModulePath(deviceDirectory + u"/kurvix.exe");
  for (const auto& [path, contents] : others) sim::putFile(path, contents);
  sim::putFile(deviceDirectory + u"/Kurvix.ini", bytes);

  Run run(presses);
  int exitCode = run.run();

  bool startupMessages = false;
  std::ostringstream out;
  if (json) out << "[";
  for (size_t i = 0; i < run.events().size(); ++i) {
    const Event& event = run.events()[i];
    startupMessages |= event.press == 0;
    if (json) {
      out << (i ? ", " : "") << "{\"press\": " << event.press;
      if (event.press != 0) {
        const Press& press = presses[event.press - 1];
        out << ", \"key\": " << press.key << ", \"ms\": " << press.ms;
      }
      out << ", \"event\": \"" << event.kind << "\"";
      if (!event.file.empty()) out << ", \"file\": " << jsonString(event.file);
      if (event.count && event.kind == "loaded") out << ", \"bindings\": " << *event.count;
      if (event.message) {
        out << ", \"caption\": " << jsonString(event.message->caption)
            << ", \"text\": " << jsonString(event.message->text) << ", \"type\": " << event.message->type;
        if (event.message->line) out << ", \"line\": " << *event.message->line;
      }
      out << "}";
    } else {
      std::string who = "start-up";
      if (event.press != 0) {
        const Press& press = presses[event.press - 1];
        who = "press " + std::to_string(event.press) + ", key " + std::to_string(press.key) + " held " +
              std::to_string(press.ms) + " ms";
      }
      out << who << ": " << describe(event) << "\n";
    }
  }
  out << (json ? "]\n" : "");
  if (!json && exitCode != 0) out << "start-up: the configuration was not loaded; the program ended\n";
  std::cout << out.str();
  if (exitCode != 0) return 2;
  return startupMessages ? 1 : 0;
}
