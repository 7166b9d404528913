#include "tools/convert.h"

#include "tools/utf.h"

namespace {

std::u16string decode(const std::vector<uint8_t>& bytes) {
  bool little = bytes.size() >= 2 && bytes[0] == 0xFF && bytes[1] == 0xFE;
  bool big = bytes.size() >= 2 && bytes[0] == 0xFE && bytes[1] == 0xFF;
  if (little || big) {
    std::u16string text;
    for (size_t i = 2; i + 1 < bytes.size(); i += 2) {
      text.push_back(static_cast<char16_t>(little ? bytes[i] | bytes[i + 1] << 8 : bytes[i] << 8 | bytes[i + 1]));
    }
    return text;
  }
  size_t skip = bytes.size() >= 3 && bytes[0] == 0xEF && bytes[1] == 0xBB && bytes[2] == 0xBF ? 3 : 0;
  return utf8ToUtf16(std::string(bytes.begin() + static_cast<long>(skip), bytes.end()));
}

}  // namespace

std::vector<uint8_t> toDeviceFormat(const std::vector<uint8_t>& bytes) {
  std::u16string text = decode(bytes);
  std::u16string lines;
  for (size_t i = 0; i < text.size(); ++i) {
    if (text[i] == u'\r' || text[i] == u'\n') {
      lines += u"\r\n";
      if (text[i] == u'\r' && i + 1 < text.size() && text[i + 1] == u'\n') ++i;
    } else {
      lines += text[i];
    }
  }
  return unicodeFile(lines);
}
