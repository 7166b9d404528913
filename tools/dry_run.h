// kurvix-check's dry run: the whole program on the simulated device, started with the file
// as its "Kurvix.ini", and a key held for a given time, press after press; what the device
// did with each press, in plain words or as JSON.
#ifndef KURVIX_TOOLS_DRY_RUN_H
#define KURVIX_TOOLS_DRY_RUN_H

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "tools/device_session.h"

struct Press {
  UINT key;
  uint64_t ms;
};

// "KEY:MS", both decimal.
std::optional<Press> parsePress(const std::string& text);

// Exit status as for a check of the file: 0, 1 with start-up messages, 2 not loaded.
int dryRun(const std::string& hostFile, const std::vector<uint8_t>& bytes,
           const std::vector<Press>& presses, bool json);

#endif
