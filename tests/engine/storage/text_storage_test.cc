// The word table: numbering, case-insensitive lookup, chain order across a rehash,
// the "hash" section, damaged stored data, and the accelerator of a new table, which
// must answer every lookup as the stored chains do.
#include "engine/storage/text_storage.h"

#include <cstdio>
#include <cstring>
#include <fstream>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "engine/filememory/le_fields.h"
#include "engine/kolvolib/entry_guard.h"
#include "engine/storage/hash_stream.h"
#include "tests/support/engine_errors.h"
#include "tests/support/temp_dir.h"

namespace {

using kolvotest::EngineErrors;
using kolvotest::TempDir;

struct FileCloser {
  void operator()(std::FILE* f) const { std::fclose(f); }
};
using Stream = std::unique_ptr<std::FILE, FileCloser>;

class TextStorageTest : public ::testing::Test {
 protected:
  std::unique_ptr<CTextStorage> newWordTable(uint32_t buckets = 40000) {
    return std::make_unique<CTextStorage>(dir.slashed() + "words", 131071, 1048575, 16, buckets);
  }
  void storeTo(const CTextStorage& table, const std::string& name = "hash") {
    Stream out(std::fopen((dir.slashed() + name).c_str(), "wb"));
    ASSERT_TRUE(table.store(out.get()));
  }
  std::unique_ptr<CTextStorage> reopen(const std::string& name = "hash") {
    Stream in(std::fopen((dir.slashed() + name).c_str(), "rb"));
    return kolvo::guardEntry<std::unique_ptr<CTextStorage>>(
        nullptr, [&] { return std::make_unique<CTextStorage>(dir.slashed() + "words", in.get()); });
  }
  std::vector<uint32_t> chainOf(const CTextStorage& table, const char* text) const {
    // Follows the stored links of text's bucket.
    std::vector<uint32_t> chain;
    for (uint32_t w = table.getFirst(); w; w = table.getNext(w))
      if (table.getHash(table.getText(w)) == table.getHash(text)) chain.push_back(w);
    return chain;
  }

