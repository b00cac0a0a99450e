// The word table's in-memory accelerator while a table is built: finds a text with one
// random memory access instead of a bucket and an entry of the mapped file, and lets
// indexing fetch that memory ahead. It never changes a stored byte.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <vector>

#include "engine/storage/huge_page_allocator.h"

namespace kolvo {

class TextLookupIndex {
 public:
  static constexpr size_t headBytes = 24;

  // A text as the index compares it: ASCII letters in lower case (the table's notion of
  // equal texts), its first headBytes bytes zero-padded, and a hash of all its bytes.
  struct Key {
    uint32_t hash = 0;
    size_t length = 0;
    unsigned char head[headBytes] = {};
    explicit Key(const char* text) : Key(text, std::strlen(text)) {}
    Key(const char* text, size_t length);
    // Whether the head holds the whole text, so that equal heads mean equal texts.
    bool whole() const { return length < headBytes; }
  };

  // Two slots per cache line: for a text of fewer than headBytes bytes the slot found is
  // all that a lookup reads.
  struct alignas(32) Slot {
    uint32_t word;  // 0: empty
    uint32_t hash;
    unsigned char head[headBytes];
  };
  static_assert(sizeof(Slot) == 32);

  explicit TextLookupIndex(size_t expected);

  // The slot of the text, or null. sameText(word) settles texts longer than the head.
  template <typename SameText>
  Slot* find(const Key& key, SameText&& sameText) {
    for (size_t at = key.hash & mask;; at = (at + 1) & mask) {
      Slot& slot = slots[at];
      if (slot.word == 0) return nullptr;
      if (slot.hash == key.hash && std::memcmp(slot.head, key.head, headBytes) == 0 &&
          (key.whole() || sameText(slot.word)))
        return &slot;
    }
  }
  // Starts fetching the memory that find(key) reads first.
  void prefetch(const Key& key) const { __builtin_prefetch(&slots[key.hash & mask]); }
  // Adds a text the index does not hold.
  void insert(const Key& key, uint32_t word);
  size_t size() const { return live; }
  size_t bytes() const { return slots.size() * sizeof(Slot); }

 private:
  void grow();

  std::vector<Slot, HugePageAllocator<Slot>> slots;
  size_t mask = 0;
  size_t live = 0;
};

}  // namespace kolvo
