// The block scan finds the words of 64 bytes from a mask of word bytes: a word begins
// where a word byte follows a byte that is none. Words no term may match are only
// counted; the others are read to their end, which may lie past the block, and taken.
// The byte sets are tested 32 bytes at a time with two shuffles by the low four bits of
// each byte, one for each half of the byte values.
#include "engine/index/plain_scan.h"

#if defined(__x86_64__) && defined(__GNUC__)
#include <immintrin.h>
#define KOLVO_PLAIN_SCAN_AVX2 1
#endif

#include <bit>
#include <cstring>

namespace kolvo {

PlainScan::PlainScan(const Mask& start, const Mask& part, const Mask& plain, const HitScan& scan) {
  runsAreWords = true;
  for (int c = 0; c < 256; ++c) {
    bool word = start[c] || part[c];
    bool match = word && scan.mayBegin(static_cast<unsigned char>(c));
    classes[c] = static_cast<unsigned char>((start[c] ? startsWord : 0) | (part[c] ? continuesWord : 0) |
                                            (plain[c] ? plainByte : 0) | (match ? mayMatch : 0));
    if (start[c] != part[c]) runsAreWords = false;
    // A word byte is always plain unless no byte is: the block scan counts on it.
    if (word && !plain[c]) runsAreWords = false;
    const bool inSet[3] = {word, !plain[c], match};
    for (int set = 0; set < 3; ++set)
      if (inSet[set]) nibbleSets[static_cast<size_t>(set * 2 + c / 128)][c & 15] |= static_cast<unsigned char>(1u << ((c >> 4) & 7));
  }
#ifdef KOLVO_PLAIN_SCAN_AVX2
  wide = runsAreWords && __builtin_cpu_supports("avx2") && __builtin_cpu_supports("popcnt") &&
         __builtin_cpu_supports("bmi");
#endif
}

PlainScan::Verdict PlainScan::run(HitScan& scan, const char* text, size_t size) const {
  return wide ? runBlocks(scan, text, size) : runBytes(scan, text, size);
}

PlainScan::Verdict PlainScan::runBytes(HitScan& scan, const char* text, size_t size) const {
  auto kind = [&](size_t at) { return classes[static_cast<unsigned char>(text[at])]; };
  size_t at = 0;
  bool holds = false;
  while (at < size && !holds) {
    unsigned char k = kind(at);
    if (!(k & plainByte)) return Verdict::notPlain;
    if (!(k & startsWord)) {
      ++at;
      continue;
    }
    // Word bytes are all plain; the byte that ends the word is looked at above.
    size_t begin = at++;
    while (at < size && (kind(at) & continuesWord)) ++at;
    holds = scan.take(text + begin, at - begin);
  }
  for (; at < size; ++at)
    if (!(kind(at) & plainByte)) return Verdict::notPlain;
  return holds ? Verdict::holds : Verdict::lacks;
}

#ifdef KOLVO_PLAIN_SCAN_AVX2
namespace {

__attribute__((target("avx2"))) uint32_t membersOf(__m256i bytes, __m256i lowTable, __m256i highTable, __m256i bit) {
  // A shuffle index with its top bit set gives 0: the low table answers for bytes below
  // 128, the high one (indexed by the byte with its top bit flipped) for the rest.
  __m256i low = _mm256_shuffle_epi8(lowTable, bytes);
  __m256i high = _mm256_shuffle_epi8(highTable, _mm256_xor_si256(bytes, _mm256_set1_epi8(static_cast<char>(0x80))));
  __m256i hit = _mm256_and_si256(_mm256_or_si256(low, high), bit);
  return ~static_cast<uint32_t>(_mm256_movemask_epi8(_mm256_cmpeq_epi8(hit, _mm256_setzero_si256())));
}

__attribute__((target("avx2"))) __m256i tableOf(const std::array<unsigned char, 16>& table) {
  __m128i half;
  std::memcpy(&half, table.data(), 16);
  return _mm256_broadcastsi128_si256(half);
}

}  // namespace

__attribute__((target("avx2"))) PlainScan::Bits PlainScan::classify(const char* text, size_t size) const {
  alignas(32) char padded[64];
  const char* from = text;
  if (size < 64) {
    // Past the end: NUL, counted below as a plain separator.
    std::memset(padded, 0, sizeof padded);
    std::memcpy(padded, text, size);
    from = padded;
  }
  // The bit of each byte's high half, within its half of the byte values.
  const __m256i bits = _mm256_setr_epi8(1, 2, 4, 8, 16, 32, 64, -128, 1, 2, 4, 8, 16, 32, 64, -128, 1, 2, 4, 8, 16, 32,
                                        64, -128, 1, 2, 4, 8, 16, 32, 64, -128);
  uint64_t found[3] = {0, 0, 0};
  for (int half = 0; half < 2; ++half) {
    __m256i bytes = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(from + 32 * half));
    __m256i high = _mm256_and_si256(_mm256_srli_epi16(bytes, 4), _mm256_set1_epi8(15));
    __m256i bit = _mm256_shuffle_epi8(bits, high);
    for (size_t set = 0; set < 3; ++set) {
      uint32_t members = membersOf(bytes, tableOf(nibbleSets[set * 2]), tableOf(nibbleSets[set * 2 + 1]), bit);
      found[set] |= uint64_t{members} << (32 * half);
    }
  }
  uint64_t real = size < 64 ? (uint64_t{1} << size) - 1 : ~uint64_t{0};
  return Bits{found[0] & real, found[1] & real, found[2] & real};
}

__attribute__((target("avx2,popcnt,bmi"))) PlainScan::Verdict PlainScan::runBlocks(HitScan& scan, const char* text,
                                                                                 size_t size) const {
  bool holds = false;
  uint64_t carry = 0;  // the byte before the block is a word byte
  for (size_t block = 0; block < size; block += 64) {
    Bits bits = classify(text + block, size - block);
    if (bits.notPlain) return Verdict::notPlain;
    if (holds) continue;
    uint64_t starts = bits.word & ~((bits.word << 1) | carry);
    carry = bits.word >> 63;
    uint64_t candidates = starts & bits.mayMatch;
    while (candidates && !holds) {
      int at = std::countr_zero(candidates);
      uint64_t before = (uint64_t{1} << at) - 1;
      scan.skip(static_cast<uint64_t>(std::popcount(starts & before)));
      starts &= ~before & ~(uint64_t{1} << at);
      candidates &= candidates - 1;
      size_t begin = block + static_cast<size_t>(at), end = begin + 1;
      while (end < size && (classes[static_cast<unsigned char>(text[end])] & continuesWord)) ++end;
      holds = scan.take(text + begin, end - begin);
    }
    if (!holds) scan.skip(static_cast<uint64_t>(std::popcount(starts)));
  }
  return holds ? Verdict::holds : Verdict::lacks;
}
#else
PlainScan::Bits PlainScan::classify(const char*, size_t) const { return Bits{0, 0, 0}; }
PlainScan::Verdict PlainScan::runBlocks(HitScan& scan, const char* text, size_t size) const {
  return runBytes(scan, text, size);
}
#endif

}  // namespace kolvo
