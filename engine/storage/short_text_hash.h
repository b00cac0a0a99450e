// A fast hash of short byte strings for the in-memory tables of indexing (the word
// batch of a chunk, the word table's accelerator): it reads eight bytes at a time and
// never past the string's end. Nothing stored on disk depends on it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>

namespace kolvo {

inline uint64_t load64(const unsigned char* at) {
  uint64_t value;
  std::memcpy(&value, at, 8);
  return value;
}

inline uint64_t load32(const unsigned char* at) {
  uint32_t value;
  std::memcpy(&value, at, 4);
  return value;
}

inline uint64_t mixHash(uint64_t a, uint64_t b) {
  __uint128_t product = static_cast<__uint128_t>(a ^ 0x9e3779b97f4a7c15ull) * (b ^ 0xd6e8feb86659fd93ull);
  return static_cast<uint64_t>(product) ^ static_cast<uint64_t>(product >> 64);
}

inline uint32_t shortTextHash(const void* data, size_t length) {
  auto p = static_cast<const unsigned char*>(data);
  uint64_t a = 0, b = 0;
  if (length >= 8) {
    uint64_t h = length;
    size_t at = 0;
    for (; at + 8 < length; at += 8) h = mixHash(h, load64(p + at));
    a = h;
    b = load64(p + length - 8);
  } else if (length >= 4) {
    a = load32(p);
    b = load32(p + length - 4);
  } else if (length > 0) {
    a = (uint64_t{p[0]} << 16) | (uint64_t{p[length / 2]} << 8) | p[length - 1];
  }
  uint64_t h = mixHash(a ^ length, b);
  return static_cast<uint32_t>(h ^ (h >> 32));
}

}  // namespace kolvo
