#include "engine/arcfour/hex_digits.h"

#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "include/kolvolib.h"

namespace {

using Bytes = std::vector<unsigned char>;

std::string toHex(const Bytes& in) {
  std::string out(2 * in.size() + 1, '#');
  convertToHex(static_cast<int>(in.size()), in.data(), out.data());
  return out;
}

Bytes fromHex(const char* hex, int n) {
  Bytes out(static_cast<std::size_t>(n) + 4, 0xEE);
  convertFromHex(hex, n, out.data());
  return out;
}

TEST(Hex, ToHexIsUpperCaseHighNibbleFirstWithNul) {
  const struct {
    Bytes in;
    const char* hex;
  } cases[] = {
      {{0x00, 0xAB}, "00AB"},
      {{0x0F}, "0F"},
      {{0xF0, 0x12, 0x9C, 0xFF}, "F0129CFF"},
  };
  for (const auto& c : cases) {
    std::string out = toHex(c.in);
    EXPECT_EQ(out, std::string(c.hex) + '\0') << c.hex;
  }
}

TEST(Hex, ToHexOfNothingWritesNothing) {
  char out[4] = {'#', '#', '#', '#'};
  unsigned char in[1] = {0xAB};
  convertToHex(0, in, out);
  convertToHex(-3, in, out);
  EXPECT_EQ(std::string(out, 4), "####");
}

TEST(Hex, FromHexAcceptsEitherCase) {
  for (const char* hex : {"00AB", "00ab", "00aB"}) {
    Bytes out = fromHex(hex, 2);
    EXPECT_EQ(out, (Bytes{0x00, 0xAB, 0xEE, 0xEE, 0xEE, 0xEE})) << hex;
  }
}

TEST(Hex, EveryByteRoundTrips) {
  Bytes all(256);
  for (int b = 0; b < 256; ++b) all[b] = static_cast<unsigned char>(b);
  std::string hex = toHex(all);
  Bytes back(256);
  convertFromHex(hex.c_str(), 256, back.data());
  EXPECT_EQ(back, all);
}

TEST(Hex, BadDigitsAndShortTextsZeroTheRest) {
  const struct {
    const char* hex;
    int n;
    Bytes expected;
  } cases[] = {
      {"12G456", 3, {0x12, 0x00, 0x00}},     // 'G' is no digit
      {"1234", 3, {0x12, 0x34, 0x00}},       // the text ends early
      {"1", 2, {0x00, 0x00}},                // one digit only: the NUL is not passed
      {"", 1, {0x00}},
      {" 1ab", 2, {0x00, 0x00}},             // no blank is skipped
      {"0x12", 1, {0x00}},
  };
  for (const auto& c : cases) {
    Bytes out = fromHex(c.hex, c.n);
    Bytes expected = c.expected;
    expected.insert(expected.end(), 4, 0xEE);
    EXPECT_EQ(out, expected) << c.hex;
  }
  Bytes out = fromHex(nullptr, 2);
  EXPECT_EQ(out, (Bytes{0x00, 0x00, 0xEE, 0xEE, 0xEE, 0xEE}));
  out = fromHex("AB", 0);
  EXPECT_EQ(out, Bytes(4, 0xEE));
}

TEST(Hex, SingleByteSteps) {
  char two[3] = {'#', '#', '#'};
  tohex(0x5E, two);
  EXPECT_EQ(std::string(two, 3), "5E#");
  tohex(0x0A, two);
  EXPECT_EQ(std::string(two, 2), "0A");
  EXPECT_EQ(fromhex("5e"), 0x5E);
  EXPECT_EQ(fromhex("C3"), 0xC3);
  EXPECT_EQ(fromhex("Z3"), 0x00);
  EXPECT_EQ(fromhex("3Z"), 0x00);
  EXPECT_EQ(fromhex("7"), 0x00);
  EXPECT_EQ(fromhex(nullptr), 0x00);
}

TEST(Hex, DecodedCountTellsWhereDecodingStopped) {
  unsigned char out[3];
  EXPECT_EQ(kolvo::hexToBytes("a1b2c3", 3, out), 3u);
  EXPECT_EQ(kolvo::hexToBytes("a1b-c3", 3, out), 1u);
  EXPECT_EQ(kolvo::hexToBytes("", 3, out), 0u);
}

}  // namespace
