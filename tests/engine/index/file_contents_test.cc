// The display text of an indexed file: construction through folders and archives, hit
// patterns with skipped, grouped and near terms, outlines, words and lines, and the
// C entries over the same object.
#include "engine/index/file_contents.h"

#include <gtest/gtest.h>

#include <array>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <functional>
#include <fstream>
#include <memory>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "engine/analyzers/file_analyzer.h"
#include "engine/analyzers/html_analyzer.h"
#include "engine/index/contents_check.h"
#include "engine/index/hit_pattern.h"
#include "engine/index/hit_scan.h"
#include "engine/index/kolvo_index.h"
#include "engine/kolvolib/error_reporting.h"
#include "include/kolvolib.h"
#include "tests/support/chunk_text.h"
#include "tests/support/engine_errors.h"
#include "tests/support/temp_dir.h"

namespace {

namespace fs = std::filesystem;
using kolvotest::EngineErrors;
using kolvotest::TempDir;

const char* const foxText = "The quick brown fox jumps over the lazy dog. The fox sleeps.";

// Shows a file's bytes as they are, behind an optional mark, so that the tests see
// exactly the text they wrote and which analyzer made it.
class Verbatim : public CFileAnalyzer {
 public:
  Verbatim(CKolvoIndex* owner, std::string shownMark) : CFileAnalyzer(owner), mark(std::move(shownMark)) {}
  char* fillDisplayBuffer(const char* path, uint32_t, uint32_t maxBytes, int, bool) override {
    std::ifstream in(path, std::ios::binary);
    if (!in) kolvo::throwKolvoError("CannotOpenContentsFile", path);
    std::stringstream bytes;
    bytes << in.rdbuf();
    std::string shown = (mark + bytes.str()).substr(0, maxBytes);
    char* text = static_cast<char*>(std::malloc(shown.size() + 1));
    std::memcpy(text, shown.c_str(), shown.size() + 1);
    return text;
  }
  std::string mark;
};

// A container format for the tests: extracting any member copies the container's bytes,
// so containers nest. It records each request and whether its container existed.
class CopyingContainer : public CFileAnalyzer {
 public:
  enum class Mode { copy, failAfterPartialWrite, raise };
  using CFileAnalyzer::CFileAnalyzer;
  bool extractToTempFile(const char* containerPath, const char* memberName, const char* destination,
                         uint32_t) override {
    asked.push_back(std::string(containerPath) + " " + memberName);
    containerExisted.push_back(fs::exists(containerPath));
    std::ifstream in(containerPath, std::ios::binary);
    std::ofstream out(destination, std::ios::binary);
    if (mode == Mode::failAfterPartialWrite) {
      out << "part";
      return false;
    }
    if (mode == Mode::raise) {
      out << "part";
      out.close();
      kolvo::throwKolvoError("NoMemory");
    }
    out << in.rdbuf();
    return true;
  }
  Mode mode = Mode::copy;
  std::vector<std::string> asked;
  std::vector<bool> containerExisted;
};

class FileContentsTest : public ::testing::Test {
 protected:
  FileContentsTest() {
    std::string indexPath = root.slashed() + "kolvo/indexes/Idx/build_1/";
    fs::create_directories(indexPath);
    index = std::make_unique<CKolvoIndex>(true, indexPath);
    for (int c = 'a'; c <= 'z'; ++c) {
      index->setValidCharMask(c, true);
      index->setValidTrailingMask(c, true);
      index->setValidCharMask(c - 'a' + 'A', true);
      index->setValidTrailingMask(c - 'a' + 'A', true);
    }
    // Digits continue a word but never start one.
    for (int c = '0'; c <= '9'; ++c) index->setValidTrailingMask(c, true);
    // The display keeps every printable character.
    for (int c = '!'; c <= '~'; ++c) index->setValidViewableMask(c, true);
    index->temporaryDirectory = root.slashed() + "tmp";
    fs::create_directories(index->temporaryDirectory);
    index->emptyIndex();
    index->createAnalyzers();
    index->analyzerMap["generic"] = std::make_unique<Verbatim>(index.get(), "");
    index->analyzerMap["marked"] = std::make_unique<Verbatim>(index.get(), "[m]");
    folder = index->files->addFile((root.slashed() + "docs").c_str());
  }

  // A file below the test folder entered in the file table under parent.
  uint32_t addFile(const std::string& name, const std::string& text, uint32_t parent = 0) {
    if (parent == 0) {
      parent = folder;
      root.write("docs/" + name, text);
    }
    uint32_t file = index->files->addFile(name.c_str());
    index->files->setParent(file, parent);
    return file;
  }

  std::unique_ptr<CFileContents> contentsOf(const std::string& text, int nearDistance = 5) {
    uint32_t file = addFile("f" + std::to_string(++made) + ".txt", text);
    return std::make_unique<CFileContents>(index.get(), file, 1'000'000, 0, false, nearDistance);
  }

  CopyingContainer* registerContainer() {
    auto owned = std::make_unique<CopyingContainer>(index.get());
    CopyingContainer* raw = owned.get();
    index->analyzerMap["box"] = std::move(owned);
    index->setIncludeCount(2);
    index->setIncludePattern(0, "*.box", "box");
    index->setIncludePattern(1, "*.m", "marked");
    return raw;
  }

  std::vector<std::string> temporaryFiles() const {
    std::vector<std::string> names;
    for (const auto& entry : fs::directory_iterator(index->temporaryDirectory))
      names.push_back(entry.path().filename().string());
    return names;
  }

