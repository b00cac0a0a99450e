// HitScan: whether a stream of words, taken one at a time in text order, holds a hit of
// a pattern, decided as soon as the words read allow. The check of phrases and near
// words feeds it a file's words and stops reading at the first hit.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <utility>
#include <vector>

#include "engine/index/hit_pattern.h"
#include "engine/kolvolib/lower_case_table.h"

namespace kolvo {

class HitScan {
 public:
  // The pattern and the mask must outlive the scan.
  HitScan(const HitPattern& pattern, const std::array<unsigned char, 256>& tokenPart);

  // Takes the next word (its first byte starts a word, the rest continue it); true once
  // the words taken so far hold a hit, and from then on.
  bool take(const char* token, size_t size) {
    if (hit) return true;
    // Most words of a text can match no term, and are only counted.
    if (size < shortest || size > longest || !firstBytes[lowerCase(static_cast<unsigned char>(*token))]) {
      ++words;
      return false;
    }
    return takeCandidate(token, size);
  }
  // Counts words that match no term, taken without being looked at.
  void skip(uint64_t count) {
    if (!hit) words += count;
  }
  // Whether a word beginning with c may match some term; others need only be counted.
  bool mayBegin(unsigned char c) const { return firstBytes[lowerCase(c)] != 0; }
  bool found() const { return hit; }
  // Forgets every word taken, for the next file.
  void restart();

 private:
  // take for a word whose length and first byte fit some term.
  bool takeCandidate(const char* token, size_t size);
  bool matches(size_t distinct, const char* token, size_t size) const;
  // The term holds at the word numbered at: a hit when the term is one, else its level
  // holds there, which may make earlier words waiting on that level hold in turn.
  void termHolds(size_t term, uint64_t at);

  const HitPattern& pattern;
  const std::array<unsigned char, 256>& tokenPart;
  // Which folded first bytes and which lengths a word may have to match any term: most
  // words of a text match none, and are only counted.
  std::array<unsigned char, 256> firstBytes{};
  size_t shortest = SIZE_MAX;
  size_t longest = 0;
  // Per distinct term text: whether it has a wildcard, and its match at the current word.
  std::vector<char> wild;
  std::vector<char> matched;
  // Per operator: the term it follows, and the operators whose level begins with a term.
  std::vector<int> ownerOf;
  std::vector<std::vector<size_t>> levelsBegunBy;
  // Per term followed by an operator: the words where it matched, in order, and whether
  // a hit of its level within the distance has been seen for each.
  std::vector<std::vector<uint64_t>> waiting;
  std::vector<std::vector<char>> settled;
  std::vector<std::pair<size_t, uint64_t>> pending;
  uint64_t words = 0;
  bool hit = false;
};

}  // namespace kolvo
