#include "harness/program_run.h"

#include <sstream>

#include "shell/layout.h"
#include "shell/main_window.h"
#include "shell/tray_icon.h"
#include "utf/utf.h"

namespace harness {

int startProgram() {
  WCHAR commandLine[1] = {0};
  return WinMain(sim::instance(), nullptr, commandLine, 0);
}

HWND mainWindow() { return sim::findWindow(CLASS_NAME); }

ProgramRun::ProgramRun(std::u16string modulePath)
    : modulePath_(std::move(modulePath)),
      pending_(std::make_shared<size_t>(0)),
      boxPlans_(std::make_shared<std::deque<BoxPlan>>()) {
  sim::reset();
  sim::setModulePath(modulePath_);
}

std::u16string ProgramRun::configurationPath() const {
  size_t folderEnd = modulePath_.find_last_of(u"\\/");
  return modulePath_.substr(0, folderEnd == std::u16string::npos ? 0 : folderEnd + 1) + u"Kurvix.ini";
}

void ProgramRun::configure(std::vector<uint8_t> bytes) { sim::putFile(configurationPath(), std::move(bytes)); }

void ProgramRun::at(uint64_t t, std::function<void(HWND)> action) {
  ++*pending_;
  std::shared_ptr<size_t> pending = pending_;
  sim::at(t, [pending, action = std::move(action)] {
    --*pending;
    action(mainWindow());
  });
}

void ProgramRun::press(UINT virtualKey, uint64_t down, uint64_t hold) {
  at(down, [virtualKey](HWND) { sim::keyDown(virtualKey); });
  at(down + hold, [virtualKey](HWND) { sim::keyUp(virtualKey); });
}

void ProgramRun::tap(uint64_t t, int x, int y) {
  at(t, [x, y](HWND window) { sim::tap(window, x, y); });
}

void ProgramRun::tapTrayIcon(uint64_t t) {
  at(t, [](HWND window) {
    if (sim::trayIcon(window, TRAY_ICON_ID)) sim::tapTrayIcon(window, TRAY_ICON_ID);
  });
}

void ProgramRun::close(uint64_t t) {
  at(t, [](HWND window) { PostMessageW(window, WM_CLOSE, 0, 0); });
}

void ProgramRun::failTimers(uint64_t t, bool on) {
  at(t, [on](HWND) { sim::failTimers(on); });
}

void ProgramRun::answerBox(uint64_t openMs, std::optional<int> answer) {
  if (boxPlans_->empty()) {
    std::shared_ptr<std::deque<BoxPlan>> plans = boxPlans_;
    sim::whileBoxOpen([plans](const sim::MessageBoxRecord&) {
      if (plans->empty()) return;
      BoxPlan plan = plans->front();
      plans->pop_front();
      sim::runFor(plan.openMs);
      if (plan.answer) sim::answerBoxes({*plan.answer});
    });
  }
  boxPlans_->push_back({openMs, answer});
}

int ProgramRun::run() {
  exitCode_ = startProgram();
  return *exitCode_;
}

size_t ProgramRun::actionsNotRun() const { return *pending_; }

namespace {

void keyEventsJson(std::ostringstream& out, const std::vector<sim::KeyEvent>& events) {
  out << "[";
  for (size_t i = 0; i < events.size(); ++i) {
    const sim::KeyEvent& event = events[i];
    out << (i ? ", " : "") << "{\"at\": " << event.at << ", \"key\": " << event.virtualKey
        << ", \"down\": " << (event.down ? "true" : "false") << ", \"flags\": " << event.flags
        << ", \"repeat\": " << (event.repeat ? "true" : "false") << "}";
  }
  out << "]";
}

}  // namespace

std::string ProgramRun::traceJson() const {
  std::ostringstream out;
  out << "{\"exitCode\": ";
  if (exitCode_) {
    out << *exitCode_;
  } else {
    out << "null";
  }
  out << ", \"boxes\": [";
  const std::vector<sim::MessageBoxRecord>& boxes = sim::messageBoxes();
  for (size_t i = 0; i < boxes.size(); ++i) {
    out << (i ? ", " : "") << "{\"at\": " << boxes[i].at
        << ", \"caption\": " << jsonString(boxes[i].caption) << ", \"text\": " << jsonString(boxes[i].text)
        << ", \"type\": " << boxes[i].type << ", \"answer\": " << boxes[i].answer << "}";
  }
  out << "], \"started\": [";
  for (size_t i = 0; i < sim::programs().size(); ++i) {
    const sim::Program& program = sim::programs()[i];
    out << (i ? ", " : "") << "{\"at\": " << program.at << ", \"file\": " << jsonString(program.file)
        << ", \"parameters\": " << (program.parametersNull ? "null" : jsonString(program.parameters))
        << ", \"running\": " << (program.running ? "true" : "false")
        << ", \"terminated\": " << (program.terminated ? "true" : "false") << "}";
  }
  out << "], \"injected\": ";
  keyEventsJson(out, sim::injectedKeys());
  out << ", \"keysToOthers\": ";
  keyEventsJson(out, sim::keysToOthers());
  out << ", \"calls\": [";
  for (size_t i = 0; i < sim::calls().size(); ++i) {
    out << (i ? ", " : "") << "{\"at\": " << sim::callTimes()[i] << ", \"call\": " << jsonString(utf8ToUtf16(sim::calls()[i]))
        << "}";
  }
  out << "]}";
  return out.str();
}

}  // namespace harness
