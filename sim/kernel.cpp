// Kernel services: files, handles, the module, the tick counter and started programs.
#include "sim/state.h"

#include <algorithm>

namespace sim::detail {
namespace {

constexpr int kModuleHandle = 1;

// Windows paths ignore the case of ASCII letters and take / for \.
// Windows CE ignores case in file names, also that of the Latin-1 letters ("Ü" is "ü").
std::u16string folded(const std::u16string& path) {
  std::u16string key = path;
  for (char16_t& c : key) {
    if ((c >= u'A' && c <= u'Z') || (c >= 0xC0 && c <= 0xDE && c != 0xD7)) c = static_cast<char16_t>(c + 0x20);
    if (c == u'/') c = u'\\';
  }
  return key;
}

OpenFile* openFile(HANDLE file) {
  auto found = device().openFiles.find(handleNumber(file));
  return found == device().openFiles.end() ? nullptr : &found->second;
}

Program* processOf(HANDLE process) {
  auto found = device().openProcesses.find(handleNumber(process));
  return found == device().openProcesses.end() ? nullptr : &device().programs[found->second];
}

Program& program(size_t index) {
  if (index >= device().programs.size())
    fail("no program " + std::to_string(index) + " was started");
  return device().programs[index];
}

}  // namespace
}  // namespace sim::detail

using namespace sim::detail;

// ---- Files ---------------------------------------------------------------------------------

HANDLE CreateFileW(LPCWSTR fileName, DWORD access, DWORD shareMode,
                   LPSECURITY_ATTRIBUTES security, DWORD disposition, DWORD flags,
                   HANDLE templateFile) {
  logCall("CreateFileW", {logName(access), logName(shareMode), logName(disposition),
                          logName(flags), logName(templateFile)});
  Device& d = device();
  std::u16string path = wide(fileName);
  std::u16string key = sim::fileKey(path);
  auto file = d.files.find(key);
  bool opens = file != d.files.end() && d.failingOpens.count(key) == 0;
  d.fileOpens.push_back({path, access, shareMode, disposition, flags, security == nullptr,
                         templateFile == nullptr, opens, d.now});
  if (!opens) return INVALID_HANDLE_VALUE;
  int number = newHandle();
  d.openFiles[number] = OpenFile{key, file->second, 0, access};
  return handleValue(number);
}

BOOL ReadFile(HANDLE file, LPVOID buffer, DWORD bytesToRead, LPDWORD bytesRead,
              LPOVERLAPPED) {
  logCall("ReadFile", {logName(file), logName(bytesToRead)});
  if (bytesRead != nullptr) *bytesRead = 0;
  OpenFile* open = openFile(file);
  if (open == nullptr || (open->access & GENERIC_READ) == 0) return FALSE;
  auto failing = device().failingReads.find(open->key);
  if (failing != device().failingReads.end() && open->position >= failing->second) return FALSE;
  uint64_t size = open->bytes.size();
  DWORD count = open->position >= size
                    ? 0
                    : static_cast<DWORD>(std::min<uint64_t>(bytesToRead, size - open->position));
  std::copy_n(open->bytes.begin() + static_cast<ptrdiff_t>(open->position), count,
              static_cast<uint8_t*>(buffer));
  open->position += count;
  if (bytesRead != nullptr) *bytesRead = count;
  return TRUE;
}

