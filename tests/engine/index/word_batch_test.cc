// The word batch of a chunk: each distinct word once, in the order of its first
// occurrence, with its count, and nothing left over from the chunk before.
#include "engine/index/word_batch.h"
#include "engine/storage/text_lookup_index.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

namespace {

struct Counted {
  std::string text;
  uint32_t occurrences;
  bool operator==(const Counted&) const = default;
};

std::vector<Counted> contents(const CWordBatch& batch) {
  std::vector<Counted> out;
  for (const CWordBatch::Word& word : batch.words()) {
    EXPECT_EQ(std::string(batch.text(word)).size(), word.length);
    out.push_back({batch.text(word), word.occurrences});
  }
  return out;
}

void add(CWordBatch& batch, const std::string& text) { batch.add(text.data(), text.size()); }

TEST(WordBatch, DistinctWordsInFirstOccurrenceOrderWithTheirCounts) {
  CWordBatch batch;
  for (const char* word : {"river", "stone", "river", "a", "stones", "stone", "river", "ab", "ba"}) add(batch, word);
  EXPECT_EQ(contents(batch), (std::vector<Counted>{
                                 {"river", 3}, {"stone", 2}, {"a", 1}, {"stones", 1}, {"ab", 1}, {"ba", 1}}));
}

// Words of every length up to 40 that differ in one byte only, wherever it lies: the
// hash reads eight bytes at a time, so every position must still count.
TEST(WordBatch, WordsDifferingInOneByteAreDistinct) {
  CWordBatch batch;
  std::vector<Counted> expected;
  for (size_t length = 1; length <= 40; ++length)
    for (size_t at = 0; at < length; ++at) {
      std::string word(length, 'm');
      word[at] = 'n';
      add(batch, word);
      add(batch, word);
      expected.push_back({word, 2});
    }
  EXPECT_EQ(contents(batch), expected);
}

// Enough words to grow the batch's table several times; after clear none of them is
// known, and the batch counts afresh.
TEST(WordBatch, ClearForgetsEveryWordOfTheChunk) {
  CWordBatch batch;
  for (int i = 0; i < 20000; ++i) add(batch, "w" + std::to_string(i));
  ASSERT_EQ(batch.words().size(), 20000u);
  batch.clear();
  EXPECT_TRUE(batch.words().empty());
  for (int i = 0; i < 20000; i += 7) add(batch, "w" + std::to_string(i));
  add(batch, "w0");
  ASSERT_EQ(batch.words().size(), 2858u);
  EXPECT_EQ(contents(batch).front(), (Counted{"w0", 2}));
  for (const CWordBatch::Word& word : batch.words()) {
    if (std::string(batch.text(word)) != "w0") {
      EXPECT_EQ(word.occurrences, 1u) << batch.text(word);
    }
  }
}

}  // namespace

// Indexing makes a word's table key from the batch's hash; it must be the key the table
// makes itself, or a word of a chunk would be taken for a new one.
TEST(WordBatch, HashIsTheWordTableKeyOfAFoldedText) {
  const std::string longWord(70, 'q');
  const std::vector<std::string> texts = {"a", "ab", "abc", "abcd", "abcdefg", "abcdefgh", "abcdefghi",
                                          std::string(39, 'x'), std::string(40, 'x'), longWord,
                                          "\xe9t\xe9", longWord + "z"};
  CWordBatch batch;
  for (const std::string& text : texts) batch.add(text.data(), text.size());
  ASSERT_EQ(batch.words().size(), texts.size());
  for (const CWordBatch::Word& word : batch.words()) {
    const char* text = batch.text(word);
    kolvo::TextLookupIndex::Key fromBatch(text, word.length, word.hash);
    kolvo::TextLookupIndex::Key own(text, word.length);
    EXPECT_EQ(fromBatch.hash, own.hash) << text;
    EXPECT_EQ(fromBatch.length, own.length) << text;
    EXPECT_EQ(0, std::memcmp(fromBatch.head, own.head, sizeof own.head)) << text;
  }
}
