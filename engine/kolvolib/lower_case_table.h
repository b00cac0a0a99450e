// The process-wide case-folding map of 256 bytes, shared by every index: the hashes of
// the word and file tables, the matchers and word extraction all fold through it.
#pragma once

#include <array>
#include <cstdint>

namespace kolvo {

// The table as mapLowerCaseChars fills it; it holds these values from load time on.
// Read it only through lowerCase().
extern std::array<unsigned char, 256> lowerCaseBytes;

inline unsigned char lowerCase(unsigned char c) { return lowerCaseBytes[c]; }
inline const std::array<unsigned char, 256>& lowerCaseTable() { return lowerCaseBytes; }

// Refills the table (every index construction does; the result never changes).
void mapLowerCaseChars();

}  // namespace kolvo
