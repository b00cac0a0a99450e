#include "engine/analyzers/charset_tables.h"

#include <iconv.h>

#include <optional>
#include <set>
#include <string>

#include <gtest/gtest.h>

namespace {

// The bytes that map to 0xFF, besides the one whose own code is 0xFF.
const std::set<int> macRomanNone = {0xAD, 0xB0, 0xB2, 0xB3, 0xB6, 0xB7, 0xB8, 0xB9, 0xBA, 0xBD,
                                    0xC3, 0xC4, 0xC5, 0xC6, 0xD7, 0xDA, 0xDE, 0xDF, 0xF0, 0xF5,
                                    0xF6, 0xF7, 0xF9, 0xFA, 0xFB, 0xFD, 0xFE, 0xFF};
const std::set<int> dosOemNone = {0x9F, 0xB0, 0xB1, 0xB2, 0xB3, 0xB4, 0xB9, 0xBA, 0xBB, 0xBC, 0xBF,
                                  0xC0, 0xC1, 0xC2, 0xC3, 0xC4, 0xC5, 0xC8, 0xC9, 0xCA, 0xCB, 0xCC,
                                  0xCD, 0xCE, 0xD5, 0xD9, 0xDA, 0xDB, 0xDC, 0xDF, 0xF2, 0xFE};
// Mac Roman characters Windows-1252 has but the table still drops: florin, circumflex, tilde.
const std::set<int> macRomanDroppedAnyway = {0xC4, 0xF6, 0xF7};

// The published mapping of one byte, as glibc's iconv has it; nothing when the target
// set lacks the character.
class Converter {
 public:
  Converter(const char* from, const char* to) : handle(iconv_open(to, from)) {}
  ~Converter() {
    if (ok()) iconv_close(handle);
  }
  Converter(const Converter&) = delete;
  Converter& operator=(const Converter&) = delete;

  bool ok() const { return handle != reinterpret_cast<iconv_t>(-1); }

  std::optional<unsigned char> map(int byte) {
    char in = static_cast<char>(byte);
    char out[8];
    char* inAt = &in;
    char* outAt = out;
    std::size_t inLeft = 1, outLeft = sizeof out;
    iconv(handle, nullptr, nullptr, nullptr, nullptr);
    if (iconv(handle, &inAt, &inLeft, &outAt, &outLeft) == static_cast<std::size_t>(-1)) return std::nullopt;
    if (outLeft != sizeof out - 1) return std::nullopt;
    return static_cast<unsigned char>(out[0]);
  }

 private:
  iconv_t handle;
};

struct Charset {
  const char* name;
  const kolvo::CharsetTable& table;
  const char* iconvFrom;
  const char* iconvTo;
  const std::set<int>& none;
  const std::set<int>& droppedAnyway;
  int ownCodeFF;  // the byte whose character is 0xFF in the target set
};

const std::set<int> noBytes;

const Charset charsets[] = {
    {"Mac Roman", kolvo::macRomanTable(), "MACINTOSH", "WINDOWS-1252", macRomanNone, macRomanDroppedAnyway, 0xD8},
    {"DOS OEM", kolvo::dosOemTable(), "CP850", "ISO-8859-1", dosOemNone, noBytes, 0x98},
};

TEST(CharsetTables, AsciiMapsToItself) {
  for (const Charset& set : charsets)
    for (int b = 0; b < 0x80; ++b) EXPECT_EQ(set.table[b], b) << set.name << " " << b;
}

TEST(CharsetTables, ExactlyTheListedBytesMapToFF) {
  for (const Charset& set : charsets) {
    for (int b = 0x80; b < 0x100; ++b) {
      bool listed = set.none.count(b) != 0 || b == set.ownCodeFF;
      EXPECT_EQ(set.table[b] == 0xFF, listed) << set.name << " byte " << std::hex << b;
    }
  }
}

TEST(CharsetTables, MacRomanCapitalOELigatureIsBC) { EXPECT_EQ(kolvo::macRomanTable()[0xCE], 0xBC); }

TEST(CharsetTables, EveryOtherHighByteFollowsThePublishedMapping) {
  for (const Charset& set : charsets) {
    Converter iconv(set.iconvFrom, set.iconvTo);
    ASSERT_TRUE(iconv.ok()) << set.iconvFrom << " to " << set.iconvTo;
    for (int b = 0x80; b < 0x100; ++b) {
      if (set.none.count(b) != 0 || (&set.table == &kolvo::macRomanTable() && b == 0xCE)) continue;
      std::optional<unsigned char> published = iconv.map(b);
      ASSERT_TRUE(published.has_value()) << set.name << " byte " << std::hex << b;
      EXPECT_EQ(set.table[b], *published) << set.name << " byte " << std::hex << b;
    }
  }
}

// The list is what the target set lacks, plus the characters dropped on purpose.
TEST(CharsetTables, TheListIsWhatTheTargetSetLacks) {
  for (const Charset& set : charsets) {
    Converter iconv(set.iconvFrom, set.iconvTo);
    ASSERT_TRUE(iconv.ok());
    for (int b : set.none) {
      bool dropped = set.droppedAnyway.count(b) != 0;
      EXPECT_EQ(iconv.map(b).has_value(), dropped) << set.name << " byte " << std::hex << b;
    }
  }
}

TEST(CharsetTables, ConvertingAChunkReplacesEveryByte) {
  std::string chunk = "A\xCE\x8E\xD8 z\xF0";
  kolvo::convertThroughTable(kolvo::macRomanTable(), chunk.data(), chunk.size());
  EXPECT_EQ(chunk, "A\xBC\xE9\xFF z\xFF");
  std::string oem = "\x82t\x9F\x98\xE1";
  kolvo::convertThroughTable(kolvo::dosOemTable(), oem.data(), oem.size());
  EXPECT_EQ(oem, "\xE9t\xFF\xFF\xDF");
}

}  // namespace
