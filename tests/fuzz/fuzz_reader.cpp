// Fuzzes the configuration reader: the input bytes are the file. After each load the table
// must hold exactly the bindings the file's header lines begin, every text exactly as long
// as its heap block, no file handle open, and a second load of the same bytes must give
// the same table and the same messages.
#include <cstddef>

#if __has_include(<sanitizer/allocator_interface.h>)
#include <sanitizer/allocator_interface.h>
#else
// GCC's AddressSanitizer (the ARM build) has the function but not clang's header for it.
extern "C" std::size_t __sanitizer_get_allocated_size(const volatile void* block);
#endif

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "config/reader.h"
#include "config/text.h"
#include "engine/binding_table.h"
#include "sim/device.h"

namespace {

const std::u16string kPath = u"\\Fuzz\\Kurvix.ini";

[[noreturn]] void broken(const char* invariant) {
  std::fprintf(stderr, "invariant broken: %s\n", invariant);
  std::abort();
}

void require(bool holds, const char* invariant) {
  if (!holds) broken(invariant);
}

struct Loaded {
  int result;
  std::vector<std::u16string> messages;  // caption, text and type of each box
  DWORD checkInterval, elapseTime;
  std::vector<std::u16string> bindings;  // every field of each binding
  bool operator==(const Loaded& other) const {
    return result == other.result && messages == other.messages &&
           checkInterval == other.checkInterval && elapseTime == other.elapseTime &&
           bindings == other.bindings;
  }
};

// A text field must fill its heap block exactly: its length plus the terminating zero.
std::u16string checkedText(const WCHAR* text) {
  if (text == nullptr) return u"<null>";
  size_t units = textLength(text) + 1;
  require(__sanitizer_get_allocated_size(text) == units * sizeof(WCHAR),
          "a text is as long as its block");
  return u"\"" + std::u16string(text) + u"\"";
}

// The bindings a file's header lines begin, read with the device's own line reader.
DWORD headerLines() {
  HANDLE file = CreateFileW(kPath.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                            FILE_ATTRIBUTE_NORMAL, nullptr);
  SetFilePointer(file, 2, nullptr, FILE_BEGIN);
  WCHAR line[LINE_CAPACITY];
  DWORD headers = 0;
  enum { NONE, BINDING, SETTINGS } block = NONE;
  while (SetFilePointer(file, 0, nullptr, FILE_CURRENT) < GetFileSize(file, nullptr)) {
    if (readLine(file, line, LINE_CAPACITY) == LINE_READ_FAILED) break;
    if (line[0] == 0) {
      block = NONE;
    } else if (block == NONE && compareText(line, u"KURVIX", 6) == 0) {
      ++headers;
      block = BINDING;
    } else if (block == NONE && compareText(line, u"SETTINGS", 8) == 0) {
      block = SETTINGS;
    }
  }
  CloseHandle(file);
  return headers;
}

Loaded load(BindingTable& table) {
  size_t firstBox = sim::messageBoxes().size();
  Loaded loaded{table.load(kPath.c_str()), {}, table.checkInterval(), table.elapseTime(), {}};
  require(sim::openHandleCount() == 0 && sim::badCloseCount() == 0, "every handle closed once");
  for (size_t i = firstBox; i < sim::messageBoxes().size(); ++i) {
    const sim::MessageBoxRecord& box = sim::messageBoxes()[i];
    loaded.messages.push_back(box.caption + u"|" + box.text + u"|" + char16_t(u'0' + box.type % 64));
  }
  for (DWORD i = 0; i < table.count(); ++i) {
    const KeyBinding* binding = table.binding(i);
    require(binding != nullptr, "no empty slot in the table");
    loaded.bindings.push_back(std::u16string(1, char16_t(binding->keyCode() & 0xFFFF)) +
                              checkedText(binding->command()) + checkedText(binding->newIniPath()) +
                              char16_t(u'0' + binding->disableAll()));
  }
  if (loaded.result == 0) {
    require(table.count() == headerLines(), "one binding for each header line");
  } else {
    require(table.count() == 0 && table.checkInterval() == 100 && table.elapseTime() == 1000,
            "a failed load leaves an empty table with defaults");
  }
  return loaded;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  sim::reset();
  sim::putFile(kPath, std::vector<uint8_t>(data, data + size));
  BindingTable table;
  Loaded first = load(table);
  Loaded second = load(table);
  require(first == second, "a second load gives the same table and messages");
  return 0;
}
