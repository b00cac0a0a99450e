#include "engine/storage/file_links.h"

#include "engine/filememory/le_fields.h"
#include "engine/kolvolib/error_reporting.h"
#include "engine/storage/hash_stream.h"
#include "engine/storage/link_record.h"

CFileLinks::CFileLinks(const std::string& path, uint32_t initialSize, uint32_t growIncrement, bool rank)
    : CFileMemory(path, initialSize, growIncrement), hasRank(rank) {}

CFileLinks::CFileLinks(const std::string& path, std::FILE* stream) : CFileMemory(path), hasRank(false) {
  uint32_t tag = 0;
  uint8_t rank = 0;
  if (!kolvo::readU32(stream, tag) || tag != kolvo::linksTag || !kolvo::readByte(stream, rank) || rank > 1)
    kolvo::throwKolvoError("StorageReadError", path);
  hasRank = rank != 0;
}

bool CFileLinks::store(std::FILE* stream) const {
  return kolvo::writeU32(stream, kolvo::linksTag) && kolvo::writeByte(stream, hasRank ? 1 : 0);
}

void CFileLinks::addFile(uint32_t offset, uint32_t fileNumber, uint8_t rank) {
  kolvo::kolvoCheck(inUse(offset, recordSize()), "link record");
  unsigned char* at = getWritablePointer(offset, recordSize());
  kolvo::writeLinkRecord(at, hasRank, fileNumber, rank);
}

void CFileLinks::setNextList(uint32_t offset, uint32_t value) {
  kolvo::kolvoCheck(inUse(offset, 4), "next-block word");
  kolvo::storeU32(getWritablePointer(offset, 4), value);
}

uint32_t CFileLinks::getNextList(uint32_t offset) const {
  kolvo::kolvoCheck(inUse(offset, 4), "next-block word");
  return kolvo::loadU32(getPointer(offset, 4));
}

uint32_t CFileLinks::getFile(uint32_t& offset, uint8_t& rank) const {
  const unsigned char* at = inUse(offset, recordSize()) ? getPointer(offset, recordSize()) : nullptr;
  offset += recordSize();
  return kolvo::readLinkRecord(at, hasRank, rank);
}
