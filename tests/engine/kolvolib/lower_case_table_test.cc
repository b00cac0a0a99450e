#include "engine/kolvolib/lower_case_table.h"

#include <gtest/gtest.h>

namespace {

TEST(LowerCaseTable, FoldsAsciiLatin1AndTheOddCases) {
  kolvo::mapLowerCaseChars();
  const struct { unsigned char from, to; } cases[] = {
      {'A', 'a'}, {'Z', 'z'}, {'a', 'a'}, {'0', '0'}, {0x7F, 0x00}, {0x00, 0x00},
      {0xC0, 0xC0}, {0xC1, 0xE1}, {0xC9, 0xE9}, {0xD7, 0xF7}, {0xDE, 0xFE}, {0xDF, 0xDF},
      {0x8A, 0x9A}, {0x8F, 0x9F}, {0x89, 0x89}, {0xA3, 0xB3}, {0xA5, 0xB9}, {0xAF, 0xBF},
      {0xE9, 0xE9}, {0xFF, 0xFF}, {0x40, 0x40}, {0x5B, 0x5B},
  };
  for (auto c : cases) EXPECT_EQ(kolvo::lowerCase(c.from), c.to) << int(c.from);
}

TEST(LowerCaseTable, EveryOtherByteMapsToItself) {
  int changed = 0;
  for (int c = 0; c < 256; ++c)
    if (kolvo::lowerCase(static_cast<unsigned char>(c)) != c) ++changed;
  // 26 ASCII + 30 Latin-1 + 6 + 3 + 0x7F
  EXPECT_EQ(changed, 26 + 30 + 6 + 3 + 1);
}

}  // namespace
