// The temporary link table and the links table: record sizes, group layout, blocks and
// their next-block words, and the "hash" section of the links table.
#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "engine/filememory/le_fields.h"
#include "engine/kolvolib/entry_guard.h"
#include "engine/storage/file_links.h"
#include "engine/storage/word_links.h"
#include "tests/support/engine_errors.h"
#include "tests/support/temp_dir.h"

namespace {

using kolvotest::EngineErrors;
using kolvotest::TempDir;

struct Link {
  uint32_t number;
  uint8_t rank;
  bool operator==(const Link&) const = default;
};

class LinkTablesTest : public ::testing::Test {
 protected:
  TempDir dir;
  EngineErrors errors;
};

// A links table as builds keep it: the file, and the "hash" section each build stored.
class SharedLinksTest : public LinkTablesTest {
 protected:
  std::string links = dir.slashed() + "links";

  // Stores the table's section as the hash of build n.
  void storeSection(const CFileLinks& table, int n) {
    std::FILE* out = std::fopen(hashOf(n).c_str(), "wb");
    ASSERT_TRUE(out);
    EXPECT_TRUE(table.store(out));
    std::fclose(out);
  }
  std::string hashOf(int n) const { return dir.slashed() + "hash" + std::to_string(n); }
  std::unique_ptr<CFileLinks> open(int n) {
    std::FILE* in = std::fopen(hashOf(n).c_str(), "rb");
    EXPECT_TRUE(in);
    auto table = std::make_unique<CFileLinks>(links, in);
    std::fclose(in);
    return table;
  }
  // A block of one link to file, chained to next; where its record is.
  static uint32_t addBlock(CFileLinks& table, uint32_t file, uint32_t next) {
    uint32_t r = table.recordSize();
    uint32_t start = table.getSpace(2 * r + 4);
    table.addFile(start, file, 7);
    table.setNextList(start + 2 * r, next);
    return start;
  }
  static std::vector<uint32_t> chainFiles(const CFileLinks& table, uint32_t head) {
    std::vector<uint32_t> found;
    while (head != 0) {
      uint32_t at = head;
      uint8_t rank = 0;
      for (uint32_t file; (file = table.getFile(at, rank)) != 0;) found.push_back(file);
      head = table.getNextList(at);
    }
    return found;
  }
  // Build 1, made fresh: one block for file 11.
  uint32_t firstBuild() {
    CFileLinks table(links, 65535, 1048575, true);
    table.getSpace(4);
    uint32_t head = addBlock(table, 11, 0);
    table.disableWrite();
    storeSection(table, 1);
    return head;
  }
};

TEST_F(LinkTablesTest, TemporaryTableGroupsLinksByFileWithEndRecordsBetween) {
  CWordLinks temp(dir.slashed() + "temp", 65535, 1048575, true);
  temp.addWord(100, 36, 0);
  temp.addWord(100, 60, 3);
  temp.addWord(200, 36, 255);
  temp.addWord(100, 80, 1);  // a file may head several groups
  // 16 | 100 | 36,0 | 60,3 | 0,0 | 200 | 36,255 | 0,0 | 100 | 80,1
  EXPECT_EQ(temp.used(), 16u + 4 + 5 + 5 + 5 + 4 + 5 + 5 + 4 + 5);
  uint32_t offset = 16;
  std::vector<std::pair<uint32_t, std::vector<Link>>> groups;
  for (uint32_t file = temp.getFile(offset); file; file = temp.getFile(offset)) {
    std::vector<Link> links;
    uint8_t rank;
    for (uint32_t word = temp.getWord(offset, rank); word; word = temp.getWord(offset, rank))
      links.push_back({word, rank});
    groups.emplace_back(file, links);
  }
  ASSERT_EQ(groups.size(), 3u);
  EXPECT_EQ(groups[0].first, 100u);
  EXPECT_EQ(groups[0].second, (std::vector<Link>{{36, 0}, {60, 3}}));
  EXPECT_EQ(groups[1].second, (std::vector<Link>{{36, 255}}));
  EXPECT_EQ(groups[2].first, 100u);
  EXPECT_EQ(groups[2].second, (std::vector<Link>{{80, 1}}));
}

TEST_F(LinkTablesTest, WithoutRanksRecordsAreFourBytesAndRankReads255) {
  CWordLinks temp(dir.slashed() + "temp", 65535, 1048575, false);
  temp.addWord(100, 36, 7);
  EXPECT_EQ(temp.used(), 16u + 4 + 4);
  uint32_t offset = 20;
  uint8_t rank = 0;
  EXPECT_EQ(temp.getWord(offset, rank), 36u);
  EXPECT_EQ(rank, 255);
  EXPECT_EQ(offset, 24u);
  EXPECT_EQ(temp.getWord(offset, rank), 0u);  // beyond the end
  EXPECT_EQ(rank, 0);
  EXPECT_EQ(offset, 28u);
}

TEST_F(LinkTablesTest, BlocksReadBackWithTerminatorAndNextBlockWord) {
  CFileLinks links(dir.slashed() + "links", 65535, 1048575, true);
  links.getSpace(4);  // the reserved word in front of the first block
  // One block for two links plus a spare record: spare | B | A | 0 | next.
  uint32_t block = links.getSpace(4 * 5 + 4);
  EXPECT_EQ(block, 20u);
  links.addFile(block + 15 - 5, 500, 2);
  links.addFile(block + 15 - 10, 400, 9);
  links.setNextList(block + 20, 0);
  uint32_t head = block + 5;
  uint32_t cursor = head;
  uint8_t rank;
  std::vector<Link> read;
  for (uint32_t f = links.getFile(cursor, rank); f; f = links.getFile(cursor, rank)) read.push_back({f, rank});
  EXPECT_EQ(read, (std::vector<Link>{{400, 9}, {500, 2}}));
  EXPECT_EQ(cursor, block + 20);
  EXPECT_EQ(links.getNextList(cursor), 0u);
  // A second, newer block points at the first.
  uint32_t second = links.getSpace(2 * 5 + 4);
  links.addFile(second, 600, 0);
  links.setNextList(second + 10, head);
  cursor = second;
  EXPECT_EQ(links.getFile(cursor, rank), 600u);
  EXPECT_EQ(links.getFile(cursor, rank), 0u);
  EXPECT_EQ(links.getNextList(cursor), head);
}

TEST_F(LinkTablesTest, OffsetsOutsideTheUsedSpaceAreRefused) {
  CFileLinks links(dir.slashed() + "links", 65535, 1048575, false);
  uint32_t block = links.getSpace(8);
  kolvo::guardEntry([&] { links.addFile(block + 8, 1, 0); });
  kolvo::guardEntry([&] { links.setNextList(block + 6, 1); });
  EXPECT_EQ(kolvo::guardEntry<uint32_t>(7, [&] { return links.getNextList(0xFFFFFFFE); }), 7u);
  EXPECT_EQ(errors.codes(), std::vector<std::string>(3, "AssertionFailed"));
  uint32_t cursor = links.used();
  uint8_t rank = 9;
  EXPECT_EQ(links.getFile(cursor, rank), 0u);
  EXPECT_EQ(rank, 0);
}

TEST_F(LinkTablesTest, HashSectionCarriesTheRankFlag) {
  for (bool ranked : {true, false}) {
    {
      CFileLinks links(dir.slashed() + "links", 65535, 1048575, ranked);
      links.disableWrite();
      std::FILE* out = std::fopen((dir.slashed() + "hash").c_str(), "wb");
      ASSERT_TRUE(links.store(out));
      std::fclose(out);
    }
    std::string bytes = dir.read("hash");
    ASSERT_EQ(bytes.size(), 5u);
    EXPECT_EQ(kolvo::loadU32(bytes.data()), 12360001u);
    EXPECT_EQ(bytes[4], ranked ? 1 : 0);
    std::FILE* in = std::fopen((dir.slashed() + "hash").c_str(), "rb");
    CFileLinks reopened(dir.slashed() + "links", in);
    std::fclose(in);
    EXPECT_EQ(reopened.ranked(), ranked);
    EXPECT_EQ(reopened.recordSize(), ranked ? 5u : 4u);
  }
}

TEST_F(LinkTablesTest, BadLinksSectionIsAReadError) {
  for (std::string bytes : {std::string("\x41\x99\xBC\x00", 4), std::string("\x41\x99\xBC\x00\x07", 5),
                            std::string("\x42\x99\xBC\x00\x01", 5)}) {
    dir.write("hash", bytes);
    std::FILE* in = std::fopen((dir.slashed() + "hash").c_str(), "rb");
    bool opened = kolvo::guardEntry<bool>(false, [&] { CFileLinks links(dir.slashed() + "links", in); return true; });
    std::fclose(in);
    EXPECT_FALSE(opened);
  }
  EXPECT_EQ(errors.codes(), std::vector<std::string>(3, "StorageReadError"));
}

TEST_F(SharedLinksTest, AnAppendLeavesEveryByteEarlierBuildsUseAndRecordsItsOwnExtent) {
  uint32_t first = firstBuild();
  EXPECT_EQ(dir.read("hash1").size(), 5u);  // a fresh build's section, as older versions read it
  const std::string before = dir.read("links");
  std::unique_ptr<CFileLinks> old = open(1);
  const CFileMemory::Extent oldExtent = old->extent();
  ASSERT_TRUE(old->shared());

  // Builds 2 and 3 append, each from the extent the one before recorded.
  uint32_t heads[4] = {0, first, 0, 0};
  for (int n = 2; n <= 3; ++n) {
    std::unique_ptr<CFileLinks> table = open(n - 1);
    ASSERT_TRUE(table->enableWrite());
    heads[n] = addBlock(*table, static_cast<uint32_t>(10 + n * 11), heads[n - 1]);
    table->disableWrite();
    storeSection(*table, n);
    std::string hash = dir.read("hash" + std::to_string(n));
    ASSERT_EQ(hash.size(), 13u);
    EXPECT_EQ(kolvo::loadU32(hash.data()), 12360002u);
    EXPECT_EQ(kolvo::loadU32(hash.data() + 5), table->used());
  }
  const std::string after = dir.read("links");
  ASSERT_GT(after.size(), oldExtent.used);
  EXPECT_EQ(after.substr(0, oldExtent.used), before.substr(0, oldExtent.used));

  // Each build reads its own chain at its own extent; the first still sees its own.
  for (int n = 1; n <= 3; ++n) {
    std::unique_ptr<CFileLinks> table = open(n);
    std::vector<uint32_t> expected;
    for (int k = n; k >= 2; --k) expected.push_back(static_cast<uint32_t>(10 + k * 11));
    expected.push_back(11);
    EXPECT_EQ(chainFiles(*table, heads[n]), expected) << n;
    if (n < 3) {
      EXPECT_FALSE(table->inUse(heads[3])) << n;
    }
  }
  EXPECT_EQ(chainFiles(*old, first), std::vector<uint32_t>{11});
  EXPECT_EQ(old->used(), oldExtent.used);
  EXPECT_TRUE(errors.codes().empty());
}

// An opened table read as a search reads it, a batch of records at a time and then the
// next-block word: short blocks, a block longer than a batch, chains of several blocks,
// two tables read in turn; the same files as record by record, and a next-block word
// changed after its block was read is read as it is now.
TEST_F(SharedLinksTest, BatchesAndNextBlockWordsOfAnOpenedTableAreReadAsTheyStand) {
  std::vector<uint32_t> heads;
  {
    CFileLinks table(links, 65535, 1048575, true);
    table.getSpace(4);
    const uint32_t r = table.recordSize();
    uint32_t file = 100;
    for (uint32_t sizes : {1u, 3u, 31u, 32u, 33u, 100u, 2u}) {
      uint32_t head = 0;
      // Each chain has three blocks of the size, the newest first.
      for (int block = 0; block < 3; ++block) {
        uint32_t start = table.getSpace((sizes + 1) * r + 4);
        for (uint32_t i = 0; i < sizes; ++i) table.addFile(start + i * r, file++, static_cast<uint8_t>(i % 250));
        table.setNextList(start + (sizes + 1) * r, head);
        head = start;
      }
      heads.push_back(head);
    }
    table.disableWrite();
    storeSection(table, 1);
  }
  auto batched = [](const CFileLinks& table, uint32_t head) {
    std::vector<uint32_t> found;
    uint32_t files[40], ranks[40];
    while (head != 0) {
      uint32_t cursor = head, count = 0;
      do {
        count = table.getFiles(cursor, files, ranks, 40);
        found.insert(found.end(), files, files + count);
      } while (count == 40);
      head = table.getNextList(cursor);
    }
    return found;
  };
  std::unique_ptr<CFileLinks> one = open(1), other = open(1), model = open(1);
  for (uint32_t head : heads) {
    std::vector<uint32_t> expected = chainFiles(*model, head);
    ASSERT_FALSE(expected.empty());
    EXPECT_EQ(batched(*one, head), expected) << head;
    EXPECT_EQ(batched(*other, head), expected) << head;
  }
  // The first block of the first chain, read, then pointed at nothing before its word is read.
  ASSERT_TRUE(one->enableWrite());
  uint32_t cursor = heads[0], files[40], ranks[40];
  ASSERT_EQ(one->getFiles(cursor, files, ranks, 40), 1u);
  one->setNextList(cursor, 0);
  EXPECT_EQ(one->getNextList(cursor), 0u);
  // Read by another table, the word is still that other table's.
  cursor = heads[1];
  ASSERT_EQ(other->getFiles(cursor, files, ranks, 40), 3u);
  EXPECT_NE(one->getNextList(cursor), 0u);
  EXPECT_EQ(one->getNextList(cursor), other->getNextList(cursor));
  one->disableWrite();
  EXPECT_TRUE(errors.codes().empty());
}

TEST_F(SharedLinksTest, WhatAFailedAppendLeftIsClearedAndReused) {
  firstBuild();
  uint32_t garbage;
  {
    // An update that wrote blocks and died before it stored its section.
    std::unique_ptr<CFileLinks> failed = open(1);
    ASSERT_TRUE(failed->enableWrite());
    garbage = failed->used();
    for (int i = 0; i < 10000; ++i) addBlock(*failed, 999, 12345);
    // Past the first build's slack: the file itself grew.
    ASSERT_GT(std::filesystem::file_size(links), 65535u);
  }
  std::unique_ptr<CFileLinks> again = open(1);
  EXPECT_EQ(again->used(), garbage);
  ASSERT_TRUE(again->enableWrite());
  // The space handed out again reads as zero, up to and past the first build's size.
  uint32_t start = again->getSpace(200000);
  ASSERT_EQ(start, garbage);
  const unsigned char* bytes = again->getPointer(start, 200000);
  ASSERT_TRUE(bytes);
  EXPECT_EQ(std::count(bytes, bytes + 200000, 0), 200000);
  EXPECT_TRUE(errors.codes().empty());
}

TEST_F(SharedLinksTest, AnExtentTheFileCannotHoldIsAReadError) {
  firstBuild();
  const auto length = static_cast<uint32_t>(std::filesystem::file_size(links));
  struct Case {
    uint32_t used, total;
  };
  for (Case bad : {Case{8, 100}, Case{200, 100}, Case{16, length + 1}, Case{length + 1, length + 1}}) {
    std::string section(13, '\0');
    kolvo::storeU32(section.data(), 12360002);
    section[4] = 1;
    kolvo::storeU32(section.data() + 5, bad.used);
    kolvo::storeU32(section.data() + 9, bad.total);
    dir.write("hash9", section);
    bool opened = kolvo::guardEntry<bool>(false, [&] { return open(9)->mapped(); });
    EXPECT_FALSE(opened) << bad.used << " " << bad.total;
  }
  EXPECT_EQ(errors.codes(), std::vector<std::string>(4, "StorageReadError"));
}

}  // namespace
