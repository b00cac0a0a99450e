// CWordLinks: the temporary link table ("temp") that word indexing fills while files are
// read, grouped by file, and that link compression walks once and deletes. A record is
// a word number and, when the index ranks, one rank byte.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "engine/filememory/file_memory.h"
#include "engine/index/resource_limits.h"

// Layout after the file header: a group head (u32 file number), its records, and a
// zero record before the next group head; the last group has no end record.
class CWordLinks : public CFileMemory {
 public:
  CWordLinks(const std::string& path, uint32_t initialSize, uint32_t growIncrement, bool hasRank);

  void addWord(uint32_t fileNumber, uint32_t wordNumber, uint8_t rank);
  // The group head at offset (0 beyond the used space); offset advances by 4.
  uint32_t getFile(uint32_t& offset) const;
  // The word of the record at offset, with its rank (255 when there are no rank bytes);
  // 0 and rank 0 beyond the used space. offset advances by one record.
  uint32_t getWord(uint32_t& offset, uint8_t& rank) const;

  bool ranked() const { return hasRank; }
  // Group heads at least markBytes apart, in table order: where readers of parts of the
  // table may start, each reading up to the next one's start.
  const std::vector<uint32_t>& groupMarks() const { return marks; }
  // Set before the first addWord; small in tests, so that small tables have parts.
  uint32_t markBytes = kolvo::limits::linkReadMarkBytes;
  uint32_t recordSize() const { return hasRank ? 5 : 4; }

 private:
  static constexpr uint32_t releaseStep = 8u << 20;
  uint32_t released = 0;
  uint32_t currentGroupFile = 0;
  uint32_t groupStart = 0;
  std::vector<uint32_t> marks;
  bool hasRank;
};
