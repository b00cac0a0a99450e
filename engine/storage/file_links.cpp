#include "engine/storage/file_links.h"

#include <algorithm>
#include <atomic>
#include <cstring>

#include "engine/filememory/le_fields.h"
#include "engine/index/resource_limits.h"
#include "engine/kolvolib/error_reporting.h"
#include "engine/storage/hash_stream.h"
#include "engine/storage/link_record.h"

namespace {

std::atomic<uint64_t> linkTablesMade{0};

// The records a batch read last through the file on this thread, with the next-block
// word that follows them: a short block ends within them, and the word that leads to
// the word's next block is then taken from here rather than read once more.
struct LastRead {
  uint64_t table = 0;  // the serial of the table read; 0 for nothing
  uint32_t from = 0;
  uint32_t length = 0;
  unsigned char bytes[kolvo::limits::linkRecordsARead * (sizeof(uint32_t) + 1) + sizeof(uint32_t)];
};
thread_local LastRead lastRead;

}  // namespace

CFileLinks::CFileLinks(const std::string& path, uint32_t initialSize, uint32_t growIncrement, bool rank)
    : CFileMemory(path, initialSize, growIncrement), hasRank(rank), serial(++linkTablesMade) {}

CFileLinks::Section CFileLinks::readSection(const std::string& path, std::FILE* stream) {
  Section section;
  uint32_t tag = 0;
  uint8_t rank = 0;
  bool read = kolvo::readU32(stream, tag) && (tag == kolvo::linksTag || tag == kolvo::linksExtentTag) &&
              kolvo::readByte(stream, rank) && rank <= 1;
  section.hasExtent = tag == kolvo::linksExtentTag;
  if (read && section.hasExtent)
    read = kolvo::readU32(stream, section.extent.used) && kolvo::readU32(stream, section.extent.total) &&
           section.extent.used >= headerSize && section.extent.used <= section.extent.total;
  if (!read) kolvo::throwKolvoError("StorageReadError", path);
  section.hasRank = rank != 0;
  return section;
}

CFileLinks::CFileLinks(const std::string& path, std::FILE* stream) : CFileLinks(path, readSection(path, stream)) {}

CFileLinks::CFileLinks(const std::string& path, const Section& section)
    : CFileMemory(path, section.hasExtent ? &section.extent : nullptr), hasRank(section.hasRank),
      serial(++linkTablesMade) {
  pageCount = (static_cast<size_t>(used()) + kolvo::limits::linkPageBytes - 1) / kolvo::limits::linkPageBytes;
  pageReads = std::make_unique<std::atomic<uint8_t>[]>(pageCount);
}

bool CFileLinks::readThroughFile(uint32_t offset) const {
  size_t page = offset / kolvo::limits::linkPageBytes;
  if (page >= pageCount) return false;
  // Two threads reading the same page at once at worst read it through the file once more.
  uint8_t reads = pageReads[page].load(std::memory_order_relaxed);
  if (reads >= kolvo::limits::linkPageFileReads) return false;
  pageReads[page].store(static_cast<uint8_t>(reads + 1), std::memory_order_relaxed);
  return true;
}

bool CFileLinks::store(std::FILE* stream) const {
  Extent mine = extent(), header = headerExtent();
  // While the header still describes this build, the section is the one every version
  // of the program reads.
  if (!shared() || (mine.used == header.used && mine.total == header.total))
    return kolvo::writeU32(stream, kolvo::linksTag) && kolvo::writeByte(stream, hasRank ? 1 : 0);
  return kolvo::writeU32(stream, kolvo::linksExtentTag) && kolvo::writeByte(stream, hasRank ? 1 : 0) &&
         kolvo::writeU32(stream, mine.used) && kolvo::writeU32(stream, mine.total);
}

std::optional<uint32_t> CFileLinks::takeReadWord(uint32_t offset) const {
  LastRead& last = lastRead;
  if (last.table != serial || offset < last.from || offset - last.from > last.length ||
      last.length - (offset - last.from) < sizeof(uint32_t))
    return std::nullopt;
  last.table = 0;
  return kolvo::loadU32(last.bytes + (offset - last.from));
}

void CFileLinks::forgetRead() const {
  // Only a table opened from its file is ever read through it; a table being made, whose
  // every record goes through here, need not look at the thread's last read at all.
  if (pageCount != 0 && lastRead.table == serial) lastRead.table = 0;
}

void CFileLinks::addFile(uint32_t offset, uint32_t fileNumber, uint8_t rank) {
  forgetRead();
  kolvo::kolvoCheck(inUse(offset, recordSize()), "link record");
  unsigned char* at = getWritablePointer(offset, recordSize());
  kolvo::writeLinkRecord(at, hasRank, fileNumber, rank);
}

void CFileLinks::setNextList(uint32_t offset, uint32_t value) {
  forgetRead();
  kolvo::kolvoCheck(inUse(offset, 4), "next-block word");
  kolvo::storeU32(getWritablePointer(offset, 4), value);
}

uint32_t CFileLinks::getNextList(uint32_t offset) const {
  kolvo::kolvoCheck(inUse(offset, 4), "next-block word");
  if (std::optional<uint32_t> known = takeReadWord(offset)) return *known;
  // Read through the file, as a search reads the blocks, while its page is met seldom.
  unsigned char word[4];
  return kolvo::loadU32(readThroughFile(offset) && readBytes(offset, word, sizeof word) ? word : getPointer(offset, 4));
}

uint32_t CFileLinks::getFile(uint32_t& offset, uint8_t& rank) const {
  const unsigned char* at = inUse(offset, recordSize()) ? getPointer(offset, recordSize()) : nullptr;
  offset += recordSize();
  return kolvo::readLinkRecord(at, hasRank, rank);
}

uint32_t CFileLinks::getFiles(uint32_t& offset, uint32_t* files, uint32_t* ranks, uint32_t capacity) const {
  const uint32_t size = recordSize();
  uint32_t count = 0;
  // The first records may be read through the file: most words' blocks are short and
  // lie apart, one page each. What a longer block holds beyond them is read in place,
  // where each page mapped serves many records.
  uint64_t whole = used() > offset ? (used() - offset) / size : 0;
  uint64_t first = std::min<uint64_t>({capacity, kolvo::limits::linkRecordsARead, whole});
  // The read takes the word after the records too, where a block that ends among them
  // keeps the way to its next block.
  const uint32_t length =
      static_cast<uint32_t>(std::min<uint64_t>(first * size + sizeof(uint32_t), used() > offset ? used() - offset : 0));
  LastRead& last = lastRead;
  last.table = 0;
  if (first > 0 && readThroughFile(offset) && readBytes(offset, last.bytes, length)) {
    last.table = serial;
    last.from = offset;
    last.length = length;
    const unsigned char* records = last.bytes;
    for (uint64_t i = 0; i < first; ++i) {
      uint8_t rank = 0;
      uint32_t file = kolvo::readLinkRecord(records + i * size, hasRank, rank);
      offset += size;
      if (file == 0) return count;
      files[count] = file;
      ranks[count++] = rank;
    }
  }
  while (count < capacity) {
    uint8_t rank = 0;
    uint32_t file = getFile(offset, rank);
    if (file == 0) break;
    files[count] = file;
    ranks[count++] = rank;
  }
  return count;
}
