#include "tools/press_timeline.h"

#include <sstream>

#include "sim/device.h"

namespace {

bool isCallOf(const std::string& call, const std::string& prefix) { return call.compare(0, prefix.size(), prefix) == 0; }

void writeMarks(std::ostringstream& out, const std::vector<uint64_t>& marks) {
  out << "[";
  for (size_t i = 0; i < marks.size(); ++i) out << (i ? ", " : "") << marks[i];
  out << "]";
}

}  // namespace

void TimelineRecorder::begin(unsigned press, unsigned key, uint64_t ms, uint64_t downAt,
                             unsigned long elapseTime, unsigned long checkInterval) {
  PressTimeline timeline{press, key, ms, elapseTime, checkInterval, {}, {}, {}, 0, 0, "", {}};
  timelines_.push_back(timeline);
  downAt_ = downAt;
  calls_ = sim::calls().size();
  strokes_ = sim::keyStrokes().size();
  lookedAtClock_ = afterPoll_ = false;
}

void TimelineRecorder::mark(std::vector<uint64_t>& marks, size_t& count, uint64_t at) {
  ++count;
  if (marks.size() < PressTimeline::kMostMarks) marks.push_back(at - downAt_);
}

void TimelineRecorder::read() {
  if (timelines_.empty()) return;
  PressTimeline& timeline = timelines_.back();
  const std::vector<sim::KeyStroke>& strokes = sim::keyStrokes();
  for (; strokes_ < strokes.size(); ++strokes_) {
    const sim::KeyStroke& stroke = strokes[strokes_];
    if (stroke.virtualKey != timeline.key || stroke.at < downAt_) continue;
    if (stroke.repeat) mark(timeline.repeats, timeline.repeatCount, stroke.at);
    if (!stroke.down && !timeline.up) timeline.up = stroke.at - downAt_;
  }
  const std::string key = std::to_string(timeline.key);
  const std::string poll = "GetAsyncKeyState(" + key + ")";
  const std::vector<std::string>& calls = sim::calls();
  const std::vector<uint64_t>& times = sim::callTimes();
  for (; calls_ < calls.size(); ++calls_) {
    const std::string& call = calls[calls_];
    uint64_t at = times[calls_];
    if (call == poll) {
      mark(timeline.polls, timeline.pollCount, at);
      afterPoll_ = true;
      lookedAtClock_ = false;
    } else if (isCallOf(call, "GetMessageW(")) {
      afterPoll_ = lookedAtClock_ = false;
    } else if (afterPoll_ && call == "GetTickCount()") {
      lookedAtClock_ = true;
    } else if (lookedAtClock_ && timeline.outcome.empty()) {
      timeline.outcome = "ran";
      timeline.outcomeAt = at - downAt_;
      lookedAtClock_ = false;
    } else if (isCallOf(call, "keybd_event(" + key + ",") && timeline.outcome.empty()) {
      timeline.outcome = "handed-back";
      timeline.outcomeAt = at - downAt_;
    }
  }
}

std::string timelineJson(const std::vector<PressTimeline>& timelines) {
  std::ostringstream out;
  out << "[";
  for (size_t i = 0; i < timelines.size(); ++i) {
    const PressTimeline& t = timelines[i];
    out << (i ? ", " : "") << "{\"press\": " << t.press << ", \"key\": " << t.key << ", \"ms\": " << t.ms
        << ", \"elapseTime\": " << t.elapseTime << ", \"checkInterval\": " << t.checkInterval
        << ", \"holdAtLeast\": " << t.elapseTime + t.checkInterval << ", \"down\": 0, \"up\": ";
    if (t.up) {
      out << *t.up;
    } else {
      out << "null";
    }
    out << ", \"repeats\": ";
    writeMarks(out, t.repeats);
    out << ", \"repeatCount\": " << t.repeatCount << ", \"polls\": ";
    writeMarks(out, t.polls);
    out << ", \"pollCount\": " << t.pollCount << ", \"outcome\": ";
    if (t.outcome.empty()) {
      out << "null";
    } else {
      out << "\"" << t.outcome << "\"";
    }
    out << ", \"outcomeAt\": ";
    if (t.outcomeAt) {
      out << *t.outcomeAt;
    } else {
      out << "null";
    }
    out << "}";
  }
  out << "]";
  return out.str();
}
