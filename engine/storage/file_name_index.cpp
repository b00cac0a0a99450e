#include "engine/storage/file_name_index.h"

namespace kolvo {

uint32_t FileNameIndex::slotHash(uint32_t nameKey, uint32_t parent) {
  uint64_t mixed = (static_cast<uint64_t>(nameKey) << 32 | parent) * 0x9E3779B97F4A7C15ull;
  return static_cast<uint32_t>(mixed >> 32) ^ static_cast<uint32_t>(mixed);
}

void FileNameIndex::clear() {
  slots.clear();
  liveCount = 0;
  removedCount = 0;
}

void FileNameIndex::reserve(size_t entries) {
  size_t capacity = 1024;
  while (capacity < entries * 2) capacity *= 2;
  if (capacity > slots.size()) rebuild(capacity);
}

void FileNameIndex::rebuild(size_t capacity) {
  std::vector<Slot> old;
  old.swap(slots);
  slots.assign(capacity, Slot{emptySlot, 0});
  removedCount = 0;
  for (const Slot& slot : old)
    if (slot.file != emptySlot && slot.file != removedSlot) place(slot.file, slot.hash);
}

void FileNameIndex::place(uint32_t file, uint32_t hash) {
  size_t at = hash & mask();
  while (slots[at].file != emptySlot && slots[at].file != removedSlot) at = (at + 1) & mask();
  if (slots[at].file == removedSlot) --removedCount;
  slots[at] = Slot{file, hash};
}

void FileNameIndex::insert(uint32_t file, uint32_t nameKey, uint32_t parent) {
  // Keep at least half the slots empty, counting removed ones as used.
  if (slots.empty() || (liveCount + removedCount + 1) * 2 > slots.size())
    rebuild(slots.empty() ? 1024 : (liveCount + 1) * 4 > slots.size() ? slots.size() * 2 : slots.size());
  place(file, slotHash(nameKey, parent));
  ++liveCount;
}

void FileNameIndex::erase(uint32_t file, uint32_t nameKey, uint32_t parent) {
  if (slots.empty()) return;
  uint32_t hash = slotHash(nameKey, parent);
  for (size_t at = hash & mask(); slots[at].file != emptySlot; at = (at + 1) & mask()) {
    if (slots[at].file == file) {
      slots[at].file = removedSlot;
      --liveCount;
      ++removedCount;
      return;
    }
  }
}

}  // namespace kolvo
