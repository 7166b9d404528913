// kurvix-check --to-unicode: a configuration written on a desktop turned into what the
// device reads, without losing a character: input that is not what it claims to be is
// refused, never patched.
#ifndef KURVIX_TOOLS_CONVERT_H
#define KURVIX_TOOLS_CONVERT_H

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

struct Conversion {
  std::optional<std::vector<uint8_t>> bytes;  // UTF-16LE with the byte-order mark, CR LF line ends
  std::string position;  // when refused: "LINE:COLUMN" of the first character that is not
  std::string error;     // and why
  bool unknownEncoding;  // refused because `from` names no encoding
};

// Without `from`: UTF-16 with a byte-order mark of either order, UTF-16LE without one
// (recognised by a zero second byte), or else UTF-8 with or without its byte-order mark.
// With `from`: that encoding, by its iconv(3) name (CP1252, ISO-8859-1, CP850, ...).
Conversion toDeviceFormat(const std::vector<uint8_t>& bytes, const std::string& from);

#endif
