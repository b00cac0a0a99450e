// The generic and character-set analyzers: which words come out of which bytes, the
// read loop's limits and chunks, and the display text.
#include "engine/analyzers/file_analyzer.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "engine/analyzers/dos_oem_analyzer.h"
#include "engine/analyzers/mac_roman_analyzer.h"
#include "engine/kolvolib/error_reporting.h"
#include "engine/kolvolib/lower_case_table.h"
#include "include/kolvolib.h"
#include "tests/engine/analyzers/analyzer_fixture.h"

namespace {

using kolvotest::AnalyzerFixture;

enum class Kind { generic, macRoman, dosOem };

std::unique_ptr<CFileAnalyzer> makeAnalyzer(Kind kind, CKolvoIndex* index) {
  switch (kind) {
    case Kind::macRoman: return std::make_unique<CMacRomanAnalyzer>(index);
    case Kind::dosOem: return std::make_unique<CDosOemAnalyzer>(index);
    default: return std::make_unique<CFileAnalyzer>(index);
  }
}

std::string folded(unsigned char c) { return std::string(1, static_cast<char>(kolvo::lowerCase(c))); }

struct ExtractCase {
  const char* name;
  std::string bytes;
  std::vector<std::string> mustHave;
  std::vector<std::string> mustNotHave;
  uint32_t maxWordLength = 16;
  Kind kind = Kind::generic;
  std::string extraValid;
  std::string trailing;
};

ExtractCase with(const char* name, std::string bytes, std::vector<std::string> mustHave,
                 std::vector<std::string> mustNotHave, uint32_t maxWordLength = 16, Kind kind = Kind::generic,
                 std::string extraValid = "", std::string trailing = "") {
  return {name, std::move(bytes), std::move(mustHave), std::move(mustNotHave), maxWordLength, kind,
          std::move(extraValid), std::move(trailing)};
}

std::vector<ExtractCase> extractCases() {
  return {
      with("plain words are lower-cased", "Hello big World, no", {"hello", "big", "world"}, {"no", "Hello"}),
      with("16-bit little-endian text", std::string("h\0e\0l\0l\0o\0 \0", 12), {"hello"}, {"h", "hel"}),
      with("two NULs end a word", std::string("abc\0\0def", 8), {"abc", "def"}, {"abcdef"}),
      with("a word between control characters is noise", "\x01" "abc\x02 xyz", {"xyz"}, {"abc"}),
      with("a space after the word keeps it", "\x01" "abc def", {"abc", "def"}, {}),
      with("a 17-letter word passes the default limit", std::string(17, 'q') + " " + std::string(18, 'r'),
       {std::string(17, 'q')}, {std::string(18, 'r')}),
      with("no maximum: 101 letters pass, 102 and 2 do not",
       std::string(101, 'k') + " " + std::string(102, 'm') + " ab ", {std::string(101, 'k')},
       {std::string(102, 'm'), "ab"}, 0),
      with("a word that ends the file is held to the maximum", "short " + std::string(40, 'z'), {"short"},
       {std::string(40, 'z')}),
      with("a word that ends the file is indexed", "first last", {"first", "last"}, {}),
      with("trailing characters continue but never start a word", "don't 'tis", {"don't", "tis"}, {"'tis"}, 16,
       Kind::generic, "", "'"),
      with("Mac Roman 0xCE is the ligature oe", "c\xCEur ", {"c" + folded(0xBC) + "ur"}, {"c\xCEur"}, 16,
       Kind::macRoman, "\xBC"),
      with("the generic analyzer leaves 0xCE alone", "c\xCEur ", {"c" + folded(0xCE) + "ur"}, {"c" + folded(0xBC) + "ur"}, 16,
       Kind::generic, "\xCE\xBC"),
      with("DOS OEM 0x82 is e acute", "caf\x82 ", {"caf" + folded(0xE9)}, {}, 16, Kind::dosOem, "\xE9"),
  };
}

TEST(FileAnalyzerWords, TableOfInputs) {
  for (const ExtractCase& test : extractCases()) {
    SCOPED_TRACE(test.name);
    AnalyzerFixture fixture;
    CKolvoIndex& index = *fixture.index;
    index.maxWordLength = test.maxWordLength;
    for (char c : test.extraValid) index.setValidCharMask(static_cast<unsigned char>(c), true);
    for (char c : test.trailing) index.setValidTrailingMask(static_cast<unsigned char>(c), true);
    auto analyzer = makeAnalyzer(test.kind, &index);
    std::string path = fixture.writeFile("input.txt", test.bytes);
    ASSERT_TRUE(analyzer->indexFile(path.c_str(), 7));
    auto words = fixture.words();
    for (const std::string& word : test.mustHave) EXPECT_TRUE(words.count(word)) << word;
    for (const std::string& word : test.mustNotHave) EXPECT_FALSE(words.count(word)) << word;
    EXPECT_EQ(index.contentsIndexed, 1u);
    EXPECT_EQ(index.bytesRead, static_cast<double>(test.bytes.size()));
  }
}

TEST(FileAnalyzerWords, WordAcrossChunkBoundaryIsIndexedOnceWhole) {
  AnalyzerFixture fixture;
  std::string text(CFileAnalyzer::chunkCapacity - 5, ' ');
  for (size_t at = 0; at + 3 < text.size(); at += 3) text[at] = 'a';
  text += "straddling";
  while (text.size() < 2 * CFileAnalyzer::chunkCapacity + 100) text += " xy";
  text += " tail";
  CFileAnalyzer analyzer(fixture.index.get());
  std::string path = fixture.writeFile("big.txt", text);
  ASSERT_TRUE(analyzer.indexFile(path.c_str(), 3));
  EXPECT_EQ(fixture.words(), (std::set<std::string>{"straddling", "tail"}));
  EXPECT_EQ(fixture.index->wordsIndexed, 2u);
  EXPECT_EQ(fixture.index->bytesRead, static_cast<double>(text.size()));
}

TEST(FileAnalyzerWords, MaxPerFileReadCuts) {
  struct Cut {
    uint32_t limit;
    std::set<std::string> words;
  };
  // "alpha beta gamma" is 16 bytes.
  const std::vector<Cut> cuts = {
      {16, {"alpha", "beta", "gamma"}},  // the whole file: its last word stays
      {100, {"alpha", "beta", "gamma"}},
      {14, {"alpha", "beta"}},           // "gam" was cut
      {10, {"alpha", "beta"}},           // cut at the separator: beta is whole
      {4, {}},
  };
  for (const Cut& cut : cuts) {
    SCOPED_TRACE(cut.limit);
    AnalyzerFixture fixture;
    fixture.index->maxPerFileRead = cut.limit;
    CFileAnalyzer analyzer(fixture.index.get());
    std::string path = fixture.writeFile("cut.txt", "alpha beta gamma");
    ASSERT_TRUE(analyzer.indexFile(path.c_str(), 3));
    EXPECT_EQ(fixture.words(), cut.words);
    EXPECT_EQ(fixture.index->bytesRead, static_cast<double>(std::min<uint32_t>(cut.limit, 16)));
  }
}

TEST(FileAnalyzerWords, LimitAcrossChunksReadsExactlyTheLimit) {
  AnalyzerFixture fixture;
  fixture.index->maxPerFileRead = 70000;
  std::string text(69995, ' ');
  text += "wordcutxx more";
  CFileAnalyzer analyzer(fixture.index.get());
  std::string path = fixture.writeFile("long.txt", text);
  ASSERT_TRUE(analyzer.indexFile(path.c_str(), 3));
  EXPECT_EQ(fixture.index->bytesRead, 70000.0);
  EXPECT_TRUE(fixture.words().empty());
}

TEST(FileAnalyzerWords, ZeroLimitReadsNothingButCountsTheFile) {
  AnalyzerFixture fixture;
  fixture.index->maxPerFileRead = 0;
  CFileAnalyzer analyzer(fixture.index.get());
  std::string path = fixture.writeFile("some.txt", "some words here");
  ASSERT_TRUE(analyzer.indexFile(path.c_str(), 3));
  EXPECT_TRUE(fixture.words().empty());
  EXPECT_EQ(fixture.index->contentsIndexed, 1u);
  EXPECT_EQ(fixture.index->bytesRead, 0.0);
}

TEST(FileAnalyzerWords, MissingFileIsNotCounted) {
  AnalyzerFixture fixture;
  CFileAnalyzer analyzer(fixture.index.get());
  EXPECT_FALSE(analyzer.indexFile((fixture.root.slashed() + "absent").c_str(), 3));
  EXPECT_EQ(fixture.index->contentsIndexed, 0u);
}

std::vector<std::string> reports;
kbool collectStatus(const char* code, const char* detail, int) {
  reports.push_back(std::string(code) + "|" + detail);
  return 1;
}

TEST(FileAnalyzerWords, ReportsEveryChunkFromStatusLevelTwo) {
  for (int level : {1, 2}) {
    AnalyzerFixture fixture;
    fixture.index->statusLevel = level;
    CFileAnalyzer analyzer(fixture.index.get());
    std::string path = fixture.writeFile("r.txt", std::string(70000, 'x'));
    reports.clear();
    kSetStatusCallBack(collectStatus);
    analyzer.indexFile(path.c_str(), 3);
    kSetStatusCallBack(nullptr);
    if (level == 1) {
      EXPECT_TRUE(reports.empty());
    } else {
      ASSERT_EQ(reports.size(), 2u);
      EXPECT_EQ(reports[0], "BytesIndexing|65535.000000\t" + path);
      EXPECT_EQ(reports[1], "BytesIndexing|70000.000000\t" + path);
    }
  }
}

// ---- Display text ----

struct StripCase {
  const char* name;
  std::string in;
  std::string out;
  int wrapWidth = 0;
};

// The analyzer's own split, with or without the hooks offered every character.
class SplitProbe : public CFileAnalyzer {
 public:
  SplitProbe(CKolvoIndex* owner, bool hooks) : CFileAnalyzer(owner) { characterHooks = hooks; }
  std::string split(const SplitRules& rules, std::string bytes, std::string& pending) {
    CWordBatch words;
    uint32_t count = splitChunk(rules, bytes.data(), static_cast<uint32_t>(bytes.size()), words, pending);
    std::string out = std::to_string(count) + ":";
    for (const CWordBatch::Word& word : words.words())
      out += std::string(words.text(word), word.length) + "*" + std::to_string(word.occurrences) + " ";
    return out;
  }
};

TEST(FileAnalyzerWords, SplitWithoutHooksFindsWhatTheHookedSplitFinds) {
  AnalyzerFixture fixture;
  SplitProbe plain(fixture.index.get(), false);
  SplitProbe hooked(fixture.index.get(), true);
  std::srand(5);
  auto pick = [](const char* from) { return from[std::rand() % std::strlen(from)]; };
  for (int round = 0; round < 3000; ++round) {
    // Masks of a few kinds of byte, NUL and control characters among them.
    SplitRules rules;
    const std::string alphabet = std::string("abcXYZ09'-. \n\x01\x02\x1f\xc4\xe9\x7f", 19) + std::string(1, '\0');
    for (char c : alphabet) {
      auto u = static_cast<unsigned char>(c);
      int kind = std::rand() % 4;
      bool control = u == 1 || u == 2 || u == 0x1f;
      rules.classes[u] = static_cast<unsigned char>((kind == 0 ? SplitRules::starts | SplitRules::continues : 0) |
                                                    (kind == 1 ? SplitRules::continues : 0) |
                                                    (control ? SplitRules::control : 0));
    }
    rules.folded = kolvo::lowerCaseTable();
    rules.lower = static_cast<size_t>(std::rand() % 4);
    rules.upper = rules.lower + static_cast<size_t>(std::rand() % 12);
    std::string bytes;
    size_t length = static_cast<size_t>(std::rand() % 60);
    for (size_t i = 0; i < length; ++i) bytes += pick(std::rand() % 3 ? "abcXYZ09" : "'-. \n\x01\x02\x1f\xc4\xe9\x7f") ;
    for (int nuls = std::rand() % 4; nuls > 0 && !bytes.empty(); --nuls) bytes[std::rand() % bytes.size()] = '\0';
    std::string plainPending = "carried";
    std::string hookedPending = "carried";
    std::string plainWords = plain.split(rules, bytes, plainPending);
    std::string hookedWords = hooked.split(rules, bytes, hookedPending);
    ASSERT_EQ(plainWords, hookedWords) << "round " << round;
    ASSERT_EQ(plainPending, hookedPending) << "round " << round;
  }
}

// The display of the filter tests: letters are shown, 0x80 to 0x83 are punctuation,
// everything else separates.
CKolvoIndex* showLetters(CKolvoIndex& index) {
  for (int c = 'a'; c <= 'z'; ++c) index.setValidViewableMask(c, true);
  for (int c = 0x80; c <= 0x83; ++c) index.setNonAlphaCharMask(c, true);
  return &index;
}

TEST(FileAnalyzerDisplay, TableOfInputs) {
  const std::vector<StripCase> cases = {
      {"CR LF becomes one line break; the last line keeps its spaces", "a\r\nb c", "a\nb c"},
      {"a lone CR becomes LF", "a\rb", "a\nb"},
      {"runs of separators give one space", "ab,, ;cd ef", "ab cd ef"},
      {"four undisplayable high bytes go", " \x80\x81\x82\x83" "cd", "cd"},
      {"three undisplayable high bytes stay", " \x80\x81\x82" "cd", "\x80\x81\x82" "cd"},
      {"wrapping turns the last space before the width into a line break", "aaa bbb ccc ddd", "aaa bbb\nccc ddd", 8},
  };
  for (const StripCase& test : cases) {
    SCOPED_TRACE(test.name);
    AnalyzerFixture fixture;
    CFileAnalyzer analyzer(showLetters(*fixture.index));
    EXPECT_EQ(kolvotest::displayInOnePiece(analyzer, test.in, test.wrapWidth, false), test.out);
  }
}

// The filter copies a run of bytes shown as they stand at once; offered byte by byte to
// hooks that change nothing, it must show the same text, under random masks, with blanks,
// punctuation, high bytes, NULs and line ends about, wrapped at several widths.
TEST(FileAnalyzerDisplay, RunsShowAsByteByByte) {
  AnalyzerFixture fixture;
  CKolvoIndex& index = *fixture.index;
  CFileAnalyzer runs(&index);
  SplitProbe byteByByte(&index, true);
  std::srand(8);
  const std::string alphabet = std::string("abcXYZ09'-. \t\n\r\x01\xc4\xe9\x80\x81\x82\xe3") + std::string(1, '\0');
  for (int round = 0; round < 1500; ++round) {
    for (char c : alphabet) {
      auto u = static_cast<unsigned char>(c);
      int kind = std::rand() % 3;
      index.setValidViewableMask(u, kind == 0);
      index.setNonAlphaCharMask(u, kind == 1);
    }
    std::string bytes;
    size_t length = static_cast<size_t>(std::rand() % 200);
    for (size_t i = 0; i < length; ++i) {
      bytes += std::rand() % 3 ? "abcXYZ09"[std::rand() % 8] : alphabet[static_cast<size_t>(std::rand()) % alphabet.size()];
      // Now and then three to five high bytes in a row.
      if (std::rand() % 20 == 0) bytes += std::string("\x80\x81\x82\xc4\xe9", static_cast<size_t>(3 + std::rand() % 3));
    }
    // Room for the whole text, or for only part of it.
    const size_t rooms[] = {2 * bytes.size() + 2, static_cast<size_t>(std::rand() % 40 + 2)};
    for (int wrapWidth : {0, 1, 5, 17})
      for (size_t room : rooms) {
        auto shown = [&](CFileAnalyzer& analyzer) {
          std::string in = bytes;
          std::vector<char> out(room);
          StripState state;
          state.lastChunk = true;
          uint32_t made = analyzer.stripBuffer(in.data(), static_cast<uint32_t>(in.size()), out.data(),
                                               static_cast<uint32_t>(room), wrapWidth, false, true, state);
          return std::string(out.data(), made);
        };
        ASSERT_EQ(shown(runs), shown(byteByByte)) << "round " << round << " width " << wrapWidth << " room " << room;
      }
  }
}

TEST(FileAnalyzerDisplay, FileTextIsClippedToMaxBytes) {
  AnalyzerFixture fixture;
  for (int c = 'a'; c <= 'z'; ++c) fixture.index->setValidViewableMask(c, true);
  CFileAnalyzer analyzer(fixture.index.get());
  std::string path = fixture.writeFile("d.txt", "one two three\r\nfour");
  char* whole = analyzer.fillDisplayBuffer(path.c_str(), 1, 1000, 0, false);
  EXPECT_STREQ(whole, "one two three\nfour");
  std::free(whole);
  char* part = analyzer.fillDisplayBuffer(path.c_str(), 1, 5, 0, false);
  EXPECT_STREQ(part, "one t");
  std::free(part);
  char* none = analyzer.fillDisplayBuffer(path.c_str(), 1, 0, 0, false);
  EXPECT_STREQ(none, "");
  std::free(none);
}

// The filter carries its state from one chunk to the next: a file's text is the same
// wherever its chunks end.
TEST(FileAnalyzerDisplay, AChunkEndChangesNothingInTheText) {
  struct Case {
    const char* name;
    std::string tail, head;
    const char* shown;  // around the chunk end
    int wrapWidth = 0;
  };
  const Case cases[] = {
      {"a separator after a word", "quick", " brown", "quick brown"},
      {"a control character after a word", "quick", "\x01" "brown", "quick brown"},
      {"a separator before a word", "quick ", "brown", "quick brown"},
      {"a word cut in two", "qui", "ck brown", "quick brown"},
      {"a lone CR", "quick\r", "brown", "quick\nbrown"},
      {"a CR LF pair", "quick\r", "\nbrown", "quick\nbrown"},
      {"a CR LF pair after the end", "quick", "\r\nbrown", "quick\nbrown"},
      {"16-bit characters", std::string("q\0u\0i\0c\0k\0", 10), std::string(" \0b\0r\0o\0w\0n\0", 12),
       "quick brown"},
      {"punctuation after a word", "quick", "\x80 brown", "quick\x80 brown"},
      {"a line wrapped past the end", "quick brown", " fox jumps over", "quick brown fox\njumps over", 16},
  };
  for (const Case& test : cases) {
    SCOPED_TRACE(test.name);
    AnalyzerFixture fixture;
    CFileAnalyzer analyzer(showLetters(*fixture.index));
    std::string bytes = kolvotest::acrossChunkEnd(test.tail, test.head);
    std::string chunked = kolvotest::displayOfFile(analyzer, fixture.writeFile("cut.txt", bytes), test.wrapWidth, false);
    EXPECT_EQ(chunked, kolvotest::displayInOnePiece(analyzer, bytes, test.wrapWidth, false));
    EXPECT_NE(chunked.find(std::string("\n") + test.shown + "\n"), std::string::npos) << chunked.substr(chunked.size() - 60);
  }
}

TEST(FileAnalyzerDisplay, MissingFileRaises) {
  AnalyzerFixture fixture;
  CFileAnalyzer analyzer(fixture.index.get());
  EXPECT_THROW(analyzer.fillDisplayBuffer((fixture.root.slashed() + "absent").c_str(), 1, 10, 0, false),
               kolvo::AbortToken);
}

}  // namespace
