// A stand-in for libFuzzer's driver where libFuzzer is missing (the ARM cross build has no
// clang): every file of the folders named on the command line goes once, unchanged and in
// name order, to the fuzz target, in a block of exactly its size. A broken invariant aborts
// the target; an unreadable input or an empty corpus fails the run.
#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size);

int main(int argc, char** argv) {
  std::vector<std::filesystem::path> inputs;
  for (int i = 1; i < argc; ++i) {
    std::error_code error;
    for (const auto& entry : std::filesystem::directory_iterator(argv[i], error)) {
      if (entry.is_regular_file()) inputs.push_back(entry.path());
    }
    if (error) {
      std::fprintf(stderr, "%s: %s\n", argv[i], error.message().c_str());
      return 1;
    }
  }
  std::sort(inputs.begin(), inputs.end());
  for (const std::filesystem::path& path : inputs) {
    std::ifstream file(path, std::ios::binary);
    std::vector<char> read((std::istreambuf_iterator<char>(file)),
                           std::istreambuf_iterator<char>());
    if (!file.good() && !file.eof()) {
      std::fprintf(stderr, "%s: cannot be read\n", path.c_str());
      return 1;
    }
    // An exact block, as libFuzzer gives, so that a read past the input's end is caught.
    std::unique_ptr<uint8_t[]> data(new uint8_t[read.size() + (read.empty() ? 1 : 0)]);
    std::copy(read.begin(), read.end(), data.get());
    LLVMFuzzerTestOneInput(data.get(), read.size());
  }
  std::printf("%zu inputs ran\n", inputs.size());
  return inputs.empty() ? 1 : 0;
}
