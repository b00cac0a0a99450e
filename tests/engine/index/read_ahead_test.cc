// A build's walk that reads and splits on a second thread leaves exactly the tables of
// a walk that does everything in turn: the same words, files in the same order with the
// same ranks, the same counters and reports, also when a halt cuts the walk short.
#include <sys/stat.h>

#include <map>
#include <memory>
#include <random>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include <gtest/gtest.h>

#include "engine/index/kolvo_index.h"
#include "engine/kolvolib/entry_guard.h"
#include "tests/engine/index/index_fixture.h"
#include "tests/support/engine_errors.h"
#include "tests/support/temp_dir.h"

namespace {

using kolvotest::TempDir;

// What a walk left: each word's files with their ranks, and the counters.
struct WalkResult {
  std::map<std::string, std::vector<std::pair<uint32_t, uint8_t>>> words;
  uint32_t contentsIndexed = 0;
  uint32_t filesIndexed = 0;
  uint32_t wordsIndexed = 0;
  double bytesRead = 0;
  std::vector<std::string> byteReports;
  size_t oddFilesRead = 0;
};

CKolvoIndex* walking = nullptr;
std::vector<std::string> byteReports;
size_t haltAtReport = 0;
size_t fileReports = 0;
bool reportsOnOtherThread = false;
std::thread::id walkThread;

kbool onStatus(const char* code, const char* detail, int) {
  if (std::this_thread::get_id() != walkThread) reportsOnOtherThread = true;
  std::string what = code;
  if (what == "BytesIndexing") byteReports.push_back(detail);
  if (what != "IndexingFile") return 1;
  // Every entry reports, so a halt can fall on a chosen one.
  walking->lastStatusTime = 0;
  return ++fileReports != haltAtReport;
}

class ReadAheadTest : public ::testing::Test {
 protected:
  void SetUp() override {
    walkThread = std::this_thread::get_id();
    reportsOnOtherThread = false;
    kSetStatusCallBack(onStatus);
    root = tree.path().string() + "/root";
    makeTree();
  }
  void TearDown() override { kSetStatusCallBack(nullptr); }

  void makeTree() {
    std::mt19937 random(11);
    std::vector<std::string> vocabulary;
    for (int i = 0; i < 3000; ++i) {
      std::string word;
      int length = 1 + static_cast<int>(random() % 14);
      for (int j = 0; j < length; ++j) word += static_cast<char>("etaoinshrdluETAOIN0123'"[random() % 23]);
      vocabulary.push_back(word);
    }
    auto text = [&](size_t words) {
      std::string out;
      for (size_t i = 0; i < words; ++i) {
        out += vocabulary[std::min(random() % vocabulary.size(), random() % vocabulary.size())];
        out += " ,.\n\t-"[random() % 6];
      }
      return out;
    };
    for (int folder = 0; folder < 12; ++folder) {
      std::string at = "root/f" + std::to_string(folder) + "/";
      for (int file = 0; file < 25; ++file) {
        std::string name = at + "t" + std::to_string(file);
        // Files another analyzer reads its own way lie between the others.
        if (file % 7 == 3) tree.write(name + ".odd", text(40));
        else if (file % 11 == 5) tree.write(name + ".mac", text(60) + "caf\x8e na\x8fve ");
        else tree.write(name + ".txt", text(20 + random() % 400));
      }
      if (folder % 4 == 1) tree.write(at + "sub/deep/x.txt", text(50));
    }
    // Several chunks, with words across their edges, and a last word without separator.
    tree.write("root/big.txt", text(60000) + "lastword");
    tree.write("root/empty.txt", "");
    tree.write("root/wide.txt", std::string("w\0i\0d\0e\0 \0t\0e\0x\0t\0", 18));
    tree.write("root/control.txt", "\x01noise\x02 kept.");
    std::string unreadable = tree.write("root/locked.txt", "secret words");
    chmod(unreadable.c_str(), 0);
  }

