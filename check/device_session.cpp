#include "check/device_session.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <string_view>

#include "config/reader.h"
#include "engine/binding_table.h"
#include "utf/utf.h"

HostFile readHostFile(const std::string& path) {
  HostFile file;
  std::FILE* in = std::fopen(path.c_str(), "rb");
  if (in == nullptr) {
    file.missing = errno == ENOENT;
    file.error = std::strerror(errno);
    return file;
  }
  std::vector<uint8_t> bytes;
  uint8_t block[65536];
  size_t got;
  while ((got = std::fread(block, 1, sizeof block, in)) > 0) bytes.insert(bytes.end(), block, block + got);
  if (std::ferror(in)) {
    file.error = std::strerror(errno);
  } else {
    file.bytes = std::move(bytes);
  }
  std::fclose(in);
  return file;
}

namespace {

// The host file at path, its name and folders compared without regard to case where no
// entry has the exact name.
std::optional<std::filesystem::path> findIgnoringCase(const std::filesystem::path& path) {
  std::error_code error;
  if (std::filesystem::is_regular_file(path, error)) return path;
  std::filesystem::path found = path.root_path();
  for (const std::filesystem::path& part : path.relative_path()) {
    std::filesystem::path exact = found.empty() ? part : found / part;
    if (std::filesystem::exists(exact, error)) {
      found = exact;
      continue;
    }
    // Compared as the device compares file names.
    std::u16string wanted = sim::fileKey(utf8ToUtf16(part.string()));
    bool matched = false;
    std::filesystem::directory_iterator entries(found.empty() ? "." : found, error);
    for (auto entry = entries; !error && entry != std::filesystem::directory_iterator(); entry.increment(error)) {
      std::filesystem::path name = entry->path().filename();
      if (sim::fileKey(utf8ToUtf16(name.string())) == wanted) {
        found = found.empty() ? name : found / name;
        matched = true;
        break;
      }
    }
    if (!matched) return std::nullopt;
  }
  return std::filesystem::is_regular_file(found, error) ? std::optional<std::filesystem::path>(found) : std::nullopt;
}

}  // namespace

std::u16string deviceNewIniPath(const std::u16string& newIni) {
  std::u16string path = newIni;
  for (char16_t& unit : path) {
    if (unit == u'/') unit = u'\\';
  }
  return !path.empty() && path[0] == u'\\' ? path : u"\\" + path;
}

std::vector<std::string> newIniPlaces(const std::u16string& newIni, const std::string& hostFile) {
  std::u16string onHost = deviceNewIniPath(newIni);
  for (char16_t& unit : onHost) {
    if (unit == u'\\') unit = u'/';
  }
  std::filesystem::path asWritten = utf16ToUtf8(onHost);
  std::vector<std::string> places = {asWritten.string()};
  bool fromRoot = !newIni.empty() && (newIni[0] == u'\\' || newIni[0] == u'/');
  if (fromRoot && !asWritten.filename().empty()) {
    std::filesystem::path folder = std::filesystem::path(hostFile).parent_path();
    places.push_back((folder.empty() ? asWritten.filename() : folder / asWritten.filename()).string());
  }
  return places;
}

std::optional<std::string> resolveNewIni(const std::u16string& newIni, const std::string& hostFile) {
  for (const std::string& place : newIniPlaces(newIni, hostFile)) {
    if (std::optional<std::filesystem::path> found = findIgnoringCase(place)) return found->string();
  }
  return std::nullopt;
}

std::vector<NewIniFile> newIniFiles(const std::string& hostFile, const std::vector<uint8_t>& bytes) {
  const size_t kMostFiles = 64;
  std::vector<NewIniFile> files;
  std::vector<std::vector<uint8_t>> pending = {bytes};
  while (!pending.empty() && files.size() < kMostFiles) {
    sim::reset();
    sim::putFile(u"\\scratch.ini", pending.back());
    pending.pop_back();
    BindingTable table;
    table.load(u"\\scratch.ini");
    for (DWORD i = 0; i < table.count(); ++i) {
      const WCHAR* newIni = table.binding(i)->newIniPath();
      if (newIni == nullptr) continue;
      bool known = false;
      for (const NewIniFile& file : files) {
        known |= sim::fileKey(file.devicePath) == sim::fileKey(newIni);
      }
      std::optional<std::string> resolved = known ? std::nullopt : resolveNewIni(newIni, hostFile);
      HostFile found = resolved ? readHostFile(*resolved) : HostFile{};
      if (!found.bytes) continue;
      files.push_back({newIni, *resolved, *found.bytes});
      pending.push_back(*found.bytes);
    }
  }
  sim::reset();
  return files;
}

std::vector<FileLine> deviceLines(const std::vector<uint8_t>& bytes) {
  const std::u16string path = u"\\kurvix-check\\lines.ini";
  std::vector<FileLine> lines;
  if (bytes.size() < 2 || bytes[0] != 0xFF || bytes[1] != 0xFE) return lines;
  sim::putFile(path, bytes);
  HANDLE file = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                            FILE_ATTRIBUTE_NORMAL, nullptr);
  WCHAR buffer[LINE_CAPACITY];
  unsigned number = 1;
  DWORD counted = 2;  // bytes whose line ends are counted in number
  SetFilePointer(file, 2, nullptr, FILE_BEGIN);
  for (;;) {
    DWORD position = SetFilePointer(file, 0, nullptr, FILE_CURRENT);
    if (position >= GetFileSize(file, nullptr)) break;
    for (; counted + 2 <= position && counted + 1 < bytes.size(); counted += 2) {
      char16_t unit = static_cast<char16_t>(bytes[counted] | bytes[counted + 1] << 8);
      bool crBeforeLf = unit == u'\r' && counted + 3 < bytes.size() && bytes[counted + 2] == '\n' &&
                        bytes[counted + 3] == 0;
      if ((unit == u'\r' && !crBeforeLf) || unit == u'\n') ++number;
    }
    DWORD length = readLine(file, buffer, LINE_CAPACITY);
    if (length == LINE_READ_FAILED) break;
    lines.push_back({std::u16string(buffer, buffer + length), number});
  }
  CloseHandle(file);
  sim::removeFile(path);
  return lines;
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

MessageLog::MessageLog(std::map<std::u16string, std::vector<FileLine>> lines) {
  for (auto& [path, fileLines] : lines) lines_[sim::fileKey(path)] = std::move(fileLines);
  sim::whileBoxOpen([this](const sim::MessageBoxRecord& box) {
    std::optional<unsigned> line;
    if (box.type == kBadLineMessage && !sim::fileOpens().empty()) {
      unsigned read = linesReadSinceOpen();
      auto file = lines_.find(sim::fileKey(sim::fileOpens().back().path));
      if (file != lines_.end() && read >= 1 && read <= file->second.size()) {
        line = file->second[read - 1].number;
      }
    }
    messages_.push_back({box.caption, box.text, box.type, line, sim::now()});
  });
}
