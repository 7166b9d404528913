// kurvix-check's dry run: the whole program on the simulated device, started with the file
// as its "Kurvix.ini", and a key held for a given time, press after press; what the device
// did with each press, in plain words or as JSON.
#ifndef KURVIX_TOOLS_DRY_RUN_H
#define KURVIX_TOOLS_DRY_RUN_H

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "check/check_api.h"
#include "check/press_timeline.h"

struct DryRun {
  std::string output;
  int status;  // 0, 1 with messages at start-up or during the presses, 2 not loaded
  std::vector<PressTimeline> timelines;  // one for each press the program lived to see
};

// hostFile is the file as the author named it: the device's messages name it so, not the
// copy the device loads. bytes: nothing when the file does not exist.
DryRun dryRun(const std::string& hostFile, const std::optional<std::vector<uint8_t>>& bytes,
              const std::vector<Press>& presses, bool json);

#endif
