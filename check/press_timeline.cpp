#include "check/press_timeline.h"

#include <sstream>

#include "sim/device.h"

namespace {

void writeMarks(std::ostringstream& out, const std::vector<uint64_t>& marks) {
  out << "[";
  for (size_t i = 0; i < marks.size(); ++i) out << (i ? ", " : "") << marks[i];
  out << "]";
}

}  // namespace

void TimelineRecorder::begin(unsigned press, unsigned key, uint64_t ms, uint64_t downAt,
                             unsigned long elapseTime, unsigned long checkInterval) {
  PressTimeline timeline{press, key, ms, downAt, elapseTime, checkInterval, {}, {}, {}, 0, 0, "", {}};
  timelines_.push_back(timeline);
  calls_ = sim::calls().size();
  strokes_ = sim::keyStrokes().size();
}

void TimelineRecorder::mark(std::vector<uint64_t>& marks, size_t& count, uint64_t at) {
  ++count;
  if (marks.size() < PressTimeline::kMostMarks) marks.push_back(at - timelines_.back().downAt);
}

void TimelineRecorder::settle(const std::string& outcome, uint64_t at) {
  PressTimeline& timeline = timelines_.back();
  timeline.outcome = outcome;
  timeline.outcomeAt = at - timeline.downAt;
}

void TimelineRecorder::read() {
  if (timelines_.empty()) return;
  PressTimeline& timeline = timelines_.back();
  const std::vector<sim::KeyStroke>& strokes = sim::keyStrokes();
  for (; strokes_ < strokes.size(); ++strokes_) {
    const sim::KeyStroke& stroke = strokes[strokes_];
    if (stroke.virtualKey != timeline.key || stroke.at < timeline.downAt) continue;
    if (stroke.repeat) mark(timeline.repeats, timeline.repeatCount, stroke.at);
    if (!stroke.down && !timeline.up) timeline.up = stroke.at - timeline.downAt;
  }
  const std::string poll = "GetAsyncKeyState(" + std::to_string(timeline.key) + ")";
  const std::vector<std::string>& calls = sim::calls();
  const std::vector<uint64_t>& times = sim::callTimes();
  for (; calls_ < calls.size(); ++calls_) {
    if (calls[calls_] == poll) mark(timeline.polls, timeline.pollCount, times[calls_]);
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
