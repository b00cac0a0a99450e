#include "engine/storage/hash_stream.h"

#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <bit>

#include "engine/filememory/le_fields.h"
#include "engine/index/resource_limits.h"

namespace kolvo {

bool writeU32(std::FILE* stream, uint32_t value) {
  unsigned char bytes[4];
  storeU32(bytes, value);
  return std::fwrite(bytes, 1, sizeof bytes, stream) == sizeof bytes;
}

bool readU32(std::FILE* stream, uint32_t& value) {
  unsigned char bytes[4];
  if (std::fread(bytes, 1, sizeof bytes, stream) != sizeof bytes) return false;
  value = loadU32(bytes);
  return true;
}

bool writeByte(std::FILE* stream, uint8_t value) { return std::fputc(value, stream) != EOF; }

bool readByte(std::FILE* stream, uint8_t& value) {
  int c = std::fgetc(stream);
  if (c == EOF) return false;
  value = static_cast<uint8_t>(c);
  return true;
}

BucketArray::Mapping::~Mapping() {
  if (address) munmap(address, length);
}

void BucketArray::assign(size_t count, uint32_t value) {
  mapping.reset();
  stored = nullptr;
  storedCount = 0;
  owned.assign(count, value);
}

void BucketArray::own() {
  if (!stored) return;
  std::vector<uint32_t, HugePageAllocator<uint32_t>> copy(storedCount);
  for (size_t bucket = 0; bucket < storedCount; ++bucket) copy[bucket] = loadU32(stored + bucket * 4);
  owned = std::move(copy);
  mapping.reset();
  stored = nullptr;
  storedCount = 0;
}

bool writeHashEntries(std::FILE* stream, const BucketArray& buckets) {
  if (!writeU32(stream, bucketTag) || !writeU32(stream, static_cast<uint32_t>(buckets.size()))) return false;
  std::vector<unsigned char> bytes(buckets.size() * 4);
  for (size_t i = 0; i < buckets.size(); ++i) storeU32(&bytes[i * 4], buckets[i]);
  return std::fwrite(bytes.data(), 1, bytes.size(), stream) == bytes.size();
}

namespace {

// Bytes left between the stream's position and its end, or -1 when it cannot tell.
long long bytesLeft(std::FILE* stream) {
  struct stat status {};
  long position = std::ftell(stream);
  if (position < 0 || fstat(fileno(stream), &status) != 0) return -1;
  return static_cast<long long>(status.st_size) - position;
}

// Maps count heads at the stream's position and moves the stream past them; false
// (nothing changed) when the system refuses the mapping.
bool mapHeads(std::FILE* stream, uint32_t count, std::unique_ptr<BucketArray::Mapping>& mapping,
              const unsigned char*& heads) {
  long position = std::ftell(stream);
  long page = sysconf(_SC_PAGESIZE);
  if (position < 0 || page <= 0) return false;
  off_t start = position - position % page;
  size_t length = static_cast<size_t>(position - start) + static_cast<size_t>(count) * 4;
  // Not through the failure seam: a refused mapping is no failure, the heads are read.
  void* at = mmap(nullptr, length, PROT_READ, MAP_PRIVATE, fileno(stream), start);
  if (at == MAP_FAILED) return false;
  auto made = std::make_unique<BucketArray::Mapping>();
  made->address = at;
  made->length = length;
  if (std::fseek(stream, static_cast<long>(count) * 4, SEEK_CUR) != 0) return false;
  heads = static_cast<const unsigned char*>(at) + (position - start);
  mapping = std::move(made);
  return true;
}

}  // namespace

bool readHashEntries(std::FILE* stream, BucketArray& buckets) {
  buckets.clear();
  uint32_t tag = 0, count = 0;
  if (!readU32(stream, tag) || tag != bucketTag || !readU32(stream, count)) return false;
  // The count comes from the file: never allocate or map more than the file holds.
  long long left = bytesLeft(stream);
  if (count == 0 || left < 0 || static_cast<unsigned long long>(count) * 4 > static_cast<unsigned long long>(left))
    return false;
  if (static_cast<uint64_t>(count) * 4 >= limits::mappedBucketBytes &&
      mapHeads(stream, count, buckets.mapping, buckets.stored)) {
    buckets.storedCount = count;
    return true;
  }
  // A small array is read straight into its place, in one call; on a little-endian
  // machine the stored words are already the numbers.
  buckets.owned.resize(count);
  auto* bytes = reinterpret_cast<unsigned char*>(buckets.owned.data());
  if (std::fread(bytes, 4, count, stream) != count) {
    buckets.clear();
    return false;
  }
  if constexpr (std::endian::native != std::endian::little)
    for (uint32_t i = 0; i < count; ++i) buckets.owned[i] = loadU32(bytes + static_cast<size_t>(i) * 4);
  return true;
}

}  // namespace kolvo
