// The file table's in-memory accelerator: finds an entry by (name, parent) without
// walking a bucket chain, which grows without bound under the table's fixed 1,000
// buckets. It never changes a stored byte; the table builds it from its stored chains
// when first needed and keeps it in step with every change of a name or a parent.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace kolvo {

class FileNameIndex {
 public:
  void clear();
  bool built() const { return !slots.empty(); }
  void reserve(size_t entries);
  // nameKey is the name's full textHash; several entries may share name and parent.
  void insert(uint32_t file, uint32_t nameKey, uint32_t parent);
  void erase(uint32_t file, uint32_t nameKey, uint32_t parent);

  // The smallest file number for which matches(file) holds among the entries inserted
  // under (nameKey, parent), as the first match of a stored chain is; 0 when none.
  template <typename Matches>
  uint32_t find(uint32_t nameKey, uint32_t parent, Matches&& matches) const {
    if (slots.empty()) return 0;
    uint32_t hash = slotHash(nameKey, parent);
    uint32_t best = 0;
    for (size_t at = hash & mask();; at = (at + 1) & mask()) {
      const Slot& slot = slots[at];
      if (slot.file == emptySlot) break;
      if (slot.file != removedSlot && slot.hash == hash && (best == 0 || slot.file < best) && matches(slot.file))
        best = slot.file;
    }
    return best;
  }

 private:
  struct Slot {
    uint32_t file;
    uint32_t hash;
  };
  static constexpr uint32_t emptySlot = 0;
  static constexpr uint32_t removedSlot = UINT32_MAX;

  static uint32_t slotHash(uint32_t nameKey, uint32_t parent);
  size_t mask() const { return slots.size() - 1; }
  void rebuild(size_t capacity);
  void place(uint32_t file, uint32_t hash);

  std::vector<Slot> slots;  // open addressing, a power of two long
  size_t liveCount = 0;
  size_t removedCount = 0;
};

}  // namespace kolvo
