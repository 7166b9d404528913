#include "check/check_api.h"

#include "check/dry_run.h"
#include "check/file_check.h"

std::string checkJson(const std::string& fileName, const std::vector<uint8_t>& bytes) {
  return checkJsonOf(checkWithNewIniFiles(fileName, bytes));
}

std::string pressJson(const std::string& fileName, const std::vector<uint8_t>& bytes,
                      const std::vector<Press>& presses) {
  return dryRun(fileName, bytes, presses, true).output;
}

std::string pressTimelineJson(const std::string& fileName, const std::vector<uint8_t>& bytes,
                              const std::vector<Press>& presses) {
  return timelineJson(dryRun(fileName, bytes, presses, true).timelines);
}
