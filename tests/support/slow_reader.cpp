#include "tests/support/slow_reader.h"

#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <thread>

namespace kolvotest {

std::string readToEnd(int in, bool pauses) {
  std::string text;
  char buffer[3000];
  for (int reads = 0;; ++reads) {
    ssize_t n = read(in, buffer, sizeof buffer);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;
    text.append(buffer, static_cast<std::size_t>(n));
    if (pauses && reads % 16 == 0) std::this_thread::sleep_for(std::chrono::milliseconds(2));
  }
  return text;
}

}  // namespace kolvotest
