// The PCRE2 wrapper: searching, groups, replacing all and first, options and errors.
#include "app/platform/regex.h"

#include <gtest/gtest.h>

namespace {

struct ReplaceCase {
  const char* pattern;
  const char* text;
  const char* replacement;
  const char* all;
  const char* first;
};

const ReplaceCase kReplaceCases[] = {
    // Non-overlapping matches from left to right: in "a;b;c" the second ';' is not between two fresh characters.
    {"([^;]);([^;])", "a;b;c", "$1\n$2", "a\nb;c", "a\nb;c"},
    {"([^;]);([^;])", "cd x;find y;ls", "$1\n$2", "cd x\nfind y\nls", "cd x\nfind y;ls"},
    {"([^;]);([^;])", "a;;b", "$1\n$2", "a;;b", "a;;b"},
    {";;", "a;;b;;c", ";", "a;b;c", "a;b;;c"},
    {"(build_)(\\d+)", "build_12", "$2", "12", "12"},
    {"x", "", "y", "", ""},
    {"o", "foo", "$$", "f$$", "f$o"},
    {"(a)|(b)", "ab", "[$2]", "[][b]", "[]b"},
};

TEST(QvRegex, ReplacesFromTable) {
  for (const auto& row : kReplaceCases) {
    QvRegex regex(row.pattern);
    EXPECT_EQ(regex.replaceAll(row.text, row.replacement), row.all) << row.pattern << " on " << row.text;
    EXPECT_EQ(regex.replaceFirst(row.text, row.replacement), row.first) << row.pattern << " on " << row.text;
  }
}

TEST(QvRegex, ReplacementLongerThanAnyGuessGrows) {
  std::string text(1000, 'a');
  std::string expected;
  for (int i = 0; i < 1000; ++i) expected += "<aaaa>";
  EXPECT_EQ(QvRegex("(a)").replaceAll(text, "<$1$1$1$1>"), expected);
}

TEST(QvRegex, SearchGivesGroupsAndPositions) {
  QvRegex regex("(\\d+)-(x)?(\\w+)");
  std::string text = "id 42-abc end";
  auto match = regex.search(text);
  ASSERT_TRUE(match.has_value());
  EXPECT_EQ(match->group(), "42-abc");
  EXPECT_EQ(match->start(), 3u);
  EXPECT_EQ(match->end(), 9u);
  EXPECT_EQ(match->group(1), "42");
  EXPECT_FALSE(match->hasGroup(2));
  EXPECT_EQ(match->group(2), "");
  EXPECT_EQ(match->group(3), "abc");
  EXPECT_FALSE(regex.search(text, 4).has_value() && regex.search(text, 4)->group(1) == "42");
  EXPECT_FALSE(regex.search(text, 100).has_value());
  EXPECT_FALSE(QvRegex("z").search("").has_value());
}

TEST(QvRegex, OptionsAndBytes) {
  EXPECT_FALSE(QvRegex("abc").foundIn("xABCx"));
  EXPECT_TRUE(QvRegex("abc", QvRegex::kCaseless).foundIn("xABCx"));
  EXPECT_FALSE(QvRegex("^b").foundIn("a\nb"));
  EXPECT_TRUE(QvRegex("^b", QvRegex::kMultiline).foundIn("a\nb"));
  EXPECT_TRUE(QvRegex("a.b", QvRegex::kDotAll).foundIn("a\nb"));
  // Latin-1 bytes are plain bytes, not broken UTF-8.
  EXPECT_TRUE(QvRegex("caf.").foundIn("caf\xe9"));
  std::string withNul("a\0b", 3);
  EXPECT_TRUE(QvRegex("a.b").foundIn(withNul));
}

TEST(QvRegex, BadPatternRaisesWithItsText) {
  try {
    QvRegex broken("ab(c");
    FAIL() << "no error for an unclosed group";
  } catch (const QvRegexError& error) {
    EXPECT_NE(std::string(error.what()).find("ab(c"), std::string::npos);
  }
}

TEST(QvRegex, MovesKeepThePattern) {
  QvRegex first("b+");
  QvRegex second = std::move(first);
  EXPECT_EQ(second.pattern(), "b+");
  EXPECT_EQ(second.replaceAll("abbbc", "-"), "a-c");
}

}  // namespace
