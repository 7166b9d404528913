// What kurvix-check does on the simulated device: bring host files onto it, and record the
// message boxes the device code shows, each with the line the reader had just read.
#ifndef KURVIX_TOOLS_DEVICE_SESSION_H
#define KURVIX_TOOLS_DEVICE_SESSION_H

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "sim/device.h"

// The bytes of a regular host file, or nothing when it cannot be read.
std::optional<std::vector<uint8_t>> readHostFile(const std::string& path);

// The host file a binding's NewIni means: the path as written (either separator), or else a
// file of that name beside the configuration file being checked.
std::optional<std::string> resolveNewIni(const std::u16string& newIni, const std::string& hostFile);

struct Message {
  std::u16string caption, text;
  UINT type;
  std::optional<unsigned> line;  // 1-based; none for messages about the whole file
};

// Records every message box shown from its construction on. The line of a bad-line message
// is counted by the reader's own reads: one per line since it opened its file, less the
// read of the byte-order mark.
class MessageLog {
 public:
  MessageLog();
  MessageLog(const MessageLog&) = delete;
  MessageLog& operator=(const MessageLog&) = delete;
  const std::vector<Message>& messages() const { return messages_; }

 private:
  std::vector<Message> messages_;
};

#endif
