#include "tools/device_session.h"

#include <filesystem>
#include <fstream>
#include <iterator>
#include <string_view>

#include "tools/utf.h"

std::optional<std::vector<uint8_t>> readHostFile(const std::string& path) {
  std::error_code error;
  if (!std::filesystem::is_regular_file(path, error)) return std::nullopt;
  std::ifstream in(path, std::ios::binary);
  std::vector<uint8_t> bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  if (in.bad()) return std::nullopt;
  return bytes;
}

std::optional<std::string> resolveNewIni(const std::u16string& newIni, const std::string& hostFile) {
  std::u16string written = newIni;
  for (char16_t& unit : written) {
    if (unit == u'\\') unit = u'/';
  }
  std::filesystem::path asWritten = utf16ToUtf8(written);
  std::error_code error;
  if (std::filesystem::is_regular_file(asWritten, error)) return asWritten.string();
  std::filesystem::path beside = std::filesystem::path(hostFile).parent_path() / asWritten.filename();
  if (!asWritten.filename().empty() && std::filesystem::is_regular_file(beside, error)) {
    return beside.string();
  }
  return std::nullopt;
}

namespace {

const UINT kBadLineMessage = MB_OK | MB_ICONEXCLAMATION;

unsigned linesReadSinceOpen() {
  const std::vector<std::string>& calls = sim::calls();
  unsigned reads = 0;
  for (auto call = calls.rbegin(); call != calls.rend(); ++call) {
    std::string_view name = std::string_view(*call).substr(0, call->find('('));
    if (name == "CreateFileW") break;
    if (name == "ReadFile") ++reads;
  }
  return reads > 0 ? reads - 1 : 0;
}

}  // namespace

MessageLog::MessageLog() {
  sim::whileBoxOpen([this](const sim::MessageBoxRecord& box) {
    std::optional<unsigned> line;
    if (box.type == kBadLineMessage) line = linesReadSinceOpen();
    messages_.push_back({box.caption, box.text, box.type, line});
  });
}
