// The walk of a word's chain of link blocks over a stored index: every file once. A
// damaged chain that leads back into the block it leaves ends the walk there; one that
// leads forward, to a newer block or beyond the table, the engine refuses.
#include "app/search/word_files.h"

#include <cstdint>
#include <fstream>
#include <map>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "app/commands/command_exception.h"
#include "app/index/kolvo_lib.h"
#include "tests/support/index_fixture.h"

namespace {

class WordFilesTest : public kolvotest::IndexFixture {
 protected:
  // How often each file of the word is visited.
  std::map<kulong, int> visits(const std::string& word) {
    CTextStorage* words = klib(kidxGetWords)(index->engineIndex());
    std::map<kulong, int> met;
    qvForEachWordFile(words, klib(kidxGetLinks)(index->engineIndex()), klib(ktsLookup)(words, word.c_str()),
                      [&](kulong file, kulong) { ++met[file]; });
    return met;
  }
  struct Block {
    kulong at, files, next;  // where it begins, its files, the place of its next-block word
  };
  // The word's blocks, newest first.
  std::vector<Block> blocks(const std::string& word) {
    CTextStorage* words = klib(kidxGetWords)(index->engineIndex());
    CFileLinks* links = klib(kidxGetLinks)(index->engineIndex());
    std::vector<Block> found;
    kulong files[64], ranks[64];
    for (kulong block = kiGetFiles(klib(ktsGetData)(words, klib(ktsLookup)(words, word.c_str()))); block != 0;) {
      kulong cursor = block, count = 0, n = 0;
      do count += n = klib(kflGetFiles)(links, &cursor, files, ranks, 64);
      while (n == 64);
      found.push_back(Block{block, count, cursor});
      block = klib(kflGetNextList)(links, cursor);
    }
    return found;
  }
  void putU32(uint64_t at, uint32_t value) {
    std::fstream file(index->basePath() + "build_" + std::to_string(currentBuild()) + "/links",
                      std::ios::in | std::ios::out | std::ios::binary);
    const char bytes[4] = {char(value), char(value >> 8), char(value >> 16), char(value >> 24)};
    file.seekp(static_cast<std::streamoff>(at));
    file.write(bytes, 4);
  }
};

TEST_F(WordFilesTest, ADamagedChainEndsWhereItStopsGoingDownTheTable) {
  for (const char* name : {"a", "b", "c"}) temp.write(std::string("docs/") + name + ".txt", "lantern");
  buildDocs();
  // A second block, newer and higher, in front of the first.
  temp.write("docs/d.txt", "lantern");
  temp.write("docs/e.txt", "lantern");
  run("update");
  const std::map<kulong, int> sound = visits("lantern");
  ASSERT_GE(sound.size(), 5u);  // with files read again by the update, now obsolete
  for (const auto& [file, count] : sound) EXPECT_EQ(count, 1) << file;
  const auto chain = blocks("lantern");
  ASSERT_EQ(chain.size(), 2u);
  ASSERT_GT(chain[0].at, chain[1].at);  // each older block lies lower
  // The word data holds the last file; the blocks the others.
  ASSERT_EQ(1 + chain[0].files + chain[1].files, sound.size());

  struct Case {
    const char* name;
    size_t block;      // whose next-block word is damaged
    uint32_t leadsTo;  // the damaged next block
    size_t blocksWalked;  // 0: refused
  };
  const uint32_t newer = static_cast<uint32_t>(chain[0].at), older = static_cast<uint32_t>(chain[1].at);
  const std::vector<Case> cases = {
      {"the newest block to itself", 0, newer, 1},
      {"the older block to itself", 1, older, 2},
      {"the older block back to the newest", 1, newer, 0},
      {"the older block beyond the table", 1, 0x7FFFFFF0, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const uint32_t ownNext = c.block == 0 ? older : 0;  // the sound chain's
    putU32(chain[c.block].next, c.leadsTo);
    if (c.blocksWalked == 0) {
      EXPECT_THROW(visits("lantern"), QvCommandException);
      putU32(chain[c.block].next, ownNext);
      continue;
    }
    std::map<kulong, int> met = visits("lantern");
    size_t total = 0;
    for (const auto& [file, count] : met) {
      EXPECT_EQ(count, 1) << file;
      EXPECT_EQ(sound.count(file), 1u) << file;
      total += count;
    }
    EXPECT_EQ(total, 1 + chain[0].files + (c.blocksWalked == 2 ? chain[1].files : 0));
    putU32(chain[c.block].next, ownNext);
  }
  EXPECT_EQ(visits("lantern"), sound);
}

}  // namespace
