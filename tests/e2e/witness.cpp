/*
 * witness: the program a binding's Command starts in the end-to-end tests. Each start
 * appends "PID TICK" to witness.log beside the program, so the tests can count starts
 * and tell when each happened; then it waits to be terminated. It ends by itself with
 * exit code 3 after a minute, so it never outlives a test run.
 */
#include <windows.h>

#include <cstdio>
#include <string>

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) {
  wchar_t path[MAX_PATH];
  DWORD length = GetModuleFileNameW(nullptr, path, MAX_PATH);
  std::wstring logPath(path, length);
  logPath.erase(logPath.find_last_of(L"\\/") + 1);
  logPath += L"witness.log";

  char line[64];
  int lineLength =
      std::snprintf(line, sizeof(line), "%lu %lu\n", GetCurrentProcessId(), GetTickCount());
  HANDLE log = CreateFileW(logPath.c_str(), FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE,
                           nullptr, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (log == INVALID_HANDLE_VALUE) return 2;
  DWORD written = 0;
  WriteFile(log, line, lineLength, &written, nullptr);
  CloseHandle(log);

  Sleep(60000);
  return 3;
}
