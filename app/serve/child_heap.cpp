#include "app/serve/child_heap.h"

#include <malloc.h>
#include <sys/mman.h>
#include <unistd.h>

#include <cstdint>
#include <cstdlib>

#include "app/referrals/referral_limits.h"

namespace {

constexpr std::uintptr_t kHugePageBytes = 2 * kolvo::limits::referralMiB;

}  // namespace

void qvPrepareChildHeap() {
  using kolvo::limits::serveChildHeapBytes;
  using kolvo::limits::serveChildMappedBlockBytes;
  // Blocks below the bound come from the heap, never from a mapping of their own (each
  // new mapping is fresh pages again), and what is freed stays for the next block.
  mallopt(M_MMAP_THRESHOLD, static_cast<int>(serveChildMappedBlockBytes));
  mallopt(M_TRIM_THRESHOLD, static_cast<int>(serveChildHeapBytes));
  mallopt(M_TOP_PAD, static_cast<int>(serveChildHeapBytes));
  // A block too large for what the heap holds free makes it grow by the pad as well; the
  // block lies at the top of the heap, and from it to the break nothing is written yet.
  constexpr std::size_t kBlock = serveChildMappedBlockBytes / 2;
  auto* block = static_cast<char*>(std::malloc(kBlock));
  if (!block) return;
  auto start = reinterpret_cast<std::uintptr_t>(block);
  auto end = reinterpret_cast<std::uintptr_t>(sbrk(0));
  // An allocator that does not use the break (a sanitizer's) leaves the block elsewhere.
  bool inHeap = end != static_cast<std::uintptr_t>(-1) && start + kBlock <= end &&
                end - start <= kBlock + serveChildHeapBytes + kHugePageBytes;
  if (inHeap) {
    std::uintptr_t from = (start + kHugePageBytes - 1) & ~(kHugePageBytes - 1);
    std::uintptr_t to = end & ~(kHugePageBytes - 1);
    // Only advice: where no huge pages are to be had, the pages stay small.
    if (to > from) madvise(reinterpret_cast<void*>(from), to - from, MADV_HUGEPAGE);
  }
  std::free(block);
}
