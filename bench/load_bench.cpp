// Configuration load: files of 100 to 50,000 bindings and one of 100,000 comment lines. For
// each: the time of a load, the platform calls per line, and the floor, a loop over the same
// file that makes only those platform calls (a position query, a size query, one read and
// one move back to the line's end per line, through the reader's own line reading). The growth exponent between two sizes is
// log(t2 / t1) / log(n2 / n1). Built for the host (the simulated device) and, with
// windows/load_bench_files.cpp, for Windows, where it reads a real file under Wine.
//
//   load_bench [--quick]     (--quick: fewer repetitions, for a smoke run)
#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "bench/load_bench_files.h"
#include "config/reader.h"
#include "engine/binding_table.h"
#include "utf/utf.h"

namespace {

std::u16string decimal(unsigned value) {
  std::string digits = std::to_string(value);
  return std::u16string(digits.begin(), digits.end());
}

std::u16string bindings(unsigned count) {
  std::u16string text = u"SETTINGS\r\nCheckIntervall=50\r\nElapseTime=800\r\n";
  for (unsigned i = 0; i < count; ++i) {
    text += u"\r\nKURVIX " + decimal(i) + u"\r\nKeyCode=" + decimal(193 + i % 40) +
            u"\r\nCommand=\\Programme\\Werkzeug\\App" + decimal(i) + u".exe\r\n";
  }
  return text;
}

std::u16string comments(unsigned count) {
  std::u16string text;
  for (unsigned i = 0; i < count; ++i) text += u"; Kommentarzeile " + decimal(i) + u"\r\n";
  return text;
}

// Only what a load does for each line before it looks at the line: the platform calls, made
// by the reader's own line reading.
void floorLoop() {
  HANDLE file = CreateFileW(benchFilePath(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                            FILE_ATTRIBUTE_NORMAL, nullptr);
  BYTE mark[2];
  DWORD got = 0;
  ReadFile(file, mark, 2, &got, nullptr);
  WCHAR line[LINE_CAPACITY];
  while (SetFilePointer(file, 0, nullptr, FILE_CURRENT) < GetFileSize(file, nullptr)) {
    if (readLine(file, line, LINE_CAPACITY) == LINE_READ_FAILED) break;
  }
  CloseHandle(file);
}

using Clock = std::chrono::steady_clock;

double seconds(Clock::time_point start) {
  return std::chrono::duration<double>(Clock::now() - start).count();
}

double timeFloor() {
  Clock::time_point start = Clock::now();
  floorLoop();
  return seconds(start);
}

// The load alone: releasing the table's keys afterwards is no part of it.
double timeLoad() {
  BindingTable table;
  Clock::time_point start = Clock::now();
  table.load(benchFilePath());
  return seconds(start);
}

double median(std::vector<double> times) {
  std::sort(times.begin(), times.end());
  return times[times.size() / 2];
}

// Medians of `repetitions` timings of the floor and of the load, taken in turns so that
// the machine's drift meets both alike.
void timeBoth(int repetitions, double& floor, double& load) {
  std::vector<double> floors, loads;
  for (int i = 0; i < repetitions; ++i) {
    floors.push_back(timeFloor());
    forgetRun();
    loads.push_back(timeLoad());
    forgetRun();
  }
  floor = median(floors);
  load = median(loads);
}

struct Row {
  const char* name;
  unsigned size;
  double load, floor, lines, callsPerLine;
};

}  // namespace

int main(int argc, char** argv) {
  bool quick = argc == 2 && std::strcmp(argv[1], "--quick") == 0;
  struct Case {
    const char* name;
    unsigned size;
    std::u16string text;
  };
  std::vector<Case> cases = {{"bindings", 100, bindings(100)},
                             {"bindings", 1000, bindings(1000)},
                             {"bindings", 10000, bindings(10000)},
                             {"bindings", 50000, bindings(50000)},
                             {"comment lines", 100000, comments(100000)}};
  std::vector<Row> rows;
  for (const Case& c : cases) {
    placeBenchFile(unicodeFile(c.text));
    FileCalls counted = countFileCalls([] { timeLoad(); });
    double calls = static_cast<double>(counted.reads + counted.moves + counted.sizes);
    double lines = static_cast<double>(counted.sizes);
    int repetitions = quick ? 1 : (c.size >= 10000 ? 5 : 21);
    double floor = 0, load = 0;
    timeBoth(repetitions, floor, load);
    rows.push_back({c.name, c.size, load, floor, lines, (calls - 1) / lines});  // less the mark's read
  }

  std::printf("%-26s %10s %12s %12s %8s %11s %9s\n", "file", "lines", "load ms", "floor ms", "ratio",
              "calls/line", "growth");
  for (size_t i = 0; i < rows.size(); ++i) {
    const Row& row = rows[i];
    char growth[16] = "";
    if (i > 0 && std::strcmp(rows[i - 1].name, row.name) == 0) {
      std::snprintf(growth, sizeof growth, "%.2f",
                    std::log(row.load / rows[i - 1].load) / std::log(double(row.size) / rows[i - 1].size));
    }
    char name[40];
    std::snprintf(name, sizeof name, "%u %s", row.size, row.name);
    std::printf("%-26s %10.0f %12.3f %12.3f %8.2f %11.2f %9s\n", name, row.lines, row.load * 1e3,
                row.floor * 1e3, row.load / row.floor, row.callsPerLine, growth);
  }
  return 0;
}
