// The heap a connection's child prepares: blocks of every size still come and go
// intact, and where the allocator grows its heap by the program break, room in it is
// advised for huge pages.
#include <gtest/gtest.h>

#include <sys/wait.h>
#include <unistd.h>

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "app/platform/heap_pages.h"

namespace {

// Whether a mapping that ends at most a little above the break carries the huge page advice.
bool heapIsAdvised() {
  auto brk = reinterpret_cast<std::uintptr_t>(sbrk(0));
  std::ifstream smaps("/proc/self/smaps");
  std::uintptr_t start = 0, end = 0;
  for (std::string line; std::getline(smaps, line);) {
    if (line.find('-') != std::string::npos && line.find(' ') > line.find('-') &&
        std::isxdigit(static_cast<unsigned char>(line[0]))) {
      std::istringstream range(line);
      char dash;
      range >> std::hex >> start >> dash >> end;
    } else if (line.rfind("VmFlags:", 0) == 0 && end <= brk && end > start &&
               line.find(" hg") != std::string::npos) {
      return true;
    }
  }
  return false;
}

// Runs body in a child process, as the server does with each connection; answers its
// exit status.
template <typename Body>
int inChild(Body body) {
  pid_t child = fork();
  if (child == 0) _exit(body());
  int status = 0;
  waitpid(child, &status, 0);
  return WIFEXITED(status) ? WEXITSTATUS(status) : 100 + WTERMSIG(status);
}

TEST(ChildHeapTest, BlocksOfEverySizeComeAndGoIntactAfterThePreparation) {
  int status = inChild([] {
    qvPrepareHeap();
    // Below and above the block size that is mapped on its own, and many small ones.
    const std::vector<std::size_t> sizes = {1, 4095, 4096, 1 << 20, 20u << 20, 40u << 20};
    std::vector<std::vector<unsigned char>> blocks;
    for (std::size_t i = 0; i < sizes.size(); ++i) blocks.emplace_back(sizes[i], static_cast<unsigned char>(i + 1));
    std::vector<std::string> small;
    for (int i = 0; i < 10000; ++i) small.push_back(std::string(40, static_cast<char>('a' + i % 26)));
    for (std::size_t i = 0; i < blocks.size(); ++i)
      for (unsigned char byte : blocks[i])
        if (byte != i + 1) return 1;
    for (int i = 0; i < 10000; ++i)
      if (small[static_cast<std::size_t>(i)] != std::string(40, static_cast<char>('a' + i % 26))) return 2;
    blocks.clear();
    small.clear();
    void* again = std::malloc(30u << 20);
    if (!again) return 3;
    std::memset(again, 7, 30u << 20);
    std::free(again);
    return 0;
  });
  EXPECT_EQ(status, 0);
}

TEST(ChildHeapTest, TheGrownHeapIsAdvisedForHugePages) {
#if defined(__SANITIZE_ADDRESS__)
  GTEST_SKIP() << "a sanitizer's allocator keeps no heap at the break";
#endif
  int status = inChild([] {
    qvPrepareHeap();
    return heapIsAdvised() ? 0 : 1;
  });
  EXPECT_EQ(status, 0);
}

}  // namespace
