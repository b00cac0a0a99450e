// The prepared heap: blocks of many megabytes come from the heap and are used again
// once freed, rather than each being a mapping of fresh pages of its own.
#include "app/platform/heap_pages.h"

#include <malloc.h>
#include <unistd.h>

#include <cstdint>
#include <cstdlib>
#include <cstring>

#include <gtest/gtest.h>

namespace {

#if defined(__SANITIZE_ADDRESS__)
constexpr bool kOwnAllocator = true;
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
constexpr bool kOwnAllocator = true;
#else
constexpr bool kOwnAllocator = false;
#endif
#else
constexpr bool kOwnAllocator = false;
#endif

bool inHeap(const void* block) {
  auto at = reinterpret_cast<std::uintptr_t>(block);
  return at < reinterpret_cast<std::uintptr_t>(sbrk(0));
}

TEST(QvHeapPagesTest, LargeBlocksComeFromTheHeapAndAreUsedAgain) {
  if (kOwnAllocator) GTEST_SKIP() << "the sanitizer's allocator keeps its own heap";
  qvPrepareHeap();
  // Twice is harmless: the second call does nothing.
  qvPrepareHeap();
  for (std::size_t megabytes : {1, 4, 16}) {
    SCOPED_TRACE(megabytes);
    const std::size_t bytes = megabytes << 20;
    auto* first = static_cast<char*>(std::malloc(bytes));
    ASSERT_NE(first, nullptr);
    std::memset(first, 0x5A, bytes);
    EXPECT_TRUE(inHeap(first));
    EXPECT_EQ(first[bytes - 1], 0x5A);
    const auto firstAt = reinterpret_cast<std::uintptr_t>(first);
    std::free(first);
    auto* again = static_cast<char*>(std::malloc(bytes));
    ASSERT_NE(again, nullptr);
    // The freed block's pages serve the next block of its size.
    EXPECT_EQ(reinterpret_cast<std::uintptr_t>(again), firstAt);
    std::free(again);
  }
}

}  // namespace