DWORD SetFilePointer(HANDLE file, LONG distance, PLONG distanceHigh, DWORD method) {
  logCall("SetFilePointer", {logName(file), logName(distance), logName(method)});
  OpenFile* open = openFile(file);
  if (open == nullptr) return INVALID_SET_FILE_POINTER;
  int64_t move = distanceHigh == nullptr
                     ? distance
                     : static_cast<int64_t>((static_cast<uint64_t>(*distanceHigh) << 32) |
                                            static_cast<uint32_t>(distance));
  int64_t origin;
  switch (method) {
    case FILE_BEGIN: origin = 0; break;
    case FILE_CURRENT: origin = static_cast<int64_t>(open->position); break;
    case FILE_END: origin = static_cast<int64_t>(open->bytes.size()); break;
    default: return INVALID_SET_FILE_POINTER;
  }
  int64_t target = origin + move;
  // Without a high part the position must fit in 32 bits, like any result of this call.
  if (target < 0 || (distanceHigh == nullptr && target >= INVALID_SET_FILE_POINTER))
    return INVALID_SET_FILE_POINTER;
  open->position = static_cast<uint64_t>(target);
  if (distanceHigh != nullptr) *distanceHigh = static_cast<LONG>(open->position >> 32);
  return static_cast<DWORD>(open->position);
}

DWORD GetFileSize(HANDLE file, LPDWORD sizeHigh) {
  logCall("GetFileSize", {logName(file)});
  OpenFile* open = openFile(file);
  if (open == nullptr) return INVALID_FILE_SIZE;
  if (sizeHigh != nullptr) *sizeHigh = 0;
  return static_cast<DWORD>(open->bytes.size());
}

BOOL CloseHandle(HANDLE object) {
  logCall("CloseHandle", {logName(object)});
  Device& d = device();
  int number = handleNumber(object);
  if (d.openFiles.erase(number) + d.openProcesses.erase(number) + d.openMutexes.erase(number) == 0) {
    ++d.badCloses;
    return FALSE;
  }
  return TRUE;
}

// ---- Module and clock --------------------------------------------------------------------

DWORD GetModuleFileNameW(HMODULE module, LPWSTR fileName, DWORD size) {
  logCall("GetModuleFileNameW", {logName(module), logName(size)});
  const std::u16string& path = device().modulePath;
  if ((module != nullptr && handleNumber(module) != kModuleHandle) || path.empty() || size == 0)
    return 0;
  if (path.size() + 1 <= size) {
    std::copy(path.begin(), path.end(), fileName);
    fileName[path.size()] = 0;
    return static_cast<DWORD>(path.size());
  }
  // Too small: as on the desktop, as much as fits with a terminating zero, and size itself.
  std::copy_n(path.begin(), size - 1, fileName);
  fileName[size - 1] = 0;
  return size;
}

HMODULE GetModuleHandleW(LPCWSTR moduleName) {
  logCall("GetModuleHandleW", {});
  if (moduleName == nullptr) return sim::instance();
  const std::u16string path = folded(device().modulePath);
  const std::u16string asked = folded(moduleName);
  std::u16string baseName = path.substr(path.find_last_of(u'\\') + 1);
  return asked == path || asked == baseName ? sim::instance() : nullptr;
}

DWORD GetTickCount() {
  logCall("GetTickCount", {});
  return tickNow();
}

// ---- Processes ---------------------------------------------------------------------------

DWORD WaitForSingleObject(HANDLE object, DWORD milliseconds) {
  logCall("WaitForSingleObject", {logName(object), logName(milliseconds)});
  if (device().openMutexes.count(handleNumber(object)) != 0) fail("waiting for a mutex is not simulated");
  sim::Program* program = processOf(object);
  if (program == nullptr) return WAIT_FAILED;
  if (device().failingWaits.count(static_cast<size_t>(program - device().programs.data())) != 0) return WAIT_FAILED;
  // A process is signalled once it has ended, whatever its exit code.
  if (!program->running) return WAIT_OBJECT_0;
  if (milliseconds != 0) fail("waiting for a running process is not simulated");
  return WAIT_TIMEOUT;
}

BOOL TerminateProcess(HANDLE process, UINT exitCode) {
  logCall("TerminateProcess", {logName(process), logName(exitCode)});
  sim::Program* target = processOf(process);
  if (target == nullptr || !target->running) return FALSE;
  target->running = false;
  target->terminated = true;
  target->terminateCode = exitCode;
  target->exitCode = exitCode;
  return TRUE;
}

