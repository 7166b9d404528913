// kurvix-check's checks as plain functions: a configuration file's bytes in, the JSON text
// that `kurvix-check --json` prints out. The command line and the web page both call them.
//
// Files that a NewIni names are looked for on the host as the command line finds them
// (newIniPlaces in device_session.h); where there is no such file, or no file system at all,
// the check goes without them and says so in a newini-missing warning.
#ifndef KURVIX_TOOLS_CHECK_API_H
#define KURVIX_TOOLS_CHECK_API_H

#include <cstdint>
#include <string>
#include <vector>

struct Press {
  unsigned key;     // the key code
  uint64_t ms;      // how long it is held
};

// The object `kurvix-check --json FILE` prints for a file named fileName holding bytes.
std::string checkJson(const std::string& fileName, const std::vector<uint8_t>& bytes);

// The array `kurvix-check --json FILE --press KEY:MS ...` prints.
std::string pressJson(const std::string& fileName, const std::vector<uint8_t>& bytes,
                      const std::vector<Press>& presses);

// The same presses over time, one entry for each press the program lived to see
// (check/press_timeline.h).
std::string pressTimelineJson(const std::string& fileName, const std::vector<uint8_t>& bytes,
                              const std::vector<Press>& presses);

#endif
