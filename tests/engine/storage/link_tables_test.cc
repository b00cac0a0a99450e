// The temporary link table and the links table: record sizes, group layout, blocks and
// their next-block words, and the "hash" section of the links table.
#include <cstdio>
#include <memory>
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

}  // namespace