  TempDir dir;
  EngineErrors errors;
};

TEST_F(TextStorageTest, FirstWordNumbersFollowTheHeaderAndPrefix) {
  auto words = newWordTable();
  EXPECT_EQ(words->getFirst(), 0u);
  uint32_t first = words->addText("alpha");
  EXPECT_EQ(first, 36u);
  EXPECT_EQ(words->addText("be"), 36u + 6 + 20);
  CTextStorage skipped(dir.slashed() + "skipped", 32767, 65535, 0, 1000);
  EXPECT_EQ(skipped.addText("the"), 20u);
  EXPECT_EQ(skipped.addText("and"), 20u + 4 + 4);
}

TEST_F(TextStorageTest, WalkVisitsEntriesInOrderAndEnds) {
  auto words = newWordTable();
  std::vector<std::string> added = {"one", "two", "three", "four"};
  for (auto& w : added) words->addText(w.c_str());
  std::vector<std::string> seen;
  for (uint32_t w = words->getFirst(); w; w = words->getNext(w)) seen.push_back(words->getText(w));
  EXPECT_EQ(seen, added);
  EXPECT_EQ(words->getText(0), nullptr);
  EXPECT_EQ(words->getText(words->used()), nullptr);
}

TEST_F(TextStorageTest, LookupIgnoresAsciiCaseOnly) {
  auto words = newWordTable();
  uint32_t w = words->addText("kolvo");
  EXPECT_EQ(words->lookup("KoLvO"), w);
  EXPECT_EQ(words->lookup("kolv"), 0u);
  EXPECT_EQ(words->lookup("kolvoo"), 0u);
  // Latin-1 letters hash alike but compare as different bytes.
  uint32_t e = words->addText("\xE9t\xE9");
  EXPECT_EQ(words->lookup("\xE9t\xE9"), e);
  EXPECT_EQ(words->lookup("\xC9T\xC9"), 0u);
}

TEST_F(TextStorageTest, DataBlockStartsZeroAndIsKept) {
  auto words = newWordTable();
  uint32_t w = words->addText("data");
  const unsigned char* data = words->getData(w);
  ASSERT_NE(data, nullptr);
  for (int i = 0; i < 16; ++i) EXPECT_EQ(data[i], 0);
  kolvo::storeU32(words->getWritableData(w) + 12, 77);
  words->addText("other");
  EXPECT_EQ(kolvo::loadU32(words->getData(w) + 12), 77u);
}

TEST_F(TextStorageTest, TheWordPastTheBucketCountDoublesTheBuckets) {
  auto words = newWordTable(4);
  for (int i = 0; i < 4; ++i) words->addText(("w" + std::to_string(i)).c_str());
  EXPECT_EQ(words->getBucketCount(), 4u);
  words->addText("w4");
  EXPECT_EQ(words->getBucketCount(), 8u);
  for (int i = 0; i < 5; ++i) EXPECT_NE(words->lookup(("W" + std::to_string(i)).c_str()), 0u) << i;
}

TEST_F(TextStorageTest, FortyThousandAndOneWordsGiveEightyThousandBuckets) {
  auto words = newWordTable();
  std::vector<uint32_t> numbers;
  for (int i = 0; i < 40001; ++i) numbers.push_back(words->addText(("word" + std::to_string(i)).c_str()));
  EXPECT_EQ(words->getBucketCount(), 80000u);
  EXPECT_EQ(words->getEntryCount(), 40001u);
  for (int i = 0; i < 40001; i += 97) EXPECT_EQ(words->lookup(("word" + std::to_string(i)).c_str()), numbers[i]);
}

TEST_F(TextStorageTest, ChainsKeepInsertionOrderAcrossRehash) {
  // Texts with equal hashes share a chain; the first added is found first even when
  // another equal text was added later.
  auto words = newWordTable(2);
  uint32_t a = words->addText("same");
  uint32_t b = words->addText("SAME");
  for (int i = 0; i < 20; ++i) words->addText(("x" + std::to_string(i)).c_str());
  EXPECT_EQ(words->lookup("same"), a);
  EXPECT_LT(a, b);
  std::vector<uint32_t> chain = chainOf(*words, "same");
  EXPECT_TRUE(std::is_sorted(chain.begin(), chain.end()));
}

TEST_F(TextStorageTest, HashFollowsTheFoldedSignedBytes) {
  auto words = newWordTable(1000003);
  // h = h*33 + f with f signed: "a" is 97; "\xE9" is -23.
  EXPECT_EQ(words->getHash("a"), 97u);
  EXPECT_EQ(words->getHash("ab"), (97u * 33 + 98) % 1000003);
  EXPECT_EQ(words->getHash("\xE9"), static_cast<uint32_t>(-23) % 1000003);
  EXPECT_EQ(words->getHash("AB"), words->getHash("ab"));
  EXPECT_EQ(words->getHash("a\x7F" "b"), words->getHash("a"));  // 0x7F ends the hash
}

TEST_F(TextStorageTest, StoredAndReopenedTableGivesTheSameAnswers) {
  std::vector<std::pair<std::string, uint32_t>> added;
  {
    auto words = newWordTable(8);
    for (int i = 0; i < 100; ++i) {
      std::string text = "entry" + std::to_string(i * 7);
      uint32_t w = words->addText(text.c_str());
      kolvo::storeU32(words->getWritableData(w), static_cast<uint32_t>(i));
      added.emplace_back(text, w);
    }
    words->disableWrite();
    storeTo(*words);
  }
  auto reopened = reopen();
  ASSERT_NE(reopened, nullptr);
  EXPECT_FALSE(reopened->writable());
  EXPECT_EQ(reopened->getEntryCount(), 100u);
  EXPECT_EQ(reopened->getBucketCount(), 128u);
  for (size_t i = 0; i < added.size(); ++i) {
    EXPECT_EQ(reopened->lookup(added[i].first.c_str()), added[i].second);
    EXPECT_EQ(kolvo::loadU32(reopened->getData(added[i].second)), i);
  }
  EXPECT_EQ(reopened->getFirst(), added.front().second);
}

TEST_F(TextStorageTest, HashSectionBytesAreTheTagsCountsAndBuckets) {
  auto words = newWordTable(3);
  words->addText("a");
  storeTo(*words);
  std::string bytes = dir.read("hash");
  ASSERT_EQ(bytes.size(), 4u * (3 + 2 + 3));
  auto word = [&](int i) { return kolvo::loadU32(bytes.data() + 4 * i); };
  EXPECT_EQ(word(0), 12350001u);
  EXPECT_EQ(word(1), 20u);
  EXPECT_EQ(word(2), 1u);
  EXPECT_EQ(word(3), 12340001u);
  EXPECT_EQ(word(4), 3u);
  EXPECT_EQ(word(5 + 97 % 3), 36u);
}

TEST_F(TextStorageTest, WrongTagShortSectionOrHugeCountIsAReadError) {
  auto words = newWordTable(3);
  words->addText("a");
  words->disableWrite();
  storeTo(*words);
  std::string good = dir.read("hash");

  std::string badTag = good;
  badTag[0] = 'X';
  dir.write("bad-tag", badTag);
  EXPECT_EQ(reopen("bad-tag"), nullptr);

  dir.write("short", good.substr(0, good.size() - 2));
  EXPECT_EQ(reopen("short"), nullptr);

  std::string huge = good;
  kolvo::storeU32(huge.data() + 16, 0x3FFFFFFF);  // a bucket count no file holds
  dir.write("huge", huge);
  EXPECT_EQ(reopen("huge"), nullptr);

  std::string bigCount = good;
  kolvo::storeU32(bigCount.data() + 8, 0xFFFFFFF0);  // more entries than the file can hold
  dir.write("big-count", bigCount);
  EXPECT_EQ(reopen("big-count"), nullptr);

  std::string badBucketTag = good;
  kolvo::storeU32(badBucketTag.data() + 12, 1);
  dir.write("bad-bucket-tag", badBucketTag);
  EXPECT_EQ(reopen("bad-bucket-tag"), nullptr);

  EXPECT_EQ(errors.codes(), std::vector<std::string>(5, "StorageReadError"));
  EXPECT_EQ(errors.errors()[0], "StorageReadError|" + dir.slashed() + "words");
}

TEST_F(TextStorageTest, DamagedChainsFailLookupWithoutLoopingOrCrashing) {
  std::vector<uint32_t> numbers;
  {
    auto words = newWordTable(4);  // 'a', 'e', 'i' and 'm' share bucket 1 of 4
    for (const char* w : {"a", "e", "i"}) numbers.push_back(words->addText(w));
    words->disableWrite();
    storeTo(*words);
  }
  // Point i's link back at a: a loop.
  {
    std::fstream file(dir.slashed() + "words", std::ios::in | std::ios::out | std::ios::binary);
    unsigned char link[4];
    kolvo::storeU32(link, numbers[0]);
    file.seekp(numbers[2] - 20);
    file.write(reinterpret_cast<char*>(link), 4);
  }
  auto reopened = reopen();
  ASSERT_NE(reopened, nullptr);
  EXPECT_EQ(kolvo::guardEntry<uint32_t>(1, [&] { return reopened->lookup("m"); }), 1u);
  EXPECT_EQ(errors.codes(), std::vector<std::string>{"AssertionFailed"});
  // A link into nowhere.
  {
    std::fstream file(dir.slashed() + "words", std::ios::in | std::ios::out | std::ios::binary);
    unsigned char link[4];
    kolvo::storeU32(link, 0x7FFFFFFF);
    file.seekp(numbers[0] - 20);
    file.write(reinterpret_cast<char*>(link), 4);
  }
  errors.clear();
  auto again = reopen();
  ASSERT_NE(again, nullptr);
  EXPECT_EQ(kolvo::guardEntry<uint32_t>(1, [&] { return again->lookup("i"); }), 1u);
  EXPECT_EQ(errors.codes(), std::vector<std::string>{"AssertionFailed"});
}

TEST_F(TextStorageTest, BucketHeadOutsideTheFileIsRefused) {
  auto words = newWordTable(1);
  words->addText("a");
  words->disableWrite();
  storeTo(*words);
  std::string bytes = dir.read("hash");
  kolvo::storeU32(bytes.data() + 20, 999999);
  dir.write("hash", bytes);
  auto reopened = reopen();
  ASSERT_NE(reopened, nullptr);
  EXPECT_EQ(kolvo::guardEntry<uint32_t>(1, [&] { return reopened->lookup("a"); }), 1u);
  EXPECT_EQ(errors.codes(), std::vector<std::string>{"AssertionFailed"});
}

TEST_F(TextStorageTest, TextWithoutItsNulAtTheEndIsAReadError) {
  uint32_t w;
  {
    auto words = newWordTable(1);
    w = words->addText("abc");
    words->disableWrite();
    storeTo(*words);
  }
  std::fstream file(dir.slashed() + "words", std::ios::in | std::ios::out | std::ios::binary);
  file.seekp(w + 3);
  file.put('d');
  file.close();
  EXPECT_EQ(reopen(), nullptr);
  EXPECT_EQ(errors.codes(), std::vector<std::string>{"StorageReadError"});
}

TEST_F(TextStorageTest, TextLongerThanOneIncrementIsRefused) {
  CTextStorage small(dir.slashed() + "small", 64, 64, 0, 10);
  std::string big(100, 'x');
  EXPECT_EQ(kolvo::guardEntry<uint32_t>(0, [&] { return small.addText(big.c_str()); }), 0u);
  EXPECT_EQ(errors.codes(), std::vector<std::string>{"GetHugeSpace"});
  EXPECT_EQ(small.getEntryCount(), 0u);
  EXPECT_EQ(small.addText("fits"), 20u);
}

// Texts of every length around the accelerator's 12-byte head, many sharing their
// first 12 or more bytes, in mixed case, added through several growths of the
// accelerator: the accelerated table and the same table reopened (which walks the
// stored chains) find the same entry for each, and neither finds a text that was never
// added.
TEST_F(TextStorageTest, AcceleratedLookupsAnswerAsTheStoredChains) {
  std::mt19937 random(3);
  std::vector<std::string> texts;
  const std::string shared(30, 'q');
  for (int i = 0; i < 20000; ++i) {
    std::string text = i % 3 == 0 ? shared.substr(0, 8 + i % 12) : std::string();
    int length = 1 + static_cast<int>(random() % 24);
    for (int j = 0; j < length; ++j) text += static_cast<char>('a' + random() % 26);
    texts.push_back(text);
  }
  auto words = newWordTable(1000);
  std::vector<uint32_t> numbers;
  for (const std::string& text : texts) {
    uint32_t found = words->lookup(text.c_str());
    numbers.push_back(found ? found : words->addText(text.c_str()));
  }
  words->disableWrite();
  storeTo(*words);
  auto reopened = reopen();
  ASSERT_NE(reopened, nullptr);
  for (size_t i = 0; i < texts.size(); ++i) {
    std::string upper = texts[i];
    for (char& c : upper) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    ASSERT_EQ(words->lookup(upper.c_str()), numbers[i]) << texts[i];
    ASSERT_EQ(reopened->lookup(texts[i].c_str()), numbers[i]) << texts[i];
    std::string absent = texts[i] + "!";
    ASSERT_EQ(words->lookup(absent.c_str()), reopened->lookup(absent.c_str())) << absent;
  }
  EXPECT_EQ(words->lookup(shared.c_str()), reopened->lookup(shared.c_str()));
  EXPECT_GT(words->acceleratorBytes(), 0u);
  EXPECT_EQ(reopened->acceleratorBytes(), 0u);
}

TEST_F(TextStorageTest, ClearedTableFindsNothingAndTakesNoMoreText) {
  auto words = newWordTable();
  words->addText("harbour");
  words->clearAll();
  EXPECT_EQ(words->getEntryCount(), 0u);
  EXPECT_EQ(words->lookup("harbour"), 0u);
  EXPECT_EQ(kolvo::guardEntry<uint32_t>(0, [&] { return words->addText("lantern"); }), 0u);
  EXPECT_EQ(errors.codes(), std::vector<std::string>{"AssertionFailed"});
}

// Indexing keeps a new table's data in its accelerator; whoever reads the data, and the
// file once the table turns read-only or closes, sees every change made through it.
TEST_F(TextStorageTest, DataChangedThroughEntriesReachesEveryReaderAndTheFile) {
  enum Ending { readThenSwitch, switchOnly, closeOnly };
  for (Ending ending : {readThenSwitch, switchOnly, closeOnly}) {
    SCOPED_TRACE(ending);
    const bool read = ending == readThenSwitch;
    std::vector<uint32_t> numbers;
    {
      auto words = newWordTable(64);
      for (uint32_t i = 0; i < 3000; ++i) {
        std::string text = "word" + std::to_string(i);
        CTextStorage::Entry entry = words->addEntry(text.c_str());
        unsigned char data[16] = {};
        kolvo::storeU32(data, i + 1);
        kolvo::storeU32(data + 12, i * 3);
        words->setData(entry, data);
        numbers.push_back(entry.word);
      }
      // A second change of the same entries, found again by their texts.
      for (uint32_t i = 0; i < 3000; i += 2) {
        std::string text = "WORD" + std::to_string(i);
        CTextStorage::Entry entry = words->findEntry(CTextStorage::Key(text.c_str()), text.c_str());
        ASSERT_EQ(entry.word, numbers[i]);
        unsigned char data[16];
        std::memcpy(data, words->dataOf(entry), 16);
        kolvo::storeU32(data + 8, 7);
        words->setData(entry, data);
      }
      if (read) {
        const unsigned char* data = words->getData(numbers[10]);
        EXPECT_EQ(kolvo::loadU32(data), 11u);
        EXPECT_EQ(kolvo::loadU32(data + 8), 7u);
        // From here on the entries hold the data; later changes go straight to them.
        kolvo::storeU32(words->getWritableData(numbers[11]), 99);
        CTextStorage::Entry entry = words->findEntry(CTextStorage::Key("word12"), "word12");
        unsigned char changed[16] = {};
        kolvo::storeU32(changed, 98);
        words->setData(entry, changed);
        EXPECT_EQ(kolvo::loadU32(words->dataOf(entry)), 98u);
      }
      if (ending != closeOnly) words->disableWrite();
      storeTo(*words);
    }
    auto reopened = reopen();
    ASSERT_NE(reopened, nullptr);
    for (uint32_t i = 0; i < 3000; ++i) {
      const unsigned char* data = reopened->getData(numbers[i]);
      uint32_t first = read && i == 11 ? 99 : read && i == 12 ? 98 : i + 1;
      ASSERT_EQ(kolvo::loadU32(data), first) << i;
      if (read && i == 12) continue;
      ASSERT_EQ(kolvo::loadU32(data + 8), i % 2 == 0 ? 7u : 0u) << i;
      ASSERT_EQ(kolvo::loadU32(data + 12), i * 3) << i;
    }
  }
}

}  // namespace

