// Conversions between the host's UTF-8 and the device's UTF-16, and JSON string quoting.
#ifndef KURVIX_UTF_UTF_H
#define KURVIX_UTF_UTF_H

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

// Invalid UTF-8 sequences become U+FFFD.
std::u16string utf8ToUtf16(std::string_view text);
// The text, or nothing when it is not valid UTF-8; invalidAt is then the offset of the
// first byte that is not.
std::optional<std::u16string> strictUtf8ToUtf16(std::string_view text, size_t& invalidAt);
// A lone surrogate becomes U+FFFD.
std::string utf16ToUtf8(std::u16string_view text);
// A text file in UTF-16LE without a byte-order mark, as desktop editors write it: a
// character below U+0100 first, so its second byte is zero.
bool looksUtf16LeWithoutMark(const std::vector<uint8_t>& bytes);
// The bytes of a file as the device reads it: the UTF-16LE byte-order mark, then the text.
std::vector<uint8_t> unicodeFile(std::u16string_view text);
// A JSON string literal (RFC 8259) with quotes: UTF-16 as UTF-8, a lone surrogate as a
// \uXXXX escape, quote, backslash and control characters escaped.
std::string jsonString(std::u16string_view text);

#endif
