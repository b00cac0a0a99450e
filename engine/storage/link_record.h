// One record of the link tables: a 32-bit file or word number, followed by the rank
// byte when the index keeps ranks. CFileLinks and CWordLinks read and write them here.
#pragma once

#include <cstdint>

#include "engine/filememory/le_fields.h"

namespace kolvo {

// Null (a record outside the table) reads as number 0 with rank 0; without ranks every
// record reads rank 255.
inline uint32_t readLinkRecord(const unsigned char* at, bool hasRank, uint8_t& rank) {
  if (!at) {
    rank = 0;
    return 0;
  }
  rank = hasRank ? at[4] : 255;
  return loadU32(at);
}

inline void writeLinkRecord(unsigned char* at, bool hasRank, uint32_t number, uint8_t rank) {
  storeU32(at, number);
  if (hasRank) at[4] = rank;
}

}  // namespace kolvo
