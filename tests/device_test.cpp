#include "tests/device_test.h"

#include <ostream>

namespace {

BindingTable* forwardedTable = nullptr;

LRESULT CALLBACK forwardingProcedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  if (message == WM_HOTKEY && forwardedTable != nullptr) {
    return forwardedTable->onKeyMessage(wParam, lParam);
  }
  if (message == WM_TIMER && forwardedTable != nullptr) {
    BindingTable* table = forwardedTable;
    table->onTimer(wParam);
    BindingTable::freeIfDestroyed(table);  // as the main window does
    return 0;
  }
  return DefWindowProcW(window, message, wParam, lParam);
}

}  // namespace

std::u16string joinLines(std::initializer_list<std::u16string_view> lines,
                         std::u16string_view end) {
  std::u16string text;
  for (auto line = lines.begin(); line != lines.end(); ++line) {
    if (line != lines.begin()) text += end;
    text += *line;
  }
  return text;
}

void PrintTo(const Box& box, std::ostream* out) {
  *out << "Box{" << ::testing::PrintToString(box.caption) << ", "
       << ::testing::PrintToString(box.text) << ", " << box.type << "}";
}

std::vector<Box> boxes() {
  std::vector<Box> result;
  for (const auto& record : sim::messageBoxes()) {
    result.push_back({record.caption, record.text, record.type});
  }
  return result;
}

std::vector<std::pair<WPARAM, LPARAM>> statusReports() {
  std::vector<std::pair<WPARAM, LPARAM>> reports;
  for (const auto& posted : sim::postedLog()) {
    if (posted.message == WM_APP_STATUS) reports.emplace_back(posted.wParam, posted.lParam);
  }
  return reports;
}

TableTest::TableTest() : table(forwardedTable) {}

void TableTest::SetUp() {
  DeviceTest::SetUp();
  forwardedTable = nullptr;
  sim::setModulePath(u"\\Programme\\Kurvix.exe");
  WNDCLASSW windowClass = {};
  windowClass.lpfnWndProc = forwardingProcedure;
  windowClass.hInstance = sim::instance();
  windowClass.lpszClassName = u"Test.Class";
  RegisterClassW(&windowClass);
  window = CreateWindowExW(0, u"Test.Class", u"Test", 0, 0, 0, 100, 100, nullptr, nullptr,
                           sim::instance(), nullptr);
  ASSERT_NE(window, nullptr);
}

void TableTest::TearDown() { destroyTable(); }

void TableTest::destroyTable() {
  BindingTable::destroy(table);
  table = nullptr;
}

BindingTable* TableTest::createFrom(std::u16string_view text) {
  sim::putFile(std::u16string(kIniPath), unicodeFile(text));
  BindingTable::create(window, sim::instance(), WM_APP_STATUS, table);
  return table;
}

int TableTest::loadText(std::u16string_view text, std::u16string_view path) {
  sim::putFile(std::u16string(path), unicodeFile(text));
  return table->load(std::u16string(path).c_str());
}

std::vector<UINT> registeredKeys() {
  std::vector<UINT> keys;
  for (const sim::HotKey& hotKey : sim::hotKeys()) keys.push_back(hotKey.virtualKey);
  return keys;
}