  WalkResult walk(bool readAhead, uint32_t maxPerFile = 1u << 30, int statusLevel = 1) {
    auto index = std::make_unique<CKolvoIndex>(true, store.slashed());
    walking = index.get();
    for (int c = 'a'; c <= 'z'; ++c) index->setValidCharMask(c, true);
    for (int c = '0'; c <= '9'; ++c) index->setValidCharMask(c, true);
    index->setValidCharMask(0xE9, true);
    index->setValidCharMask(0xEF, true);
    index->setValidTrailingMask('\'', true);
    index->minWordLength = 2;
    index->maxPerFileRead = maxPerFile;
    index->statusLevel = statusLevel;
    index->walkReadsAhead = readAhead;
    index->createAnalyzers();
    auto odd = std::make_unique<kolvotest::WordsOfLetters>(index.get());
    kolvotest::WordsOfLetters* oddReader = odd.get();
    index->analyzerMap["odd"] = std::move(odd);
    index->setIncludeCount(3);
    index->setIncludePattern(0, "*.odd", "odd");
    index->setIncludePattern(1, "*.mac", "macroman");
    index->setIncludePattern(2, "*.txt", "generic");
    index->emptyIndex();
    index->newFileLinks();
    byteReports.clear();
    fileReports = 0;
    uint32_t entry = index->files->addFile(root.c_str());
    kolvo::guardEntry([&] { index->indexDirectory(root.c_str(), entry); });
    index->compressLinks();

    WalkResult result;
    for (uint32_t word = index->words->getFirst(); word; word = index->words->getNext(word)) {
      std::vector<uint8_t> ranks;
      std::vector<uint32_t> files = kolvotest::filesOfWord(*index, word, &ranks);
      auto& list = result.words[index->words->getText(word)];
      for (size_t i = 0; i < files.size(); ++i) list.emplace_back(files[i], ranks[i]);
    }
    result.contentsIndexed = index->contentsIndexed;
    result.filesIndexed = index->filesIndexed;
    result.wordsIndexed = index->wordsIndexed;
    result.bytesRead = index->bytesRead;
    result.byteReports = byteReports;
    result.oddFilesRead = oddReader->read.size();
    walking = nullptr;
    return result;
  }

  static void expectSame(const WalkResult& alone, const WalkResult& ahead) {
    EXPECT_EQ(ahead.words, alone.words);
    EXPECT_EQ(ahead.contentsIndexed, alone.contentsIndexed);
    EXPECT_EQ(ahead.filesIndexed, alone.filesIndexed);
    EXPECT_EQ(ahead.wordsIndexed, alone.wordsIndexed);
    EXPECT_EQ(ahead.bytesRead, alone.bytesRead);
    EXPECT_EQ(ahead.byteReports, alone.byteReports);
    EXPECT_EQ(ahead.oddFilesRead, alone.oddFilesRead);
  }

  TempDir tree;
  TempDir store;
  std::string root;
  kolvotest::EngineErrors errors;
};

TEST_F(ReadAheadTest, LeavesTheTablesOfAWalkThatReadsInTurn) {
  haltAtReport = 0;
  WalkResult alone = walk(false);
  WalkResult ahead = walk(true);
  expectSame(alone, ahead);
  EXPECT_FALSE(reportsOnOtherThread);
  // The tree was read: the chunked file, the converted one and the wide one.
  EXPECT_TRUE(ahead.words.count("lastword"));
  EXPECT_TRUE(ahead.words.count("caf\xe9"));
  EXPECT_TRUE(ahead.words.count("wide"));
  EXPECT_TRUE(ahead.words.count("kept"));
  EXPECT_FALSE(ahead.words.count("noise"));
  EXPECT_EQ(ahead.oddFilesRead, 12u * 4);
  EXPECT_GT(ahead.contentsIndexed, 250u);
  EXPECT_TRUE(errors.errors().empty());
}

TEST_F(ReadAheadTest, ReadLimitAndByteReportsAreTheSame) {
  haltAtReport = 0;
  // The limit falls inside a word of the big file, and the reports come per chunk.
  WalkResult alone = walk(false, 70001, 2);
  WalkResult ahead = walk(true, 70001, 2);
  expectSame(alone, ahead);
  EXPECT_FALSE(reportsOnOtherThread);
  EXPECT_GT(ahead.byteReports.size(), 250u);
  EXPECT_FALSE(ahead.words.count("lastword"));
}

TEST_F(ReadAheadTest, AHaltKeepsTheWordsOfEveryFileRecordedBeforeIt) {
  for (size_t halt : {2u, 40u, 150u, 290u}) {
    haltAtReport = halt;
    errors.clear();
    WalkResult alone = walk(false);
    EXPECT_EQ(errors.codes(), std::vector<std::string>{"HaltRequested"});
    errors.clear();
    WalkResult ahead = walk(true);
    EXPECT_EQ(errors.codes(), std::vector<std::string>{"HaltRequested"});
    SCOPED_TRACE(halt);
    expectSame(alone, ahead);
    if (halt > 2) {
      EXPECT_GT(ahead.contentsIndexed, 0u);
    }
  }
  haltAtReport = 0;
}

}  // namespace
