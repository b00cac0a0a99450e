// Replays seed files through a fuzz target without libFuzzer: every file of each folder
// (or each file) named on the command line, once, in name order. Built with the normal
// compiler, so the seeds run in every test run, normally and under the sanitizers.
#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "tests/fuzz/fuzz_support.h"

int main(int argc, char** argv) {
  std::vector<std::filesystem::path> seeds;
  for (int i = 1; i < argc; ++i) {
    std::filesystem::path given = argv[i];
    if (std::filesystem::is_directory(given)) {
      for (const auto& entry : std::filesystem::directory_iterator(given))
        if (entry.is_regular_file()) seeds.push_back(entry.path());
    } else {
      seeds.push_back(given);
    }
  }
  std::sort(seeds.begin(), seeds.end());
  if (seeds.empty()) {
    std::fprintf(stderr, "no seeds given\n");
    return 1;
  }
  for (const auto& seed : seeds) {
    std::ifstream in(seed, std::ios::binary);
    std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    LLVMFuzzerTestOneInput(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size());
  }
  std::printf("%zu seeds replayed\n", seeds.size());
  return 0;
}
