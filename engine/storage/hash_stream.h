// Reading and writing the "hash" file, where each table keeps what its backing file
// does not: tags, counts and the bucket array, as little-endian u32 words.
#pragma once

#include <cstdint>
#include <cstdio>
#include <memory>
#include <vector>

#include "engine/filememory/le_fields.h"
#include "engine/storage/huge_page_allocator.h"

namespace kolvo {

// Tags that open the sections of "hash".
inline constexpr uint32_t bucketTag = 12340001;
inline constexpr uint32_t wordTableTag = 12350001;
inline constexpr uint32_t linksTag = 12360001;
// A links section that also holds the table's extent: its build appended to a file
// that earlier builds share, so the file's header does not describe it.
inline constexpr uint32_t linksExtentTag = 12360002;
inline constexpr uint32_t fileTableTag = 12370001;

bool writeU32(std::FILE* stream, uint32_t value);
bool readU32(std::FILE* stream, uint32_t& value);
bool writeByte(std::FILE* stream, uint8_t value);
bool readByte(std::FILE* stream, uint8_t& value);

// The bucket heads of a table. A large array read from "hash" is mapped there rather
// than read: opening an index then costs nothing for the buckets a search never looks
// at, however many words the index holds. The first change copies the array into
// memory of its own (huge pages, which lookups hit at random); "hash" itself is always
// replaced whole, never written in place, so a mapped array stays as it was read.
class BucketArray {
 public:
  BucketArray() = default;
  BucketArray(size_t count, uint32_t value) : owned(count, value) {}
  BucketArray(const BucketArray&) = delete;
  BucketArray& operator=(const BucketArray&) = delete;

  size_t size() const { return stored ? storedCount : owned.size(); }
  uint32_t operator[](size_t bucket) const {
    return stored ? loadU32(stored + bucket * 4) : owned[bucket];
  }
  // The head of bucket, to be changed; a mapped array is copied first.
  uint32_t& writable(size_t bucket) {
    own();
    return owned[bucket];
  }
  void assign(size_t count, uint32_t value);
  void clear() { assign(0, 0); }
  // Where the head of bucket lies, for prefetching.
  const void* address(size_t bucket) const {
    return stored ? static_cast<const void*>(stored + bucket * 4) : &owned[bucket];
  }
  // Whether the heads are read from a mapping of "hash" (for tests).
  bool isMapped() const { return stored != nullptr; }

  // A mapped region of "hash", unmapped with the array.
  struct Mapping {
    void* address = nullptr;
    size_t length = 0;
    ~Mapping();
  };

 private:
  friend bool readHashEntries(std::FILE* stream, BucketArray& buckets);
  void own();

  std::vector<uint32_t, HugePageAllocator<uint32_t>> owned;
  std::unique_ptr<Mapping> mapping;
  const unsigned char* stored = nullptr;  // little-endian u32 heads inside mapping
  size_t storedCount = 0;
};

// A bucket block: the tag, the count, the bucket heads.
bool writeHashEntries(std::FILE* stream, const BucketArray& buckets);
// Reads a bucket block into buckets, or maps it when it is large; on a wrong tag, a
// short read or a count larger than what is left of the stream, leaves buckets empty
// and returns false.
bool readHashEntries(std::FILE* stream, BucketArray& buckets);

}  // namespace kolvo
