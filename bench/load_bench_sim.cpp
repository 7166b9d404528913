// load_bench on the simulated device: the file lives in its memory and its call log counts.
#include "bench/load_bench_files.h"
#include "sim/device.h"

const WCHAR* benchFilePath() {
  return u"\\Programme\\Kurvix.ini";
}

void placeBenchFile(const std::vector<uint8_t>& bytes) {
  sim::reset();
  sim::putFile(benchFilePath(), bytes);
}

FileCalls countFileCalls(void (*run)()) {
  sim::clearCalls();
  run();
  FileCalls calls = {static_cast<unsigned long>(sim::callsOf({"ReadFile"}).size()),
                     static_cast<unsigned long>(sim::callsOf({"SetFilePointer"}).size()),
                     static_cast<unsigned long>(sim::callsOf({"GetFileSize"}).size())};
  sim::clearCalls();
  return calls;
}

void forgetRun() {
  sim::clearCalls();
}
