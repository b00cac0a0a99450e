// The sorted word order beside the word table: prefix searches through it find what
// the walk of the table finds, for words added after it was made too; a file that is
// missing, short, stale or damaged is never used; a store keeps a small tail and makes
// the file anew past it.
#include "engine/storage/word_order.h"

#include <cstdio>
#include <cstring>
#include <filesystem>
#include <memory>
#include <random>
#include <set>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "engine/filememory/le_fields.h"
#include "engine/index/resource_limits.h"
#include "engine/kolvolib/entry_guard.h"
#include "engine/storage/text_storage.h"
#include "include/kolvolib.h"
#include "tests/support/engine_errors.h"
#include "tests/support/temp_dir.h"

namespace {

using kolvotest::EngineErrors;
using kolvotest::TempDir;

struct FileCloser {
  void operator()(std::FILE* f) const { std::fclose(f); }
};
using Stream = std::unique_ptr<std::FILE, FileCloser>;

// Random words of one to ten bytes, a few of them with bytes from 0x80 on.
std::vector<std::string> randomWords(std::mt19937& random, std::size_t count, std::set<std::string>& taken) {
  std::uniform_int_distribution<int> length(1, 10), letter('a', 'f'), high(0x80, 0xFF), pick(0, 9);
  std::vector<std::string> words;
  while (words.size() < count) {
    std::string word;
    for (int i = length(random); i > 0; --i)
      word += static_cast<char>(pick(random) == 0 ? high(random) : letter(random));
    if (taken.insert(word).second) words.push_back(word);
  }
  return words;
}

// The texts of the words with the prefix, as a walk of every entry finds them.
std::multiset<std::string> walkedTexts(CTextStorage& table, const std::string& prefix) {
  std::multiset<std::string> found;
  for (uint32_t word = table.getFirst(); word != 0; word = table.getNext(word))
    if (std::strncmp(table.getText(word), prefix.c_str(), prefix.size()) == 0) found.insert(table.getText(word));
  return found;
}

// The same through the batch entry, capacity words a call.
std::multiset<std::string> prefixedTexts(CTextStorage& table, const std::string& prefix, kulong capacity) {
  std::multiset<std::string> found;
  std::vector<kulong> batch(capacity);
  kulong cursor = 0;
  int calls = 0;
  do {
    kulong count = ktsGetPrefixed(&table, prefix.c_str(), &cursor, batch.data(), capacity);
    for (kulong i = 0; i < count; ++i) found.insert(ktsGetText(&table, batch[i]));
    if (++calls > 1000000) break;
  } while (cursor != 0);
  return found;
}

// Prefixes of every length of a few words, the empty one, and ones that begin no word,
// before every word, after every word.
std::vector<std::string> prefixesOf(const std::vector<std::string>& words) {
  std::vector<std::string> prefixes = {"", "z", "\x01", "\xff\xff\xff\xff\xff\xff\xff\xff\xff\xff\xff",
                                       "abcdefabcdefab"};
  for (std::size_t i = 0; i < words.size(); i += words.size() / 7 + 1)
    for (std::size_t n = 1; n <= words[i].size(); ++n) prefixes.push_back(words[i].substr(0, n));
  for (const std::string& word : {words.front(), words.back()})
    for (std::size_t n = 1; n <= word.size(); ++n) prefixes.push_back(word.substr(0, n));
  return prefixes;
}

class WordOrderTest : public ::testing::Test {
 protected:
  std::string orderPath() const { return dir.slashed() + "wordorder"; }

