#include "app/platform/heap_pages.h"

#include <malloc.h>
#include <sys/mman.h>
#include <unistd.h>

#include <cstdint>
#include <cstdlib>

namespace {

constexpr std::uintptr_t kLargePageBytes = std::uintptr_t{2} << 20;

}  // namespace

void qvPrepareHeap() {
  using namespace kolvo::limits;
  // Once per process: a child forked after the preparation has its parent's heap.
  static pid_t preparedIn = 0;
  if (preparedIn == getpid()) return;
  preparedIn = getpid();
  // Each growth of the heap takes the whole stretch at once, and up to a stretch of memory
  // freed at its top stays for the next answer instead of going back to the system to be
  // faulted in again (no more than the allocator keeps of its own accord).
  if (mallopt(M_MMAP_THRESHOLD, static_cast<int>(heapMappedBlockBytes)) == 0) return;
  mallopt(M_TRIM_THRESHOLD, static_cast<int>(heapLargePagesBytes));
  mallopt(M_TOP_PAD, static_cast<int>(heapLargePagesBytes));
  // A block larger than the heap's free top grows it by the stretch; freed, it leaves the
  // stretch as free top. (Its size is asked so that the block is really made.)
  const auto from = reinterpret_cast<std::uintptr_t>(sbrk(0));
  void* probe = std::malloc(kLargePageBytes);
  if (!probe) return;
  const bool grown = malloc_usable_size(probe) >= kLargePageBytes;
  std::free(probe);
  // The free may have given back what lay beyond the stretch: the heap's end is read after it.
  auto to = reinterpret_cast<std::uintptr_t>(sbrk(0));
  if (!grown || from == static_cast<std::uintptr_t>(-1) || to == static_cast<std::uintptr_t>(-1)) return;
  // Large pages are whole aligned stretches inside the heap.
  const std::uintptr_t first = (from + kLargePageBytes - 1) & ~(kLargePageBytes - 1);
  to &= ~(kLargePageBytes - 1);
  if (to > first) madvise(reinterpret_cast<void*>(first), to - first, MADV_HUGEPAGE);
}
