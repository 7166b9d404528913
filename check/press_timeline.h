// A press over time, read from the simulated device's own records while the dry run holds
// the key: when it went down and up, its repeats, every poll of the key (the program's
// GetAsyncKeyState), and the moment the program ran the binding's actions or handed the key
// back. Times count in milliseconds from the key-down.
#ifndef KURVIX_TOOLS_PRESS_TIMELINE_H
#define KURVIX_TOOLS_PRESS_TIMELINE_H

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

struct PressTimeline {
  unsigned press, key;
  uint64_t ms;
  uint64_t downAt;  // the device's virtual time of the key-down; every other time counts from it
  // The settings in force when the key went down (a NewIni may have changed them).
  unsigned long elapseTime, checkInterval;
  std::optional<uint64_t> up;
  // The first kMostMarks of each; the counts say how many there were in all.
  std::vector<uint64_t> repeats, polls;
  size_t repeatCount = 0, pollCount = 0;
  std::string outcome;  // "ran", "handed-back", or "" when the program did neither
  std::optional<uint64_t> outcomeAt;

  static const size_t kMostMarks = 1000;
};

// Reads the device's call log and keyboard as a run goes on. Call begin() as a press is
// scheduled, read() before the device's records are cleared and when the press is over,
// cleared() after clearing them, and settle() with the first thing the press made the
// program do, as the dry run's events tell it.
class TimelineRecorder {
 public:
  void begin(unsigned press, unsigned key, uint64_t ms, uint64_t downAt, unsigned long elapseTime,
             unsigned long checkInterval);
  void read();
  void cleared() { calls_ = strokes_ = 0; }
  // outcome: "ran" or "handed-back"; at: the device's virtual time.
  void settle(const std::string& outcome, uint64_t at);
  const std::vector<PressTimeline>& timelines() const { return timelines_; }

 private:
  void mark(std::vector<uint64_t>& marks, size_t& count, uint64_t at);

  std::vector<PressTimeline> timelines_;
  size_t calls_ = 0, strokes_ = 0;
};

// [{"press": 1, "key": 193, "ms": 1200, "elapseTime": ..., ...}, ...]
std::string timelineJson(const std::vector<PressTimeline>& timelines);

#endif
