// The index object: its kolvo directory, character references, masks and file set.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>
#include <stdexcept>

#include <unistd.h>

#include <cerrno>

#include "engine/filememory/posix_seam.h"
#include "engine/index/kolvo_index.h"
#include "tests/engine/index/index_fixture.h"
#include "tests/support/engine_errors.h"
#include "tests/support/temp_dir.h"

namespace {

TEST(KolvoIndexTest, KolvoDirectoryIsCutBeforeTheFourthSlashFromTheEnd) {
  EXPECT_EQ(CKolvoIndex::kolvoDirectoryOf("/h/.kolvo/Coll/Idx/1/"), "/h/.kolvo");
  EXPECT_EQ(CKolvoIndex::kolvoDirectoryOf("a/b/c/"), "");
  EXPECT_EQ(CKolvoIndex::kolvoDirectoryOf(""), "");
  EXPECT_EQ(CKolvoIndex::kolvoDirectoryOf("////"), "");
}

TEST(KolvoIndexTest, CharacterReferencesDecode) {
  kolvotest::TempDir dir;
  CKolvoIndex index(true, dir.slashed());
  struct Case { const char* text; unsigned char expected; };
  const Case cases[] = {{"#65", 0x41}, {"#321", 0x41}, {"#", 0}, {"#x41", 0},
                        {"eacute", 0xE9}, {"Eacute", 0xC9}, {"nbsp", 0x20}};
  for (const Case& c : cases) EXPECT_EQ(index.htmlChar(c.text), c.expected) << c.text;
}

TEST(KolvoIndexTest, ControlMaskHoldsTheFixedControlBytes) {
  kolvotest::TempDir dir;
  CKolvoIndex index(true, dir.slashed());
  for (int c = 0; c < 256; ++c) {
    const bool control = (c >= 1 && c <= 6) || c == 8 || (c >= 14 && c <= 31);
    EXPECT_EQ(index.controlCharMask[c] != 0, control) << c;
  }
}

TEST(KolvoIndexTest, MasksRefuseCharactersOutsideTheByteRange) {
  kolvotest::TempDir dir;
  CKolvoIndex index(true, dir.slashed());
  EXPECT_ANY_THROW(index.setValidCharMask(256, true));
  EXPECT_ANY_THROW(index.setNonAlphaCharMask(-1, true));
  index.setValidCharMask(255, true);
  EXPECT_EQ(index.validCharMask[255], 1);
}

TEST(KolvoIndexTest, NewIndexCreatesItsTablesAndStoresHash) {
  kolvotest::TempDir dir;
  {
    CKolvoIndex index(true, dir.slashed());
    for (const char* name : {"files", "words", "skipped", "links"})
      EXPECT_TRUE(std::filesystem::exists(dir.path() / name)) << name;
    index.storeStorage(dir.slashed());
  }
  EXPECT_EQ(std::filesystem::file_size(dir.path() / "hash"), 168061u);
  EXPECT_FALSE(std::filesystem::exists(dir.path() / "hash.new"));
}

TEST(KolvoIndexTest, OpeningWithoutHashFails) {
  kolvotest::TempDir dir;
  { CKolvoIndex index(true, dir.slashed()); }
  EXPECT_ANY_THROW(CKolvoIndex(false, dir.slashed()));
}

TEST(KolvoIndexTest, StoredIndexReopensAndDamagedHashIsRefused) {
  kolvotest::TempDir dir;
  { CKolvoIndex index(true, dir.slashed()); index.storeStorage(dir.slashed()); }
  { CKolvoIndex reopened(false, dir.slashed()); }
  const std::filesystem::path hash = dir.path() / "hash";
  std::filesystem::resize_file(hash, 168060u);
  EXPECT_ANY_THROW(CKolvoIndex(false, dir.slashed()));
  std::filesystem::resize_file(hash, 168062u);
  EXPECT_ANY_THROW(CKolvoIndex(false, dir.slashed()));
}

TEST(KolvoIndexTest, FailedStoreLeavesThePreviousHash) {
  kolvotest::TempDir dir;
  CKolvoIndex index(true, dir.slashed());
  index.storeStorage(dir.slashed());
  const std::string before = dir.read("hash");
  std::filesystem::create_directory(dir.path() / "hash.new");
  EXPECT_ANY_THROW(index.storeStorage(dir.slashed()));
  EXPECT_EQ(dir.read("hash"), before);
}

// The syncs and renames of a store, by the name of the file each concerns, and the
// table whose sync fails ("" for none).
std::vector<std::string> storeCalls;
std::string failingTable;

std::string fileOf(int fd) {
  std::vector<char> target(4096);
  ssize_t length = readlink(("/proc/self/fd/" + std::to_string(fd)).c_str(), target.data(), target.size() - 1);
  if (length <= 0) return "?";
  std::string path(target.data(), static_cast<size_t>(length));
  return path.substr(path.rfind('/') + 1);
}
int recordingFsync(int fd) {
  std::string name = fileOf(fd);
  storeCalls.push_back("sync " + name);
  if (name == failingTable) return errno = EIO, -1;
  return ::fsync(fd);
}
int recordingRename(const char* from, const char* to) {
  std::string name = to;
  storeCalls.push_back("rename " + name.substr(name.rfind('/') + 1));
  return std::rename(from, to);
}

TEST(KolvoIndexTest, StoreSyncsEveryTableBeforeReplacingHashAndReportsAFailedSync) {
  for (const char* failing : {"", "files", "words", "skipped", "links", "wordorder.new", "hash.new"}) {
    SCOPED_TRACE(std::string("failing sync: ") + failing);
    kolvotest::TempDir dir;
    CKolvoIndex index(true, dir.slashed());
    index.newFileLinks();
    index.files->addFile("/first");
    index.storeStorage(dir.slashed());
    const std::string before = dir.read("hash");
    index.enableWrite(true);
    index.files->addFile("/second");
    storeCalls.clear();
    failingTable = failing;
    kolvo::posixCalls().fsync = recordingFsync;
    kolvo::posixCalls().rename = recordingRename;
    bool stored = true;
    try {
      index.storeStorage(dir.slashed());
    } catch (...) {
      stored = false;
    }
    kolvo::resetPosixCalls();
    EXPECT_EQ(stored, failingTable.empty());
    if (!stored) {
      EXPECT_EQ(dir.read("hash"), before);
      EXPECT_FALSE(std::filesystem::exists(dir.path() / "hash.new"));
      continue;
    }
    ASSERT_EQ(storeCalls.size(), 8u);
    // Every table's sync comes before the word order and then the new "hash" are synced
    // and renamed into place.
    std::vector<std::string> tables(storeCalls.begin(), storeCalls.end() - 4);
    std::sort(tables.begin(), tables.end());
    EXPECT_EQ(tables, (std::vector<std::string>{"sync files", "sync links", "sync skipped", "sync words"}));
    EXPECT_EQ(std::vector<std::string>(storeCalls.end() - 4, storeCalls.end()),
              (std::vector<std::string>{"sync wordorder.new", "rename wordorder", "sync hash.new", "rename hash"}));
    EXPECT_NE(dir.read("hash"), before);
  }
}

TEST(KolvoIndexTest, EmptyIndexHasNoLinksTableUntilOneIsMade) {
  kolvotest::TempDir dir;
  CKolvoIndex index(true, dir.slashed());
  index.emptyIndex();
  EXPECT_NE(index.files, nullptr);
  EXPECT_NE(index.words, nullptr);
  EXPECT_EQ(index.fileLinks, nullptr);
  EXPECT_EQ(index.filesIndexed, 0u);
  EXPECT_EQ(index.directoriesRead, 0u);
  index.newFileLinks();
  EXPECT_NE(index.fileLinks, nullptr);
}

}  // namespace

