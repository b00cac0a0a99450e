#include "engine/index/name_matching.h"

#include <array>
#include <cstring>
#include <memory>
#include <random>
#include <string>

#include <gtest/gtest.h>

#include "engine/kolvolib/lower_case_table.h"
#include "include/kolvolib.h"

namespace {

using kolvo::lowerCase;

// Every text goes to the matchers in a block of exactly its size, so a read past its
// NUL trips the address sanitizer.
class Exact {
 public:
  explicit Exact(const std::string& text) : block(new char[text.size() + 1]) {
    std::memcpy(block.get(), text.c_str(), text.size() + 1);
  }
  operator const char*() const { return block.get(); }

 private:
  std::unique_ptr<char[]> block;
};

struct Case {
  std::string text;
  std::string pattern;
  bool expected;
};

void PrintTo(const Case& c, std::ostream* out) { *out << "'" << c.text << "' against '" << c.pattern << "'"; }

// ---- The plain recursion, for comparing answers on inputs small enough for it ----

using Text = const unsigned char*;

bool refTermEnd(Text p) {
  while (*p == '*' || *p == '?') ++p;
  while (*p == ' ') ++p;
  return *p == 0 || *p == '|' || *p == '&' || *p == '^' || (*p == '*' && p[1] == 0);
}

bool refTermMismatch(Text p) {
  while (*p == ' ') ++p;
  return *p == '|' || *p == '&' || *p == '^' || (*p == '*' && p[1] == 0);
}

bool refTerm(Text t, Text p) {
  bool invert = false;
  if (*p == '^') {
    invert = true;
    ++p;
    while (*p == ' ') ++p;
  }
  for (;; ++t, ++p) {
    if (*p == '*') {
      if (p[1] != 0)
        for (Text s = t; *s != 0; ++s)
          if (lowerCase(*s) == lowerCase(p[1]) && refTerm(s, p + 1)) return !invert;
      return refTermEnd(p + 1) != invert;
    }
    if (*t == 0) return refTermEnd(p) != invert;
    if (*p == 0) return invert;
    if (*p != '?' && lowerCase(*p) != lowerCase(*t)) return refTermMismatch(p) != invert;
  }
}

bool refWord(Text w, Text p, bool starWild, bool questionWild) {
  auto wild = [&](Text q) { return (*q == '*' && starWild) || (*q == '?' && questionWild); };
  for (;; ++w, ++p) {
    if (*w == 0 || *p == 0) {
      while (wild(p)) ++p;
      return *p == 0 && *w == 0;
    }
    if (*p == '*' && starWild) {
      if (p[1] == 0) return true;
      for (Text s = w; *s != 0; ++s)
        if (*s == p[1] && refWord(s, p + 1, starWild, questionWild)) return true;
      return false;
    }
    if (*p == '?' && questionWild) continue;
    if (*p != *w) return false;
  }
}

Text u(const char* text) { return reinterpret_cast<Text>(text); }

std::string randomString(std::mt19937& random, const std::string& alphabet, int maxLength) {
  std::uniform_int_distribution<int> length(0, maxLength);
  std::uniform_int_distribution<std::size_t> pick(0, alphabet.size() - 1);
  std::string s;
  for (int n = length(random); n > 0; --n) s += alphabet[pick(random)];
  return s;
}

// ---- termMatch ----

class TermMatch : public testing::TestWithParam<Case> {};

TEST_P(TermMatch, Answers) {
  const Case& c = GetParam();
  EXPECT_EQ(kolvo::termMatch(Exact(c.text), Exact(c.pattern)), c.expected);
}

INSTANTIATE_TEST_SUITE_P(Examples, TermMatch, testing::Values(
    Case{"ABC", "abc", true},
    Case{"abc", "ab", false},
    Case{"abc", "abcd", false},
    Case{"ac", "a?c", false},
    Case{"abc", "ab??", true},
    Case{"abcde", "ab??", false},
    Case{"", "*", true},
    Case{"", "", true},
    Case{"a", "", false},
    Case{"abcbc", "a*bc", true},
    Case{"ab", "a**b", false},
    Case{"abc", "a*?c", false},
    Case{"", "*?", true},
    Case{"anything.at-all", "*?", true},
    Case{"abc", "abc*", true},
    // Operators end a term: what follows need not match.
    Case{"abcdef", "abc|x", true},
    Case{"abc", "abc|x", true},
    Case{"x.cpp", "*.c|*.h", true},
    Case{"x.h", "*.c|*.h", false},
    Case{"abd", "^abc", true},
    Case{"abc", "^abc", false},
    Case{"abc", "^  abc", false},
    Case{"abc", " abc", false},
    Case{" abc", " abc", true},
    Case{"abc", "abc ", true},
    Case{"abcd", "abc ", false},
    Case{"abcd", "abc *", true},
    // The pattern's end matches no character, not even one that folds to NUL.
    Case{"a\x7f", "a", false},
    Case{"a\x7f", "a*", true},
    Case{"\x7f", "*", true}));

// ---- fileNameMatch ----

class FileNameMatch : public testing::TestWithParam<Case> {};

TEST_P(FileNameMatch, Answers) {
  const Case& c = GetParam();
  EXPECT_EQ(kolvo::fileNameMatch(Exact(c.text), Exact(c.pattern)), c.expected);
  EXPECT_EQ(kFileNameMatch(Exact(c.text), Exact(c.pattern)), c.expected ? 1 : 0);
}

INSTANTIATE_TEST_SUITE_P(Examples, FileNameMatch, testing::Values(
    Case{"x.h", "*.c|*.h", true},
    Case{"x.c", "*.c|*.h", true},
    Case{"x.cpp", "*.c|*.h", true},
    Case{"x.txt", "*.c|*.h", false},
    Case{"a.txt", "readme | *.txt", true},
    Case{"abc", "x|y|abc", true},
    Case{"abc", "abc&x", false},
    Case{"x.gz", "*.gz&^*.tar.gz", true},
    Case{"x.tar.gz", "*.gz&^*.tar.gz", false},
    Case{"x.tar.gz", "*.gz^*.tar.gz", false},
    Case{"x.gz", "*.gz^*.tar.gz", true},
    Case{"abc", "a|b&c", false},
    Case{"xc", "a*&*b|*c", true},
    // Strictly left to right: (a and b) or c.
    Case{"c", "a&b|c", true},
    Case{"abc", "abc&", true},
    Case{"abc", "abc&  ", true},
    Case{"", "", true},
    Case{"x", "", false}));

TEST(FileNameMatch, NullArgumentsGiveFalse) {
  EXPECT_EQ(kFileNameMatch(nullptr, "*"), 0);
  EXPECT_EQ(kFileNameMatch("x", nullptr), 0);
  EXPECT_EQ(kFileNameMatch(nullptr, nullptr), 0);
}

// ---- wordMatch ----

enum Declared { none, starChar, questionChar, starTrailing };

struct WordCase {
  std::string word;
  std::string pattern;
  Declared declared;
  bool expected;
};

void PrintTo(const WordCase& c, std::ostream* out) {
  *out << "'" << c.word << "' against '" << c.pattern << "' declared " << c.declared;
}

class WordMatch : public testing::TestWithParam<WordCase> {};

TEST_P(WordMatch, Answers) {
  const WordCase& c = GetParam();
  std::array<unsigned char, 256> chars{}, trailing{};
  for (int ch = 'a'; ch <= 'z'; ++ch) chars[ch] = 1;
  if (c.declared == starChar) chars['*'] = 1;
  if (c.declared == questionChar) chars['?'] = 1;
  if (c.declared == starTrailing) trailing['*'] = 1;
  EXPECT_EQ(kolvo::wordMatch(Exact(c.word), Exact(c.pattern), chars.data(), trailing.data()), c.expected);
}

INSTANTIATE_TEST_SUITE_P(Examples, WordMatch, testing::Values(
    WordCase{"abc", "ABC", none, false},
    WordCase{"abc", "abc", none, true},
    WordCase{"abc", "a*c", none, true},
    WordCase{"aab", "*ab", none, true},
    WordCase{"ac", "a**c", none, false},
    WordCase{"abc", "a**c", none, false},
    WordCase{"abbc", "a**c", none, false},
    WordCase{"c", "*?c", none, false},
    WordCase{"ac", "*?c", none, false},
    WordCase{"abc", "*?c", none, false},
    WordCase{"abc", "????", none, true},
    WordCase{"abc", "?", none, false},
    WordCase{"abc", "abc?", none, true},
    WordCase{"abcd", "abc?", none, true},
    WordCase{"abcde", "abc?", none, false},
    WordCase{"abc", "a*?", none, false},
    WordCase{"abc", "a*", none, true},
    WordCase{"", "*", none, true},
    WordCase{"", "*?", none, true},
    WordCase{"", "", none, true},
    WordCase{"a", "", none, false},
    WordCase{"", "a", none, false},
    WordCase{"abcbc", "a*bc", none, true},
    // Declared word characters are literals.
    WordCase{"a*c", "a*c", starChar, true},
    WordCase{"abc", "a*c", starChar, false},
    WordCase{"abc", "a*c", starTrailing, false},
    WordCase{"a*c", "a*c", starTrailing, true},
    WordCase{"abc", "a?c", questionChar, false},
    WordCase{"a?c", "a?c", questionChar, true},
    WordCase{"abc", "a*c", questionChar, true}));

TEST(WordMatch, NullMasksDeclareNothing) {
  EXPECT_TRUE(kolvo::wordMatch("abc", "a*", nullptr, nullptr));
  EXPECT_TRUE(kolvo::wordMatch("abc", "?b?", nullptr, nullptr));
}

// ---- dirMatch ----

class DirMatch : public testing::TestWithParam<Case> {};

TEST_P(DirMatch, Answers) {
  const Case& c = GetParam();
  EXPECT_EQ(kolvo::dirMatch(Exact(c.text), Exact(c.pattern)), c.expected);
}

INSTANTIATE_TEST_SUITE_P(Examples, DirMatch, testing::Values(
    Case{"/a/b/", "/a/c", true},
    Case{"/a/b/", "/a/c/d", false},
    Case{"/a/b/", "/x/*", false},
    Case{"/a/b/", "*.txt", true},
    Case{"/a/b/c/", "/*/c/x", false},
    Case{"/a/bc/", "/a/?/x", false},
    Case{"/a/b/", "\\a\\b\\x", false},
    Case{"/a/b/", "/a/b/*.txt", true},
    Case{"/a/b", "/a/b/*.txt", false},
    Case{"/A/B/", "/a/b/*.txt", true},
    Case{"/a/b/c/", "/a/*/c/x", true},
    Case{"/a/b/c/d/", "/a/b/", true},
    Case{"/a/", "/a/*/x", false},
    Case{"/a/b/", "/a/*/x", true}));

// ---- The memoised search gives the plain recursion's answers ----

TEST(NameMatching, TermAnswersEqualThePlainRecursion) {
  std::mt19937 random(20261208);
  // The second set makes '*^' meet a '^' in the text often: a term negated inside a
  // star's scan.
  const struct {
    std::string patternChars, textChars;
  } sets[] = {{"ab*?|&^ ", "abAB|^*? \x7f"}, {"a*^?", "a^"}};
  for (const auto& set : sets) {
    for (int round = 0; round < 40000; ++round) {
      std::string pattern = randomString(random, set.patternChars, 9);
      std::string text = randomString(random, set.textChars, 10);
      ASSERT_EQ(kolvo::termMatch(Exact(text), Exact(pattern)), refTerm(u(text.c_str()), u(pattern.c_str())))
          << "'" << text << "' against '" << pattern << "'";
    }
  }
}

TEST(NameMatching, WordAnswersEqualThePlainRecursion) {
  std::mt19937 random(8122026);
  const std::string chars = "ab*?";
  for (int round = 0; round < 40000; ++round) {
    std::string pattern = randomString(random, chars, 9);
    std::string word = randomString(random, chars, 10);
    for (int declared = 0; declared < 4; ++declared) {
      std::array<unsigned char, 256> mask{};
      if (declared & 1) mask['*'] = 1;
      if (declared & 2) mask['?'] = 1;
      ASSERT_EQ(kolvo::wordMatch(Exact(word), Exact(pattern), mask.data(), nullptr),
                refWord(u(word.c_str()), u(pattern.c_str()), !(declared & 1), !(declared & 2)))
          << "'" << word << "' against '" << pattern << "' declared " << declared;
    }
  }
}

// Long texts with many stars, where the plain recursion is still quick because the
// answer comes early or the text is short.
TEST(NameMatching, LongerInputsEqualThePlainRecursion) {
  std::mt19937 random(42);
  for (int round = 0; round < 3000; ++round) {
    std::string pattern = randomString(random, "ab*?", 12) + "*b";
    std::string text = randomString(random, "aab", 24);
    ASSERT_EQ(kolvo::termMatch(Exact(text), Exact(pattern)), refTerm(u(text.c_str()), u(pattern.c_str())))
        << "'" << text << "' against '" << pattern << "'";
    ASSERT_EQ(kolvo::wordMatch(Exact(text), Exact(pattern), nullptr, nullptr),
              refWord(u(text.c_str()), u(pattern.c_str()), true, true))
        << "'" << text << "' against '" << pattern << "'";
  }
}

// ---- Patterns that make the plain recursion exponential ----

TEST(NameMatching, PathologicalWildcardsGiveTheRightAnswers) {
  std::string run(10000, 'a');
  std::string stars = "*a*a*a*a*a*a*b";
  std::string hundred;
  for (int k = 0; k < 49; ++k) hundred += "*a";
  hundred += "*b";
  ASSERT_EQ(hundred.size(), 100u);

  const struct {
    std::string text;
    std::string pattern;
    bool expected;
  } cases[] = {
      {run, stars, false},
      {run + "b", stars, true},
      {run + "ba", stars, false},
      {"aaaaab", stars, false},  // six a's are needed before the b
      {"aaaaaab", stars, true},
      {run, hundred, false},
      {run + "b", hundred, true},
      {std::string(48, 'a') + "b", hundred, false},
      {std::string(49, 'a') + "b", hundred, true},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(kolvo::termMatch(Exact(c.text), Exact(c.pattern)), c.expected) << c.text.size() << " " << c.pattern;
    EXPECT_EQ(kolvo::fileNameMatch(Exact(c.text), Exact(c.pattern)), c.expected) << c.text.size();
    EXPECT_EQ(kolvo::wordMatch(Exact(c.text), Exact(c.pattern), nullptr, nullptr), c.expected) << c.text.size();
  }
  EXPECT_TRUE(kolvo::fileNameMatch(Exact(run + "c"), Exact(stars + "|*c")));
  EXPECT_FALSE(kolvo::fileNameMatch(Exact(run + "b"), Exact("^" + stars)));
}

// The nested scans run on the search's own stack, not on the call stack.
TEST(NameMatching, ThousandsOfStarsInALongText) {
  std::string pattern;
  for (int k = 0; k < 1500; ++k) pattern += "*a";
  pattern += "*b";
  std::string text(2000, 'a');
  EXPECT_FALSE(kolvo::termMatch(Exact(text), Exact(pattern)));
  EXPECT_TRUE(kolvo::termMatch(Exact(text + "b"), Exact(pattern)));
  EXPECT_FALSE(kolvo::wordMatch(Exact(text), Exact(pattern), nullptr, nullptr));
}

}  // namespace
