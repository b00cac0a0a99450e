// Small helpers shared by the table benchmarks: a temporary folder, a clock, the
// process's peak resident memory and the bytes below a folder.
#pragma once

#include <sys/resource.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <cstdint>
#include <string>
#include <thread>
#include <vector>

namespace kolvobench {

class ScratchDir {
 public:
  ScratchDir() {
    std::string pattern = (std::filesystem::temp_directory_path() / "kolvo-bench-XXXXXX").string();
    std::vector<char> buffer(pattern.begin(), pattern.end());
    buffer.push_back('\0');
    if (mkdtemp(buffer.data())) root = buffer.data();
  }
  ~ScratchDir() {
    std::error_code ignored;
    if (!root.empty()) std::filesystem::remove_all(root, ignored);
  }
  std::string slashed() const { return root + "/"; }

 private:
  std::string root;
};

inline double secondsSince(std::chrono::steady_clock::time_point start) {
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

inline double peakResidentMiB() {
  struct rusage usage {};
  getrusage(RUSAGE_SELF, &usage);
  return static_cast<double>(usage.ru_maxrss) / 1024.0;
}

// Every regular file below folder, at any depth.
inline std::uint64_t folderBytes(const std::filesystem::path& folder) {
  std::uint64_t total = 0;
  std::error_code ignored;
  for (auto& entry : std::filesystem::recursive_directory_iterator(folder, ignored))
    if (entry.is_regular_file()) total += entry.file_size();
  return total;
}

// The engine stores time stamps in whole seconds and re-indexes only files newer than
// the last build or update, so changes must fall in a later second than its end.
inline void waitForNextSecond() {
  auto now = std::chrono::system_clock::now();
  auto next = std::chrono::floor<std::chrono::seconds>(now) + std::chrono::seconds(2);
  std::this_thread::sleep_until(next);
}

}  // namespace kolvobench