// Link compression frees a new table's accelerator when indexing ends: the data kept
// in it reaches the entries, lookups go on through the chains, and indexing that
// resumes finds and changes the same entries and adds new ones.
TEST_F(TextStorageTest, ReleasedAcceleratorLeavesEveryAnswerAndIndexingResumes) {
  auto words = newWordTable(64);
  std::vector<uint32_t> numbers;
  for (uint32_t i = 0; i < 3000; ++i) {
    std::string text = "released" + std::to_string(i);
    CTextStorage::Entry entry = words->addEntry(text.c_str());
    unsigned char data[16] = {};
    kolvo::storeU32(data, i + 1);
    words->setData(entry, data);
    numbers.push_back(entry.word);
  }
  words->releaseAccelerator();
  EXPECT_EQ(words->acceleratorBytes(), 0u);
  for (uint32_t i = 0; i < 3000; i += 7) {
    std::string text = "RELEASED" + std::to_string(i);
    ASSERT_EQ(words->lookup(text.c_str()), numbers[i]) << text;
    ASSERT_EQ(kolvo::loadU32(words->getData(numbers[i])), i + 1) << text;
  }
  EXPECT_EQ(words->lookup("released3000"), 0u);
  auto find = [&](const std::string& text) { return words->findEntry(CTextStorage::Key(text.c_str()), text.c_str()); };
  CTextStorage::Entry again = find("released42");
  ASSERT_EQ(again.word, numbers[42]);
  EXPECT_EQ(kolvo::loadU32(words->dataOf(again)), 43u);
  unsigned char data[16] = {};
  kolvo::storeU32(data, 500);
  words->setData(again, data);
  EXPECT_EQ(find("absent").word, 0u);
  CTextStorage::Entry added = words->addEntry("added");
  EXPECT_EQ(find("ADDED").word, added.word);
  words->disableWrite();
  EXPECT_EQ(kolvo::loadU32(words->getData(numbers[42])), 500u);
  EXPECT_EQ(kolvo::loadU32(words->getData(numbers[41])), 42u);
  EXPECT_EQ(words->lookup("added"), added.word);
  EXPECT_EQ(words->getEntryCount(), 3001u);
}

