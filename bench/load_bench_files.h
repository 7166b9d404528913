// Where load_bench keeps its file and how it counts a load's file calls: on the simulated
// device (load_bench_sim.cpp) or on Windows's own file system (windows/load_bench_files.cpp).
#ifndef KURVIX_BENCH_LOAD_BENCH_FILES_H
#define KURVIX_BENCH_LOAD_BENCH_FILES_H

#include <cstdint>
#include <vector>

#include "platform/platform.h"

const WCHAR* benchFilePath();
// Replaces the file at benchFilePath() with these bytes.
void placeBenchFile(const std::vector<uint8_t>& bytes);

struct FileCalls {
  unsigned long reads, moves, sizes;  // ReadFile, SetFilePointer, GetFileSize
};
FileCalls countFileCalls(void (*run)());
// Drops what a run left for looking back, so that repeated runs do not pile it up.
void forgetRun();

#endif
