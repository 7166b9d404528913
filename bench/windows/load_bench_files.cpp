// load_bench on Windows (and Wine): a real file in the current directory. Calls are counted
// by pointing this program's own import slots of the three file functions at counting
// wrappers for the one counted run; the timed runs go straight to the system.
#include "bench/load_bench_files.h"

#include <cstring>

namespace {

FileCalls counted;
decltype(&ReadFile) systemReadFile;
decltype(&SetFilePointer) systemSetFilePointer;
decltype(&GetFileSize) systemGetFileSize;

BOOL WINAPI countedReadFile(HANDLE file, LPVOID buffer, DWORD size, LPDWORD read,
                            LPOVERLAPPED overlapped) {
  ++counted.reads;
  return systemReadFile(file, buffer, size, read, overlapped);
}

DWORD WINAPI countedSetFilePointer(HANDLE file, LONG distance, PLONG high, DWORD method) {
  ++counted.moves;
  return systemSetFilePointer(file, distance, high, method);
}

DWORD WINAPI countedGetFileSize(HANDLE file, LPDWORD high) {
  ++counted.sizes;
  return systemGetFileSize(file, high);
}

// The import slot through which this program calls `name`; null when it imports no such name.
void** importSlot(const char* name) {
  BYTE* base = reinterpret_cast<BYTE*>(GetModuleHandleW(nullptr));
  auto* nt = reinterpret_cast<IMAGE_NT_HEADERS*>(
      base + reinterpret_cast<IMAGE_DOS_HEADER*>(base)->e_lfanew);
  const IMAGE_DATA_DIRECTORY& imports =
      nt->OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_IMPORT];
  for (auto* dll = reinterpret_cast<IMAGE_IMPORT_DESCRIPTOR*>(base + imports.VirtualAddress);
       dll->Name != 0; ++dll) {
    auto* names = reinterpret_cast<IMAGE_THUNK_DATA*>(base + dll->OriginalFirstThunk);
    auto* slots = reinterpret_cast<IMAGE_THUNK_DATA*>(base + dll->FirstThunk);
    for (; names->u1.AddressOfData != 0; ++names, ++slots) {
      if (IMAGE_SNAP_BY_ORDINAL(names->u1.Ordinal)) continue;
      auto* byName = reinterpret_cast<IMAGE_IMPORT_BY_NAME*>(base + names->u1.AddressOfData);
      if (std::strcmp(reinterpret_cast<const char*>(byName->Name), name) == 0) {
        return reinterpret_cast<void**>(&slots->u1.Function);
      }
    }
  }
  return nullptr;
}

// Puts `function` into the slot and returns what was there.
template <typename Function>
Function swapImport(const char* name, Function function) {
  void** slot = importSlot(name);
  if (slot == nullptr) return nullptr;
  DWORD protection = 0;
  VirtualProtect(slot, sizeof(*slot), PAGE_READWRITE, &protection);
  void* previous = *slot;
  *slot = reinterpret_cast<void*>(function);
  VirtualProtect(slot, sizeof(*slot), protection, &protection);
  return reinterpret_cast<Function>(previous);
}

}  // namespace

const WCHAR* benchFilePath() {
  return L"kurvix-load-bench.ini";
}

void placeBenchFile(const std::vector<uint8_t>& bytes) {
  HANDLE file = CreateFileW(benchFilePath(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                            FILE_ATTRIBUTE_NORMAL, nullptr);
  DWORD written = 0;
  WriteFile(file, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr);
  CloseHandle(file);
}

FileCalls countFileCalls(void (*run)()) {
  counted = FileCalls();
  systemReadFile = swapImport("ReadFile", &countedReadFile);
  systemSetFilePointer = swapImport("SetFilePointer", &countedSetFilePointer);
  systemGetFileSize = swapImport("GetFileSize", &countedGetFileSize);
  run();
  swapImport("ReadFile", systemReadFile);
  swapImport("SetFilePointer", systemSetFilePointer);
  swapImport("GetFileSize", systemGetFileSize);
  return counted;
}

void forgetRun() {}