// An update indexes into an opened table: the words it meets are kept in an accelerator
// of their own, which must answer as the chains do for words met before, words never
// met, and words the update adds.
TEST_F(TextStorageTest, OpenedTableIndexedAgainFindsStoredAndNewWords) {
  std::vector<uint32_t> numbers;
  {
    auto words = newWordTable(64);
    for (int i = 0; i < 2000; ++i) numbers.push_back(words->addText(("stored" + std::to_string(i)).c_str()));
    words->disableWrite();
    storeTo(*words);
  }
  auto reopened = reopen();
  ASSERT_NE(reopened, nullptr);
  ASSERT_TRUE(reopened->enableWrite());
  auto find = [&](const std::string& text) {
    return reopened->findEntry(CTextStorage::Key(text.c_str()), text.c_str());
  };
  for (int pass = 0; pass < 2; ++pass)
    for (int i = 0; i < 2000; i += 3) ASSERT_EQ(find("stored" + std::to_string(i)).word, numbers[i]) << pass;
  EXPECT_GT(reopened->acceleratorBytes(), 0u);
  // Words the accelerator never met are still found, through every kind of lookup.
  EXPECT_EQ(find("STORED1").word, numbers[1]);
  EXPECT_EQ(reopened->lookup("stored2"), numbers[2]);
  EXPECT_EQ(reopened->lookup(CTextStorage::Key("Stored5"), "Stored5"), numbers[5]);
  EXPECT_EQ(find("absent").word, 0u);
  CTextStorage::Entry added = reopened->addEntry("added");
  unsigned char data[16] = {};
  kolvo::storeU32(data, 41);
  reopened->setData(added, data);
  EXPECT_EQ(find("ADDED").word, added.word);
  EXPECT_EQ(reopened->lookup("added"), added.word);
  EXPECT_EQ(kolvo::loadU32(reopened->getData(added.word)), 41u);
  CTextStorage::Entry again = find("stored3");
  kolvo::storeU32(data, 42);
  reopened->setData(again, data);
  EXPECT_EQ(kolvo::loadU32(reopened->getData(numbers[3])), 42u);
}

