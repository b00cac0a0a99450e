#include "engine/index/word_batch.h"

#include <algorithm>

#include "engine/storage/short_text_hash.h"

void CWordBatch::clear() {
  if (slots.empty()) return;
  // Only the used slots are cleared, so a chunk of few words costs little.
  const size_t mask = slots.size() - 1;
  for (const Word& word : entries)
    for (size_t at = word.hash & mask; slots[at] != 0; at = (at + 1) & mask) slots[at] = 0;
  entries.clear();
  texts.clear();
}

void CWordBatch::add(const char* text, size_t length) {
  const uint32_t hash = kolvo::shortTextHash(text, length);
  if (slots.empty()) slots.assign(firstSlots, 0);
  size_t mask = slots.size() - 1;
  size_t at = hash & mask;
  for (; slots[at] != 0; at = (at + 1) & mask) {
    Word& word = entries[slots[at] - 1];
    if (word.hash == hash && word.length == length && std::memcmp(texts.data() + word.textAt, text, length) == 0) {
      ++word.occurrences;
      return;
    }
  }
  entries.push_back(Word{static_cast<uint32_t>(texts.size()), static_cast<uint32_t>(length), hash, 1});
  texts.insert(texts.end(), text, text + length);
  texts.push_back('\0');
  slots[at] = static_cast<uint32_t>(entries.size());
  if (entries.size() * 2 > slots.size()) grow();
}

void CWordBatch::grow() {
  slots.assign(slots.size() * 2, 0);
  const size_t mask = slots.size() - 1;
  for (size_t i = 0; i < entries.size(); ++i) {
    size_t at = entries[i].hash & mask;
    while (slots[at] != 0) at = (at + 1) & mask;
    slots[at] = static_cast<uint32_t>(i + 1);
  }
}
