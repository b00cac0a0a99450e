// The backing file: header, growth steps, the read-only and writable states, and what
// happens when the disk or the system refuses.
#include "engine/filememory/file_memory.h"

#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <vector>

#include <gtest/gtest.h>

#include "engine/filememory/le_fields.h"
#include "engine/filememory/posix_seam.h"
#include "engine/kolvolib/entry_guard.h"
#include "tests/support/engine_errors.h"
#include "tests/support/temp_dir.h"

namespace {

using kolvotest::EngineErrors;
using kolvotest::TempDir;

uint64_t fileLength(const std::string& path) { return std::filesystem::file_size(path); }

std::vector<uint32_t> storedHeader(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  unsigned char bytes[16] = {};
  in.read(reinterpret_cast<char*>(bytes), 16);
  return {kolvo::loadU32(bytes), kolvo::loadU32(bytes + 4), kolvo::loadU32(bytes + 8), kolvo::loadU32(bytes + 12)};
}

class FileMemoryTest : public ::testing::Test {
 protected:
  void TearDown() override { kolvo::resetPosixCalls(); }
  TempDir dir;
  EngineErrors errors;
  std::string path = dir.slashed() + "table";
};

TEST_F(FileMemoryTest, NewFileHasItsHeaderAsFirstAllocation) {
  CFileMemory memory(path, 65535, 1048575);
  EXPECT_EQ(fileLength(path), 65535u);
  EXPECT_EQ(storedHeader(path), (std::vector<uint32_t>{65535, 16, 65535, 1048575}));
  EXPECT_EQ(memory.used(), 16u);
  EXPECT_EQ(memory.getNewSpace(10), 16u);
  EXPECT_EQ(memory.getNewSpace(1), 26u);
}

TEST_F(FileMemoryTest, TinyInitialSizeStillHoldsTheHeader) {
  CFileMemory memory(path, 4, 100);
  EXPECT_EQ(fileLength(path), 16u);
  EXPECT_EQ(memory.used(), 16u);
}

TEST_F(FileMemoryTest, GrowthDoublesUpToOneIncrementThenAddsIt) {
  CFileMemory memory(path, 65535, 1048575);
  std::vector<uint32_t> sizes;
  uint32_t last = memory.total();
  while (sizes.size() < 8) {
    memory.getNewSpace(60000);
    if (memory.total() != last) sizes.push_back(last = memory.total());
  }
  EXPECT_EQ(sizes, (std::vector<uint32_t>{131070, 262140, 524280, 1048560, 2097120, 3145695, 4194270, 5242845}));
  EXPECT_EQ(fileLength(path), 5242845u);
}

TEST_F(FileMemoryTest, AllocationOfExactlyOneIncrementIsAllowedOneMoreIsNot) {
  CFileMemory memory(path, 100, 1000);
  EXPECT_NE(kolvo::guardEntry<uint32_t>(0, [&] { return memory.getNewSpace(1000); }), 0u);
  EXPECT_TRUE(errors.errors().empty());
  EXPECT_EQ(kolvo::guardEntry<uint32_t>(0, [&] { return memory.getNewSpace(1001); }), 0u);
  EXPECT_EQ(errors.errors(), std::vector<std::string>{"GetHugeSpace|1001"});
}

TEST_F(FileMemoryTest, AllocationBeyondOneGrowthStepMakesTheFileExactlyLongEnough) {
  CFileMemory memory(path, 100, 1000);
  memory.getNewSpace(900);  // 916 needed: doubling 100 to 200 is not enough
  EXPECT_EQ(memory.total(), 916u);
  EXPECT_EQ(fileLength(path), 916u);
}

TEST_F(FileMemoryTest, NewSpaceIsZeroAndPointersStopAtTheUsedSpace) {
  CFileMemory memory(path, 64, 4096);
  uint32_t at = memory.getNewSpace(3000);
  const unsigned char* bytes = memory.getPointer(at, 3000);
  ASSERT_NE(bytes, nullptr);
  for (int i = 0; i < 3000; ++i) ASSERT_EQ(bytes[i], 0);
  EXPECT_EQ(memory.getPointer(memory.used()), nullptr);
  EXPECT_NE(memory.getPointer(memory.used() - 1), nullptr);
  EXPECT_EQ(memory.getPointer(memory.used() - 2, 4), nullptr);
  EXPECT_EQ(memory.getPointer(UINT32_MAX, 4), nullptr);
}

// A read through the file gives the bytes the mapping holds, those just written through
// it included, and refuses any range that leaves the used space.
TEST_F(FileMemoryTest, ReadsThroughTheFileGiveTheMappedBytes) {
  CFileMemory memory(path, 64, 8192);
  uint32_t at = memory.getNewSpace(5000);
  unsigned char* bytes = memory.getWritablePointer(at, 5000);
  for (uint32_t i = 0; i < 5000; ++i) bytes[i] = static_cast<unsigned char>(i * 7 + 1);
  struct Case {
    uint32_t offset, length;
    bool read;
  };
  const uint32_t used = memory.used();
  for (const Case& c : {Case{at, 5000, true}, Case{at + 4093, 4, true}, Case{0, 16, false}, Case{used - 1, 1, true},
                        Case{used - 2, 4, false}, Case{used, 1, false}, Case{UINT32_MAX, 4, false},
                        Case{at + 5000, 64, false}}) {
    std::vector<unsigned char> into(std::max<uint32_t>(c.length, 1), 0xEE);
    ASSERT_EQ(memory.readBytes(c.offset, into.data(), c.length), c.read) << c.offset << "+" << c.length;
    if (c.read)
      EXPECT_EQ(0, std::memcmp(into.data(), memory.getPointer(c.offset, c.length), c.length)) << c.offset;
    else
      EXPECT_EQ(into[0], 0xEE) << c.offset;
  }
  ASSERT_TRUE(memory.disableWrite());
  CFileMemory reopened(path);
  unsigned char four[4];
  ASSERT_TRUE(reopened.readBytes(at + 100, four, 4));
  EXPECT_EQ(0, std::memcmp(four, reopened.getPointer(at + 100, 4), 4));
  EXPECT_EQ(four[0], static_cast<unsigned char>(100 * 7 + 1));
  CFileMemory missing(dir.slashed() + "absent");
  EXPECT_FALSE(missing.readBytes(16, four, 4));
}

TEST_F(FileMemoryTest, ReadOnlySwitchWritesHeaderAndReopeningKeepsUsedSize) {
  {
    CFileMemory memory(path, 1000, 4096);
    uint32_t at = memory.getNewSpace(5000 - 16 - 1000);
    memory.getNewSpace(1000);
    std::memcpy(memory.getWritablePointer(at, 5), "hello", 5);
    ASSERT_TRUE(memory.disableWrite());
    EXPECT_FALSE(memory.writable());
    EXPECT_EQ(storedHeader(path)[1], 5000u);
  }
  CFileMemory reopened(path);
  EXPECT_TRUE(reopened.mapped());
  EXPECT_EQ(reopened.used(), 5000u);
  EXPECT_EQ(std::memcmp(reopened.getPointer(16, 5), "hello", 5), 0);
}

TEST_F(FileMemoryTest, MissingFileOpensEmptyWithoutError) {
  CFileMemory memory(dir.slashed() + "nothing-here");
  EXPECT_FALSE(memory.mapped());
  EXPECT_EQ(memory.getPointer(16), nullptr);
  EXPECT_TRUE(errors.errors().empty());
}

TEST_F(FileMemoryTest, FileShorterThanFourBytesOpensEmpty) {
  dir.write("table", "ab");
  CFileMemory memory(path);
  EXPECT_FALSE(memory.mapped());
  EXPECT_TRUE(errors.errors().empty());
}

TEST_F(FileMemoryTest, HeaderClaimingMoreThanTheFileHoldsIsAReadError) {
  {
    CFileMemory memory(path, 4096, 4096);
    memory.disableWrite();
  }
  ASSERT_EQ(truncate(path.c_str(), 1000), 0);
  bool opened = kolvo::guardEntry<bool>(false, [&] { CFileMemory memory(path); return true; });
  EXPECT_FALSE(opened);
  EXPECT_EQ(errors.errors(), std::vector<std::string>{"StorageReadError|" + path});
}

TEST_F(FileMemoryTest, UsedSizeBeyondTotalIsAReadError) {
  {
    CFileMemory memory(path, 4096, 4096);
    memory.disableWrite();
  }
  std::fstream out(path, std::ios::in | std::ios::out | std::ios::binary);
  unsigned char used[4];
  kolvo::storeU32(used, 9999);
  out.seekp(4);
  out.write(reinterpret_cast<char*>(used), 4);
  out.close();
  EXPECT_FALSE(kolvo::guardEntry<bool>(false, [&] { CFileMemory memory(path); return true; }));
  EXPECT_EQ(errors.codes(), std::vector<std::string>{"StorageReadError"});
}

TEST_F(FileMemoryTest, ReadOnlyTableRefusesAllocationAndWrites) {
  CFileMemory memory(path, 1000, 4096);
  memory.getNewSpace(20);
  memory.disableWrite();
  EXPECT_EQ(kolvo::guardEntry<uint32_t>(0, [&] { return memory.getNewSpace(4); }), 0u);
  EXPECT_EQ(kolvo::guardEntry<unsigned char*>(nullptr, [&] { return memory.getWritablePointer(16, 4); }), nullptr);
  EXPECT_EQ(errors.codes(), (std::vector<std::string>{"AssertionFailed", "AssertionFailed"}));
  // Writing is possible again once enabled.
  ASSERT_TRUE(memory.enableWrite());
  EXPECT_EQ(memory.getNewSpace(4), 36u);
}

TEST_F(FileMemoryTest, EnableWriteNeedsAnOpenMapping) {
  CFileMemory memory(dir.slashed() + "absent");
  EXPECT_FALSE(memory.enableWrite());
}

TEST_F(FileMemoryTest, ProcessEndingWithoutTransitionLeavesLastHeader) {
  {
    CFileMemory memory(path, 1000, 4096);
    memory.disableWrite();
    memory.enableWrite();
    memory.getNewSpace(500);
    // The header on disk is still the one of the switch to read-only.
    EXPECT_EQ(storedHeader(path)[1], 16u);
  }
  EXPECT_EQ(storedHeader(path)[1], 516u);  // destruction writes it back
}

TEST_F(FileMemoryTest, StaleBytesBeyondTheRecordedSizeAreZeroedOnGrowth) {
  {
    CFileMemory memory(path, 100, 4096);
    memory.disableWrite();
  }
  // A file longer on disk than its header says, as a session that crashed after a
  // growth leaves it.
  {
    std::ofstream out(path, std::ios::binary | std::ios::app);
    std::string junk(500, 'x');
    out.write(junk.data(), static_cast<std::streamsize>(junk.size()));
  }
  CFileMemory memory(path);
  ASSERT_TRUE(memory.enableWrite());
  uint32_t at = memory.getNewSpace(300);
  const unsigned char* bytes = memory.getPointer(at, 300);
  for (int i = 0; i < 300; ++i) ASSERT_EQ(bytes[i], 0) << i;
}

int refuseFallocate(int, off_t, off_t) { return ENOSPC; }

TEST_F(FileMemoryTest, FullDiskFailsTheGrowthAndKeepsTheTableUsable) {
  CFileMemory memory(path, 100, 4096);
  uint32_t at = memory.getNewSpace(50);
  std::memcpy(memory.getWritablePointer(at, 4), "kept", 4);
  kolvo::posixCalls().fallocate = refuseFallocate;
  EXPECT_EQ(kolvo::guardEntry<uint32_t>(0, [&] { return memory.getNewSpace(1000); }), 0u);
  EXPECT_EQ(errors.errors(), std::vector<std::string>{"MemFileExtendFail|1066"});
  EXPECT_EQ(fileLength(path), 100u);
  kolvo::resetPosixCalls();
  // Nothing was lost, and the next growth works.
  EXPECT_EQ(std::memcmp(memory.getPointer(at, 4), "kept", 4), 0);
  EXPECT_EQ(memory.used(), 66u);
  EXPECT_EQ(memory.getNewSpace(1000), 66u);
  EXPECT_EQ(std::memcmp(memory.getPointer(at, 4), "kept", 4), 0);
}

void* refuseMmap(void*, size_t, int, int, int, off_t) { return MAP_FAILED; }
void* refuseRemap(void*, size_t, size_t) { return MAP_FAILED; }

TEST_F(FileMemoryTest, RefusedMappingOnGrowthClearsTheObject) {
  CFileMemory memory(path, 100, 4096);
  kolvo::posixCalls().remap = refuseRemap;
  EXPECT_EQ(kolvo::guardEntry<uint32_t>(0, [&] { return memory.getNewSpace(1000); }), 0u);
  EXPECT_EQ(errors.errors(), std::vector<std::string>{"FileMapOpenRWFail|" + path});
  EXPECT_FALSE(memory.mapped());
  EXPECT_EQ(memory.getStoragePath(), ".");
}

TEST_F(FileMemoryTest, RefusedMappingOnOpenIsReported) {
  {
    CFileMemory memory(path, 100, 4096);
  }
  kolvo::posixCalls().mmap = refuseMmap;
  EXPECT_FALSE(kolvo::guardEntry<bool>(false, [&] { CFileMemory memory(path); return true; }));
  EXPECT_EQ(errors.errors(), std::vector<std::string>{"FileMapWriteFail|" + path});
}

TEST_F(FileMemoryTest, ClearAllWritesHeaderAndEmptiesThePath) {
  CFileMemory memory(path, 100, 4096);
  memory.getNewSpace(10);
  memory.clearAll();
  EXPECT_FALSE(memory.mapped());
  EXPECT_EQ(memory.getStoragePath(), ".");
  EXPECT_EQ(storedHeader(path)[1], 26u);
}

TEST_F(FileMemoryTest, CreatingOverAnExistingFileStartsFromZero) {
  dir.write("table", std::string(5000, 'q'));
  CFileMemory memory(path, 1000, 4096);
  EXPECT_EQ(fileLength(path), 1000u);
  uint32_t at = memory.getNewSpace(900);
  const unsigned char* bytes = memory.getPointer(at, 900);
  for (int i = 0; i < 900; ++i) ASSERT_EQ(bytes[i], 0);
}

}  // namespace
