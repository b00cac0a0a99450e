#include "engine/storage/word_order.h"

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

namespace kolvo {

WordOrder::WordOrder(void* address, size_t length)
    : address(address),
      length(length),
      words(static_cast<const unsigned char*>(address) + headerBytes),
      wordCount(loadU32(static_cast<const unsigned char*>(address) + 8)),
      usedWhenMade(loadU32(static_cast<const unsigned char*>(address) + 12)) {}

WordOrder::~WordOrder() { ::munmap(address, length); }

std::unique_ptr<WordOrder> WordOrder::map(const std::string& path) {
  int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return nullptr;
  struct stat status {};
  void* address = MAP_FAILED;
  size_t length = 0;
  if (::fstat(fd, &status) == 0 && S_ISREG(status.st_mode) && status.st_size >= static_cast<off_t>(headerBytes)) {
    length = static_cast<size_t>(status.st_size);
    // Not through the seam: an order that cannot be mapped is no failure, only unused.
    address = ::mmap(nullptr, length, PROT_READ, MAP_SHARED, fd, 0);
  }
  ::close(fd);
  if (address == MAP_FAILED) return nullptr;
  const auto* header = static_cast<const unsigned char*>(address);
  uint64_t count = loadU32(header + 8);
  // The file holds exactly the words its header counts.
  if (loadU32(header) != magic || loadU32(header + 4) != version || headerBytes + count * 4 != length) {
    ::munmap(address, length);
    return nullptr;
  }
  return std::unique_ptr<WordOrder>(new WordOrder(address, length));
}

std::string WordOrder::encode(const std::vector<uint32_t>& sorted, uint32_t coveredUsed) {
  std::string bytes(headerBytes + sorted.size() * 4, '\0');
  storeU32(bytes.data(), magic);
  storeU32(bytes.data() + 4, version);
  storeU32(bytes.data() + 8, static_cast<uint32_t>(sorted.size()));
  storeU32(bytes.data() + 12, coveredUsed);
  char* at = bytes.data() + headerBytes;
  for (uint32_t word : sorted) {
    storeU32(at, word);
    at += 4;
  }
  return bytes;
}

}  // namespace kolvo