// A large table's bucket heads are mapped from "hash" at open; the table answers as a
// read one would, its first change copies the heads, and "hash" itself never changes.
TEST_F(TextStorageTest, LargeReopenedTableAnswersAndChangesWithMappedBuckets) {
  std::vector<uint32_t> numbers;
  {
    auto words = newWordTable(40000);
    for (int i = 0; i < 3000; ++i) numbers.push_back(words->addText(("mapped" + std::to_string(i)).c_str()));
    words->disableWrite();
    storeTo(*words);
  }
  std::string stored = dir.read("hash");
  auto reopened = reopen();
  ASSERT_NE(reopened, nullptr);
  EXPECT_EQ(reopened->getBucketCount(), 40000u);
  for (int i = 0; i < 3000; i += 7) ASSERT_EQ(reopened->lookup(("MAPPED" + std::to_string(i)).c_str()), numbers[i]);
  EXPECT_EQ(reopened->lookup("absent"), 0u);
  ASSERT_TRUE(reopened->enableWrite());
  std::vector<uint32_t> added;
  for (int i = 0; i < 500; ++i) added.push_back(reopened->addText(("later" + std::to_string(i)).c_str()));
  ASSERT_TRUE(reopened->disableWrite());
  EXPECT_EQ(dir.read("hash"), stored);
  storeTo(*reopened, "hash2");
  reopened.reset();
  auto again = reopen("hash2");
  ASSERT_NE(again, nullptr);
  for (int i = 0; i < 3000; i += 11) EXPECT_EQ(again->lookup(("mapped" + std::to_string(i)).c_str()), numbers[i]);
  for (int i = 0; i < 500; i += 3) EXPECT_EQ(again->lookup(("later" + std::to_string(i)).c_str()), added[i]);
  EXPECT_TRUE(errors.codes().empty());
}

