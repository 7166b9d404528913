// The configuration author's hints: mistakes the device does not report, or reports in a way
// that hides the cause. They are the tool's own words, never the device's. Each has a
// stable id and, where it concerns one, the line (a binding's hint: the line of its header
// or of the key line concerned).
#ifndef KURVIX_TOOLS_HINTS_H
#define KURVIX_TOOLS_HINTS_H

#include <cstdint>
#include <string>
#include <vector>

#include "check/file_check.h"

// hostFile is the file as the author named it, bytes its contents, lines as the device read
// them; check holds what the device did with them. In the order of their lines, hints about
// the whole file first.
// bindingLines: the header line of each binding.
std::vector<Hint> findHints(const std::string& hostFile, const std::vector<uint8_t>& bytes,
                            const std::vector<FileLine>& lines, const FileCheck& check,
                            std::vector<unsigned>& bindingLines);

#endif
