// CWordBatch: the words of one chunk gathered before they reach the word table, each
// distinct word once with its number of occurrences, in the order of its first
// occurrence. indexBuffer fills one per chunk and hands it to CKolvoIndex::indexWords,
// so the table is visited once per distinct word of a chunk instead of once per word.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <vector>

class CWordBatch {
 public:
  struct Word {
    uint32_t textAt;  // of the NUL-terminated text in the batch's own store
    uint32_t length;
    uint32_t hash;  // shortTextHash of the text, the word table's key hash for a folded text
    uint32_t occurrences;
  };

  void clear();
  void add(const char* text, size_t length);

  const std::vector<Word>& words() const { return entries; }
  const char* text(const Word& word) const { return texts.data() + word.textAt; }

 private:
  void grow();

  std::vector<Word> entries;
  std::vector<char> texts;
  // Open addressing over a power-of-two array of entry numbers + 1; at most half full.
  // Made at the first word, since an index holds a batch in every analyzer and a search
  // uses none.
  static constexpr size_t firstSlots = 4096;
  std::vector<uint32_t> slots;
};
