// Shared ground of the tests: a fresh simulated device for every test, configuration
// files in the device's format, and a window that hands key and timer messages to a
// binding table the way the main window does.
#ifndef KURVIX_TESTS_DEVICE_TEST_H
#define KURVIX_TESTS_DEVICE_TEST_H

#include <gtest/gtest.h>

#include <string>
#include <string_view>
#include <vector>

#include "engine/binding_table.h"
#include "sim/device.h"
#include "utf/utf.h"

// Lines joined by `end`, without an end behind the last one.
std::u16string joinLines(std::initializer_list<std::u16string_view> lines,
                         std::u16string_view end = u"\r\n");

struct Box {
  std::u16string caption, text;
  UINT type;
  bool operator==(const Box& other) const {
    return caption == other.caption && text == other.text && type == other.type;
  }
};
void PrintTo(const Box& box, std::ostream* out);
std::vector<Box> boxes();  // every message box shown so far
// The status messages posted so far, as (wParam, lParam) pairs.
std::vector<std::pair<WPARAM, LPARAM>> statusReports();
// The keys registered now, in the order of their registration.
std::vector<UINT> registeredKeys();

class DeviceTest : public ::testing::Test {
 protected:
  void SetUp() override { sim::reset(); }
};

// A table made by create() on a window whose procedure forwards WM_HOTKEY and WM_TIMER
// to it; the configuration is \Programme\Kurvix.ini beside \Programme\Kurvix.exe.
class TableTest : public DeviceTest {
 protected:
  static constexpr std::u16string_view kIniPath = u"\\Programme\\Kurvix.ini";
  void SetUp() override;
  void TearDown() override;
  // Writes the text as the configuration and creates the table from it.
  BindingTable* createFrom(std::u16string_view text);
  // Loads a file with this text (under \Speicher\Zweite.ini) into the existing table.
  int loadText(std::u16string_view text, std::u16string_view path = u"\\Speicher\\Zweite.ini");
  // Destroys the table as the window's destroy message does.
  void destroyTable();

  HWND window = nullptr;
  BindingTable*& table;

 public:
  TableTest();
};

#endif
