// Stored integers: every field of a backing file or of "hash" is little-endian and may
// sit at any offset. They are read and written only through these helpers, which copy
// bytes and never cast a pointer, so unaligned fields are safe on every processor.
#pragma once

#include <bit>
#include <cstdint>
#include <cstring>

namespace kolvo {

static_assert(std::endian::native == std::endian::little,
              "the stored tables are the bytes in memory: kolvo runs on little-endian machines");

inline uint32_t loadU32(const void* at) {
  uint32_t value;
  std::memcpy(&value, at, sizeof value);
  return value;
}
inline void storeU32(void* at, uint32_t value) { std::memcpy(at, &value, sizeof value); }

inline int32_t loadI32(const void* at) {
  int32_t value;
  std::memcpy(&value, at, sizeof value);
  return value;
}
inline void storeI32(void* at, int32_t value) { std::memcpy(at, &value, sizeof value); }

inline uint64_t loadU64(const void* at) {
  uint64_t value;
  std::memcpy(&value, at, sizeof value);
  return value;
}
inline void storeU64(void* at, uint64_t value) { std::memcpy(at, &value, sizeof value); }

inline uint16_t loadU16(const void* at) {
  uint16_t value;
  std::memcpy(&value, at, sizeof value);
  return value;
}
inline void storeU16(void* at, uint16_t value) { std::memcpy(at, &value, sizeof value); }

}  // namespace kolvo
