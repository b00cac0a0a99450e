// The file table's in-memory accelerator: finds an entry by (name, parent) without
// walking a bucket chain, which grows without bound under the table's fixed 1,000
// buckets. It never changes a stored byte; the table builds it from its stored chains
// when first needed and keeps it in step with every change of a name or a parent.
//
// Entries are grouped by parent, each group a small hash table of its own: the walk
// looks up and adds the names of one folder after another, so the group it works on
// stays in the cache however large the table grows.
#pragma once

#include <cstddef>
#include <cstdint>
#include <unordered_map>
#include <vector>

namespace kolvo {

class FileNameIndex {
 public:
  void clear() { groups.clear(); }
  // nameKey is the name's full textHash; several entries may share name and parent.
  void insert(uint32_t file, uint32_t nameKey, uint32_t parent);
  void erase(uint32_t file, uint32_t nameKey, uint32_t parent);
  // Makes room under parent for count more entries at once.
  void reserve(uint32_t parent, size_t count);

  // The smallest file number under parent for which matches(file) holds among the
  // entries inserted with nameKey, as the first match of a stored chain is; 0 if none.
  template <typename Matches>
  uint32_t find(uint32_t nameKey, uint32_t parent, Matches&& matches) const {
    auto group = groups.find(parent);
    if (group == groups.end()) return 0;
    const std::vector<Slot>& slots = group->second.slots;
    size_t mask = slots.size() - 1;
    uint32_t best = 0;
    for (size_t at = startOf(nameKey, mask);; at = (at + 1) & mask) {
      const Slot& slot = slots[at];
      if (slot.file == emptySlot) break;
      if (slot.file != removedSlot && slot.nameKey == nameKey && (best == 0 || slot.file < best) &&
          matches(slot.file))
        best = slot.file;
    }
    return best;
  }

 private:
  struct Slot {
    uint32_t file;
    uint32_t nameKey;
  };
  // Open addressing over a power-of-two array, at least half of it empty.
  struct Group {
    std::vector<Slot> slots = std::vector<Slot>(8, Slot{0, 0});
    size_t live = 0;
    size_t removed = 0;
  };
  static constexpr uint32_t emptySlot = 0;
  static constexpr uint32_t removedSlot = UINT32_MAX;

  // The name hash's low bits are weak (33 is 1 modulo 8): mix before masking.
  static size_t startOf(uint32_t nameKey, size_t mask) {
    uint32_t mixed = nameKey * 2654435761u;
    return (mixed ^ (mixed >> 15)) & mask;
  }
  static void place(Group& group, uint32_t file, uint32_t nameKey);
  static void resize(Group& group, size_t capacity);

  std::unordered_map<uint32_t, Group> groups;
};

}  // namespace kolvo
