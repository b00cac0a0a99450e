// The index object: its kolvo directory, character references, masks and file set.
#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <stdexcept>

#include "engine/index/kolvo_index.h"
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