  // A new table of words, stored with its order.
  void build(const std::vector<std::string>& words) {
    auto table = std::make_unique<CTextStorage>(dir.slashed() + "words", 131071, 1048575, 16, 64);
    for (const std::string& word : words) table->addText(word.c_str());
    store(*table, false);
  }
  void store(CTextStorage& table, bool keepAttached) {
    table.disableWrite();
    Stream out(std::fopen((dir.slashed() + "hash").c_str(), "wb"));
    ASSERT_TRUE(table.store(out.get()));
    ASSERT_TRUE(table.storeOrder(orderPath(), keepAttached));
  }
  std::unique_ptr<CTextStorage> reopen() {
    Stream in(std::fopen((dir.slashed() + "hash").c_str(), "rb"));
    auto table = std::make_unique<CTextStorage>(dir.slashed() + "words", in.get());
    table->attachOrder(orderPath());
    return table;
  }
  // Adds words to the stored table as an update does, and stores it again.
  void update(const std::vector<std::string>& words) {
    auto table = reopen();
    table->enableWrite();
    for (const std::string& word : words) table->addText(word.c_str());
    store(*table, true);
  }
  void expectPrefixesAsWalked(CTextStorage& table, const std::vector<std::string>& prefixes) {
    for (const std::string& prefix : prefixes) {
      std::multiset<std::string> expected = walkedTexts(table, prefix);
      for (kulong capacity : {1u, 3u, 500u})
        EXPECT_EQ(prefixedTexts(table, prefix, capacity), expected) << "'" << prefix << "' by " << capacity;
    }
  }
  uint32_t orderCount() const { return kolvo::loadU32(dir.read("wordorder").data() + 8); }

