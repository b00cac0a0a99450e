// The hash and the comparison that the word table and the file table share: a text's
// bucket comes from its bytes folded through the case-folding table, and two texts are
// the same entry when they are equal ignoring ASCII letter case.
#pragma once

#include <cstdint>

#include "engine/kolvolib/lower_case_table.h"

namespace kolvo {

// h = h * 33 + folded byte, the byte taken as signed; stops at a byte that folds to 0
// (the terminating NUL, and 0x7F).
inline uint32_t textHash(const char* text) {
  uint32_t h = 0;
  for (const unsigned char* at = reinterpret_cast<const unsigned char*>(text);; ++at) {
    unsigned char folded = lowerCase(*at);
    if (folded == 0) break;
    h = h * 33 + static_cast<uint32_t>(static_cast<int32_t>(static_cast<signed char>(folded)));
  }
  return h;
}

inline unsigned char asciiLower(unsigned char c) {
  return (c >= 'A' && c <= 'Z') ? static_cast<unsigned char>(c + 0x20) : c;
}

// strcasecmp(a, b) == 0 as the C locale has it, whatever locale the process runs in.
inline bool sameTextIgnoringCase(const char* a, const char* b) {
  auto x = reinterpret_cast<const unsigned char*>(a);
  auto y = reinterpret_cast<const unsigned char*>(b);
  for (;; ++x, ++y) {
    if (asciiLower(*x) != asciiLower(*y)) return false;
    if (*x == 0) return true;
  }
}

}  // namespace kolvo
