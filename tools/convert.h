// kurvix-check --to-unicode: a configuration written on a desktop (UTF-8, or UTF-16 of
// either byte order) turned into what the device reads.
#ifndef KURVIX_TOOLS_CONVERT_H
#define KURVIX_TOOLS_CONVERT_H

#include <cstdint>
#include <string>
#include <vector>

// UTF-16LE with the byte-order mark and CR LF line ends, from UTF-8 (with or without its
// byte-order mark) or from UTF-16 with a byte-order mark of either order.
std::vector<uint8_t> toDeviceFormat(const std::vector<uint8_t>& bytes);

#endif
