// Link compression: block layout and order, ranks, second blocks after an update, words
// too common for one block, and the links file's growth over updates.
#include <cerrno>
#include <filesystem>
#include <map>
#include <random>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "engine/filememory/le_fields.h"
#include "engine/filememory/posix_seam.h"
#include "engine/index/kolvo_index.h"
#include "engine/index/word_data.h"
#include "engine/kolvolib/entry_guard.h"
#include "tests/engine/index/index_fixture.h"
#include "tests/support/engine_errors.h"
#include "tests/support/temp_dir.h"

namespace {

using kolvo::WordData;
using kolvotest::EngineErrors;
using kolvotest::filesOfWord;
using kolvotest::TempDir;

std::vector<std::string> statusLog;
kbool logStatus(const char* code, const char* detail, int) {
  statusLog.push_back(std::string(code) + "|" + detail);
  return 1;
}

class LinkCompressionTest : public ::testing::Test {
 protected:
  void start(bool ranking, uint32_t window = kolvo::limits::linkFillWindowBytes) {
    index = std::make_unique<CKolvoIndex>(true, dir.slashed());
    index->useRanking = ranking;
    index->linkFillWindow = window;
    index->emptyIndex();
    index->newFileLinks();
  }
  // An update's link pass on the same tables, as prune starts it.
  void startUpdatePass() {
    index->wordLinks = new CWordLinks(dir.slashed() + "temp", 65535, 1048575, index->useRanking);
    index->passWordLimit = index->words->used();
  }
  const unsigned char* data(const char* word) { return index->words->getData(index->words->lookup(word)); }

