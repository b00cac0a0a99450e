// CFileLinks: the links table ("links"), one block of file numbers per word per link
// compression, each block chained to the word's previous one so that an update adds
// blocks without rewriting old ones. Searching reads a word's files block by block.
// An existing table is opened shared: an update appends to the file the builds before
// it use, and its "hash" section records the extent it reached.
#pragma once

#include <atomic>
#include <cstdint>
#include <cstdio>
#include <memory>
#include <optional>
#include <string>

#include "engine/filememory/file_memory.h"

// A block: spare zero records, the link records (file number, rank byte when ranked)
// that the word's chainHead points at, a zero terminator record, and the next-block
// word: the chainHead of the word's previous block, or 0.
class CFileLinks : public CFileMemory {
 public:
  CFileLinks(const std::string& path, uint32_t initialSize, uint32_t growIncrement, bool hasRank);
  // An existing links file, read-only and shared, with its section of the open "hash"
  // stream.
  CFileLinks(const std::string& path, std::FILE* stream);

  bool store(std::FILE* stream) const;
  uint32_t getSpace(uint32_t size) { return getNewSpace(size); }
  void addFile(uint32_t offset, uint32_t fileNumber, uint8_t rank);
  void setNextList(uint32_t offset, uint32_t value);
  uint32_t getNextList(uint32_t offset) const;
  // As CWordLinks::getWord, on this table.
  uint32_t getFile(uint32_t& offset, uint8_t& rank) const;
  // getFile for up to capacity records, read through the file rather than the mapping;
  // the count of files, offset left where getFile one at a time would leave it (past
  // the terminator when the block ended).
  uint32_t getFiles(uint32_t& offset, uint32_t* files, uint32_t* ranks, uint32_t capacity) const;

  bool ranked() const { return hasRank; }
  uint32_t recordSize() const { return hasRank ? 5 : 4; }

 private:
  // What a "hash" section says of the table.
  struct Section {
    bool hasRank = false;
    bool hasExtent = false;
    Extent extent;
  };
  static Section readSection(const std::string& path, std::FILE* stream);
  CFileLinks(const std::string& path, const Section& section);

  // Whether a read at offset goes through the file: in a table opened from its file, the
  // first few reads of each page do, so a search in a fresh process maps no page for the
  // short blocks it meets once, while a page read again and again is mapped and then
  // read in place. A table being made is always read in place.
  bool readThroughFile(uint32_t offset) const;

  // The next-block word at offset if the last records read through the file on this
  // thread, from this table, hold it; the word is taken once and the bytes forgotten.
  std::optional<uint32_t> takeReadWord(uint32_t offset) const;
  // Forgets the bytes read last on this thread, once the table changes.
  void forgetRead() const;

  bool hasRank;
  // The reads each page of the opened table has had through the file, up to the limit.
  std::unique_ptr<std::atomic<uint8_t>[]> pageReads;
  size_t pageCount = 0;
  // Tells this table's bytes read last from those of a table since made at the same place.
  uint64_t serial;
};
