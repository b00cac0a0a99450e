// The word table's in-memory accelerator while a table is built: finds a text with one
// random memory access instead of a bucket and an entry of the mapped file, lets
// indexing fetch that memory ahead, and holds a copy of each entry's caller data that
// the owning table may keep newer than the stored one until it writes them all back.
// A slot is half a cache line, so that a build of half a million words holds 32 MiB.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <functional>
#include <vector>

#include "engine/storage/huge_page_allocator.h"

namespace kolvo {

class TextLookupIndex {
 public:
  static constexpr size_t headBytes = 12;
  static constexpr size_t dataBytes = 16;

  // A text as the index compares it: ASCII letters in lower case (the table's notion of
  // equal texts), its first headBytes bytes zero-padded, and a hash of all its bytes.
  struct Key {
    uint32_t hash = 0;
    size_t length = 0;
    unsigned char head[headBytes] = {};
    explicit Key(const char* text) : Key(text, std::strlen(text)) {}
    Key(const char* text, size_t length);
    // For a text with no ASCII capital whose shortTextHash is known already, as the
    // words of a chunk come from their batch: only the head is copied.
    Key(const char* foldedText, size_t length, uint32_t knownHash);
    // Whether the head holds the whole text, so that equal heads mean equal texts.
    bool whole() const { return length < headBytes; }
  };

  // For a text of fewer than headBytes bytes the slot found is all that a lookup, and
  // indexing, reads. A text holds no NUL, so a head whose last byte is 0 is a whole text.
  struct alignas(32) Slot {
    uint32_t word;  // 0: empty
    unsigned char data[dataBytes];
    unsigned char head[headBytes];
  };
  static_assert(sizeof(Slot) == 32);
  // The text of an entry, for the texts a slot's head does not hold whole.
  using TextOf = std::function<const char*(uint32_t word)>;

  explicit TextLookupIndex(size_t expected);

  // The slot of the text, or null. sameText(word) settles texts longer than the head.
  template <typename SameText>
  Slot* find(const Key& key, SameText&& sameText) {
    for (size_t at = key.hash & mask;; at = (at + 1) & mask) {
      Slot& slot = slots[at];
      if (slot.word == 0) return nullptr;
      if (std::memcmp(slot.head, key.head, headBytes) == 0 && (key.whole() || sameText(slot.word))) return &slot;
    }
  }
  // Starts fetching the memory that find(key) reads first.
  void prefetch(const Key& key) const { __builtin_prefetch(&slots[key.hash & mask]); }
  // Adds a text the index does not hold, with zero data as a new entry has; the slot
  // stays where it is until the next insert. textOf gives the texts of the slots to be
  // moved when the index grows and their heads do not hold them whole.
  Slot& insert(const Key& key, uint32_t word, const TextOf& textOf);
  template <typename Visit>
  void forEachSlot(Visit&& visit) const {
    for (const Slot& slot : slots)
      if (slot.word != 0) visit(slot);
  }
  size_t bytes() const { return slots.size() * sizeof(Slot); }

 private:
  void grow(const TextOf& textOf);

  std::vector<Slot, HugePageAllocator<Slot>> slots;
  size_t mask = 0;
  size_t live = 0;
};

}  // namespace kolvo