  TempDir dir;
  EngineErrors errors;
  std::unique_ptr<CKolvoIndex> index;
};

TEST_F(LinkCompressionTest, ThreeFilesGiveOneBlockReadNewestFirst) {
  start(true);
  for (int i = 0; i < 3; ++i) index->indexWord("fox", 7);  // rank 2 in file 7
  index->indexWord("fox", 9);
  index->indexWord("fox", 12);
  EXPECT_EQ(WordData::pendingLinks(data("fox")), 2u);
  uint32_t before = index->fileLinks->used();
  index->compressLinks();
  EXPECT_EQ(index->fileLinks->used() - before, 3u * 5 + 4);
  std::vector<uint8_t> ranks;
  EXPECT_EQ(filesOfWord(*index, index->words->lookup("fox"), &ranks), (std::vector<uint32_t>{12, 9, 7}));
  EXPECT_EQ(ranks, (std::vector<uint8_t>{0, 0, 2}));
  uint32_t head = WordData::chainHead(data("fox"));
  EXPECT_EQ(head, before);  // the block's first slot
  EXPECT_EQ(index->fileLinks->getNextList(head + 3 * 5), 0u);
  EXPECT_EQ(WordData::currentFile(data("fox")), 12u);
  EXPECT_FALSE(std::filesystem::exists(dir.slashed() + "temp"));
  EXPECT_EQ(index->wordLinks, nullptr);
}

TEST_F(LinkCompressionTest, WithoutRankingRecordsAreFourBytesAndRanksRead255) {
  start(false);
  for (uint32_t file : {7u, 7u, 9u, 12u}) index->indexWord("fox", file);
  uint32_t before = index->fileLinks->used();
  index->compressLinks();
  EXPECT_EQ(index->fileLinks->used() - before, 3u * 4 + 4);
  std::vector<uint8_t> ranks;
  EXPECT_EQ(filesOfWord(*index, index->words->lookup("fox"), &ranks), (std::vector<uint32_t>{12, 9, 7}));
  EXPECT_EQ(ranks, (std::vector<uint8_t>{0, 255, 255}));
}

TEST_F(LinkCompressionTest, WordOfOneFileGetsNoBlock) {
  start(true);
  index->indexWord("alone", 5);
  uint32_t before = index->fileLinks->used();
  index->compressLinks();
  EXPECT_EQ(index->fileLinks->used(), before);
  EXPECT_EQ(WordData::chainHead(data("alone")), 0u);
  EXPECT_EQ(filesOfWord(*index, "alone"), std::vector<uint32_t>{5});
}

TEST_F(LinkCompressionTest, UpdateAddsASecondBlockSizedByItsOwnLinks) {
  start(true);
  for (uint32_t file : {7u, 9u, 12u}) index->indexWord("fox", file);
  index->indexWord("dog", 7);
  index->compressLinks();
  uint32_t firstHead = WordData::chainHead(data("fox"));
  startUpdatePass();
  index->indexWord("fox", 15);  // file 12 indexed again as 15
  uint32_t before = index->fileLinks->used();
  index->compressLinks();
  // One new link: two slots and the next-block word, however many links fox had before.
  EXPECT_EQ(index->fileLinks->used() - before, 2u * 5 + 4);
  EXPECT_EQ(WordData::pendingLinks(data("fox")), 3u);
  EXPECT_EQ(index->fileLinks->getNextList(WordData::chainHead(data("fox")) + 2 * 5), firstHead);
  EXPECT_EQ(filesOfWord(*index, "fox"), (std::vector<uint32_t>{15, 12, 9, 7}));
  // dog had no new link and got no block.
  EXPECT_EQ(WordData::chainHead(data("dog")), 0u);
}

TEST_F(LinkCompressionTest, AWordInMoreFilesThanOneBlockHoldsIsSplitAndReadsWhole) {
  // Also when the pass is filled in windows, each larger than a block.
  for (auto [ranking, window] : {std::pair{true, kolvo::limits::linkFillWindowBytes}, std::pair{false, 1u << 20},
                                 std::pair{true, 3u << 20}}) {
    SCOPED_TRACE(window);
    start(ranking, window);
    constexpr uint32_t fileCount = 300000;
    std::vector<uint32_t> numbers;
    for (uint32_t i = 0; i < fileCount; ++i) {
      numbers.push_back(index->files->addFile(("f" + std::to_string(i)).c_str()));
      index->indexWord("common", numbers.back());
      if (i % 1000 == 0) index->indexWord("rare", numbers.back());
    }
    index->compressLinks();
    ASSERT_TRUE(errors.errors().empty()) << errors.errors()[0];
    std::vector<uint32_t> expected(numbers.rbegin(), numbers.rend());
    EXPECT_EQ(filesOfWord(*index, "common"), expected);
    EXPECT_EQ(filesOfWord(*index, "rare").size(), 300u);
    // And once more after an update pass that adds to it.
    startUpdatePass();
    uint32_t extra = index->files->addFile("late");
    index->indexWord("common", extra);
    index->compressLinks();
    expected.insert(expected.begin(), extra);
    EXPECT_EQ(filesOfWord(*index, "common"), expected);
    index.reset();
  }
}

class LinkWindowTest : public LinkCompressionTest, public ::testing::WithParamInterface<uint32_t> {};

// Filled whole, in windows of a few hundred links, and in windows of a single link.
INSTANTIATE_TEST_SUITE_P(Windows, LinkWindowTest, ::testing::Values(kolvo::limits::linkFillWindowBytes, 2000u, 5u));

TEST_P(LinkWindowTest, WordsReadBackTheSameAcrossABuildAndThreeUpdates) {
  // A model of what each word must read: its current file, then every finished link
  // newest first, leaving out links to the file that is current at compression time.
  start(true, GetParam());
  std::mt19937 random(11);
  std::vector<std::string> vocabulary;
  for (int i = 0; i < 300; ++i) vocabulary.push_back("w" + std::to_string(i));
  std::map<std::string, std::vector<uint32_t>> finished;  // newest last
  std::map<std::string, std::vector<uint32_t>> pendingThisPass;
  std::map<std::string, uint32_t> current;
  uint32_t nextFile = 100;
  std::vector<uint32_t> linksSize;
  for (int pass = 0; pass < 4; ++pass) {
    if (pass > 0) startUpdatePass();
    if (pass > 0) vocabulary.push_back("p" + std::to_string(pass));
    int filesThisPass = pass == 0 ? 200 : 10;
    for (int f = 0; f < filesThisPass; ++f) {
      uint32_t file = nextFile++;
      int wordCount = 1 + static_cast<int>(random() % 40);
      for (int k = 0; k < wordCount; ++k) {
        // Zipf-like: low numbers far more often. Updates bring words of their own too,
        // which come after every older word in the table.
        if (pass > 0 && random() % 4 == 0) vocabulary.push_back("p" + std::to_string(pass) + "n" + std::to_string(k));
        const std::string& word = pass > 0 && random() % 3 == 0 ? vocabulary[300 + random() % (vocabulary.size() - 300)]
                                                                : vocabulary[(random() % 300) * (random() % 300) / 300];
        index->indexWord(word.c_str(), file);
        auto it = current.find(word);
        if (it != current.end() && it->second != file) pendingThisPass[word].push_back(it->second);
        current[word] = file;
      }
    }
    uint32_t before = index->fileLinks->used();
    index->compressLinks();
    linksSize.push_back(index->fileLinks->used() - before);
    for (auto& [word, links] : pendingThisPass)
      for (uint32_t file : links)
        if (file != current[word]) finished[word].push_back(file);
    pendingThisPass.clear();
    for (const auto& [word, file] : current) {
      std::vector<uint32_t> expected{file};
      auto& done = finished[word];
      expected.insert(expected.end(), done.rbegin(), done.rend());
      ASSERT_EQ(filesOfWord(*index, word.c_str()), expected) << word << " after pass " << pass;
    }
  }
  // Updates of 5% of the files grow the links file by far less than the build made.
  for (int pass = 1; pass < 4; ++pass) EXPECT_LT(linksSize[pass] * 5, linksSize[0]) << pass;
}

// The tables a build and one update pass leave behind, after each pass: the links table
// and every word's data.
struct FilledTables {
  std::vector<unsigned char> links;
  std::vector<std::vector<unsigned char>> wordData;
};

// Runs a build and an update pass at "at" with the fill in windows of window bytes on
// threads threads, the temporary table read in as many parts where it marks a group
// every markBytes; index(pass, index) indexes what each pass indexes.
template <typename IndexPass>
std::vector<FilledTables> fillTwoPasses(const std::string& at, uint32_t window, unsigned threads, uint32_t markBytes,
                                        IndexPass&& index) {
  auto kolvo = std::make_unique<CKolvoIndex>(true, at);
  kolvo->linkFillWindow = window;
  kolvo->linkFillThreads = threads;
  kolvo->emptyIndex();
  kolvo->newFileLinks();
  std::vector<FilledTables> passes;
  for (int pass = 0; pass < 2; ++pass) {
    if (pass == 1) {
      kolvo->wordLinks = new CWordLinks(at + "temp", 65535, 1048575, true);
      kolvo->passWordLimit = kolvo->words->used();
    }
    kolvo->wordLinks->markBytes = markBytes;
    index(pass, *kolvo);
    kolvo->compressLinks();
    // The links of later windows wait in tables of their own, gone once filled.
    for (const auto& entry : std::filesystem::directory_iterator(at))
      EXPECT_NE(entry.path().filename().string().rfind("temp", 0), 0u) << entry.path() << " left behind";
    FilledTables tables;
    const unsigned char* bytes = kolvo->fileLinks->getPointer(0, kolvo->fileLinks->used());
    tables.links.assign(bytes, bytes + kolvo->fileLinks->used());
    for (uint32_t word = kolvo->words->getFirst(); word; word = kolvo->words->getNext(word)) {
      const unsigned char* data = kolvo->words->getData(word);
      tables.wordData.emplace_back(data, data + 16);
    }
    passes.push_back(tables);
  }
  return passes;
}

// Whether windows of each size on each count of threads, with the temporary table read
// in parts of a few hundred bytes, write the tables one window on one thread writes.
template <typename IndexPass>
void expectTheSameTablesInWindows(EngineErrors& errors, std::initializer_list<std::pair<uint32_t, unsigned>> fills,
                                  IndexPass index) {
  TempDir whole, windowed;
  std::vector<FilledTables> expected =
      fillTwoPasses(whole.slashed(), kolvo::limits::linkFillWindowBytes, 1, kolvo::limits::linkReadMarkBytes, index);
  ASSERT_TRUE(errors.errors().empty()) << errors.errors()[0];
  for (auto [window, threads] : fills) {
    SCOPED_TRACE(std::to_string(window) + " bytes, " + std::to_string(threads) + " threads");
    std::vector<FilledTables> got = fillTwoPasses(windowed.slashed(), window, threads, 300, index);
    ASSERT_TRUE(errors.errors().empty()) << errors.errors()[0];
    for (size_t pass = 0; pass < expected.size(); ++pass) {
      EXPECT_TRUE(got[pass].links == expected[pass].links) << "pass " << pass;
      EXPECT_TRUE(got[pass].wordData == expected[pass].wordData) << "pass " << pass;
    }
  }
}

// The fill writes the links table a window at a time, the later windows on several
// threads; however small the windows and however many the threads, the tables come out
// byte for byte as one window on one thread writes them, over a build with words split
// over several blocks (in windows of their own, with other words between them) and an
// update pass that chains new blocks to old ones.
TEST_F(LinkCompressionTest, AFillInSmallWindowsWritesTheSameTablesAsOneWindow) {
  expectTheSameTablesInWindows(errors,
                               {{1u, 1u}, {1u, 2u}, {600u, 2u}, {100000u, 1u}, {100000u, 3u},
                                {kolvo::limits::linkFillWindowBytes, 2u}},
                               [](int pass, CKolvoIndex& index) {
                                 std::mt19937 random(5 + pass);
                                 uint32_t file = pass == 0 ? 1 : 300000;
                                 for (int f = 0; f < (pass == 0 ? 250000 : 5000); ++f, ++file) {
                                   index.indexWord("everywhere", file);
                                   if (f >= 1000) index.indexWord("nearlyeverywhere", file);
                                   if (f % 500 != 0) continue;
                                   for (int k = 0; k < 30; ++k) {
                                     std::string word =
                                         "w" + std::to_string((random() % 100) * (random() % 100) / 100 + pass * 20);
                                     index.indexWord(word.c_str(), file);
                                   }
                                 }
                               });
}

// The same with tens of thousands of words, whose table spans many stretches of the
// lookup that sends each link to its window, and windows from one word to many.
TEST_F(LinkCompressionTest, AFillOfManyWordsInWindowsWritesTheSameTablesAsOneWindow) {
  expectTheSameTablesInWindows(errors, {{700u, 1u}, {4096u, 2u}, {65536u, 3u}},
                               [](int pass, CKolvoIndex& index) {
                                 std::mt19937 random(17 + pass);
                                 uint32_t file = pass == 0 ? 1 : 5000;
                                 for (int f = 0; f < (pass == 0 ? 3000 : 300); ++f, ++file)
                                   for (int k = 0; k < 40; ++k) {
                                     // Zipf-like over 30,000 words; the update brings words of its own.
                                     uint32_t n = static_cast<uint32_t>(random() % 30000) * (random() % 30000) / 30000;
                                     std::string word = (pass == 1 && k % 8 == 0 ? "new" : "word") + std::to_string(n);
                                     index.indexWord(word.c_str(), file);
                                   }
                               });
}

ssize_t refuseWrite(int, const void*, size_t) {
  errno = ENOSPC;
  return -1;
}

TEST_F(LinkCompressionTest, AFullDiskWhileLinksWaitForTheirWindowIsReportedAndLeavesNoWaitingFile) {
  start(true, 5);  // a window for each word
  for (uint32_t file = 1; file <= 50; ++file)
    for (const char* word : {"alpha", "beta", "gamma"}) index->indexWord(word, file);
  kolvo::posixCalls().write = refuseWrite;
  kolvo::guardEntry<int>(0, [&] {
    index->compressLinks();
    return 0;
  });
  kolvo::resetPosixCalls();
  ASSERT_FALSE(errors.errors().empty());
  EXPECT_EQ(errors.errors()[0].rfind("MemFileExtendFail|", 0), 0u) << errors.errors()[0];
  for (const auto& entry : std::filesystem::directory_iterator(dir.slashed())) {
    std::string name = entry.path().filename().string();
    EXPECT_FALSE(name.rfind("temp", 0) == 0 && name.size() > 4) << name << " left behind";
  }
}

std::vector<std::thread::id> failingThreads;
void recordFailingThread(const char*, const char*) { failingThreads.push_back(std::this_thread::get_id()); }

TEST_F(LinkCompressionTest, ADamagedLinkOfALaterWindowIsToldOnceOnTheCallingThread) {
  // A link to no word lands in the last window, whichever thread fills it.
  for (unsigned threads : {1u, 2u, 4u}) {
    SCOPED_TRACE(threads);
    start(true, 5);
    index->linkFillThreads = threads;
    for (uint32_t file = 1; file <= 40; ++file)
      for (const char* word : {"alpha", "beta", "gamma", "delta", "epsilon"}) index->indexWord(word, file);
    index->wordLinks->addWord(41, index->words->used() + 1000, 1);
    failingThreads.clear();
    kSetThrowCallBack(recordFailingThread);
    kolvo::guardEntry<int>(0, [&] {
      index->compressLinks();
      return 0;
    });
    kSetThrowCallBack(nullptr);
    EXPECT_EQ(failingThreads, std::vector<std::thread::id>{std::this_thread::get_id()});
    for (const auto& entry : std::filesystem::directory_iterator(dir.slashed())) {
      std::string name = entry.path().filename().string();
      EXPECT_FALSE(name.rfind("temp", 0) == 0 && name.size() > 4) << name << " left behind";
    }
    index.reset();
  }
}

TEST_F(LinkCompressionTest, ADamagedLinkBesideAWordOfSeveralBlocksIsReportedAndWritesNoBlockOfIt) {
  // A link to a number beside a split word's own shares that word's state in the fill:
  // it must be refused, not written into the word's blocks.
  start(true);
  constexpr uint32_t fileCount = 220000;
  for (uint32_t file = 1; file <= fileCount; ++file) index->indexWord("everywhere", file);
  uint32_t split = index->words->lookup("everywhere");
  index->wordLinks->addWord(fileCount + 1, split ^ 1u, 1);
  kolvo::guardEntry<int>(0, [&] {
    index->compressLinks();
    return 0;
  });
  ASSERT_FALSE(errors.errors().empty());
  EXPECT_EQ(errors.errors()[0].rfind("AssertionFailed|", 0), 0u) << errors.errors()[0];
}

TEST_F(LinkCompressionTest, ReportsProgressOnlyWithAStatusLevel) {
  start(true);
  kSetStatusCallBack(logStatus);
  statusLog.clear();
  for (uint32_t file : {1u, 2u}) index->indexWord("one", file);
  index->indexWord("two", 1);
  index->wordsIndexed = 0;  // step 0: every word reports
  index->statusLevel = 1;
  index->compressLinks();
  EXPECT_EQ(statusLog, (std::vector<std::string>{"CountingCompress|0", "CountingCompress|5", "CompLinksFmt|0\t50000",
                                                  "Done|"}));
  statusLog.clear();
  index->statusLevel = 0;
  index->wordLinks = new CWordLinks(dir.slashed() + "temp", 65535, 1048575, true);
  index->compressLinks();
  EXPECT_TRUE(statusLog.empty());
  EXPECT_FALSE(std::filesystem::exists(dir.slashed() + "temp"));
  kSetStatusCallBack(nullptr);
}

TEST_F(LinkCompressionTest, WithoutItsTablesCompressionIsRefused) {
  start(true);
  delete index->wordLinks;
  index->wordLinks = nullptr;
  kolvo::guardEntry([&] { index->compressLinks(); });
  EXPECT_EQ(errors.codes(), std::vector<std::string>{"AssertionFailed"});
}

TEST_F(LinkCompressionTest, MovingWordWithoutTemporaryTableIsRefusedSafely) {
  index = std::make_unique<CKolvoIndex>(true, dir.slashed());
  index->indexWord("word", 1);
  kolvo::guardEntry([&] { index->indexWord("word", 2); });
  EXPECT_EQ(errors.codes(), std::vector<std::string>{"AssertionFailed"});
  EXPECT_EQ(WordData::currentFile(data("word")), 1u);
}

}  // namespace
