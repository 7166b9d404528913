#include "utf/utf.h"

#include <cstdint>
#include <cstdio>
#include <optional>

namespace {

// Decodes UTF-8; an invalid sequence becomes U+FFFD, or, with stopAtInvalid, ends the
// decoding there. Returns the offset of the first invalid byte, or npos.
size_t decodeUtf8(std::string_view text, std::u16string& out, bool stopAtInvalid) {
  size_t firstInvalid = std::string_view::npos;
  size_t i = 0;
  while (i < text.size()) {
    auto byte = [&](size_t k) { return static_cast<uint8_t>(text[k]); };
    uint8_t lead = byte(i);
    size_t extra = lead < 0x80 ? 0 : (lead & 0xE0) == 0xC0 ? 1 : (lead & 0xF0) == 0xE0 ? 2
                 : (lead & 0xF8) == 0xF0 ? 3 : 4;
    uint32_t point = extra == 0 ? lead : extra == 1 ? (lead & 0x1F) : extra == 2 ? (lead & 0x0F)
                                                                                 : (lead & 0x07);
    bool valid = extra < 4;
    for (size_t k = 1; valid && k <= extra; ++k) {
      if (i + k >= text.size() || (byte(i + k) & 0xC0) != 0x80) {
        valid = false;
      } else {
        point = (point << 6) | (byte(i + k) & 0x3F);
      }
    }
    static const uint32_t smallest[] = {0, 0x80, 0x800, 0x10000};
    if (valid && (point < smallest[extra] || point > 0x10FFFF || (point >= 0xD800 && point < 0xE000))) {
      valid = false;
    }
    if (!valid) {
      if (firstInvalid == std::string_view::npos) firstInvalid = i;
      if (stopAtInvalid) return firstInvalid;
      out.push_back(0xFFFD);
      ++i;
      continue;
    }
    if (point >= 0x10000) {
      point -= 0x10000;
      out.push_back(static_cast<char16_t>(0xD800 + (point >> 10)));
      out.push_back(static_cast<char16_t>(0xDC00 + (point & 0x3FF)));
    } else {
      out.push_back(static_cast<char16_t>(point));
    }
    i += extra + 1;
  }
  return firstInvalid;
}

}  // namespace

std::u16string utf8ToUtf16(std::string_view text) {
  std::u16string out;
  decodeUtf8(text, out, false);
  return out;
}

std::optional<std::u16string> strictUtf8ToUtf16(std::string_view text, size_t& invalidAt) {
  std::u16string out;
  invalidAt = decodeUtf8(text, out, true);
  if (invalidAt != std::string_view::npos) return std::nullopt;
  return out;
}

bool looksUtf16LeWithoutMark(const std::vector<uint8_t>& bytes) {
  return bytes.size() >= 2 && bytes[0] != 0 && bytes[1] == 0;
}

std::vector<uint8_t> unicodeFile(std::u16string_view text) {
  std::vector<uint8_t> bytes = {0xFF, 0xFE};
  for (char16_t unit : text) {
    bytes.push_back(static_cast<uint8_t>(unit & 0xFF));
    bytes.push_back(static_cast<uint8_t>(unit >> 8));
  }
  return bytes;
}

namespace {

void appendUtf8(std::string& out, uint32_t point) {
  if (point < 0x80) {
    out.push_back(static_cast<char>(point));
  } else if (point < 0x800) {
    out.push_back(static_cast<char>(0xC0 | (point >> 6)));
    out.push_back(static_cast<char>(0x80 | (point & 0x3F)));
  } else if (point < 0x10000) {
    out.push_back(static_cast<char>(0xE0 | (point >> 12)));
    out.push_back(static_cast<char>(0x80 | ((point >> 6) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | (point & 0x3F)));
  } else {
    out.push_back(static_cast<char>(0xF0 | (point >> 18)));
    out.push_back(static_cast<char>(0x80 | ((point >> 12) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | ((point >> 6) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | (point & 0x3F)));
  }
}

void appendEscape(std::string& out, uint32_t unit) {
  char escape[8];
  std::snprintf(escape, sizeof escape, "\\u%04x", static_cast<unsigned>(unit));
  out += escape;
}

bool isSurrogate(uint32_t point) { return point >= 0xD800 && point < 0xE000; }

// The code point that starts at text[i], moving i past it; a lone surrogate comes back as
// itself.
uint32_t takeCodePoint(std::u16string_view text, size_t& i) {
  uint32_t unit = text[i++];
  if (unit >= 0xD800 && unit < 0xDC00 && i < text.size() && text[i] >= 0xDC00 && text[i] < 0xE000) {
    return 0x10000 + ((unit - 0xD800) << 10) + (text[i++] - 0xDC00);
  }
  return unit;
}

}  // namespace

std::string utf16ToUtf8(std::u16string_view text) {
  std::string out;
  for (size_t i = 0; i < text.size();) {
    uint32_t point = takeCodePoint(text, i);
    appendUtf8(out, isSurrogate(point) ? 0xFFFD : point);
  }
  return out;
}

std::string jsonString(std::u16string_view text) {
  std::string out = "\"";
  for (size_t i = 0; i < text.size();) {
    uint32_t unit = takeCodePoint(text, i);
    if (isSurrogate(unit)) {
      appendEscape(out, unit);
    } else if (unit == '"') {
      out += "\\\"";
    } else if (unit == '\\') {
      out += "\\\\";
    } else if (unit == '\n') {
      out += "\\n";
    } else if (unit == '\r') {
      out += "\\r";
    } else if (unit == '\t') {
      out += "\\t";
    } else if (unit < 0x20) {
      appendEscape(out, unit);
    } else {
      appendUtf8(out, unit);
    }
  }
  out += '"';
  return out;
}
