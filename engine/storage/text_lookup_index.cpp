#include "engine/storage/text_lookup_index.h"

#include <algorithm>
#include <string>

#include "engine/kolvolib/error_reporting.h"
#include "engine/storage/short_text_hash.h"
#include "engine/storage/table_hash.h"

namespace kolvo {

TextLookupIndex::Key::Key(const char* text, size_t textLength) : length(textLength) {
  std::memcpy(head, text, std::min(length, headBytes));
  for (unsigned char& c : head) c = asciiLower(c);
  if (whole()) {
    hash = shortTextHash(head, length);
    return;
  }
  std::string folded(text, length);
  for (char& c : folded) c = static_cast<char>(asciiLower(static_cast<unsigned char>(c)));
  hash = shortTextHash(folded.data(), length);
}

TextLookupIndex::Key::Key(const char* foldedText, size_t textLength, uint32_t knownHash)
    : hash(knownHash), length(textLength) {
  std::memcpy(head, foldedText, std::min(length, headBytes));
}

TextLookupIndex::TextLookupIndex(size_t expected) {
  size_t capacity = 64;
  while (capacity < expected * 2) capacity *= 2;
  slots.assign(capacity, Slot{});
  mask = capacity - 1;
}

TextLookupIndex::Slot& TextLookupIndex::insert(const Key& key, uint32_t word, const TextOf& textOf) {
  // At most half full, so that probe runs stay short.
  if ((live + 1) * 2 > slots.size()) grow(textOf);
  size_t at = key.hash & mask;
  while (slots[at].word != 0) at = (at + 1) & mask;
  Slot& slot = slots[at];
  slot.word = word;
  std::memcpy(slot.head, key.head, headBytes);
  std::memset(slot.data, 0, dataBytes);
  ++live;
  return slot;
}

void TextLookupIndex::grow(const TextOf& textOf) {
  std::vector<Slot, HugePageAllocator<Slot>> old(slots.size() * 2, Slot{});
  old.swap(slots);
  mask = slots.size() - 1;
  for (const Slot& slot : old) {
    if (slot.word == 0) continue;
    // The slot keeps no hash: a whole text's comes from its head, a longer one's from
    // the owner's text.
    uint32_t hash;
    if (slot.head[headBytes - 1] == 0) {
      hash = shortTextHash(slot.head, strnlen(reinterpret_cast<const char*>(slot.head), headBytes));
    } else {
      const char* text = textOf(slot.word);
      kolvoCheck(text != nullptr, "word accelerator");
      hash = Key(text).hash;
    }
    size_t at = hash & mask;
    while (slots[at].word != 0) at = (at + 1) & mask;
    slots[at] = slot;
  }
}

}  // namespace kolvo
