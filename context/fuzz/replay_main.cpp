// Runs a fuzz target's entry point over files, without libFuzzer: every file
// named, and every file of every folder named (in name order). The test tree
// uses it to run the seeds and the inputs that once failed as plain tests;
// a target that finds a fault aborts, which fails the test.
#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <vector>

#include "platform/fileutil.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size);

namespace fs = std::filesystem;

int main(int argc, char** argv) {
  std::vector<fs::path> files;
  for (int i = 1; i < argc; ++i) {
    std::error_code ec;
    if (fs::is_directory(argv[i], ec)) {
      std::vector<fs::path> here;
      for (const auto& e : fs::directory_iterator(argv[i], ec))
        if (e.is_regular_file()) here.push_back(e.path());
      std::sort(here.begin(), here.end());
      files.insert(files.end(), here.begin(), here.end());
    } else if (fs::exists(argv[i], ec)) {
      files.emplace_back(argv[i]);
    }
  }
  for (const auto& f : files) {
    auto bytes = kestro::ReadBinaryFile(f);
    if (!bytes) {
      std::fprintf(stderr, "cannot read %s\n", f.c_str());
      return 1;
    }
    std::printf("%s\n", f.c_str());
    std::fflush(stdout);
    LLVMFuzzerTestOneInput(bytes->data(), bytes->size());
  }
  std::printf("%zu inputs, no fault\n", files.size());
  return 0;
}
