#include "engine/storage/hash_stream.h"

#include <sys/stat.h>

#include <bit>

#include "engine/filememory/le_fields.h"

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

}  // namespace

bool readHashEntries(std::FILE* stream, BucketArray& buckets) {
  buckets.clear();
  uint32_t tag = 0, count = 0;
  if (!readU32(stream, tag) || tag != bucketTag || !readU32(stream, count)) return false;
  // The count comes from the file: never allocate more than the file can hold.
  long long left = bytesLeft(stream);
  if (count == 0 || left < 0 || static_cast<unsigned long long>(count) * 4 > static_cast<unsigned long long>(left))
    return false;
  // The array is read straight into its place, in one call; on a little-endian machine
  // the stored words are already the numbers.
  buckets.resize(count);
  auto* bytes = reinterpret_cast<unsigned char*>(buckets.data());
  if (std::fread(bytes, 4, count, stream) != count) {
    buckets.clear();
    return false;
  }
  if constexpr (std::endian::native != std::endian::little)
    for (uint32_t i = 0; i < count; ++i) buckets[i] = loadU32(bytes + static_cast<size_t>(i) * 4);
  return true;
}

}  // namespace kolvo