// ---- Named mutexes ---------------------------------------------------------------------------

HANDLE CreateMutexW(LPSECURITY_ATTRIBUTES security, BOOL initialOwner, LPCWSTR name) {
  logCall("CreateMutexW", {security == nullptr ? "0" : "?", logName(initialOwner)});
  Device& d = device();
  std::u16string key = wide(name);
  bool exists = false;
  if (!key.empty()) {
    exists = d.othersMutexes.count(key) != 0;
    for (const auto& open : d.openMutexes) exists = exists || open.second == key;
  }
  int number = newHandle();
  d.openMutexes[number] = key;
  d.lastError = exists ? ERROR_ALREADY_EXISTS : 0;
  return handleValue(number);
}

DWORD GetLastError() {
  logCall("GetLastError", {});
  return device().lastError;
}

void SetLastError(DWORD error) {
  logCall("SetLastError", {logName(error)});
  device().lastError = error;
}

namespace sim::detail {

std::optional<StartOutcome> startOutcome(const std::u16string& file) {
  auto found = device().startOutcomes.find(folded(file));
  if (found == device().startOutcomes.end()) return std::nullopt;
  return found->second;
}

DWORD tickNow() { return static_cast<DWORD>(device().tickStart + device().now); }

HANDLE openProcess(size_t program) {
  int number = newHandle();
  device().openProcesses[number] = program;
  return handleValue(number);
}

}  // namespace sim::detail

// ---- Control --------------------------------------------------------------------------------

namespace sim {

// Windows CE has no current folder: a path that does not begin at the root is taken from it.
std::u16string fileKey(const std::u16string& path) {
  std::u16string key = folded(path);
  if (!key.empty() && key[0] != u'\\') key.insert(key.begin(), u'\\');
  return key;
}

void putFile(const std::u16string& path, std::vector<uint8_t> bytes) {
  device().files[fileKey(path)] = std::move(bytes);
}
void removeFile(const std::u16string& path) { device().files.erase(fileKey(path)); }
void failOpen(const std::u16string& path) { device().failingOpens.insert(fileKey(path)); }
void failReadsFrom(const std::u16string& path, uint32_t offset) {
  device().failingReads[fileKey(path)] = offset;
}
const std::vector<FileOpen>& fileOpens() { return device().fileOpens; }

void setModulePath(const std::u16string& path) { device().modulePath = path; }

std::vector<std::u16string> mutexNames() {
  std::set<std::u16string> names(device().othersMutexes.begin(), device().othersMutexes.end());
  for (const auto& open : device().openMutexes) {
    if (!open.second.empty()) names.insert(open.second);
  }
  return std::vector<std::u16string>(names.begin(), names.end());
}
void holdMutex(const std::u16string& name) { device().othersMutexes.insert(name); }
void releaseMutex(const std::u16string& name) {
  auto found = device().othersMutexes.find(name);
  if (found != device().othersMutexes.end()) device().othersMutexes.erase(found);
}
HINSTANCE instance() { return static_cast<HINSTANCE>(handleValue(kModuleHandle)); }
size_t openHandleCount() {
  return device().openFiles.size() + device().openProcesses.size() + device().openMutexes.size();
}
size_t badCloseCount() { return device().badCloses; }

uint64_t now() { return device().now; }
void setTickCount(uint32_t tick) {
  device().tickStart = static_cast<uint32_t>(tick - static_cast<uint32_t>(device().now));
}

void setStartOutcome(const std::u16string& file, StartOutcome outcome) {
  device().startOutcomes[folded(file)] = outcome;
}
const std::vector<Program>& programs() { return device().programs; }
void endProgram(size_t index, DWORD exitCode) {
  Program& ended = program(index);
  ended.running = false;
  ended.exitCode = exitCode;
}
void failWait(size_t index) {
  program(index);  // a program never started is a mistake in the test
  device().failingWaits.insert(index);
}

}  // namespace sim
