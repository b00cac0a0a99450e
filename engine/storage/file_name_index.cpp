#include "engine/storage/file_name_index.h"

namespace kolvo {

void FileNameIndex::place(Group& group, uint32_t file, uint32_t nameKey) {
  size_t mask = group.slots.size() - 1;
  size_t at = startOf(nameKey, mask);
  while (group.slots[at].file != emptySlot && group.slots[at].file != removedSlot) at = (at + 1) & mask;
  if (group.slots[at].file == removedSlot) --group.removed;
  group.slots[at] = Slot{file, nameKey};
}

void FileNameIndex::resize(Group& group, size_t capacity) {
  std::vector<Slot> old(capacity, Slot{emptySlot, 0});
  old.swap(group.slots);
  group.removed = 0;
  for (const Slot& slot : old)
    if (slot.file != emptySlot && slot.file != removedSlot) place(group, slot.file, slot.nameKey);
}

void FileNameIndex::insert(uint32_t file, uint32_t nameKey, uint32_t parent) {
  Group& group = groups[parent];
  // Removed slots count as used, so a probe always ends at an empty one.
  if ((group.live + group.removed + 1) * 2 > group.slots.size()) {
    // Grow to a quarter full; with many removed slots the same size simply purges them.
    size_t capacity = group.slots.size();
    while ((group.live + 1) * 4 > capacity) capacity *= 2;
    resize(group, capacity);
  }
  place(group, file, nameKey);
  ++group.live;
}

void FileNameIndex::reserve(uint32_t parent, size_t count) {
  Group& group = groups[parent];
  size_t capacity = group.slots.size();
  while ((group.live + count) * 4 > capacity) capacity *= 2;
  if (capacity != group.slots.size()) resize(group, capacity);
}

void FileNameIndex::erase(uint32_t file, uint32_t nameKey, uint32_t parent) {
  auto found = groups.find(parent);
  if (found == groups.end()) return;
  Group& group = found->second;
  size_t mask = group.slots.size() - 1;
  for (size_t at = startOf(nameKey, mask); group.slots[at].file != emptySlot; at = (at + 1) & mask) {
    if (group.slots[at].file == file) {
      group.slots[at].file = removedSlot;
      --group.live;
      ++group.removed;
      if (group.live == 0) groups.erase(found);
      return;
    }
  }
}

}  // namespace kolvo
