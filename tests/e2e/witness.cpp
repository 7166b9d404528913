/*
 * witness: the program a binding's Command starts in the end-to-end tests. Each start
 * appends "PID TICK CREATED PATH" to witness.log beside the program, so the tests can count
 * starts and tell when each happened and which copy ran: TICK is when the witness ran,
 * CREATED when its process was created, before the loader's work, which takes the longer
 * under Wine the busier the machine is. Given arguments, it also appends "PID ARGUMENTS" to
 * witness-arguments.log. Then it waits to be terminated, and ends by itself with exit code 3
 * after a minute, so it never outlives a test run. Given "exit N" as its arguments, it ends
 * at once with exit code N instead (259 looks like a running program's). It ends with exit
 * code 2 when it cannot write its lines.
 */
#include <windows.h>

#include <cstdlib>
#include <string>

namespace {

bool append(const std::wstring& path, const std::string& line) {
  HANDLE log = CreateFileW(path.c_str(), FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE,
                           nullptr, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (log == INVALID_HANDLE_VALUE) return false;
  DWORD written = 0;
  WriteFile(log, line.data(), static_cast<DWORD>(line.size()), &written, nullptr);
  CloseHandle(log);
  return true;
}

// The tick at which this process was created: its creation time lies as far before now on
// the system clock as on the tick counter.
bool createdTick(DWORD* tick) {
  FILETIME created, exited, kernel, user, now;
  DWORD tickNow = GetTickCount();
  GetSystemTimeAsFileTime(&now);
  if (!GetProcessTimes(GetCurrentProcess(), &created, &exited, &kernel, &user)) return false;
  ULARGE_INTEGER from, to;
  from.LowPart = created.dwLowDateTime;
  from.HighPart = created.dwHighDateTime;
  to.LowPart = now.dwLowDateTime;
  to.HighPart = now.dwHighDateTime;
  *tick = tickNow - static_cast<DWORD>((to.QuadPart - from.QuadPart) / 10000);
  return true;
}

}  // namespace

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR arguments, int) {
  wchar_t path[MAX_PATH];
  DWORD length = GetModuleFileNameW(nullptr, path, MAX_PATH);
  std::wstring folder(path, length);
  folder.erase(folder.find_last_of(L"\\/") + 1);
  char narrowPath[MAX_PATH * 3];
  int narrowLength = WideCharToMultiByte(CP_UTF8, 0, path, static_cast<int>(length), narrowPath,
                                         sizeof(narrowPath), nullptr, nullptr);

  std::string pid = std::to_string(GetCurrentProcessId());
  if (arguments != nullptr && arguments[0] != 0 &&
      !append(folder + L"witness-arguments.log", pid + " " + arguments + "\n")) {
    return 2;
  }
  DWORD created = 0;
  if (!createdTick(&created)) return 2;
  std::string line = pid + " " + std::to_string(GetTickCount()) + " " + std::to_string(created) +
                     " " + std::string(narrowPath, narrowLength) + "\n";
  if (!append(folder + L"witness.log", line)) return 2;
  if (arguments != nullptr && std::string(arguments).rfind("exit ", 0) == 0) {
    return std::atoi(arguments + 5);
  }

  Sleep(60000);
  return 3;
}