  TempDir dir;
  EngineErrors errors;
  std::mt19937 random{20261209};
  std::set<std::string> taken;
};

TEST_F(WordOrderTest, SortedWordsFollowTheBytesOfTheirTexts) {
  std::vector<std::string> words = randomWords(random, 2000, taken);
  // Texts that share their first eight bytes and go on, and ones that end there.
  for (const char* text : {"abcdefghij", "abcdefgh", "abcdefghi", "abcdefgh\xe9", "abcdefg"})
    if (taken.insert(text).second) words.push_back(text);
  CTextStorage table(dir.slashed() + "words", 131071, 1048575, 16, 64);
  for (const std::string& word : words) table.addText(word.c_str());
  std::vector<uint32_t> sorted = table.sortedWords(0);
  ASSERT_EQ(sorted.size(), words.size());
  std::vector<std::string> texts;
  for (uint32_t word : sorted) texts.push_back(table.getText(word));
  std::vector<std::string> expected(taken.begin(), taken.end());
  EXPECT_EQ(texts, expected);
}

TEST_F(WordOrderTest, PrefixesThroughTheOrderFindWhatTheWalkFinds) {
  std::vector<std::string> words = randomWords(random, 3000, taken);
  build(words);
  auto table = reopen();
  ASSERT_TRUE(table->hasSoundOrder());
  expectPrefixesAsWalked(*table, prefixesOf(words));
  EXPECT_EQ(prefixedTexts(*table, "", 64).size(), words.size());
  EXPECT_TRUE(errors.errors().empty());
}

TEST_F(WordOrderTest, AnEmptyTableHasAnEmptyOrder) {
  build({});
  auto table = reopen();
  EXPECT_TRUE(table->hasSoundOrder());
  kulong cursor = 0, batch[4] = {};
  EXPECT_EQ(ktsGetPrefixed(table.get(), "", &cursor, batch, 4), 0u);
  EXPECT_EQ(cursor, 0u);
}

TEST_F(WordOrderTest, WordsAddedByUpdatesAreFoundInTheTailAndAfterTheRewrite) {
  std::vector<std::string> all = randomWords(random, 3200, taken);
  build(all);
  // A tail below the bound keeps the file; one past it makes it anew.
  const std::size_t small = all.size() / kolvo::limits::wordOrderTailDivisor / 2;
  for (std::size_t added : {small, small, std::size_t(400), small}) {
    std::string before = dir.read("wordorder");
    std::vector<std::string> words = randomWords(random, added, taken);
    update(words);
    const std::size_t covered = (before.size() - 16) / 4;
    bool kept = (all.size() + added - covered) * kolvo::limits::wordOrderTailDivisor <= covered;
    all.insert(all.end(), words.begin(), words.end());
    EXPECT_EQ(dir.read("wordorder") == before, kept) << added;
    EXPECT_EQ(orderCount(), kept ? covered : all.size());
    auto table = reopen();
    ASSERT_TRUE(table->hasSoundOrder());
    std::vector<std::string> prefixes = prefixesOf(all);
    for (std::size_t n = 1; n <= words.back().size(); ++n) prefixes.push_back(words.back().substr(0, n));
    expectPrefixesAsWalked(*table, prefixes);
  }
  // The same words built at once answer the same.
  auto updated = reopen();
  std::vector<std::string> prefixes = prefixesOf(all);
  std::vector<std::multiset<std::string>> answers;
  for (const std::string& prefix : prefixes) answers.push_back(prefixedTexts(*updated, prefix, 100));
  updated.reset();
  build(all);
  auto fresh = reopen();
  for (std::size_t i = 0; i < prefixes.size(); ++i)
    EXPECT_EQ(prefixedTexts(*fresh, prefixes[i], 100), answers[i]) << "'" << prefixes[i] << "'";
  EXPECT_TRUE(errors.errors().empty());
}

TEST_F(WordOrderTest, AReplacedOrderIsANewFileAndLeavesASharedOneAlone) {
  build(randomWords(random, 100, taken));
  std::string first = dir.read("wordorder");
  std::filesystem::create_hard_link(orderPath(), dir.slashed() + "older");
  update(randomWords(random, 100, taken));
  EXPECT_NE(dir.read("wordorder"), first);
  EXPECT_EQ(dir.read("older"), first);
}

TEST_F(WordOrderTest, AnOrderThatIsNotSoundIsNotUsed) {
  std::vector<std::string> words = randomWords(random, 1500, taken);
  build(words);
  const std::string good = dir.read("wordorder");
  std::vector<std::string> prefixes = prefixesOf(words);
  auto withWord = [&](uint32_t position, uint32_t value) {
    std::string bytes = good;
    kolvo::storeU32(bytes.data() + 16 + position * 4, value);
    return bytes;
  };
  auto withHeader = [&](std::size_t offset, uint32_t value) {
    std::string bytes = good;
    kolvo::storeU32(bytes.data() + offset, value);
    return bytes;
  };
  uint32_t used = kolvo::loadU32(good.data() + 12);
  struct Case {
    const char* what;
    std::string bytes;
  };
  const Case cases[] = {
      {"short", good.substr(0, good.size() - 4)},
      {"header only", good.substr(0, 12)},
      {"longer", good + "abcd"},
      {"wrong magic", withHeader(0, 0x12345678)},
      {"newer version", withHeader(4, 2)},
      {"more words than the table", withHeader(8, 1501) + "abcd"},
      {"covers more than the table", withHeader(12, used + 100)},
      {"covers the middle of a text", withHeader(12, used - 2)},
      {"a word past the covered size", withWord(700, used + 3)},
      {"a word in the header", withWord(0, 3)},
      {"a word far outside", withWord(1499, 0x7FFFFFF0)},
  };
  for (const Case& c : cases) {
    dir.write("wordorder", c.bytes);
    auto table = reopen();
    EXPECT_FALSE(table->hasSoundOrder()) << c.what;
    expectPrefixesAsWalked(*table, {prefixes[0], prefixes[5], prefixes[9], "z"});
  }
  std::filesystem::remove(orderPath());
  auto without = reopen();
  EXPECT_FALSE(without->hasSoundOrder());
  expectPrefixesAsWalked(*without, prefixes);
  // Without a sound order the next store makes one of all the words.
  without->enableWrite();
  store(*without, true);
  EXPECT_EQ(dir.read("wordorder"), good);
  EXPECT_TRUE(errors.errors().empty());
}

TEST_F(WordOrderTest, AHaltedSearchGoesOnWhereItStopped) {
  // More words of one prefix than a call looks at, then words of the tail.
  std::vector<std::string> words;
  for (int i = 0; i < 70000; ++i) words.push_back("w" + std::to_string(i));
  build(words);
  update({"w_tail1", "w_tail2"});
  auto table = reopen();
  ASSERT_TRUE(table->hasSoundOrder());
  kulong cursor = 0;
  std::vector<kulong> batch(100000);
  kulong first = ktsGetPrefixed(table.get(), "w", &cursor, batch.data(), 100000);
  EXPECT_EQ(first, kolvo::limits::prefixWalkSteps);
  EXPECT_NE(cursor, 0u);
  std::set<std::string> found;
  for (kulong i = 0; i < first; ++i) found.insert(ktsGetText(table.get(), batch[i]));
  while (cursor != 0) {
    kulong more = ktsGetPrefixed(table.get(), "w", &cursor, batch.data(), 7);
    for (kulong i = 0; i < more; ++i) EXPECT_TRUE(found.insert(ktsGetText(table.get(), batch[i])).second);
  }
  EXPECT_EQ(found.size(), words.size() + 2);
  EXPECT_TRUE(found.count("w_tail2"));
}

}  // namespace
