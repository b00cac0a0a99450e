#include "engine/storage/word_links.h"

#include "engine/filememory/le_fields.h"
#include "engine/storage/link_record.h"

CWordLinks::CWordLinks(const std::string& path, uint32_t initialSize, uint32_t growIncrement, bool rank)
    : CFileMemory(path, initialSize, growIncrement), hasRank(rank) {}

void CWordLinks::addWord(uint32_t fileNumber, uint32_t wordNumber, uint8_t rank) {
  if (fileNumber != currentGroupFile || groupStart == 0) {
    // The fresh space is zero: reserving it is writing the end record.
    if (groupStart != 0) getNewSpace(recordSize());
    uint32_t head = getNewSpace(4);
    kolvo::storeU32(getWritablePointer(head, 4), fileNumber);
    currentGroupFile = fileNumber;
    groupStart = head;
    if (head - (marks.empty() ? 0 : marks.back()) >= markBytes) marks.push_back(head);
  }
  uint32_t record = getNewSpace(recordSize());
  // What lies behind is not touched again until compression reads it once.
  if (record - released > releaseStep) {
    releasePagesBelow(groupStart);
    released = record;
  }
  unsigned char* at = getWritablePointer(record, recordSize());
  kolvo::writeLinkRecord(at, hasRank, wordNumber, rank);
}

uint32_t CWordLinks::getFile(uint32_t& offset) const {
  const unsigned char* at = getPointer(offset, 4);
  offset += 4;
  return at ? kolvo::loadU32(at) : 0;
}

uint32_t CWordLinks::getWord(uint32_t& offset, uint8_t& rank) const {
  const unsigned char* at = getPointer(offset, recordSize());
  offset += recordSize();
  return kolvo::readLinkRecord(at, hasRank, rank);
}
