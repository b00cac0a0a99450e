// The 16-byte word-data block in front of every word of the word table: the word's most
// recent file and its count there, its newest link block and how many links it has
// handed to the temporary link table. Read and written only through these helpers.
#pragma once

#include <cstdint>

#include "engine/filememory/le_fields.h"

namespace kolvo {

struct WordData {
  static constexpr uint32_t currentFileAt = 0;
  static constexpr uint32_t currentCountAt = 4;
  static constexpr uint32_t chainHeadAt = 8;
  static constexpr uint32_t pendingLinksAt = 12;

  static uint32_t currentFile(const unsigned char* data) { return loadU32(data + currentFileAt); }
  static uint16_t currentCount(const unsigned char* data) { return loadU16(data + currentCountAt); }
  static uint32_t chainHead(const unsigned char* data) { return loadU32(data + chainHeadAt); }
  static uint32_t pendingLinks(const unsigned char* data) { return loadU32(data + pendingLinksAt); }

  static void setCurrentFile(unsigned char* data, uint32_t file) { storeU32(data + currentFileAt, file); }
  static void setCurrentCount(unsigned char* data, uint16_t count) { storeU16(data + currentCountAt, count); }
  static void setChainHead(unsigned char* data, uint32_t head) { storeU32(data + chainHeadAt, head); }
  static void setPendingLinks(unsigned char* data, uint32_t links) { storeU32(data + pendingLinksAt, links); }
};

}  // namespace kolvo
