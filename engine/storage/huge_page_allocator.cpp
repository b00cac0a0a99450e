#include "engine/storage/huge_page_allocator.h"

#include <sys/mman.h>

#include <new>

namespace kolvo {

void* allocateHugePages(size_t bytes) {
  constexpr size_t hugePage = 2 << 20;
  void* block = nullptr;
  if (bytes >= hugePage) {
    size_t rounded = (bytes + hugePage - 1) / hugePage * hugePage;
    block = std::aligned_alloc(hugePage, rounded);
    if (block) madvise(block, rounded, MADV_HUGEPAGE);  // advice only: failure is harmless
  } else {
    block = std::malloc(bytes == 0 ? 1 : bytes);
  }
  if (!block) throw std::bad_alloc();
  return block;
}

}  // namespace kolvo