namespace {

// Opening through the C interface: the error code and the file it names.
struct OpenResult {
  CKolvoIndex* index;
  std::vector<std::string> errors;
};

class StoredIndexTest : public ::testing::Test {
 protected:
  void SetUp() override {
    CKolvoIndex index(true, dir.slashed());
    index.emptyIndex();
    index.newFileLinks();
    uint32_t a = index.files->addFile("a");
    uint32_t b = index.files->addFile("b");
    index.indexWord("word", a);
    index.indexWord("word", b);
    index.compressLinks();
    index.storeStorage(dir.slashed());
    fileA = a;
    fileB = b;
  }
  OpenResult open() {
    kolvotest::EngineErrors errors;
    CKolvoIndex* index = kCreateNewIndex(0, dir.slashed().c_str());
    return OpenResult{index, errors.errors()};
  }
  void damage(const std::string& name, size_t at, char byte) {
    std::fstream file(dir.slashed() + name, std::ios::in | std::ios::out | std::ios::binary);
    file.seekp(static_cast<std::streamoff>(at));
    file.put(byte);
  }

  kolvotest::TempDir dir;
  uint32_t fileA = 0, fileB = 0;
};

TEST_F(StoredIndexTest, ReopenedIndexGivesTheSameNumbersLookupsAndLinks) {
  OpenResult opened = open();
  ASSERT_NE(opened.index, nullptr);
  CKolvoIndex& index = *opened.index;
  EXPECT_EQ(index.files->lookupFile("a", 0), fileA);
  EXPECT_EQ(index.words->lookup("word"), 36u);
  EXPECT_EQ(kolvotest::filesOfWord(index, "word"), (std::vector<uint32_t>{fileB, fileA}));
  EXPECT_FALSE(index.words->writable());
  EXPECT_FALSE(index.files->writable());
  EXPECT_TRUE(index.fileLinks->ranked());
  kidxClearIndex(opened.index);
}

// A freshly opened index reads its tables' headers and the file numbers of an answer
// from the files, mapping no page for them: a listing's numbers, a search, a name lookup
// and an addition after it give what they gave before.
TEST_F(StoredIndexTest, AFreshlyOpenedIndexListsSearchesLooksUpAndAddsAsBefore) {
  OpenResult opened = open();
  ASSERT_NE(opened.index, nullptr);
  CKolvoIndex& index = *opened.index;
  EXPECT_EQ(index.files->used(), index.files->extent().used);
  const std::vector<uint32_t> asked{fileA, fileB + 1, fileB, fileA - 1, 0};
  std::vector<unsigned char> told(asked.size(), 9);
  index.files->checkFileNumbers(asked.data(), asked.size(), told.data());
  EXPECT_EQ(told, (std::vector<unsigned char>{1, 0, 1, 0, 0}));
  EXPECT_EQ(kolvotest::filesOfWord(index, "word"), (std::vector<uint32_t>{fileB, fileA}));
  EXPECT_EQ(index.files->lookupFile("b", 0), fileB);
  ASSERT_TRUE(index.files->enableWrite());
  uint32_t c = index.files->addFile("c");
  EXPECT_GT(c, fileB);
  EXPECT_EQ(index.files->lookupFile("c", 0), c);
  EXPECT_EQ(index.files->lookupFile("a", 0), fileA);
  unsigned char last = 1;
  ASSERT_TRUE(index.files->readBytes(index.files->used() - 1, &last, 1));
  EXPECT_EQ(last, 0);
  EXPECT_TRUE(index.files->lastUsedByteIsNul());
  kidxClearIndex(opened.index);
}

TEST_F(StoredIndexTest, ClearRestoresDefaultsAndKeepsCountersAndMasks) {
  CKolvoIndex index(false, dir.slashed());
  index.minWordLength = 1;
  index.maxWordLength = 99;
  index.useRanking = false;
  index.trackAll = false;
  index.filesIndexed = 42;
  index.timeBase = 1234;
  index.maxPerFileRead = 77;
  index.setValidCharMask('q', true);
  index.setExcludeCount(1);
  index.clear();
  EXPECT_EQ(index.minWordLength, 3u);
  EXPECT_EQ(index.maxWordLength, 16u);
  EXPECT_TRUE(index.useRanking);
  EXPECT_TRUE(index.trackAll);
  EXPECT_EQ(index.filesIndexed, 42u);
  EXPECT_EQ(index.timeBase, 1234);
  EXPECT_EQ(index.maxPerFileRead, 77u);
  EXPECT_EQ(index.validCharMask['q'], 1);
  EXPECT_TRUE(index.excludePatterns.empty());
  EXPECT_EQ(index.words, nullptr);
  EXPECT_EQ(kidxGetLinks(&index), nullptr);
}

TEST_F(StoredIndexTest, AMissingOrShortBackingFileFailsAtOpenNamingIt) {
  for (const char* name : {"words", "files", "skipped", "links"}) {
    std::string path = dir.slashed() + name;
    std::string saved = dir.read(name);
    std::filesystem::remove(path);
    OpenResult missing = open();
    EXPECT_EQ(missing.index, nullptr) << name;
    EXPECT_EQ(missing.errors, std::vector<std::string>{"StorageReadError|" + path}) << name;
    dir.write(name, saved.substr(0, 100));  // shorter than its header says
    OpenResult shortened = open();
    EXPECT_EQ(shortened.index, nullptr) << name;
    EXPECT_EQ(shortened.errors, std::vector<std::string>{"StorageReadError|" + path}) << name;
    dir.write(name, saved);
  }
  OpenResult whole = open();
  EXPECT_NE(whole.index, nullptr);
  kidxClearIndex(whole.index);
}

TEST_F(StoredIndexTest, ADamagedHashSectionFailsNamingItsTable) {
  std::string saved = dir.read("hash");
  damage("hash", 0, 'X');  // the files section's tag
  EXPECT_EQ(open().errors, std::vector<std::string>{"StorageReadError|" + dir.slashed() + "files"});
  dir.write("hash", saved);
  damage("hash", 4 * (4 + 1000), 'X');  // the words section's tag
  EXPECT_EQ(open().errors, std::vector<std::string>{"StorageReadError|" + dir.slashed() + "words"});
  dir.write("hash", saved.substr(0, saved.size() - 1));  // the links flag cut off
  EXPECT_EQ(open().errors, std::vector<std::string>{"StorageReadError|" + dir.slashed() + "links"});
  dir.write("hash", saved + "x");
  EXPECT_EQ(open().errors, std::vector<std::string>{"StorageReadError|" + dir.slashed() + "hash"});
}

}  // namespace
