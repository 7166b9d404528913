#include "check/dry_run.h"

#include <algorithm>
#include <filesystem>
#include <map>
#include <sstream>

#include "engine/binding_table.h"
#include "harness/program_run.h"
#include "res/texts.h"
#include "shell/main_window.h"
#include "check/device_session.h"
#include "check/file_check.h"
#include "check/press_timeline.h"
#include "utf/utf.h"

namespace {

// The sweeps of a long hold: every so much virtual time the records of the simulated device
// are read and given back, so that a hold of days costs no more memory than one of seconds.
const uint64_t kSweepMs = 60000;

struct Event {
  unsigned press;
  std::string kind;
  std::u16string file;        // started, asked, loaded
  std::optional<LPARAM> count;  // loaded: bindings
  std::optional<Message> message;
  std::optional<uint64_t> at;               // the device's virtual time when it happened
  std::optional<std::u16string> arguments;  // started: the arguments, where the Command has any
  std::string why;                          // nothing: what kept the binding from acting
  size_t order = 0;                         // its call's place in the device's call log
};

// The place in the call log of the n-th call of the named function from position `from` on.
size_t callPosition(const std::string& function, size_t from, size_t n) {
  const std::vector<std::string>& calls = sim::calls();
  const std::string prefix = function + "(";
  for (size_t i = from; i < calls.size(); ++i) {
    if (calls[i].compare(0, prefix.size(), prefix) == 0 && n-- == 0) return i;
  }
  return calls.size();
}

// What the author reads: paths as written, the device's texts beside their meaning.
std::string describe(const Event& event, bool afterFailedLoad) {
  if (event.kind == "message") {
    std::string text = "message " + utf16ToUtf8(event.message->caption) + " \"" + shown(event.message->text) + "\"";
    if (event.message->line) text += " (line " + std::to_string(*event.message->line) + ")";
    return text + ": " + explain(*event.message);
  }
  if (event.kind == "started") {
    std::string text = "started \"" + shown(event.file) + "\"";
    return event.arguments ? text + " with arguments \"" + shown(*event.arguments) + "\"" : text;
  }
  if (event.kind == "asked") return "asked whether to end the program it started last (answered No)";
  if (event.kind == "passed-through") return "passed the key through to the program in front";
  if (event.kind == "switched-off") {
    return afterFailedLoad ? "so nothing is bound any more, and the bindings are off" : "switched the bindings off";
  }
  if (event.kind == "loaded") {
    std::string text = "loaded " + shown(event.file);
    if (event.count) text += ": " + std::to_string(*event.count) + (*event.count == 1 ? " binding" : " bindings");
    return text;
  }
  if (event.kind == "load-failed") return "could not load " + shown(event.file);
  if (event.kind == "not-caught") {
    return "did not catch the key (no binding has it, or the bindings are off): it went to the program in front";
  }
  return event.why.empty() ? "did nothing" : "did nothing: " + event.why;
}

void replaceAll(std::u16string& text, const std::u16string& from, const std::u16string& to) {
  for (size_t at = text.find(from); at != std::u16string::npos; at = text.find(from, at + to.size())) {
    text.replace(at, from.size(), to);
  }
}

class Run {
 public:
  Run(harness::ProgramRun& program, const std::vector<Press>& presses,
      std::map<std::u16string, std::vector<FileLine>> lines)
      : program_(program), presses_(presses), log_(std::move(lines)) {}

  // Runs the program on the prepared device; the events of start-up come as press 0.
  int run() {
    program_.at(1000, [this](HWND) {
      collect(0, Snapshot{});
      next(0);
    });
    int exitCode = program_.run();
    if (exitCode != 0) collect(0, Snapshot{});  // start-up failed: nothing was collected yet
    return exitCode;
  }
  const std::vector<Event>& events() const { return events_; }
  const std::vector<PressTimeline>& timelines() const { return timeline_.timelines(); }

 private:
  struct Snapshot {
    size_t programs, injected, messages, posted, opens;
    bool registered;
    size_t calls;
  };

  Snapshot snapshot(UINT key = 0) {
    return {sim::programs().size(), sim::injectedKeys().size(), log_.messages().size(),
            sim::postedLog().size(), sim::fileOpens().size(), key != 0 && sim::isRegistered(key),
            sim::calls().size()};
  }

