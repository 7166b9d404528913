// The configuration author's hints: mistakes the device does not report, or reports in a way
// that hides the cause. They are the tool's own words, never the device's.
#ifndef KURVIX_TOOLS_HINTS_H
#define KURVIX_TOOLS_HINTS_H

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "engine/binding_table.h"
#include "tools/device_session.h"

struct Hint {
  std::string text;
  std::optional<unsigned> line;
};

// hostFile is the file as given on the command line; bytes are its contents.
std::vector<Hint> findHints(const std::string& hostFile, const std::vector<uint8_t>& bytes,
                            const std::vector<Message>& messages, const BindingTable& table);

#endif
