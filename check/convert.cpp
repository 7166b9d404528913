#include "check/convert.h"

#include <iconv.h>

#include <cerrno>
#include <cstdio>

#include "utf/utf.h"

namespace {

std::string hexByte(uint8_t byte) {
  char text[8];
  std::snprintf(text, sizeof text, "0x%02X", byte);
  return text;
}

// "LINE:COLUMN" of the character that follows the text decoded so far.
std::string positionAfter(const std::u16string& decoded) {
  unsigned line = 1, column = 1;
  for (size_t i = 0; i < decoded.size(); ++i) {
    bool lineEnd = decoded[i] == u'\n' || (decoded[i] == u'\r' && (i + 1 == decoded.size() || decoded[i + 1] != u'\n'));
    bool lowSurrogate = decoded[i] >= 0xDC00 && decoded[i] < 0xE000;
    if (lineEnd) {
      ++line, column = 1;
    } else if (decoded[i] != u'\r' && !lowSurrogate) {
      ++column;
    }
  }
  return std::to_string(line) + ":" + std::to_string(column);
}

const char* const kNameIt = "; if the file is in another encoding, name it with --from=NAME (CP1252, ISO-8859-1, CP850, ...)";

Conversion refuse(const std::string& position, const std::string& error) { return {std::nullopt, position, error, false}; }

std::optional<std::u16string> fromUtf16(const std::vector<uint8_t>& bytes, size_t start, bool little, Conversion& failure) {
  std::u16string text;
  for (size_t i = start; i + 1 < bytes.size(); i += 2) {
    text.push_back(static_cast<char16_t>(little ? bytes[i] | bytes[i + 1] << 8 : bytes[i] << 8 | bytes[i + 1]));
  }
  for (size_t i = 0; i < text.size(); ++i) {
    bool high = text[i] >= 0xD800 && text[i] < 0xDC00, low = text[i] >= 0xDC00 && text[i] < 0xE000;
    bool paired = high && i + 1 < text.size() && text[i + 1] >= 0xDC00 && text[i + 1] < 0xE000;
    if ((high && !paired) || low) {
      size_t byte = start + 2 * i;
      failure = refuse(positionAfter(text.substr(0, i)), "bytes " + hexByte(bytes[byte]) + " " + hexByte(bytes[byte + 1]) +
                       " (offset " + std::to_string(byte) + ") are half a UTF-16 character pair");
      return std::nullopt;
    }
    if (paired) ++i;
  }
  if ((bytes.size() - start) % 2 != 0) {
    failure = refuse(positionAfter(text), "the file ends in half a UTF-16 character: a lone byte " +
                     hexByte(bytes.back()) + " (offset " + std::to_string(bytes.size() - 1) + ")");
    return std::nullopt;
  }
  return text;
}

std::optional<std::u16string> fromUtf8(const std::vector<uint8_t>& bytes, Conversion& failure) {
  size_t skip = bytes.size() >= 3 && bytes[0] == 0xEF && bytes[1] == 0xBB && bytes[2] == 0xBF ? 3 : 0;
  std::string_view text(reinterpret_cast<const char*>(bytes.data()) + skip, bytes.size() - skip);
  size_t invalidAt;
  std::optional<std::u16string> decoded = strictUtf8ToUtf16(text, invalidAt);
  if (!decoded) {
    size_t valid;
    failure = refuse(positionAfter(*strictUtf8ToUtf16(text.substr(0, invalidAt), valid)), "byte " +
                     hexByte(static_cast<uint8_t>(text[invalidAt])) + " (offset " + std::to_string(skip + invalidAt) +
                     ") is not UTF-8" + kNameIt);
  }
  size_t zero = decoded ? decoded->find(u'\0') : std::u16string::npos;
  if (zero != std::u16string::npos) {
    failure = refuse(positionAfter(decoded->substr(0, zero)), "a zero byte is no text; a file whose every other "
                     "byte is zero is UTF-16: name its byte order with --from=UTF-16BE or --from=UTF-16LE");
    return std::nullopt;
  }
  return decoded;
}

std::optional<std::u16string> fromNamed(const std::vector<uint8_t>& bytes, const std::string& from, Conversion& failure) {
  iconv_t converter = iconv_open("UTF-16LE", from.c_str());
  if (converter == reinterpret_cast<iconv_t>(-1)) {
    failure = {std::nullopt, "", "--from: " + from + ": no such encoding (see iconv --list)", true};
    return std::nullopt;
  }
  std::vector<char> in(bytes.begin(), bytes.end());
  std::vector<char> out(4 * in.size() + 16);
  char* inAt = in.data();
  char* outAt = out.data();
  size_t inLeft = in.size(), outLeft = out.size();
  size_t done = iconv(converter, &inAt, &inLeft, &outAt, &outLeft);
  int error = errno;
  if (done != static_cast<size_t>(-1)) done = iconv(converter, nullptr, nullptr, &outAt, &outLeft);
  iconv_close(converter);
  std::u16string text;
  for (const char* unit = out.data(); unit + 1 < outAt; unit += 2) {
    text.push_back(static_cast<char16_t>(static_cast<uint8_t>(unit[0]) | static_cast<uint8_t>(unit[1]) << 8));
  }
  if (done == static_cast<size_t>(-1)) {
    size_t offset = static_cast<size_t>(inAt - in.data());
    failure = refuse(positionAfter(text), (offset < bytes.size() ? "byte " + hexByte(bytes[offset]) + " (offset " +
                     std::to_string(offset) + ")" : std::string("the end of the file")) +
                     (error == EINVAL ? " ends in the middle of a character in " : " is not a character in ") + from);
    return std::nullopt;
  }
  if (!text.empty() && text[0] == 0xFEFF) text.erase(0, 1);
  return text;
}

}  // namespace

Conversion toDeviceFormat(const std::vector<uint8_t>& bytes, const std::string& from) {
  Conversion result{std::nullopt, "", "", false};
  std::optional<std::u16string> text;
  bool little = bytes.size() >= 2 && bytes[0] == 0xFF && bytes[1] == 0xFE;
  bool big = bytes.size() >= 2 && bytes[0] == 0xFE && bytes[1] == 0xFF;
  if (!from.empty()) {
    text = fromNamed(bytes, from, result);
  } else if (little || big) {
    text = fromUtf16(bytes, 2, little, result);
  } else if (looksUtf16LeWithoutMark(bytes)) {
    text = fromUtf16(bytes, 0, true, result);
  } else {
    text = fromUtf8(bytes, result);
  }
  if (!text) return result;
  std::u16string lines;
  for (size_t i = 0; i < text->size(); ++i) {
    char16_t unit = (*text)[i];
    if (unit == u'\r' || unit == u'\n') {
      lines += u"\r\n";
      if (unit == u'\r' && i + 1 < text->size() && (*text)[i + 1] == u'\n') ++i;
    } else {
      lines += unit;
    }
  }
  result.bytes = unicodeFile(lines);
  return result;
}
