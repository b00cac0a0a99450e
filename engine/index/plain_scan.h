// PlainScan: the words of a whole file whose display keeps them as they stand, handed to
// a HitScan in the same pass that makes sure of it. The check of phrases and near words
// uses it for ordinary text files; where the machine allows, 64 bytes are classed at once.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

#include "engine/index/hit_scan.h"

namespace kolvo {

class PlainScan {
 public:
  using Mask = std::array<unsigned char, 256>;
  enum class Verdict { notPlain, holds, lacks };

  // start and part: the bytes that begin and go on with a word; plain: the bytes a file
  // may hold (word bytes among them) for its words to be split straight from its bytes.
  // scan tells which words may match a term; any scan of the same pattern may then run.
  PlainScan(const Mask& start, const Mask& part, const Mask& plain, const HitScan& scan);

  // notPlain when a byte is not plain; else whether the words hold a hit. A hit counts
  // only once the whole text is seen to be plain.
  Verdict run(HitScan& scan, const char* text, size_t size) const;

 private:
  enum : unsigned char { startsWord = 1, continuesWord = 2, plainByte = 4, mayMatch = 8 };
  Verdict runBytes(HitScan& scan, const char* text, size_t size) const;
  Verdict runBlocks(HitScan& scan, const char* text, size_t size) const;
  // The bits of 64 bytes from text (size of them real, the rest counted as plain
  // separators) that are word bytes, that are not plain, and that are word bytes a
  // term may begin with.
  struct Bits {
    uint64_t word, notPlain, mayMatch;
  };
  Bits classify(const char* text, size_t size) const;

  Mask classes{};
  // By the bytes' low four bits: which high halves of a byte value are in a set, one
  // table for high halves 0-7, one for 8-15, for the word, not plain and may-match sets.
  std::array<std::array<unsigned char, 16>, 6> nibbleSets{};
  // Words are runs of word bytes only when every byte that goes on with a word may also
  // begin one: only then are 64 bytes split at once.
  bool runsAreWords = false;
  bool wide = false;
};

}  // namespace kolvo
