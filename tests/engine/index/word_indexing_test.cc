// Word indexing and skip words: ranks and links of words met in several files, and
// how the skip file fills the skip-word table across chunks and at its end.
#include <gtest/gtest.h>

#include <cctype>
#include <random>
#include <string>
#include <tuple>
#include <vector>

#include "engine/analyzers/file_analyzer.h"
#include "engine/index/kolvo_index.h"
#include "engine/index/word_data.h"
#include "engine/kolvolib/error_reporting.h"
#include "tests/engine/analyzers/analyzer_fixture.h"

namespace {

using kolvo::WordData;
using kolvotest::AnalyzerFixture;
using kolvotest::Link;

const unsigned char* dataOf(const CKolvoIndex& index, const char* word) {
  uint32_t number = index.words->lookup(word);
  EXPECT_NE(number, 0u) << word;
  return number ? index.words->getData(number) : nullptr;
}

TEST(WordIndexing, LinkIsHandedOverWhenTheWordMovesToAnotherFile) {
  AnalyzerFixture fixture;
  CKolvoIndex& index = *fixture.index;
  for (int k = 0; k < 3; ++k) index.indexWord("river", 7);
  EXPECT_TRUE(fixture.links().empty());
  index.indexWord("river", 9);
  EXPECT_EQ(fixture.links(), (std::vector<Link>{{7, "river", 2}}));
  const unsigned char* data = dataOf(index, "river");
  EXPECT_EQ(WordData::currentFile(data), 9u);
  EXPECT_EQ(WordData::currentCount(data), 0u);
  EXPECT_EQ(WordData::pendingLinks(data), 1u);
  EXPECT_EQ(index.wordsIndexed, 1u);
}

TEST(WordIndexing, LinksOfSeveralWordsAndFiles) {
  AnalyzerFixture fixture;
  CKolvoIndex& index = *fixture.index;
  index.indexWord("alpha", 1);
  index.indexWord("beta", 1);
  index.indexWord("alpha", 1);
  index.indexWord("alpha", 2);
  index.indexWord("beta", 3);
  index.indexWord("alpha", 3);
  EXPECT_EQ(fixture.links(), (std::vector<Link>{{1, "alpha", 1}, {1, "beta", 0}, {2, "alpha", 0}}));
  EXPECT_EQ(WordData::pendingLinks(dataOf(index, "alpha")), 2u);
  EXPECT_EQ(WordData::currentFile(dataOf(index, "beta")), 3u);
  EXPECT_EQ(index.wordsIndexed, 2u);
}

TEST(WordIndexing, RankStopsAt255AndIsZeroWithoutRanking) {
  for (bool ranking : {true, false}) {
    SCOPED_TRACE(ranking);
    AnalyzerFixture fixture;
    CKolvoIndex& index = *fixture.index;
    index.useRanking = ranking;
    index.newFileLinks();
    for (int k = 0; k < 300; ++k) index.indexWord("often", 4);
    EXPECT_EQ(WordData::currentCount(dataOf(index, "often")), ranking ? 255u : 0u);
    index.indexWord("often", 5);
    // A table without rank bytes reads every rank as 255.
    EXPECT_EQ(fixture.links(), (std::vector<Link>{{4, "often", 255}}));
    EXPECT_EQ(index.wordLinks->ranked(), ranking);
  }
}

// Every word of the table with its number and its data, in table order.
std::vector<std::tuple<uint32_t, std::string, std::string>> tableOf(const CKolvoIndex& index) {
  std::vector<std::tuple<uint32_t, std::string, std::string>> out;
  for (uint32_t w = index.words->getFirst(); w; w = index.words->getNext(w))
    out.emplace_back(w, index.words->getText(w), std::string(reinterpret_cast<const char*>(index.words->getData(w)), 16));
  return out;
}

// indexBuffer hands a chunk's words over at once, each distinct word with its count.
// That must leave exactly the tables that one indexWord per occurrence leaves: the same
// word numbers, data, links and ranks, also for a file read in several chunks, for
// counts past 255, with and without ranking, and in any letter case.
TEST(WordIndexing, ChunkOfWordsLeavesTheTablesOfOneWordAtATime) {
  for (bool ranking : {true, false}) {
    SCOPED_TRACE(ranking);
    AnalyzerFixture single, chunked;
    single.index->useRanking = chunked.index->useRanking = ranking;
    CFileAnalyzer analyzer(chunked.index.get());
    std::mt19937 random(11);
    std::vector<std::string> vocabulary;
    for (int i = 0; i < 300; ++i) {
      std::string word;
      for (int j = 0, n = 3 + static_cast<int>(random() % 6); j < n; ++j) word += static_cast<char>('a' + random() % 26);
      vocabulary.push_back(word);
    }
    for (uint32_t file = 2; file < 14; ++file) {
      for (int chunk = 0, chunks = file % 3 == 0 ? 3 : 1; chunk < chunks; ++chunk) {
        std::string text;
        for (int k = 0; k < 2000; ++k) {
          // Few words are common enough to pass 255 occurrences in one file.
          const std::string& word = vocabulary[std::min(random() % 300, random() % 300)];
          single.index->indexWord(word.c_str(), file);
          std::string written = word;
          if (random() % 4 == 0) written[0] = static_cast<char>(std::toupper(static_cast<unsigned char>(written[0])));
          text += written + (k % 9 == 0 ? ".\n" : " ");
        }
        analyzer.indexBuffer(text.data(), static_cast<uint32_t>(text.size()), file, chunk == 0);
      }
    }
    EXPECT_EQ(tableOf(*chunked.index), tableOf(*single.index));
    EXPECT_EQ(chunked.links(), single.links());
    EXPECT_EQ(chunked.index->wordsIndexed, single.index->wordsIndexed);
    EXPECT_FALSE(single.links().empty());
  }
}

TEST(WordIndexing, SkipWordsLeaveEverythingUntouched) {
  AnalyzerFixture fixture;
  CKolvoIndex& index = *fixture.index;
  index.indexExcludedWord("the");
  index.indexWord("the", 1);
  index.indexWord("the", 2);
  EXPECT_EQ(index.words->lookup("the"), 0u);
  EXPECT_EQ(index.wordsIndexed, 0u);
  EXPECT_TRUE(fixture.links().empty());
  EXPECT_EQ(index.indexExcludedWord("the"), index.skippedWords->lookup("the"));
}

struct SkipCase {
  const char* name;
  std::string text;
  std::vector<std::string> skipped;
  std::vector<std::string> notSkipped;
};

TEST(SkipFile, TableOfFiles) {
  std::string longRun(65535, ',');
  std::string acrossChunks = std::string(65530, ',') + "Boundary,tail";
  std::string atChunkEnd = std::string(65532, ',') + "end" + ",next,";
  const std::vector<SkipCase> cases = {
      {"short words inside the file, three letters at its end", "a,bb,ccc", {"a", "bb", "ccc"}, {}},
      {"a last word of two letters is dropped", "a,bb,cc", {"a", "bb"}, {"cc"}},
      {"upper case is folded", "The,AND", {"the", "and"}, {"The"}},
      {"a word across two chunks enters whole", acrossChunks, {"boundary", "tail"}, {"bou", "ndary"}},
      {"a word that ends a chunk", atChunkEnd, {"end", "next"}, {"en"}},
      {"a file of separators", longRun + longRun, {}, {}},
  };
  for (const SkipCase& test : cases) {
    SCOPED_TRACE(test.name);
    AnalyzerFixture fixture;
    CKolvoIndex& index = *fixture.index;
    index.skipFilePath = fixture.writeFile("skip.txt", test.text);
    index.indexExclusions();
    for (const std::string& word : test.skipped) EXPECT_NE(index.skippedWords->lookup(word.c_str()), 0u) << word;
    for (const std::string& word : test.notSkipped) {
      uint32_t found = index.skippedWords->lookup(word.c_str());
      // The table compares ignoring case, so a folded twin may be found; its text is folded.
      if (found) {
        EXPECT_NE(std::string(index.skippedWords->getText(found)), word) << word;
      }
    }
    EXPECT_EQ(index.skippedWords->getEntryCount(), test.skipped.size());
    EXPECT_EQ(index.bytesRead, static_cast<double>(test.text.size()));
  }
}

TEST(SkipFile, DefaultPathAndMissingFile) {
  AnalyzerFixture fixture;
  CKolvoIndex& index = *fixture.index;
  fixture.writeFile("kolvo/skipfile.txt", "Stop,word\n");
  index.indexExclusions();
  EXPECT_NE(index.skippedWords->lookup("stop"), 0u);
  index.skipFilePath = fixture.root.slashed() + "absent.txt";
  EXPECT_THROW(index.indexExclusions(), kolvo::AbortToken);
  ASSERT_NE(index.skippedWords, nullptr);
  EXPECT_EQ(index.skippedWords->getEntryCount(), 0u);
}

}  // namespace