  TempDir root;
  EngineErrors errors;
  std::unique_ptr<CKolvoIndex> index;
  uint32_t folder = 0;
  int made = 0;
};

// Every hit from the start, each search going on from the answer of the one before.
std::vector<size_t> allHits(CFileContents& contents, const std::string& pattern) {
  std::vector<size_t> hits;
  for (size_t next = contents.searchBuffer(0, pattern); next != 0; next = contents.searchBuffer(next, pattern)) {
    hits.push_back(next - 1);
    if (hits.size() > 10'000) break;  // a search that never advances
  }
  return hits;
}

TEST_F(FileContentsTest, HitPatterns) {
  struct Case {
    const char* pattern;
    int nearDistance;
    std::vector<size_t> hits;
  };
  const std::vector<Case> cases = {
      {"fox", 5, {16, 49}},
      {"fo", 5, {}},
      {"fo*", 5, {16, 49}},
      {"f?x", 5, {16, 49}},
      {"FOX", 5, {}},
      {"fox jumps", 5, {16, 20, 49}},
      {"+fox dog", 5, {40}},
      {"+(fox dog) the", 5, {0, 31, 45}},
      {"+(fox (dog)) the", 5, {0, 31, 45}},
      {"fox<1 jumps", 5, {16}},
      {"fox<1 over", 5, {}},
      {"fox<2 over", 5, {16}},
      {"fox<12 dog", 5, {16}},
      {"fox<9 dog", 5, {16}},
      {"fox<0 jumps", 5, {16}},
      {"fox< dog", 5, {16}},
      {"fox< dog", 9, {16}},
      {"fox< dog", 4, {}},
      {"fox< dog", 0, {16}},
      // Near terms chain; only the first is a hit term.
      {"quick<2 fox<1 jumps", 5, {4}},
      {"quick<1 fox<1 jumps", 5, {}},
      {"quick<2 fox<1 over", 5, {}},
      // The forms the program's search writes.
      {"( quick <1 brown )", 5, {4}},
      {"( fox <1 over )", 5, {}},
      {"lazy & ( fox <8 dog ) | ( dog <8 fox )", 5, {16, 35, 40}},
      {"\"lazy dog\"", 5, {35, 40}},
      // Wildcards.
      {"*", 5, {0, 4, 10, 16, 20, 26, 31, 35, 40, 45, 49, 53}},
      {"d*g", 5, {40}},
      {"*o*", 5, {10, 16, 26, 40, 49}},
      {"th?", 5, {0, 31, 45}},
      {"t?", 5, {}},
      {"sleeps?", 5, {53}},
      {"sleep?", 5, {53}},
      {"slee?", 5, {}},
      {"*x", 5, {16, 49}},
      {"", 5, {}},
      {"<3", 5, {}},
      {"& | ()", 5, {}},
  };
  for (const Case& test : cases) {
    auto contents = contentsOf(foxText, test.nearDistance);
    EXPECT_EQ(allHits(*contents, test.pattern), test.hits) << test.pattern << " near " << test.nearDistance;
    EXPECT_EQ(contents->containsHit(test.pattern), !test.hits.empty()) << test.pattern;
  }
}

TEST_F(FileContentsTest, SearchingOnFromAnOffset) {
  auto contents = contentsOf(foxText);
  EXPECT_EQ(contents->searchBuffer(0, "fox"), 17u);
  EXPECT_EQ(contents->searchBuffer(16, "fox"), 17u);
  // From inside a word the search goes on with the next one: a word's tail is no hit.
  EXPECT_EQ(contents->searchBuffer(17, "fox"), 50u);
  EXPECT_EQ(contents->searchBuffer(17, "*x"), 50u);
  EXPECT_EQ(contents->searchBuffer(17, "ox"), 0u);
  EXPECT_EQ(contents->searchBuffer(19, "jumps"), 21u);
  EXPECT_EQ(contents->searchBuffer(50, "fox"), 0u);
  // Offsets from outside at or past the end find nothing and read nothing beyond it.
  size_t end = std::string(foxText).size();
  EXPECT_EQ(contents->searchBuffer(end, "*"), 0u);
  EXPECT_EQ(contents->searchBuffer(end + 1, "*"), 0u);
  EXPECT_EQ(contents->searchBuffer(1'000'000, "*"), 0u);
  // Switching patterns and back gives the same answers.
  EXPECT_EQ(contents->searchBuffer(0, "dog"), 41u);
  EXPECT_EQ(contents->searchBuffer(0, "fox"), 17u);
}

TEST_F(FileContentsTest, TokenLength) {
  auto contents = contentsOf("The fox9 jumps 42x.");
  struct Case {
    size_t offset;
    size_t length;
  };
  const std::vector<Case> cases = {
      {0, 3}, {1, 2}, {3, 0}, {4, 4}, {7, 0}, {9, 5}, {15, 0}, {17, 1}, {18, 0}, {19, 0}, {20, 0}, {100'000, 0},
  };
  for (const Case& test : cases) EXPECT_EQ(contents->tokenLength(test.offset), test.length) << test.offset;
}

TEST_F(FileContentsTest, MatchingOneToken) {
  auto contents = contentsOf("Fox9 9ab aaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaab");
  const char* text = contents->contents();
  struct Case {
    size_t offset;
    const char* term;
    bool atTokenStart;
    bool matches;
  };
  const std::vector<Case> cases = {
      {0, "fox9", true, true},
      {0, "fox", true, false},
      {0, "f*", true, true},
      {0, "*9", true, true},
      {0, "f*x*9", true, true},
      {0, "f??9", true, true},
      {0, "f???", true, true},
      {0, "f????", true, true},  // '?' matches nothing at the token's end
      {0, "f???x", true, false},
      {0, "f*?*", true, true},
      {3, "9", true, false},  // a digit never starts a token
      {3, "9", false, true},
      {5, "9ab", false, true},
      {5, "9ab", true, false},
      {4, "9", false, false},  // a blank is no token character
      // Many stars over a long token: a match and a miss, both without a search of all splits.
      {9, "a*a*a*a*a*a*a*a*a*a*a*a*a*a*a*a*a*a*a*a*a*a*a*b", true, true},
      {9, "a*a*a*a*a*a*a*a*a*a*a*a*a*a*a*a*a*a*a*a*a*a*a*c", true, false},
      {9, "*a*a*a*a*a*a*a*a*a*a*a*a*a*a*a*a*a*a*a*a*a*a*ab?", true, true},
  };
  for (const Case& test : cases)
    EXPECT_EQ(contents->isMatch(text + test.offset, test.term, test.atTokenStart), test.matches)
        << test.offset << " " << test.term;
}

TEST_F(FileContentsTest, ManyNearTermsStayIterative) {
  // "a<1 a<1 ... a" with k operators hits the words followed by at least k more.
  const size_t operators = 3000;
  const size_t words = operators + 5;
  std::string pattern;
  for (size_t i = 0; i < operators; ++i) pattern += "a<1 ";
  pattern += "a";
  std::string text;
  for (size_t i = 0; i < words; ++i) text += "a ";
  auto contents = contentsOf(text);
  EXPECT_EQ(allHits(*contents, pattern), (std::vector<size_t>{0, 2, 4, 6, 8}));

  // Without limits every near term looks to the end of the text.
  std::string unlimited;
  for (size_t i = 0; i < 2000; ++i) unlimited += "a<0 ";
  unlimited += "b";
  std::string many;
  for (size_t i = 0; i < 3000; ++i) many += "a ";
  many += "b";
  auto longer = contentsOf(many);
  std::vector<size_t> hits = allHits(*longer, unlimited);
  ASSERT_EQ(hits.size(), 1001u);
  EXPECT_EQ(hits.front(), 0u);
  EXPECT_EQ(hits.back(), 2000u);
  EXPECT_FALSE(longer->containsHit(unlimited + " <0 b"));
}

TEST_F(FileContentsTest, Outline) {
  auto contents = contentsOf("alpha beta\ngamma fox delta fox\nepsilon\nzeta fox");
  contents->convertToOutline("fox");
  EXPECT_STREQ(contents->contents(), "gamma fox delta fox\nzeta fox");
  EXPECT_EQ(contents->textLength(), 28u);
  // The outline is the text from now on.
  EXPECT_STREQ(contents->nextLine(), "gamma fox delta fox\n");
  EXPECT_STREQ(contents->nextLine(), "zeta fox");
  EXPECT_EQ(contents->searchBuffer(0, "fox"), 7u);
  EXPECT_EQ(contents->searchBuffer(7, "fox"), 17u);

  auto none = contentsOf("alpha beta\n");
  none->convertToOutline("fox");
  EXPECT_STREQ(none->contents(), "");
  EXPECT_FALSE(none->containsHit("*"));
  EXPECT_THROW(none->nextLine(), kolvo::AbortToken);
}

TEST_F(FileContentsTest, OutlineKeepsHitsWithinWordLengths) {
  const std::string text = "ab cd\nxyz\nab\nincomprehensibilities\n";
  struct Case {
    uint32_t minLength;
    uint32_t maxLength;
    const char* pattern;
    const char* outline;
  };
  const std::vector<Case> cases = {
      {3, 16, "ab", ""},
      {2, 16, "ab", "ab cd\nab\n"},
      {3, 16, "ab xyz", "xyz\n"},
      {3, 16, "inc*", ""},
      // A maximum of 0 means none.
      {3, 0, "inc*", "incomprehensibilities\n"},
      {2, 0, "*", text.c_str()},
      {2, 2, "*", "ab cd\nab\n"},
  };
  for (const Case& test : cases) {
    index->minWordLength = test.minLength;
    index->maxWordLength = test.maxLength;
    auto contents = contentsOf(text);
    contents->convertToOutline(test.pattern);
    EXPECT_STREQ(contents->contents(), test.outline) << test.pattern << " " << test.minLength;
  }
}

TEST_F(FileContentsTest, NextLine) {
  auto contents = contentsOf("one\n\nthree");
  EXPECT_STREQ(contents->nextLine(), "one\n");
  EXPECT_STREQ(contents->nextLine(), "\n");
  EXPECT_STREQ(contents->nextLine(), "three");
  EXPECT_THROW(contents->nextLine(), kolvo::AbortToken);
  EXPECT_EQ(errors.codes(), (std::vector<std::string>{"EndOfContents"}));
}

TEST_F(FileContentsTest, ReadsAnOrdinaryFile) {
  uint32_t file = addFile("note.txt", "some words\n");
  CFileContents contents(index.get(), file, 1000, 0, false, 5);
  EXPECT_EQ(contents.filePath(), root.slashed() + "docs/note.txt");
  EXPECT_STREQ(contents.contents(), "some words\n");
  // maxBytes reaches the analyzer.
  CFileContents cut(index.get(), file, 4, 0, false, 5);
  EXPECT_STREQ(cut.contents(), "some");
  EXPECT_TRUE(errors.errors().empty());
}

TEST_F(FileContentsTest, AnalyzerOfTheLogicalPath) {
  registerContainer();
  uint32_t plain = addFile("plain.m", "words");
  EXPECT_STREQ(CFileContents(index.get(), plain, 1000, 0, false, 5).contents(), "[m]words");
  // A member is shown by the analyzer its own name asks for, not its container's.
  uint32_t box = addFile("b.box", "inside");
  uint32_t member = addFile("note.m", "", box);
  uint32_t other = addFile("note.txt", "", box);
  EXPECT_STREQ(CFileContents(index.get(), member, 1000, 0, false, 5).contents(), "[m]inside");
  EXPECT_STREQ(CFileContents(index.get(), other, 1000, 0, false, 5).contents(), "inside");
  // The built-in display analyzer reads the file too.
  index->createAnalyzers();
  index->setIncludeCount(0);
  uint32_t file = addFile("real.txt", "some words");
  CFileContents real(index.get(), file, 1000, 0, false, 5);
  EXPECT_NE(std::string(real.contents()).find("words"), std::string::npos);
  EXPECT_TRUE(errors.errors().empty());
}

TEST_F(FileContentsTest, RefusesWhatCannotBeShown) {
  uint32_t missing = index->files->addFile("gone.txt");
  index->files->setParent(missing, folder);
  struct Case {
    uint32_t file;
    const char* code;
  };
  const std::vector<Case> cases = {
      {folder, "NoFileContentsForDir"},
      {missing, "CannotOpenContentsFile"},
      {0, "AssertionFailed"},
      {999'999, "AssertionFailed"},
  };
  for (const Case& test : cases) {
    errors.clear();
    EXPECT_THROW(CFileContents(index.get(), test.file, 1000, 0, false, 5), kolvo::AbortToken) << test.code;
    EXPECT_EQ(errors.codes(), (std::vector<std::string>{test.code}));
  }
}

TEST_F(FileContentsTest, ArchiveMemberIsExtractedAndDeleted) {
  CopyingContainer* container = registerContainer();
  uint32_t outer = addFile("outer.box", foxText);
  uint32_t inner = addFile("inner.box", "", outer);
  uint32_t member = addFile("note.txt", "", inner);

  CFileContents contents(index.get(), member, 1000, 0, false, 5);
  EXPECT_STREQ(contents.contents(), foxText);
  EXPECT_EQ(contents.searchBuffer(0, "fox"), 17u);
  std::string tmp = index->temporaryDirectory;
  EXPECT_EQ(contents.filePath(), tmp + "/tmp" + std::to_string(member) + ".txt");
  EXPECT_FALSE(fs::exists(contents.filePath()));
  EXPECT_TRUE(temporaryFiles().empty());
  EXPECT_EQ(container->asked, (std::vector<std::string>{root.slashed() + "docs/outer.box inner.box",
                                                        tmp + "/tmp" + std::to_string(inner) + ".box note.txt"}));
  EXPECT_EQ(container->containerExisted, (std::vector<bool>{true, true}));
  EXPECT_TRUE(errors.errors().empty());
}

TEST_F(FileContentsTest, FailedExtractionLeavesNoTemporaryFile) {
  CopyingContainer* container = registerContainer();
  uint32_t outer = addFile("outer.box", foxText);
  uint32_t inner = addFile("inner.box", "", outer);
  uint32_t member = addFile("note.txt", "", inner);
  struct Case {
    CopyingContainer::Mode mode;
    const char* code;
  };
  const std::vector<Case> cases = {
      {CopyingContainer::Mode::failAfterPartialWrite, "ArchiveExtractError"},
      {CopyingContainer::Mode::raise, "NoMemory"},
  };
  for (const Case& test : cases) {
    errors.clear();
    container->mode = test.mode;
    EXPECT_THROW(CFileContents(index.get(), member, 1000, 0, false, 5), kolvo::AbortToken);
    EXPECT_EQ(errors.codes(), (std::vector<std::string>{test.code}));
    EXPECT_TRUE(temporaryFiles().empty());
  }
  // A member whose container has no analyzer that can extract it.
  errors.clear();
  uint32_t plain = addFile("plain.txt", foxText);
  uint32_t inside = addFile("x.txt", "", plain);
  EXPECT_THROW(CFileContents(index.get(), inside, 1000, 0, false, 5), kolvo::AbortToken);
  EXPECT_EQ(errors.codes(), (std::vector<std::string>{"ArchiveExtractError"}));
}

TEST_F(FileContentsTest, ArchivesNestedTooDeep) {
  registerContainer();
  // 99 ancestors are still read (here the folder and 98 archives); 100 are refused.
  uint32_t parent = addFile("a0.box", foxText);
  for (int level = 1; level < 98; ++level) parent = addFile("a" + std::to_string(level) + ".box", "", parent);
  uint32_t deepest = addFile("note.txt", "", parent);
  CFileContents contents(index.get(), deepest, 1000, 0, false, 5);
  EXPECT_STREQ(contents.contents(), foxText);
  EXPECT_TRUE(temporaryFiles().empty());

  uint32_t tooDeep = addFile("deeper.txt", "", addFile("a98.box", "", parent));
  EXPECT_THROW(CFileContents(index.get(), tooDeep, 1000, 0, false, 5), kolvo::AbortToken);
  EXPECT_EQ(errors.codes(), (std::vector<std::string>{"ArchivesNestedTooDeep"}));
  EXPECT_TRUE(temporaryFiles().empty());
}

TEST_F(FileContentsTest, ThroughTheCInterface) {
  uint32_t file = addFile("note.txt", "alpha fox\nbeta\nfox gamma\n");
  CFileContents* contents = kidxGetFileContents(index.get(), file, 1000, 0, 0, 5);
  ASSERT_NE(contents, nullptr);
  EXPECT_STREQ(kfcContents(contents), "alpha fox\nbeta\nfox gamma\n");
  EXPECT_EQ(kfcFilePath(contents), root.slashed() + "docs/note.txt");
  EXPECT_EQ(kfcSearchBuffer(contents, 0, "fox"), 7u);
  EXPECT_EQ(kfcSearchBuffer(contents, 7, "fox"), 16u);
  EXPECT_EQ(kfcSearchBuffer(contents, 16, "fox"), 0u);
  EXPECT_EQ(kfcSearchBuffer(contents, 4'000'000'000u, "fox"), 0u);
  EXPECT_EQ(kfcSearchBuffer(contents, 0, nullptr), 0u);
  EXPECT_EQ(kfcTokenLength(contents, 6), 3u);
  EXPECT_EQ(kfcTokenLength(contents, 5), 0u);
  EXPECT_EQ(kfcTokenLength(contents, 4'000'000'000u), 0u);
  EXPECT_EQ(kfcContainsHit(contents, "gam*"), 1);
  EXPECT_EQ(kfcContainsHit(contents, "delta"), 0);
  kfcConvertToOutline(contents, "fox");
  EXPECT_STREQ(kfcContents(contents), "alpha fox\nfox gamma\n");
  EXPECT_STREQ(kfcNext(contents), "alpha fox\n");
  EXPECT_STREQ(kfcNext(contents), "fox gamma\n");
  EXPECT_TRUE(errors.errors().empty());
  const char* after = kfcNext(contents);
  ASSERT_NE(after, nullptr);
  EXPECT_STREQ(after, "");
  EXPECT_EQ(errors.codes(), (std::vector<std::string>{"EndOfContents"}));
  kfcDeleteContentsObject(contents);
  kfcDeleteContentsObject(nullptr);

  // Null objects give the documented nothing.
  EXPECT_STREQ(kfcContents(nullptr), "");
  EXPECT_STREQ(kfcFilePath(nullptr), "");
  EXPECT_EQ(kfcSearchBuffer(nullptr, 0, "fox"), 0u);
  EXPECT_EQ(kfcContainsHit(nullptr, "fox"), 0);
  EXPECT_STREQ(kfcNext(nullptr), "");
}

TEST_F(FileContentsTest, CInterfaceAnswersNullOnFailure) {
  struct Case {
    CKolvoIndex* index;
    uint32_t file;
    const char* code;
  };
  const std::vector<Case> cases = {
      {index.get(), folder, "NoFileContentsForDir"},
      {index.get(), 12'345, "AssertionFailed"},
      {nullptr, folder, "AssertionFailed"},
  };
  // A number inside a file's name (as a hand-typed key can be) names no entry.
  uint32_t file = addFile("inside.txt", foxText);
  for (uint32_t offset = 1; offset < 8; ++offset) {
    errors.clear();
    EXPECT_EQ(kidxGetFileContents(index.get(), file + offset, 1000, 0, 0, 5), nullptr) << offset;
    EXPECT_EQ(errors.codes(), (std::vector<std::string>{"AssertionFailed"})) << offset;
  }
  for (const Case& test : cases) {
    errors.clear();
    EXPECT_EQ(kidxGetFileContents(test.index, test.file, 1000, 0, 0, 5), nullptr) << test.code;
    EXPECT_EQ(errors.codes(), (std::vector<std::string>{test.code}));
  }
}

// The check that streams a file's words must answer what the contents object answers.
class ContentsCheckTest : public FileContentsTest {
 protected:
  ContentsCheckTest() {
    index->analyzerMap["generic"] = std::make_unique<CFileAnalyzer>(index.get());
    // As the program sets them: blanks and punctuation are not shown but trimmed.
    for (int c = 1; c < 128; ++c) {
      bool punctuation = c == '\t' || (c >= 0x20 && c <= 0x2F) || (c >= 0x3A && c <= 0x40) ||
                         (c >= 0x5B && c <= 0x60) || (c >= 0x7B && c <= 0x7E);
      index->setNonAlphaCharMask(c, punctuation);
      if (punctuation) index->setValidViewableMask(c, false);
    }
  }

  std::vector<int> verdictsOf(const std::vector<uint32_t>& files, const std::string& pattern, int nearDistance = 5,
                              unsigned threads = 1, uint32_t maxBytes = 1'000'000, bool strip = false,
                              int wrapWidth = 0) {
    std::vector<char> verdicts(files.size(), 7);
    kolvo::checkContents(*index, files.data(), files.size(), maxBytes, wrapWidth, strip, nearDistance, pattern,
                         threads, verdicts.data());
    return std::vector<int>(verdicts.begin(), verdicts.end());
  }
  int verdictOf(uint32_t file, const std::string& pattern, int nearDistance = 5, uint32_t maxBytes = 1'000'000) {
    return verdictsOf({file}, pattern, nearDistance, 1, maxBytes)[0];
  }
  bool objectHolds(uint32_t file, const std::string& pattern, int nearDistance = 5, uint32_t maxBytes = 1'000'000,
                   bool strip = false, int wrapWidth = 0) {
    CFileContents contents(index.get(), file, maxBytes, wrapWidth, strip, nearDistance);
    return contents.containsHit(pattern);
  }
  // The check's verdict on a page, with markup stripped or shown, against the contents
  // object's; a page is never left to the contents object.
  void expectPageAgrees(uint32_t file, const std::string& pattern, bool strip, const std::string& page,
                        uint32_t maxBytes = 1'000'000, int wrapWidth = 0) {
    int verdict = verdictsOf({file}, pattern, 5, 1, maxBytes, strip, wrapWidth)[0];
    EXPECT_NE(verdict, 2) << page.substr(0, 60);
    EXPECT_EQ(verdict, objectHolds(file, pattern, 5, maxBytes, strip, wrapWidth) ? 1 : 0)
        << pattern << (strip ? " stripped" : " shown") << " in " << page.substr(0, 120);
  }
};

TEST_F(ContentsCheckTest, AgreesWithTheContentsObject) {
  struct Case {
    std::string text;
    const char* pattern;
    bool holds;
  };
  const std::string chunkEnd(65'535 - 8, ' ');
  const std::vector<Case> cases = {
      {"quick brown", "( quick <1 brown )", true},
      {"quick\nbrown", "( quick <1 brown )", true},                  // across a line end
      {"a quick\r\n\r\nbrown b", "( quick <1 brown )", true},
      {"brown quick", "( quick <1 brown )", false},
      {"quick. Brown", "( quick <1 brown )", true},                  // case and punctuation
      {chunkEnd + "quick brown", "( quick <1 brown )", true},       // the second word past the chunk
      {chunkEnd + "xxx quick brown", "( quick <1 brown )", true},   // the first word cut by the chunk
      {chunkEnd + "xxxxquickbrown", "quickbrown", false},
      {chunkEnd + "xxxxxx quickbrown", "quickbrown", true},
      {chunkEnd + "xxxxxx quickbrown", "quick", false},
      {"quick brown fox", "( quick <1 brown )", true},               // at the start
      {"the fox is quick brown", "( quick <1 brown )", true},        // at the end
      {"quick quick brown", "( quick <1 brown )", true},             // repeated words
      {"quick quick", "( quick <1 quick )", true},
      {"quick", "( quick <1 quick )", false},
      {"quick fox quick", "( quick <1 quick )", false},
      {"quick fox quick", "( quick <2 quick )", true},
      {"dog a b c d e f g h i j k fox", "( fox <0 dog )", false},
      {"fox a b c d e f g h i j k dog", "( fox <0 dog )", true},
      {foxText, "quick<2 fox<1 jumps", true},
      {foxText, "quick<1 fox<1 jumps", false},
      {"a x b c", "a<5 b<1 c", true},                                // settled by a later word
      {"a x b y c", "a<5 b<1 c", false},
      {"a x b y c b c", "a<3 b<1 c", false},
      {"a x b y c b c", "a<4 b<1 c", false},
      {"a x b y c b c", "a<5 b<1 c", true},
      {"quick brawn", "( qu* <1 br?wn )", true},
      {foxText, "+fox dog", true},
      {foxText, "+fox +dog", false},
      {foxText, "+( fox dog ) cat", false},
      {foxText, "lazy & ( fox <8 dog ) | ( dog <8 fox )", true},
      {"", "quick", false},
      {std::string("quick\0 brown", 12), "( quick <1 brown )", true},
      {std::string("quick \0\0 brown", 14), "( quick <1 brown )", true},
  };
  for (const Case& test : cases) {
    uint32_t file = addFile("c" + std::to_string(++made) + ".txt", test.text);
    EXPECT_EQ(verdictOf(file, test.pattern), test.holds ? 1 : 0) << test.pattern << " in " << test.text.substr(0, 80);
    EXPECT_EQ(objectHolds(file, test.pattern), test.holds) << test.pattern << " in " << test.text.substr(0, 80);
  }
}

// The check and the contents object read a file in the same chunks; a chunk end between
// two words keeps them apart in both, and one inside a word keeps it whole.
TEST_F(ContentsCheckTest, AgreesAcrossTheEndOfAChunk) {
  struct Case {
    std::string tail, head;
    const char* pattern;
    bool holds;
  };
  const std::vector<Case> cases = {
      {"quick", " brown", "( quick <1 brown )", true},
      {"quick", "\x01" "brown", "( quick <1 brown )", true},
      {"quick\r", "brown", "( quick <1 brown )", true},
      {"quick\r", "\nbrown", "( quick <1 brown )", true},
      {"quick", "\r\nbrown", "( quick <1 brown )", true},
      {"qui", "ck brown", "( quick <1 brown )", true},
      {"quick", "\x01" "brown", "quickbrown", false},
      {"quick", "brown", "quickbrown", true},
      {"quick", "brown", "( quick <1 brown )", false},
      {"brown", "\x01" "quick", "( quick <1 brown )", false},
  };
  for (const Case& test : cases) {
    uint32_t file = addFile("e" + std::to_string(++made) + ".txt", kolvotest::acrossChunkEnd(test.tail, test.head));
    EXPECT_EQ(verdictOf(file, test.pattern), test.holds ? 1 : 0) << test.pattern << " in " << test.tail << test.head;
    EXPECT_EQ(objectHolds(file, test.pattern), test.holds) << test.pattern << " in " << test.tail << test.head;
  }
}

// Web pages are checked on the threads too, through the same display as their contents
// object's, markup and all.
TEST_F(ContentsCheckTest, WebPagesAreCheckedAsTheyAreShown) {
  index->setIncludeCount(1);
  index->setIncludePattern(0, "*.htm", "html");
  const std::vector<std::string> pages = {
      "<p>quick</p><p>brown</p>",
      "<b>quick</b> brown",
      "qu<b>ick</b> brown",
      "quick &amp; brown, caf&eacute; noir",
      "<script>quick brown</script> brown quick",
      "<!-- quick --> brown",
      kolvotest::acrossChunkEnd("quick", "<b>brown</b>"),
      kolvotest::acrossChunkEnd("quick<", "br>brown"),
  };
  for (const std::string& page : pages) {
    uint32_t file = addFile("w" + std::to_string(++made) + ".htm", page);
    for (const char* pattern : {"( quick <1 brown )", "( brown <1 quick )", "( caf\xe9 <1 noir )", "b"}) {
      int verdict = verdictOf(file, pattern);
      EXPECT_NE(verdict, 2) << page.substr(0, 60);
      EXPECT_EQ(verdict, objectHolds(file, pattern) ? 1 : 0) << pattern << " in " << page.substr(0, 60);
    }
  }
}

TEST_F(ContentsCheckTest, AgreesWithTheContentsObjectOnRandomTexts) {
  const char* const words[] = {"a", "b", "c", "d", "ab", "ba"};
  const char* const patterns[] = {"a<1 b", "a<2 b<1 c", "a<0 d", "+a b<1 c", "( a <1 b ) | ( b <1 a )",
                                  "a<3 b<2 c<1 d", "b* <1 ?", "a<1 a", "( a <1 +b ) c<2 d", "c<2 ( a <1 b )"};
  std::srand(22);
  for (int round = 0; round < 60; ++round) {
    std::string text;
    int count = std::rand() % 40;
    for (int i = 0; i < count; ++i) text += std::string(words[std::rand() % 6]) + (std::rand() % 5 ? " " : "\n");
    uint32_t file = addFile("r" + std::to_string(++made) + ".txt", text);
    for (const char* pattern : patterns)
      for (int near : {0, 2})
        EXPECT_EQ(verdictOf(file, pattern, near), objectHolds(file, pattern, near) ? 1 : 0)
            << pattern << " near " << near << " in " << text;
  }
}

TEST_F(ContentsCheckTest, AgreesWhereTheDisplayDropsTrimsOrJoins) {
  // After a byte the display drops, punctuation is trimmed and can join words; runs of
  // high bytes not shown are taken out; line ends stop both.
  index->setValidCharMask(0xE9, true);
  index->setValidTrailingMask(0xE9, true);
  index->setValidViewableMask(0xE9, true);
  const char* const words[] = {"a", "b", "c", ".", "-", "a.", ".b", "\n", "\x01", "\r", "\xE9", "\x90\x91\x92\x93"};
  constexpr int wordCount = sizeof words / sizeof *words;
  std::srand(7);
  for (int round = 0; round < 80; ++round) {
    std::string text;
    int count = std::rand() % 30;
    for (int i = 0; i < count; ++i) text += std::string(words[std::rand() % wordCount]) + (std::rand() % 3 ? " " : "");
    uint32_t file = addFile("t" + std::to_string(++made) + ".txt", text);
    for (const char* pattern : {"a<1 b", "ab", "b<2 c", "a.b", "( a <1 b ) | c", "\xe9<1 a", "a\xe9"})
      EXPECT_EQ(verdictOf(file, pattern), objectHolds(file, pattern) ? 1 : 0) << pattern << " in " << text;
  }
}

// The check splits a plain file's words straight from its bytes, and shows anything else
// first; under other word characters (digits that only go on with a word or also start
// one, accented letters, punctuation made a word character, upper case no longer a word
// character) both agree with the contents object, on mixed case, long words and numbers.
TEST_F(ContentsCheckTest, AgreesUnderOtherWordCharacters) {
  const char* const pieces[] = {"quick", "QUICK", "Brown", "brown", "qu1ck", "1quick", "quick2", "42", " ", " ", "\n",
                                "\r\n", "-", ".", "quick-brown", "caf\xE9", "\xE9", "\x01", "\t",
                                "quickquickquickquickquickquickquickquickquickquickquickquickquickquick"};
  constexpr int pieceCount = sizeof pieces / sizeof *pieces;
  const char* const patterns[] = {"( quick <1 brown )", "( quick2 <1 brown )", "( 42 <1 quick )", "caf\xe9",
                                  "( quick <2 quick )", "quick-brown", "( qu?ck <1 br* )",
                                  "quickquickquickquickquickquickquickquickquickquickquickquickquickquick"};
  const std::vector<std::function<void()>> changes = {
      [] {},
      [&] {
        for (int c = '0'; c <= '9'; ++c) index->setValidCharMask(c, true);
      },
      [&] {
        index->setValidCharMask(0xE9, true);
        index->setValidTrailingMask(0xE9, true);
        index->setValidViewableMask(0xE9, true);
      },
      [&] {
        index->setValidCharMask('-', true);
        index->setValidTrailingMask('-', true);
      },
      [&] {
        for (int c = 'A'; c <= 'Z'; ++c) {
          index->setValidCharMask(c, false);
          index->setValidTrailingMask(c, false);
        }
      },
  };
  std::srand(5);
  for (size_t change = 0; change < changes.size(); ++change) {
    changes[change]();
    for (int round = 0; round < 25; ++round) {
      std::string text;
      int count = std::rand() % 30;
      for (int i = 0; i < count; ++i) text += pieces[std::rand() % pieceCount];
      uint32_t file = addFile("m" + std::to_string(++made) + ".txt", text);
      for (const char* pattern : patterns)
        EXPECT_EQ(verdictOf(file, pattern), objectHolds(file, pattern) ? 1 : 0)
            << "change " << change << ": " << pattern << " in " << text;
    }
  }
}

// A page is read once and shown from that read; one that fills a chunk exactly, or by a
// byte more, is read on to its end. Mixed markup, references and blanks around the words
// give what the contents object gives.
TEST_F(ContentsCheckTest, WebPagesAgreeOnRandomMarkup) {
  index->setIncludeCount(1);
  index->setIncludePattern(0, "*.htm", "html");
  const char* const pieces[] = {"quick", "Brown", " ",     "\n",  "\t",        "<b>", "</b>", "<p>",
                                "<br>",  "&amp;", "&#113;", "&#98;rown", "caf&eacute;", "\xC3\xA9", "<!-- quick -->",
                                "<script>quick brown</script>", "<", "&", "  ", "\r\n"};
  constexpr int pieceCount = sizeof pieces / sizeof *pieces;
  const char* const patterns[] = {"( quick <1 brown )", "( brown <1 quick )", "( uick <1 brown )", "caf\xe9",
                                  "( quick <2 quick )"};
  std::srand(9);
  std::vector<std::string> pages;
  for (int round = 0; round < 60; ++round) {
    std::string page;
    int count = std::rand() % 30;
    for (int i = 0; i < count; ++i) page += pieces[std::rand() % pieceCount];
    pages.push_back(page);
  }
  const std::string words = "quick brown <b>brown</b> quick ";
  for (size_t size : {size_t{CFileAnalyzer::chunkCapacity}, size_t{CFileAnalyzer::chunkCapacity} + 1}) {
    std::string page;
    while (page.size() < size) page += words;
    page.resize(size - 11);
    pages.push_back(page + "quick brown");
  }
  for (const std::string& page : pages) {
    uint32_t file = addFile("h" + std::to_string(++made) + ".htm", page);
    for (const char* pattern : patterns) {
      int verdict = verdictOf(file, pattern);
      EXPECT_NE(verdict, 2) << page.substr(0, 60);
      EXPECT_EQ(verdict, objectHolds(file, pattern) ? 1 : 0) << pattern << " in " << page.substr(0, 80);
    }
  }
}

// A whole page's words are read from its bytes where its display keeps them as they
// stand; every way the display passes over markup, decodes a reference or a character
// and breaks lines must give the same verdicts, markup stripped or shown.
TEST_F(ContentsCheckTest, PagesAgreeWithTheirDisplay) {
  index->setIncludeCount(1);
  index->setIncludePattern(0, "*.htm", "html");
  const std::string chunkEnd(65'535 - 12, 'x');
  const std::vector<std::string> pages = {
      "<a href=\"x>y\">quick</a> brown",  // a '>' inside quotes ends the tag
      "<a title='quick brown'>x</a>",
      "qu<!-- x -->ick brown",  // a comment leaves nothing between the words
      "qu<!---->ick brown",
      "quick<!-->brown-->x",
      "quick <!-- never closed brown",
      "quick <b never closed brown",
      "<script>if (a > b) quick brown</script>brown quick",
      "<SCRIPT type=x>quick brown</SCRIPT >quick</script> brown",
      "<style>quick{brown}</style>quick brown",
      "<scripted>quick brown",
      "<script>quick brown",
      "quick<p>brown", "quick<br/>brown", "quick</p>brown", "<li>quick<li>brown", "quick<tr>brown", "quick<pre>brown",
      "quick<b>brown", "quick</b>brown", "<?xml version=\"1.0\"?>quick brown", "<!DOCTYPE html>quick brown",
      "a < b quick brown", "a <5 quick brown", "quick > brown", "quick<", "quick&",
      "quick&nbsp;brown", "quick&#32;brown", "quick&#x20;brown", "&#113;uick brown", "qu&#105;ck brown",
      "qu&#X69;ck brown", "quick&bogus;brown", "quick&amp brown", "quick&amp;brown", "quick&#0;brown",
      "quick&#10;brown", "quick&#13;brown", "quick&#13;\nbrown", "quick&#9;brown", "quick&#300;brown", "quick&#;brown",
      "quick &lt;b&gt; brown", "caf&eacute; noir", "caf\xC3\xA9 noir", "caf\xE9 noir", "quick\xE2\x80\x94" "brown",
      "quick\xFF" "brown", "quick\xC3" "brown", "QUICK Brown", "quick\r\nbrown", "quick\rbrown", "quick\tbrown",
      "<p>quick</p>\n\n<p>brown</p>", std::string("quick\0 brown", 12), std::string("<b\0>quick brown", 15),
      "quick.brown", "quick. brown", "-quick- -brown-", ".quick<br>.brown", "quick-<p>-brown",
      std::string(300, 'q') + " quick brown", "quick " + std::string(300, 'b') + " brown",
      chunkEnd + "quick brown",  // the page ends a byte short of a chunk: read whole
      chunkEnd + "qu<b>ick brown", chunkEnd + "xxx quick brown", chunkEnd + "xx <!-- quick --> brown",
      chunkEnd + "xx quick &amp; brown", kolvotest::acrossChunkEnd("quick &am", "p; brown"),
      kolvotest::acrossChunkEnd("quick <scr", "ipt>x</script> brown"),
  };
  const char* const patterns[] = {"( quick <1 brown )", "( brown <1 quick )", "quickbrown", "( qu* <1 br?wn )",
                                  "( caf\xe9 <1 noir )", "( quick <2 brown )", "+quick brown", "y", "quick"};
  for (const std::string& page : pages) {
    uint32_t file = addFile("d" + std::to_string(++made) + ".htm", page);
    for (bool strip : {true, false})
      for (const char* pattern : patterns) expectPageAgrees(file, pattern, strip, page);
  }
}

// The pages of everyday markup are read from their bytes, not shown first; those with a
// byte whose display the scan does not follow are left to the display.
TEST_F(ContentsCheckTest, EverydayPagesAreReadFromTheirBytes) {
  index->setIncludeCount(1);
  index->setIncludePattern(0, "*.htm", "html");
  auto* page = dynamic_cast<CHtmlAnalyzer*>(index->analyzerMap["html"].get());
  ASSERT_NE(page, nullptr);
  std::array<unsigned char, 256> start = index->validCharMask, part = index->validTrailingMask;
  start[0] = part[0] = 0;
  const auto rules = CHtmlAnalyzer::ShownWordRules::of(start, part, kolvo::plainDisplayBytes(*index, start, part));
  const kolvo::HitPattern pattern("( quick <1 brown )", part, 5);
  kolvo::HitScan scan(pattern, part);
  std::string word;
  struct Case {
    std::string page;
    int verdict;  // 1 holds, 0 lacks, 2 left to the display
  };
  const std::vector<Case> cases = {
      {"<html><head><title>x</title></head>\n<body>\n<p>a <em>quick</em> brown<br>\nfox</p></body></html>\n", 1},
      {"<p>&quot;quick&quot; &amp; brown</p>", 1},
      {"<p>&quot;quick&quot; fox &amp; brown</p>", 0},
      {"<p>quick&nbsp;brown</p>", 1},
      {"<p>qu&#105;ck <!-- x --> brown</p>", 1},
      {"<script>var a = '<b>';</script><p>cafe quick brown</p>", 1},
      {"<style>p > b { x: y }</style><p>brown quick</p>", 0},
      {"<p>quick</p><p>brown</p>", 1},
      {"<p>caf\xC3\xA9 quick brown</p>", 2},  // a letter the display does not show here
      {"<p>quick\x01 brown</p>", 2},
      {"<p>quick&#13;brown</p>", 2},
      {std::string("<p>quick\0brown</p>", 18), 2},
  };
  for (const Case& test : cases) {
    scan.restart();
    auto shown = page->scanShownWords(test.page.data(), test.page.size(), true, rules, scan, word);
    int verdict = shown == CHtmlAnalyzer::ShownWords::holds ? 1 : shown == CHtmlAnalyzer::ShownWords::lacks ? 0 : 2;
    EXPECT_EQ(verdict, test.verdict) << test.page;
    uint32_t file = addFile("v" + std::to_string(++made) + ".htm", test.page);
    expectPageAgrees(file, "( quick <1 brown )", true, test.page);
  }
}

// Generated pages from a fixed seed: random tags (quoted '>' among their attributes),
// references good and bad, comments, scripts and styles closed or not, long words, UTF-8,
// under several word characters, wrapped or not, cut by the bytes shown or not.
TEST_F(ContentsCheckTest, GeneratedPagesAgreeWithTheirDisplay) {
  index->setIncludeCount(1);
  index->setIncludePattern(0, "*.htm", "html");
  const char* const pieces[] = {"quick", "Brown", "QUICK", "brown", "qu", "ick", " ", " ", "\n", "\t", "\r\n",
                                "<b>", "</b>", "<p>", "</p>", "<br>", "<li>", "<a title=\"x>quick\">",
                                "<img alt='brown'>", "<!-- quick brown -->", "<!--", "-->", "<script>quick</script>",
                                "<style>p{brown}</style>", "<script>", "</script>", "&amp;", "&#113;", "&#x62;",
                                "&bogus;", "&#0;", "&#10;", "&", "<", ">", ";", ".", "-", "\xE2\x80\x94", "7",
                                "quick7", "quickquickquickquickquickquickquickquickquickquickquickquickbrown",
                                // Bytes the display may drop or not show, which the scan leaves to it.
                                "&#13;", "\xFF", "x\x01y", "\xC3\xA9", "caf\xC3\xA9", "&eacute;"};
  constexpr int pieceCount = sizeof pieces / sizeof *pieces;
  constexpr int ordinaryPieces = pieceCount - 6;
  const char* const patterns[] = {"( quick <1 brown )", "( brown <1 quick )", "( qu* <2 b?own )", "caf\xe9",
                                  "( quick <2 quick )", "quick7", "( x <1 y )"};
  const std::vector<std::function<void()>> changes = {
      [] {},
      [&] {
        index->setValidCharMask(0xE9, true);
        index->setValidTrailingMask(0xE9, true);
        index->setValidViewableMask(0xE9, true);
      },
      [&] {
        for (int c = '0'; c <= '9'; ++c) index->setValidCharMask(c, true);
        index->setValidCharMask('-', true);
        index->setValidTrailingMask('-', true);
      },
      [&] { index->setValidViewableMask(' ', true); },
  };
  std::mt19937 random(2026);
  auto pageOf = [&](size_t pieceTotal, std::string page, int kinds) {
    for (size_t i = 0; i < pieceTotal; ++i) page += pieces[random() % static_cast<unsigned>(kinds)];
    return page;
  };
  for (size_t change = 0; change < changes.size(); ++change) {
    changes[change]();
    std::vector<std::string> pages;
    for (int round = 0; round < 30; ++round)
      pages.push_back(pageOf(random() % 40, "", round % 2 ? pieceCount : ordinaryPieces));
    // About the end of the first chunk: read whole when shorter, else through the display.
    if (change == 0)
      for (size_t shortOf : {40, 3}) pages.push_back(pageOf(12, std::string(65'535 - shortOf, 'z'), ordinaryPieces));
    for (const std::string& page : pages) {
      uint32_t file = addFile("g" + std::to_string(++made) + ".htm", page);
      for (bool strip : {true, false})
        for (const char* pattern : patterns) {
          SCOPED_TRACE("change " + std::to_string(change));
          expectPageAgrees(file, pattern, strip, page);
        }
      expectPageAgrees(file, "( quick <1 brown )", true, page, 1'000'000, 9);
      expectPageAgrees(file, "( quick <1 brown )", true, page, static_cast<uint32_t>(page.size() / 2));
    }
  }
}

// Where every byte that goes on with a word may also begin one, a plain file is split 64
// bytes at a time: a word across the end of such a block is one word, counted once.
TEST_F(ContentsCheckTest, WordsAcrossTheBlocksOfAPlainFile) {
  for (int c = '0'; c <= '9'; ++c) index->setValidCharMask(c, true);
  const std::string between(20, 'z');
  for (size_t pad = 0; pad < 140; ++pad) {
    const std::string blanks(pad, ' ');
    uint32_t joined = addFile("j" + std::to_string(pad) + ".txt", blanks + "xxxxxxxxquick brown");
    uint32_t apart = addFile("a" + std::to_string(pad) + ".txt", blanks + "quick " + between + " brown quick");
    EXPECT_EQ(verdictOf(joined, "( quick <1 brown )"), 0) << pad;
    EXPECT_EQ(verdictOf(apart, "( quick <2 brown )"), 1) << pad;
    EXPECT_EQ(verdictOf(apart, "( brown <1 quick )"), 1) << pad;
    EXPECT_EQ(verdictOf(apart, "( quick <1 " + between + " <1 brown <1 quick )"), 1) << pad;
    EXPECT_EQ(verdictOf(apart, "( quick <1 brown )"), 0) << pad;
  }
}

TEST_F(ContentsCheckTest, ReadsAtMostTheBytesShown) {
  uint32_t file = addFile("cut.txt", "quick brown fox");
  for (uint32_t maxBytes : {0U, 5U, 8U, 11U, 12U, 100U}) {
    EXPECT_EQ(verdictOf(file, "( quick <1 brown )", 5, maxBytes), objectHolds(file, "( quick <1 brown )", 5, maxBytes))
        << maxBytes;
    EXPECT_EQ(verdictOf(file, "quick", 5, maxBytes), maxBytes >= 5 ? 1 : 0) << maxBytes;
  }
  EXPECT_EQ(verdictOf(file, "brown", 5, 8), 0);
  EXPECT_EQ(verdictOf(file, "brown", 5, 11), 1);
}

TEST_F(ContentsCheckTest, FilesChangedGoneOrShownOtherwise) {
  uint32_t changed = addFile("changed.txt", "quick brown");
  uint32_t gone = addFile("gone.txt", "quick brown");
  root.write("docs/changed.txt", "brown quick");
  fs::remove(root.path() / "docs" / "gone.txt");
  uint32_t marked = addFile("shown.m", "quick brown");
  CopyingContainer* container = registerContainer();
  uint32_t box = addFile("outer.box", "quick brown");
  uint32_t member = addFile("inner.txt", "", box);
  EXPECT_EQ(verdictsOf({changed, gone, folder, marked, member, box}, "( quick <1 brown )"),
            (std::vector<int>{0, 0, 0, 2, 2, 2}));
  EXPECT_TRUE(container->asked.empty());  // nothing is extracted
  // The file table's numbers are checked: anything else is left to the contents object.
  EXPECT_EQ(verdictsOf({0, 3, 0xFFFFFFF0u}, "quick"), (std::vector<int>{2, 2, 2}));
}

TEST_F(ContentsCheckTest, ThePoolAnswersAsOneThread) {
  std::vector<uint32_t> files;
  std::vector<int> expected;
  for (int i = 0; i < 300; ++i) {
    bool holds = i % 3 == 0 || i % 7 == 0;
    std::string text = std::string(static_cast<size_t>(i * 37 % 5000), 'x') + (holds ? " quick brown" : " brown quick");
    files.push_back(addFile("p" + std::to_string(i) + ".txt", text));
    expected.push_back(holds ? 1 : 0);
  }
  files.push_back(folder);
  expected.push_back(0);
  for (unsigned threads : {1U, 2U, 4U, 0U})
    EXPECT_EQ(verdictsOf(files, "( quick <1 brown )", 5, threads), expected) << threads << " threads";
}

TEST_F(ContentsCheckTest, ThroughTheCInterface) {
  uint32_t holds = addFile("yes.txt", "a quick brown fox");
  uint32_t lacks = addFile("no.txt", "a brown quick fox");
  std::vector<kulong> files{holds, lacks};
  std::vector<char> verdicts(2, 7);
  kidxCheckContents(index.get(), files.data(), 2, 1000, 0, 0, 5, "( quick <1 brown )", 2, verdicts.data());
  EXPECT_EQ(verdicts, (std::vector<char>{1, 0}));
  kidxCheckContents(index.get(), files.data(), 2, 1000, 0, 0, 5, nullptr, 2, verdicts.data());
  EXPECT_TRUE(errors.codes().empty());
}

}  // namespace
