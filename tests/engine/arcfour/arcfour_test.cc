#include "engine/arcfour/arcfour.h"

#include <cstring>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "include/kolvolib.h"

namespace {

using Bytes = std::vector<unsigned char>;

Bytes bytesOf(const std::string& text) { return Bytes(text.begin(), text.end()); }

std::string hexOf(const Bytes& bytes) {
  static const char digits[] = "0123456789ABCDEF";
  std::string hex;
  for (unsigned char b : bytes) {
    hex += digits[b >> 4];
    hex += digits[b & 15];
  }
  return hex;
}

Bytes arcfour(const Bytes& key, const Bytes& in) {
  Bytes out(in.size());
  CArcfour cipher(key.data(), key.size());
  cipher.apply(in.data(), out.data(), in.size());
  return out;
}

Bytes encipher(const Bytes& in) {
  Bytes out(in.size() + 10);
  kEncipher(in.data(), static_cast<int>(in.size()), out.data());
  return out;
}

TEST(Arcfour, PublishedVectors) {
  Bytes counting5 = {1, 2, 3, 4, 5};
  Bytes counting32;
  for (int b = 1; b <= 32; ++b) counting32.push_back(static_cast<unsigned char>(b));
  const struct {
    Bytes key;
    Bytes plain;
    const char* cipher;
  } cases[] = {
      {bytesOf("Key"), bytesOf("Plaintext"), "BBF316E8D940AF0AD3"},
      {bytesOf("Wiki"), bytesOf("pedia"), "1021BF0420"},
      {bytesOf("Secret"), bytesOf("Attack at dawn"), "45A01F645FC35B383552544B9BF5"},
      // The first keystream bytes of the 40-bit and 256-bit keys of RFC 6229.
      {counting5, Bytes(16, 0), "B2396305F03DC027CCC3524A0A1118A8"},
      {counting32, Bytes(16, 0), "EAA6BD25880BF93D3F5D1E4CA2611D91"},
  };
  for (const auto& c : cases) EXPECT_EQ(hexOf(arcfour(c.key, c.plain)), c.cipher);
}

TEST(Arcfour, ApplyingTwiceRestoresAndChunksContinueTheStream) {
  Bytes key = bytesOf("a key of some length");
  Bytes plain = bytesOf("The quick brown fox jumps over the lazy dog");
  Bytes whole = arcfour(key, plain);
  EXPECT_EQ(arcfour(key, whole), plain);

  Bytes pieces(plain.size());
  CArcfour cipher(key.data(), key.size());
  cipher.apply(plain.data(), pieces.data(), 7);
  cipher.apply(plain.data() + 7, pieces.data() + 7, plain.size() - 7);
  EXPECT_EQ(pieces, whole);
}

TEST(Arcfour, KeyScheduleUsesEveryByteOfALongKey) {
  Bytes key(90);
  for (std::size_t k = 0; k < key.size(); ++k) key[k] = static_cast<unsigned char>(k * 7 + 3);
  Bytes zeros(32, 0);
  Bytes stream = arcfour(key, zeros);
  for (std::size_t k : {std::size_t{0}, std::size_t{63}, std::size_t{80}, std::size_t{89}}) {
    Bytes changed = key;
    changed[k] ^= 0x01;
    EXPECT_NE(arcfour(changed, zeros), stream) << "key byte " << k;
  }
}

TEST(Encipher, RoundTripsAtManyLengths) {
  for (std::size_t length : {0u, 1u, 5u, 10u, 11u, 255u, 256u, 1000u}) {
    Bytes plain(length);
    for (std::size_t k = 0; k < length; ++k) plain[k] = static_cast<unsigned char>(k * 31 + 7);
    Bytes sealed = encipher(plain);
    Bytes opened(length);
    kDecipher(sealed.data(), static_cast<int>(sealed.size()), opened.data());
    EXPECT_EQ(opened, plain) << length;
  }
}

TEST(Encipher, FiveBytesGiveFifteenWithTheSameSaltEveryTime) {
  Bytes plain = bytesOf("hello");
  Bytes first(15 + 8, 0xEE), second(15 + 8, 0xEE), other(15 + 8, 0xEE);
  kEncipher(plain.data(), 5, first.data());
  kEncipher(plain.data(), 5, second.data());
  Bytes otherPlain = bytesOf("world");
  kEncipher(otherPlain.data(), 5, other.data());
  for (std::size_t k = 15; k < first.size(); ++k) EXPECT_EQ(first[k], 0xEE) << "wrote beyond 15 bytes";
  EXPECT_EQ(first, second);
  EXPECT_TRUE(std::equal(first.begin(), first.begin() + 10, other.begin()));
  EXPECT_NE(Bytes(first.begin() + 10, first.begin() + 15), plain);

  Bytes opened(5 + 8, 0xEE);
  kDecipher(first.data(), 15, opened.data());
  EXPECT_EQ(Bytes(opened.begin(), opened.begin() + 5), plain);
  for (std::size_t k = 5; k < opened.size(); ++k) EXPECT_EQ(opened[k], 0xEE) << "wrote beyond 5 bytes";
}

TEST(Encipher, OneKeystreamUnderTheFixedSalt) {
  Bytes a = bytesOf("first text, twenty..");
  Bytes b = bytesOf("other bytes entirely");
  Bytes sealedA = encipher(a), sealedB = encipher(b);
  for (std::size_t k = 0; k < a.size(); ++k)
    EXPECT_EQ(sealedA[10 + k] ^ a[k], sealedB[10 + k] ^ b[k]) << k;
}

TEST(Decipher, TakesTheSaltFromItsInput) {
  Bytes plain = bytesOf("secret password");
  Bytes sealed = encipher(plain);
  sealed[3] ^= 0x40;
  Bytes opened(plain.size());
  kDecipher(sealed.data(), static_cast<int>(sealed.size()), opened.data());
  EXPECT_NE(opened, plain);
}

TEST(Decipher, WorksInPlace) {
  Bytes plain = bytesOf("in place");
  Bytes block = encipher(plain);
  kDecipher(block.data(), static_cast<int>(block.size()), block.data());
  EXPECT_EQ(Bytes(block.begin(), block.begin() + plain.size()), plain);
}

TEST(Encipher, ShortAndNegativeLengthsWriteNothing) {
  Bytes out(32, 0xEE);
  Bytes in(32, 0x11);
  kEncipher(in.data(), -1, out.data());
  EXPECT_EQ(out, Bytes(32, 0xEE));
  for (int length : {-5, 0, 1, 9}) {
    kDecipher(in.data(), length, out.data());
    EXPECT_EQ(out, Bytes(32, 0xEE)) << length;
  }
  kDecipher(nullptr, 20, out.data());
  kEncipher(nullptr, 5, out.data());
  EXPECT_EQ(out, Bytes(32, 0xEE));

  // Length 0 still writes the salt and nothing else.
  kEncipher(nullptr, 0, out.data());
  EXPECT_TRUE(std::equal(out.begin(), out.begin() + 10, encipher(Bytes{}).begin()));
  for (std::size_t k = 10; k < out.size(); ++k) EXPECT_EQ(out[k], 0xEE);
}

}  // namespace