  void next(size_t index) {
    if (index == presses_.size() || bindingTable == nullptr) {
      PostMessageW(harness::mainWindow(), WM_CLOSE, 0, 0);
      return;
    }
    const Press& press = presses_[index];
    // After the release, long enough for the tick that finds the key up.
    uint64_t settle = 2 * uint64_t(bindingTable->checkInterval() > 10 ? bindingTable->checkInterval() : 10) + 10;
    uint64_t down = sim::now() + 10, end = down + press.ms + settle;
    pressStart_ = events_.size();
    before_ = snapshot(press.key);
    timeline_.begin(static_cast<unsigned>(index + 1), press.key, press.ms, down, bindingTable->elapseTime(),
                    bindingTable->checkInterval());
    program_.press(press.key, down, press.ms);
    sweepUntil(index, end);
    program_.at(end, [this, index, down](HWND) {
      timeline_.read();
      collect(static_cast<unsigned>(index + 1), before_);
      settleTimeline(down);
      if (events_.size() == pressStart_) {
        events_.push_back({static_cast<unsigned>(index + 1), before_.registered ? "nothing" : "not-caught", {}, {}, {}});
      }
      next(index + 1);
    });
  }

  // The first thing the press made the program do: hand the key back, or act.
  void settleTimeline(uint64_t down) {
    const Event* first = nullptr;
    for (size_t i = pressStart_; i < events_.size(); ++i) {
      const Event& event = events_[i];
      if (event.at && *event.at >= down && (first == nullptr || *event.at < *first->at)) first = &event;
    }
    if (first != nullptr) timeline_.settle(first->kind == "passed-through" ? "handed-back" : "ran", *first->at);
  }

  // Reads what the press did so far and clears the device's records, again and again while
  // the press lasts.
  void sweepUntil(size_t index, uint64_t end) {
    uint64_t at = sim::now() + kSweepMs;
    if (at >= end) return;
    program_.at(at, [this, index, end](HWND) {
      collect(static_cast<unsigned>(index + 1), before_);
      timeline_.read();
      sim::clearRecords();
      timeline_.cleared();
      before_ = Snapshot{sim::programs().size(), 0, log_.messages().size(), 0, 0, before_.registered};
      sweepUntil(index, end);
    });
  }

  // The events since `before`, in the order the device did them: the order of their calls.
  void collect(unsigned press, const Snapshot& before) {
    size_t first = events_.size();
    gather(press, before);
    std::stable_sort(events_.begin() + static_cast<long>(first), events_.end(),
                     [](const Event& a, const Event& b) { return a.order < b.order; });
  }

  void gather(unsigned press, const Snapshot& before) {
    auto placed = [&before](Event event, const char* function, size_t n) {
      event.order = callPosition(function, before.calls, n);
      return event;
    };
    const std::vector<Message>& messages = log_.messages();
    for (size_t i = before.messages; i < messages.size(); ++i) {
      if (messages[i].caption == TERMINATE_CAPTION) {
        events_.push_back(placed({press, "asked", {}, {}, {}, messages[i].at, {}}, "MessageBoxW", i - before.messages));
      }
    }
    for (size_t i = before.programs; i < sim::programs().size(); ++i) {
      const sim::Program& program = sim::programs()[i];
      std::optional<std::u16string> arguments;
      if (!program.parameters.empty()) arguments = program.parameters;
      events_.push_back(placed({press, "started", program.file, {}, {}, program.at, arguments}, "ShellExecuteExW",
                               i - before.programs));
    }
    if (sim::injectedKeys().size() > before.injected) {
      events_.push_back(placed({press, "passed-through", {}, {}, {}, sim::injectedKeys()[before.injected].at, {}},
                               "keybd_event", 0));
    }
    bool loadFailed = false;
    for (size_t i = before.messages; i < messages.size(); ++i) {
      loadFailed |= messages[i].type == (MB_OK | MB_ICONHAND);
    }
    const std::vector<sim::Posted>& posted = sim::postedLog();
    for (size_t i = before.opens; i < sim::fileOpens().size(); ++i) {
      Event loaded{press, loadFailed ? "load-failed" : "loaded", sim::fileOpens()[i].path, {}, {}, sim::fileOpens()[i].at, {}};
      for (size_t j = before.posted; j < posted.size(); ++j) {
        if (posted[j].message == WM_APP_STATUS && posted[j].wParam == STATUS_LOADED) loaded.count = posted[j].lParam;
      }
      if (press != 0) events_.push_back(placed(loaded, "CreateFileW", i - before.opens));
    }
    for (size_t i = before.messages; i < messages.size(); ++i) {
      if (messages[i].caption != TERMINATE_CAPTION) {
        events_.push_back(placed({press, "message", {}, {}, messages[i], messages[i].at, {}}, "MessageBoxW",
                                 i - before.messages));
      }
    }
    for (size_t i = before.posted; i < posted.size(); ++i) {
      if (posted[i].message == WM_APP_STATUS && posted[i].wParam == STATUS_DISABLED) {
        events_.push_back(placed({press, "switched-off", {}, {}, {}, posted[i].at, {}}, "PostMessageW", i - before.posted));
      }
    }
  }

