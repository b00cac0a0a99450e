// WordOrder: the "wordorder" file beside a word table, the table's word numbers sorted
// by their text byte for byte, so that the words of a prefix are found by a binary
// search instead of a walk of every entry. CTextStorage maps it, checks it against
// itself before trusting it, and writes it when a build stores its tables.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "engine/filememory/le_fields.h"

namespace kolvo {

// The file: magic, version, the number of words it covers and the word table's used
// size when it was made (u32 each, little-endian), then that many word numbers (u32).
// The words it covers are the table's first entries, all of them below the used size;
// entries added later (the tail) lie at or after it.
class WordOrder {
 public:
  static constexpr uint32_t magic = 0x4F57564B;  // "KVWO"
  static constexpr uint32_t version = 1;
  static constexpr size_t headerBytes = 16;

  // Maps the file read-only; null when it is missing, or its header or length is not
  // that of an order file.
  static std::unique_ptr<WordOrder> map(const std::string& path);
  // The file's bytes for sorted words of a table whose used size was coveredUsed.
  static std::string encode(const std::vector<uint32_t>& sorted, uint32_t coveredUsed);

  WordOrder(const WordOrder&) = delete;
  WordOrder& operator=(const WordOrder&) = delete;
  ~WordOrder();

  uint32_t count() const { return wordCount; }
  uint32_t coveredUsed() const { return usedWhenMade; }
  // The word at position (below count()), as stored: callers check it.
  uint32_t at(uint32_t position) const { return loadU32(bytesAt(position)); }
  // Where the word at position is stored, for callers that read many at once.
  const unsigned char* bytesAt(uint32_t position) const { return words + static_cast<size_t>(position) * 4; }

  // Runs check once, the first time it is asked, and answers what it answered then:
  // the table checks the file only when a search first needs it.
  template <typename Check>
  bool sound(Check check) const {
    std::call_once(checked, [&] { isSound = check(*this); });
    return isSound;
  }

 private:
  WordOrder(void* address, size_t length);

  void* address;
  size_t length;
  const unsigned char* words;
  uint32_t wordCount;
  uint32_t usedWhenMade;
  mutable std::once_flag checked;
  mutable bool isSound = false;
};

}  // namespace kolvo
