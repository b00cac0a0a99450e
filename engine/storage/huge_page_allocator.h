// An allocator for large in-memory arrays that lookups hit at random (the bucket
// arrays): it asks the kernel for huge pages, so that such a lookup does not also miss
// the TLB. Small arrays come from malloc as usual.
#pragma once

#include <cstddef>
#include <cstdlib>

namespace kolvo {

void* allocateHugePages(size_t bytes);

template <typename T>
struct HugePageAllocator {
  using value_type = T;
  HugePageAllocator() = default;
  template <typename U>
  HugePageAllocator(const HugePageAllocator<U>&) {}
  T* allocate(size_t count) { return static_cast<T*>(allocateHugePages(count * sizeof(T))); }
  void deallocate(T* block, size_t) { std::free(block); }
  bool operator==(const HugePageAllocator&) const { return true; }
};

}  // namespace kolvo
