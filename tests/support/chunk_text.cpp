#include "tests/support/chunk_text.h"

namespace kolvotest {

std::string acrossChunkEnd(const std::string& tail, const std::string& head, const std::string& start) {
  const std::string line = "ab cd ef\n";
  std::string bytes = start;
  while (bytes.size() + line.size() + tail.size() + 2 <= readChunkBytes) bytes += line;
  bytes.resize(readChunkBytes - tail.size() - 1, 'z');
  return bytes + "\n" + tail + head + "\nlast line\n";
}

}  // namespace kolvotest
