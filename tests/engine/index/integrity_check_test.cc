// The integrity check over a stored index of a small tree: sound as built and after an
// update, and each kind of damage to each table found and named.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>

#include "engine/filememory/le_fields.h"
#include "engine/index/integrity_check.h"
#include "engine/kolvolib/error_reporting.h"
#include "engine/storage/file_links.h"
#include "engine/storage/file_storage.h"
#include "engine/storage/hash_stream.h"
#include "engine/storage/text_storage.h"
#include "include/kolvolib.h"
#include "tests/engine/index/index_fixture.h"
#include "tests/support/engine_errors.h"

namespace {

using kolvotest::IndexFixture;

class IntegrityCheckTest : public ::testing::Test, public IndexFixture {
 protected:
  void SetUp() override {
    tree.write("a.txt", "apple banana cherry");
    tree.write("sub/b.txt", "banana date elder fig");
    tree.write("sub/deeper/c.txt", "apple fig grape");
    tree.write("skip", "the and of");
    startBuild();
    index->skipFilePath = tree.slashed() + "skip";
    index->indexExclusions();
    uint32_t entry = index->files->addFile(tree.path().c_str());
    index->indexDirectory(tree.path().c_str(), entry);
    index->compressLinks();
    index->storeStorage(store.slashed());
    index.reset();
  }
  // The stored index opened afresh and checked.
  std::vector<std::string> checkStored() {
    try {
      CKolvoIndex opened(false, store.slashed());
      return kolvo::checkIndex(opened);
    } catch (const kolvo::AbortToken&) {
      return {"the index does not open"};
    }
  }
  std::vector<unsigned char> bytes(const std::string& table) const {
    std::ifstream in(store.slashed() + table, std::ios::binary);
    return std::vector<unsigned char>((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  }
  void putU32(const std::string& table, uint32_t offset, uint32_t value) const {
    std::fstream file(store.slashed() + table, std::ios::in | std::ios::out | std::ios::binary);
    unsigned char raw[4];
    kolvo::storeU32(raw, value);
    file.seekp(offset);
    file.write(reinterpret_cast<const char*>(raw), 4);
  }
  // The newest link block of a word in more than one file.
  uint32_t blockOf(const std::string& word) const {
    std::vector<unsigned char> words = bytes("words");
    uint32_t head = kolvo::loadU32(words.data() + entryOf("words", word) - 8);
    EXPECT_NE(head, 0u) << word;
    return head;
  }
  // The number of name's entry in a stored table ("files", "words" or "skipped").
  uint32_t entryOf(const std::string& table, const std::string& name) const {
    CKolvoIndex opened(false, store.slashed());
    auto find = [&](const auto& entries) -> uint32_t {
      for (uint32_t entry = entries.getFirst(); entry != 0; entry = entries.getNext(entry))
        // Folders are recorded by their full path.
        if (std::string text = entries.getText(entry); text == name || text.ends_with("/" + name)) return entry;
      ADD_FAILURE() << name << " is not in " << table;
      return 0;
    };
    if (table == "files") return find(*opened.files);
    return find(table == "words" ? *opened.words : *opened.skippedWords);
  }
};

TEST_F(IntegrityCheckTest, ABuiltAndAnUpdatedIndexAreSound) {
  EXPECT_EQ(checkStored(), std::vector<std::string>{});
  tree.write("sub/new.txt", "kiwi lemon apple");
  std::filesystem::remove(tree.path() / "a.txt");
  updateTree(0);
  index.reset();
  EXPECT_EQ(checkStored(), std::vector<std::string>{});
}

// Each table damaged in turn; the check names the table and what is wrong.
TEST_F(IntegrityCheckTest, EachDamageIsFound) {
  struct Case {
    const char* what;
    std::function<void()> damage;
    const char* expected;  // the start of one line of the answer
  };
  const std::vector<Case> cases = {
      {"a file's parent inside a name",
       [&] { putU32("files", entryOf("files", "b.txt") - 16, entryOf("files", "sub") + 1); },
       "files: the parent of entry"},
      {"a file's parent loop",
       [&] {
         putU32("files", entryOf("files", "sub") - 16, entryOf("files", "deeper"));
         putU32("files", entryOf("files", "deeper") - 16, entryOf("files", "sub"));
       },
       "files: entry"},
      {"a file chain pointing back",
       [&] { putU32("files", entryOf("files", "c.txt") - 20, entryOf("files", "c.txt")); },
       "files: the chain link of entry"},
      {"a file renamed into another bucket",
       [&] { putU32("files", entryOf("files", "a.txt"), 0x74787a2e); },
       "files: entry"},
      {"a word chain into a text",
       [&] { putU32("words", entryOf("words", "apple") - 20, entryOf("words", "grape") + 2); },
       "words: the chain link of entry"},
      {"a word's last file inside a name",
       [&] { putU32("words", entryOf("words", "fig") - 16, entryOf("files", "c.txt") + 1); },
       "words: the last file of word \"fig\""},
      {"a skip word renamed",
       [&] { putU32("skipped", entryOf("skipped", "and"), 0x00787878); },
       "skipped: entry"},
      {"a link to no file", [&] { putU32("links", blockOf("banana"), 0x00FFFFF0); }, "links: word \"banana\" links to"},
      // "fig" is in two files: the newer in its word data, the older in its one block,
      // whose next-block word follows its record and the terminator.
      {"a block chained forward", [&] { putU32("links", blockOf("fig") + 5 + 5, blockOf("fig") + 64); },
       "links: the block at"},
      // The word order: a header of 16 bytes, then the word numbers in byte order.
      {"two words of the order swapped",
       [&] {
         std::vector<unsigned char> order = bytes("wordorder");
         putU32("wordorder", 16, kolvo::loadU32(order.data() + 20));
         putU32("wordorder", 20, kolvo::loadU32(order.data() + 16));
       },
       "wordorder: \""},
      {"a word of the order twice",
       [&] { putU32("wordorder", 20, kolvo::loadU32(bytes("wordorder").data() + 16)); },
       "wordorder: \""},
      {"a place of the order inside a word",
       [&] { putU32("wordorder", 16, kolvo::loadU32(bytes("wordorder").data() + 16) + 1); },
       "wordorder: place 0 holds"},
      {"a word count in \"hash\" that the table does not hold",
       [&] {
         std::vector<unsigned char> hash = bytes("hash");
         for (uint32_t at = 0; at + 12 <= hash.size(); ++at)
           if (kolvo::loadU32(hash.data() + at) == kolvo::wordTableTag) {
             putU32("hash", at + 8, kolvo::loadU32(hash.data() + at + 8) - 1);
             break;
           }
       },
       "words: the count says"},
  };
  for (const Case& test : cases) {
    SCOPED_TRACE(test.what);
    SetUp();
    ASSERT_EQ(checkStored(), std::vector<std::string>{}) << test.what;
    test.damage();
    std::vector<std::string> found = checkStored();
    bool named = false;
    for (const std::string& line : found) named = named || line.rfind(test.expected, 0) == 0;
    EXPECT_TRUE(named) << test.what << ": " << ::testing::PrintToString(found);
  }
}

TEST_F(IntegrityCheckTest, ThroughTheCInterface) {
  kolvotest::EngineErrors errors;
  CKolvoIndex* opened = kCreateNewIndex(0, store.slashed().c_str());
  ASSERT_NE(opened, nullptr);
  char* text = kidxCheckIndex(opened);
  ASSERT_NE(text, nullptr);
  EXPECT_STREQ(text, "");
  kDeleteChar(text);
  kidxClearIndex(opened);
  putU32("files", entryOf("files", "b.txt") - 16, 7);
  opened = kCreateNewIndex(0, store.slashed().c_str());
  text = kidxCheckIndex(opened);
  ASSERT_NE(text, nullptr);
  std::string answer = text;
  kDeleteChar(text);
  kidxClearIndex(opened);
  EXPECT_EQ(answer.rfind("files: the parent of entry ", 0), 0u) << answer;
  EXPECT_EQ(answer.back(), '\n');
  EXPECT_TRUE(errors.errors().empty());
  EXPECT_EQ(kidxCheckIndex(nullptr), nullptr);
  EXPECT_EQ(errors.codes(), std::vector<std::string>{"AssertionFailed"});
}

}  // namespace
