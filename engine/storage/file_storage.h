// CFileStorage: every directory, file, archive member and mail message an index has
// seen, each with a 16-byte information record, found by its name and its parent.
// The walk, update and search use it; it is stored as "files" with 1,000 buckets.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>
#include <optional>
#include <set>
#include <vector>

#include "engine/filememory/file_memory.h"
#include "engine/filememory/le_fields.h"
#include "engine/storage/file_name_index.h"
#include "engine/storage/hash_stream.h"

// An entry at offset R: nextInBucket, parentId, timeLastWritten (i32, Unix seconds),
// fileSize, attributes (u32 each), then the name and its NUL at R + 20, which is the
// file number. A name whose first byte is 0xFF marks an obsolete entry.
class CFileStorage : public CFileMemory {
 public:
  static constexpr uint32_t prefixSize = 20;
  static constexpr uint32_t infoSize = 16;
  static constexpr unsigned char obsoleteMark = 0xFF;

  // The size and the time a record can hold of a larger one: the nearest it can hold,
  // so that a file of 5 GB reads as 4 GiB less a byte, still larger than any smaller
  // file, rather than as its size modulo 4 GiB; and a time after 2038 as the last
  // second of 2038-01-19.
  static constexpr uint32_t recordableSize(uint64_t bytes) {
    return bytes > UINT32_MAX ? UINT32_MAX : static_cast<uint32_t>(bytes);
  }
  static constexpr int32_t recordableTime(int64_t unixSeconds) {
    return unixSeconds > INT32_MAX   ? INT32_MAX
           : unixSeconds < INT32_MIN ? INT32_MIN
                                     : static_cast<int32_t>(unixSeconds);
  }

  CFileStorage(const std::string& path, uint32_t bucketCount);
  CFileStorage(const std::string& path, std::FILE* stream);

  // Always adds a new entry with a zero information record.
  uint32_t addFile(const char* name);
  // The first live entry of exactly this name under parentId. Names are hashed ignoring
  // letter case, as the stored chains were made, but compared byte for byte: "F7.txt"
  // and "f7.txt" are two files on this system, and each needs its own entry.
  uint32_t lookupFile(const char* name, uint32_t parentId);
  uint32_t getFirst() const;
  uint32_t getNext(uint32_t file) const;
  // Null when file is no entry.
  const char* getText(uint32_t file) const;
  const unsigned char* getData(uint32_t file) const;

  uint32_t getParent(uint32_t file) const;
  int32_t getTime(uint32_t file) const;
  uint32_t getSize(uint32_t file) const;
  uint32_t getAttributes(uint32_t file) const;
  void setParent(uint32_t file, uint32_t parentId);
  void setTime(uint32_t file, int32_t unixSeconds);
  void setSize(uint32_t file, uint32_t size);
  void setAttributes(uint32_t file, uint32_t attributes);
  void markObsolete(uint32_t file);
  bool isObsolete(uint32_t file) const;

  // The file number whose information record starts at pointer, or 0.
  uint32_t fileOfInfo(const void* pointer);
  // Whether file is the number of an entry, not merely an offset inside the table (a
  // hand-typed number can point into a name). For numbers that come from outside.
  bool isFileNumber(uint32_t file);
  // isFileNumber of count numbers at once, answered in isFile (1 or 0). Many numbers
  // are grouped by their name's bucket, and each bucket's chain is walked once for all.
  void checkFileNumbers(const uint32_t* files, size_t count, unsigned char* isFile);

  uint32_t getHash(const char* name) const;
  bool store(std::FILE* stream) const;
  bool read(std::FILE* stream);
  void clearAll() override;

  uint32_t getBucketCount() const { return static_cast<uint32_t>(buckets.size()); }
  // The stored chains as they are, unchecked, for the integrity check: the first entry
  // of a bucket, and the link of an entry to the next of its chain (0 when unreadable).
  uint32_t bucketHead(uint32_t bucket) const { return bucket < buckets.size() ? buckets[bucket] : 0; }
  uint32_t chainLink(uint32_t entry) const {
    const unsigned char* link = entry >= prefixSize ? getPointer(entry - prefixSize, 4) : nullptr;
    return link ? kolvo::loadU32(link) : 0;
  }
  bool isEntry(uint32_t file) const { return file >= headerSize + prefixSize && inUse(file); }
  // Frees the name accelerator and lets go of the mapped pages, for when no name is
  // looked up for a while (a build's link compression and storing): the next lookup
  // or addition builds the accelerator again from the stored chains.
  void releaseAccelerator();
  // The answer of the stored chains alone, without the accelerator.
  uint32_t lookupFileByChain(const char* name, uint32_t parentId) const;

 private:
  uint32_t nextInChain(uint32_t file) const;
  // The same read through the file, for a walk of a table that has no accelerator yet:
  // a chain's links lie all over the table, and a page fault for each would map most
  // of it.
  uint32_t nextInChainRead(uint32_t file) const;
  // Whether file is an entry, told by stepping from the nearest confirmed entry before
  // it; nothing when there is none close enough.
  std::optional<bool> knownFromConfirmed(uint32_t file);
  uint32_t infoField(uint32_t file, uint32_t at) const;
  void setInfoField(uint32_t file, uint32_t at, uint32_t value);
  // Builds the accelerator and the chain tails from the stored chains, and brings the
  // accelerator up to date with the entry added last.
  void ensureIndexed();
  // Takes the tail of every chain, and their count and sum of entries, from the stored
  // chains, unless they are known.
  void ensureTails();
  // Whether the stored chains still answer for the accelerator not built yet: true while
  // the entries the walks visited stay within their share of the table.
  bool walkChainsInstead();
  // The last entry of a bucket's stored chain, 0 for an empty bucket.
  uint32_t chainTail(uint32_t bucket);

  kolvo::BucketArray buckets;
  std::vector<uint32_t> tails;  // last entry of each bucket's chain, once tailsKnown
  bool tailsKnown = false;
  // What the chains hold, entries and the sum of their numbers, once tailsKnown: the
  // accelerator's build checks the table against them.
  uint64_t chained = 0, chainedSum = 0;
  // Additions that walked their bucket's chain for its tail.
  size_t tailWalks = 0;
  kolvo::FileNameIndex names;
  bool indexed = false;
  // The entry added last is entered in the accelerator only when something asks: the
  // walk sets its parent right after adding it, and this spares moving it.
  uint32_t notYetIndexed = 0;
  // Entries known to be entries while there is no accelerator: those a walk of a chain
  // passed, and those found from them. A search asks about the same few files and their
  // folders again and again, and a chain's walk grows with the table, while a step from
  // a known entry to the next stays in the same pages. At most
  // limits::confirmedFileNumbers are kept.
  std::set<uint32_t> confirmed;
  // Every entry from the first up to the last one met, in order, as the last walk of the
  // entries in order met them (empty when it would pass limits::walkedFileNumbers): the
  // folders of a listing are then told by halving rather than by steps from a confirmed
  // entry. Entries are only ever added after the last one, so the list stays true.
  std::vector<uint32_t> walked;
  // Entries visited by chain walks since the table was opened.
  mutable uint64_t chainSteps = 0;
};