// Small bucket blocks are read, large ones mapped; a changed head leaves the others as
// they were.
TEST_F(TextStorageTest, BucketBlocksAreReadOrMappedWithTheSameHeads) {
  struct Case {
    uint32_t count;
    bool mapped;
  };
  const Case cases[] = {{16, false}, {16383, false}, {16384, true}, {100000, true}};
  for (const Case& c : cases) {
    kolvo::BucketArray heads(c.count, 0);
    for (uint32_t i = 0; i < c.count; i += 3) heads.writable(i) = i * 2 + 1;
    {
      Stream out(std::fopen((dir.slashed() + "block").c_str(), "wb"));
      ASSERT_TRUE(kolvo::writeU32(out.get(), 7));  // what comes before, off any page edge
      ASSERT_TRUE(kolvo::writeHashEntries(out.get(), heads));
      ASSERT_TRUE(kolvo::writeU32(out.get(), 99));
    }
    kolvo::BucketArray read;
    Stream in(std::fopen((dir.slashed() + "block").c_str(), "rb"));
    uint32_t before = 0, after = 0;
    ASSERT_TRUE(kolvo::readU32(in.get(), before));
    ASSERT_TRUE(kolvo::readHashEntries(in.get(), read)) << c.count;
    ASSERT_TRUE(kolvo::readU32(in.get(), after));
    EXPECT_EQ(after, 99u);
    EXPECT_EQ(read.isMapped(), c.mapped) << c.count;
    ASSERT_EQ(read.size(), c.count);
    for (uint32_t i = 0; i < c.count; ++i) ASSERT_EQ(read[i], heads[i]) << i;
    read.writable(1) = 5;
    EXPECT_FALSE(read.isMapped());
    ASSERT_EQ(read.size(), c.count);
    EXPECT_EQ(read[1], 5u);
    EXPECT_EQ(read[3], 7u);
    EXPECT_EQ(read[c.count - 1], heads[c.count - 1]);
  }
}