  harness::ProgramRun& program_;
  std::vector<Press> presses_;
  MessageLog log_;
  std::vector<Event> events_;
  TimelineRecorder timeline_;
  size_t pressStart_ = 0;
  Snapshot before_{};
};

}  // namespace

DryRun dryRun(const std::string& hostFile, const std::optional<std::vector<uint8_t>>& bytes,
              const std::vector<Press>& presses, bool json) {
  std::vector<NewIniFile> others = bytes ? newIniFiles(hostFile, *bytes) : std::vector<NewIniFile>();
  // Each file by its path on the device, with its name and bytes on the host: checked only
  // when a press did nothing while it was loaded, to tell why.
  std::map<std::u16string, std::pair<std::string, const std::vector<uint8_t>*>> sources;
  for (const NewIniFile& other : others) sources.emplace(sim::fileKey(other.devicePath), std::make_pair(other.hostPath, &other.bytes));
  std::filesystem::path directory = std::filesystem::path(hostFile).parent_path();
  std::u16string deviceDirectory = utf8ToUtf16(directory.empty() ? "." : directory.string());
  harness::ProgramRun program(deviceDirectory + u"/kurvix.exe");
  sim::setKeyRepeat(true);  // a held key repeats as on the device: a long hold shows what it does
  std::u16string workingCopy = program.configurationPath();
  std::map<std::u16string, std::vector<FileLine>> lines;
  for (const NewIniFile& other : others) {
    lines[other.devicePath] = deviceLines(other.bytes);
    sim::putFile(other.devicePath, other.bytes);
  }
  if (bytes) {
    lines[workingCopy] = deviceLines(*bytes);
    program.configure(*bytes);
    sources.emplace(sim::fileKey(workingCopy), std::make_pair(hostFile, &*bytes));
  }

  Run run(program, presses, std::move(lines));
  int exitCode = run.run();

  // The check runs on the simulated device too, so only once the presses are over.
  std::map<std::u16string, std::pair<FileCheck, std::vector<FileLine>>> checks;
  auto whyNothing = [&](const std::u16string& file, DWORD key) {
    auto source = sources.find(file);
    if (source == sources.end()) return std::string();
    auto checked = checks.find(file);
    if (checked == checks.end()) {
      const std::vector<uint8_t>& fileBytes = *source->second.second;
      checked = checks.emplace(file, std::make_pair(checkFile(source->second.first, fileBytes), deviceLines(fileBytes))).first;
    }
    return whyNoAction(checked->second.first, checked->second.second, key);
  };

  const std::u16string userFile = utf8ToUtf16(hostFile);
  bool anyMessage = false, afterFailedLoad = false;
  std::optional<std::u16string> loadedFile = sim::fileKey(workingCopy);  // nothing after a failed load
  std::ostringstream out;
  if (json) out << "[";
  for (size_t i = 0; i < run.events().size(); ++i) {
    Event event = run.events()[i];
    if (event.kind == "loaded") loadedFile = sim::fileKey(event.file);
    if (event.kind == "load-failed") loadedFile.reset();
    if (event.kind == "nothing" && loadedFile) event.why = whyNothing(*loadedFile, presses[event.press - 1].key);
    replaceAll(event.file, workingCopy, userFile);
    if (event.message) replaceAll(event.message->text, workingCopy, userFile);
    anyMessage |= event.kind == "message";
    afterFailedLoad = (i > 0 && run.events()[i - 1].press == event.press && afterFailedLoad) || event.kind == "load-failed";
    std::string sentence = describe(event, afterFailedLoad);
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
      out << ", \"sentence\": " << jsonString(utf8ToUtf16(sentence));
      if (event.press != 0 && event.at && *event.at >= run.timelines()[event.press - 1].downAt) {
        out << ", \"atMs\": " << *event.at - run.timelines()[event.press - 1].downAt;
      }
      if (event.kind == "started") out << ", \"arguments\": " << (event.arguments ? jsonString(*event.arguments) : "null");
      out << "}";
    } else {
      std::string who = "start-up";
      if (event.press != 0) {
        const Press& press = presses[event.press - 1];
        who = "press " + std::to_string(event.press) + ", key " + std::to_string(press.key) + " held " +
              std::to_string(press.ms) + " ms";
      }
      out << who << ": " << sentence << "\n";
    }
  }
  out << (json ? "]\n" : "");
  if (!json && exitCode != 0) out << "start-up: the configuration was not loaded; the program ended\n";
  if (exitCode != 0) return {out.str(), 2, run.timelines()};
  return {out.str(), anyMessage ? 1 : 0, run.timelines()};
}
