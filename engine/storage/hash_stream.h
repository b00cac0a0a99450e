// Reading and writing the "hash" file, where each table keeps what its backing file
// does not: tags, counts and the bucket array, as little-endian u32 words.
#pragma once

#include <cstdint>
#include <cstdio>
#include <vector>

#include "engine/storage/huge_page_allocator.h"

namespace kolvo {

// Tags that open the sections of "hash".
inline constexpr uint32_t bucketTag = 12340001;
inline constexpr uint32_t wordTableTag = 12350001;
inline constexpr uint32_t linksTag = 12360001;
inline constexpr uint32_t fileTableTag = 12370001;

bool writeU32(std::FILE* stream, uint32_t value);
bool readU32(std::FILE* stream, uint32_t& value);
bool writeByte(std::FILE* stream, uint8_t value);
bool readByte(std::FILE* stream, uint8_t& value);

// A bucket block: the tag, the count, the bucket heads.
using BucketArray = std::vector<uint32_t, HugePageAllocator<uint32_t>>;
bool writeHashEntries(std::FILE* stream, const BucketArray& buckets);
// Reads a bucket block into buckets; on a wrong tag, a short read or a count larger
// than what is left of the stream, leaves buckets empty and returns false.
bool readHashEntries(std::FILE* stream, BucketArray& buckets);

}  // namespace kolvo
