// The table entries of the C interface over real tables: forwarding, time conversion,
// and refusal of pointers and numbers that are no records.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <random>
#include <set>
#include <string>
#include <vector>

#include "engine/filememory/le_fields.h"
#include "engine/storage/file_links.h"
#include "engine/storage/file_storage.h"
#include "engine/storage/text_storage.h"
#include "include/kolvolib.h"
#include "tests/support/engine_errors.h"
#include "tests/support/temp_dir.h"

namespace {

using kolvotest::EngineErrors;
using kolvotest::TempDir;

class TableEntriesTest : public ::testing::Test {
 protected:
  TempDir dir;
  EngineErrors errors;
  CFileStorage files{dir.slashed() + "files", 1000};
  CTextStorage words{dir.slashed() + "words", 131071, 1048575, 16, 40000};
};

TEST_F(TableEntriesTest, FileRecordsThroughTheInterface) {
  kulong folder = kfsAddFile(&files, "/home/u");
  kulong file = kfsAddFile(&files, "notes.txt");
  KolvoFileInfo* info = kfsGetInfo(&files, file);
  ASSERT_NE(info, nullptr);
  kfiSetFileParentID(info, folder);
  kfiSetFileSize(info, 1234);
  kfiSetFileAttributes(info, 5);
  EXPECT_EQ(kfsLookupFile(&files, "notes.txt", folder), file);
  EXPECT_EQ(kfsLookupFile(&files, "NOTES.TXT", folder), 0u) << "another file on this system";
  EXPECT_EQ(kfiGetFileParentID(info), folder);
  EXPECT_EQ(kfiGetFileSize(info), 1234u);
  EXPECT_EQ(kfiGetFileAttributes(info), 5u);
  EXPECT_STREQ(kfiGetFileName(info), "notes.txt");
  EXPECT_EQ(reinterpret_cast<const unsigned char*>(kfiGetFileName(info)),
            reinterpret_cast<const unsigned char*>(info) + 16);
  EXPECT_EQ(kfsGetFirst(&files), folder);
  EXPECT_EQ(kfsGetNext(&files, folder), file);
  EXPECT_EQ(kfsGetNext(&files, file), 0u);
  kfiMarkFileObsolete(info);
  EXPECT_EQ(kfsLookupFile(&files, "notes.txt", folder), 0u);
  EXPECT_TRUE(errors.errors().empty());
}

TEST_F(TableEntriesTest, TimesTravelAsSecondsSince1904TruncatedToWholeSeconds) {
  KolvoFileInfo* info = kfsGetInfo(&files, kfsAddFile(&files, "t"));
  struct {
    double in, out;
  } cases[] = {
      {2082844800.0, 2082844800.0}, {2082844800.9, 2082844800.0}, {2082844799.5, 2082844800.0},
      {2082844800.0 + 1700000000.75, 2082844800.0 + 1700000000}, {2082844800.0 - 86400.5, 2082844800.0 - 86400},
  };
  for (auto c : cases) {
    kfiSetFileTimeLastWritten(info, c.in);
    EXPECT_EQ(kfiGetFileTimeLastWritten(info), c.out) << c.in;
  }
  kfiSetFileTimeLastWritten(info, 1e30);  // clamped, never undefined
  EXPECT_EQ(kfiGetFileTimeLastWritten(info), 2082844800.0 + 2147483647.0);
}

TEST_F(TableEntriesTest, ForeignAndStalePointersAreRefused) {
  unsigned char notARecord[32] = {};
  EXPECT_EQ(kfiGetFileSize(reinterpret_cast<KolvoFileInfo*>(notARecord)), 0u);
  kfiSetFileSize(reinterpret_cast<KolvoFileInfo*>(notARecord), 9);
  EXPECT_EQ(notARecord[12], 0);
  EXPECT_EQ(kfiGetFileName(nullptr), nullptr);
  // A record of the word table is no file record.
  kulong w = words.addText("word");
  EXPECT_EQ(kfiGetFileParentID(reinterpret_cast<KolvoFileInfo*>(const_cast<void*>(ktsGetData(&words, w)))), 0u);
  EXPECT_EQ(errors.codes(), std::vector<std::string>(4, "AssertionFailed"));
  EXPECT_EQ(kfsGetInfo(&files, 12345), nullptr);
  EXPECT_EQ(kfsGetInfo(nullptr, 36), nullptr);
}

// Every offset of the table that is not an entry's own number is refused by every
// entry that takes a number or a record: nothing is ever read from name bytes.
TEST_F(TableEntriesTest, NumbersInsideNamesAreNoFiles) {
  kulong folder = kfsAddFile(&files, "/home/someone/a-rather-long-folder-name");
  kulong file = kfsAddFile(&files, "notes-with-a-long-name.txt");
  kfiSetFileParentID(kfsGetInfo(&files, file), folder);
  kulong obsolete = kfsAddFile(&files, "old-file.txt");
  kfiSetFileParentID(kfsGetInfo(&files, obsolete), folder);
  kfiMarkFileObsolete(kfsGetInfo(&files, obsolete));
  std::vector<kulong> entries{folder, file, obsolete};
  for (kulong at = 0; at < files.used() + 4; ++at) {
    bool entry = std::find(entries.begin(), entries.end(), at) != entries.end();
    KolvoFileInfo* info = kfsGetInfo(&files, at);
    EXPECT_EQ(info != nullptr, entry) << at;
    if (!entry) {
      EXPECT_EQ(kfsGetNext(&files, at), 0u) << at;
    }
    // A record pointer made from such an offset is refused as well.
    if (at >= 16 && at < files.used()) {
      auto* made = reinterpret_cast<KolvoFileInfo*>(const_cast<unsigned char*>(files.getPointer(at - 16, 16)));
      EXPECT_EQ(kfiGetFileName(made) != nullptr, entry) << at;
      EXPECT_EQ(kfiGetFileParentID(made) == folder, entry && at != folder) << at;
    }
  }
  EXPECT_EQ(kfsGetNext(&files, folder), file);
  EXPECT_EQ(kfsGetNext(&files, file), obsolete);
  // The same holds once the table is read-only.
  files.disableWrite();
  EXPECT_NE(kfsGetInfo(&files, file), nullptr);
  EXPECT_EQ(kfsGetInfo(&files, file + 1), nullptr);
}

// The records of many numbers at once are what the one-by-one readers give, and a
// number that is no entry (inside a name, past the end, 0) has a null name and zeros.
TEST_F(TableEntriesTest, RecordsOfManyFilesAtOnceMatchTheReaders) {
  kulong folder = kfsAddFile(&files, "/home/someone");
  std::vector<kulong> numbers{0, folder, folder + 1, 12345678};
  for (int i = 0; i < 40; ++i) {
    kulong file = kfsAddFile(&files, ("f" + std::to_string(i) + ".txt").c_str());
    KolvoFileInfo* info = kfsGetInfo(&files, file);
    kfiSetFileParentID(info, folder);
    kfiSetFileSize(info, i == 0 ? 0xFFFFFFFFu : static_cast<kulong>(i * 1000));
    kfiSetFileTimeLastWritten(info, 2082844800.0 + (i - 20) * 86400.0 * 365);
    numbers.push_back(file);
    numbers.push_back(file + 2);
  }
  kfiMarkFileObsolete(kfsGetInfo(&files, numbers.back() - 2));
  std::vector<KolvoFileRecord> records(numbers.size(), KolvoFileRecord{"stale", 9, 9, 9.0});
  kulong entries = kfsGetRecords(&files, numbers.data(), static_cast<kulong>(numbers.size()), records.data());
  EXPECT_EQ(entries, 41u);
  for (std::size_t i = 0; i < numbers.size(); ++i) {
    const KolvoFileInfo* info = kfsGetInfo(&files, numbers[i]);
    const KolvoFileRecord& record = records[i];
    if (!info) {
      EXPECT_EQ(record.name, nullptr) << numbers[i];
      EXPECT_EQ(record.parent + record.size, 0u) << numbers[i];
      EXPECT_EQ(record.timeLastWritten, 0.0) << numbers[i];
      continue;
    }
    EXPECT_EQ(record.name, kfiGetFileName(info)) << numbers[i];
    EXPECT_EQ(record.parent, kfiGetFileParentID(info)) << numbers[i];
    EXPECT_EQ(record.size, kfiGetFileSize(info)) << numbers[i];
    EXPECT_EQ(record.timeLastWritten, kfiGetFileTimeLastWritten(info)) << numbers[i];
  }
  EXPECT_EQ(records[4].size, 0xFFFFFFFFu);
  EXPECT_EQ(kfsGetRecords(nullptr, numbers.data(), 1, records.data()), 0u);
  EXPECT_EQ(kfsGetRecords(&files, nullptr, 1, records.data()), 0u);
  EXPECT_EQ(kfsGetRecords(&files, numbers.data(), 0, records.data()), 0u);
  EXPECT_TRUE(errors.errors().empty());
}

TEST_F(TableEntriesTest, WritingARecordOfAReadOnlyTableIsRefused) {
  kulong file = kfsAddFile(&files, "ro");
  files.disableWrite();
  KolvoFileInfo* info = kfsGetInfo(&files, file);
  kfiSetFileSize(info, 1);
  kfiMarkFileObsolete(info);
  EXPECT_EQ(kfsAddFile(&files, "more"), 0u);
  EXPECT_EQ(errors.codes(), std::vector<std::string>(3, "AssertionFailed"));
  EXPECT_EQ(kfiGetFileSize(info), 0u);
  EXPECT_STREQ(kfiGetFileName(info), "ro");
}

TEST_F(TableEntriesTest, WordTableThroughTheInterface) {
  kulong a = words.addText("alpha");
  kulong b = words.addText("beta");
  EXPECT_EQ(ktsLookup(&words, "ALPHA"), a);
  EXPECT_EQ(ktsLookup(&words, "gamma"), 0u);
  EXPECT_EQ(ktsGetFirst(&words), a);
  EXPECT_EQ(ktsGetNext(&words, a), b);
  EXPECT_EQ(ktsGetNext(&words, b), 0u);
  EXPECT_STREQ(ktsGetText(&words, b), "beta");
  EXPECT_EQ(ktsGetText(&words, 3), nullptr);
  EXPECT_EQ(ktsLookup(nullptr, "x"), 0u);
  EXPECT_EQ(ktsLookup(&words, nullptr), 0u);
}

// The words of a prefix as the one-at-a-time walk finds them.
std::vector<kulong> walkedWithPrefix(CTextStorage& table, const std::string& prefix) {
  std::vector<kulong> found;
  for (kulong word = ktsGetFirst(&table); word != 0; word = ktsGetNext(&table, word))
    if (std::strncmp(ktsGetText(&table, word), prefix.c_str(), prefix.size()) == 0) found.push_back(word);
  return found;
}

// The same through the batch entry, capacity numbers a call.
std::vector<kulong> batchedWithPrefix(CTextStorage& table, const std::string& prefix, kulong capacity) {
  std::vector<kulong> found, batch(capacity);
  kulong cursor = 0;
  int calls = 0;
  do {
    kulong count = ktsGetPrefixed(&table, prefix.c_str(), &cursor, batch.data(), capacity);
    EXPECT_LE(count, capacity);
    found.insert(found.end(), batch.begin(), batch.begin() + count);
    // Every call moves on, so the walk ends.
    if (++calls > 1000000) break;
  } while (cursor != 0);
  return found;
}

TEST_F(TableEntriesTest, PrefixBatchesFindWhatTheWalkFinds) {
  std::mt19937 random(20261209);
  std::uniform_int_distribution<int> length(1, 9), letter('a', 'e');
  std::set<std::string> added;
  std::vector<std::string> inOrder;
  while (added.size() < 3000) {
    std::string word;
    for (int i = length(random); i > 0; --i) word += static_cast<char>(letter(random));
    if (added.insert(word).second) {
      words.addText(word.c_str());
      inOrder.push_back(word);
    }
  }
  // Every prefix of the first and the last word (the table's edges) and of a few
  // others, none at all, and prefixes that begin no word.
  std::vector<std::string> prefixes = {"", "z", "abcdeabcdea", "\xe9"};
  for (const std::string& word : {inOrder.front(), inOrder.back(), inOrder[17], inOrder[1500], inOrder[2998]})
    for (std::size_t n = 1; n <= word.size(); ++n) prefixes.push_back(word.substr(0, n));
  for (const std::string& prefix : prefixes) {
    std::vector<kulong> expected = walkedWithPrefix(words, prefix);
    for (kulong capacity : {1u, 2u, 7u, 200u, 5000u})
      EXPECT_EQ(batchedWithPrefix(words, prefix, capacity), expected) << "'" << prefix << "' by " << capacity;
  }
  EXPECT_EQ(batchedWithPrefix(words, "", 64).size(), inOrder.size());
  EXPECT_EQ(batchedWithPrefix(words, inOrder.back(), 64), std::vector<kulong>{ktsLookup(&words, inOrder.back().c_str())});
  EXPECT_TRUE(errors.errors().empty());
}

TEST_F(TableEntriesTest, PrefixWalkOfALargeTableGoesOnAfterCallsThatFindNothing) {
  // More words than one call looks at; only the last has the prefix.
  for (int i = 0; i < 70000; ++i) words.addText(("w" + std::to_string(i)).c_str());
  kulong last = words.addText("zzlast");
  kulong cursor = 0, batch[4] = {};
  EXPECT_EQ(ktsGetPrefixed(&words, "zz", &cursor, batch, 4), 0u);
  EXPECT_NE(cursor, 0u);
  EXPECT_EQ(batchedWithPrefix(words, "zz", 4), std::vector<kulong>{last});
  EXPECT_EQ(batchedWithPrefix(words, "w6999", 8).size(), 11u);
}

TEST_F(TableEntriesTest, PrefixWalkRefusesNullsAndEndsAtAnEmptyTable) {
  kulong cursor = 0, batch[4] = {};
  EXPECT_EQ(ktsGetPrefixed(&words, "a", &cursor, batch, 4), 0u);
  EXPECT_EQ(cursor, 0u);
  words.addText("abc");
  EXPECT_EQ(ktsGetPrefixed(nullptr, "a", &cursor, batch, 4), 0u);
  EXPECT_EQ(ktsGetPrefixed(&words, nullptr, &cursor, batch, 4), 0u);
  EXPECT_EQ(ktsGetPrefixed(&words, "a", nullptr, batch, 4), 0u);
  EXPECT_EQ(ktsGetPrefixed(&words, "a", &cursor, nullptr, 4), 0u);
  EXPECT_EQ(ktsGetPrefixed(&words, "a", &cursor, batch, 0), 0u);
  EXPECT_EQ(ktsGetPrefixed(&words, "a", &cursor, batch, 4), 1u);
  EXPECT_EQ(cursor, 0u);
}

TEST_F(TableEntriesTest, LinkChainsThroughTheInterface) {
  CFileLinks links(dir.slashed() + "links", 65535, 1048575, false);
  links.getSpace(4);
  uint32_t older = links.getSpace(2 * 4 + 4);  // A | 0 | 0
  links.addFile(older, 111, 0);
  uint32_t newer = links.getSpace(3 * 4 + 4);  // C | B | 0 | older
  links.addFile(newer, 333, 0);
  links.addFile(newer + 4, 222, 0);
  links.setNextList(newer + 12, older);
  std::vector<kulong> files;
  kulong cursor[2] = {newer, 0};
  for (;;) {
    kulong f = kflGetFile(&links, cursor);
    if (f) {
      files.push_back(f);
      EXPECT_EQ(cursor[1], 255u);
      continue;
    }
    kulong next = kflGetNextList(&links, cursor[0]);
    if (!next) break;
    cursor[0] = next;
  }
  EXPECT_EQ(files, (std::vector<kulong>{333, 222, 111}));
  // A next-block word that points forward would make a reader loop: refused.
  links.setNextList(older + 8, newer);
  EXPECT_EQ(kflGetNextList(&links, older + 8), 0u);
  EXPECT_EQ(errors.codes(), std::vector<std::string>{"AssertionFailed"});
  kulong past[2] = {links.used(), 7};
  EXPECT_EQ(kflGetFile(&links, past), 0u);
  EXPECT_EQ(past[1], 0u);
}

TEST_F(TableEntriesTest, LinkBatchesReadWhatOneAtATimeReads) {
  const std::string path = dir.slashed() + "links";
  CFileLinks links(path, 65535, 1048575, true);
  links.getSpace(4);
  // Blocks of 0, 1, 5, 9 and 600 records, each with its terminator and a next-block
  // word naming the block before it.
  std::vector<uint32_t> blocks, nextOf;
  for (uint32_t size : {0u, 1u, 5u, 9u, 600u}) {
    // Each block on pages of its own, which an opened table reads through the file at
    // first and then in place.
    if (uint32_t intoPage = links.used() % 4096) links.getSpace(4096 - intoPage);
    uint32_t block = links.getSpace((size + 1) * 5 + 4);
    for (uint32_t i = 0; i < size; ++i) links.addFile(block + i * 5, 100 * size + i + 1, static_cast<uint8_t>(i * 7));
    nextOf.push_back(blocks.empty() ? 0 : blocks.back());
    links.setNextList(block + (size + 1) * 5, nextOf.back());
    blocks.push_back(block);
  }
  // Last a block the used space cuts off before its terminator, which the end of the
  // space ends.
  uint32_t cut = links.getSpace(3 * 5);
  for (uint32_t i = 0; i < 3; ++i) links.addFile(cut + i * 5, 700 + i, 1);
  blocks.push_back(cut);
  ASSERT_EQ(links.used(), cut + 3 * 5);

  // Each block read in batches of every size gives what a read of one record at a time
  // gives, and leaves the cursor where that leaves it.
  auto expectBatchesAgree = [&](CFileLinks& table, const std::string& how) {
    for (size_t b = 0; b < blocks.size(); ++b) {
      std::vector<kulong> oneFiles, oneRanks;
      kulong one[2] = {blocks[b], 0};
      for (kulong f = kflGetFile(&table, one); f != 0; f = kflGetFile(&table, one)) {
        oneFiles.push_back(f);
        oneRanks.push_back(one[1]);
      }
      for (kulong capacity : {1000u, 257u, 64u, 5u, 2u, 1u}) {
        std::vector<kulong> files, ranks, batchFiles(capacity), batchRanks(capacity);
        kulong cursor = blocks[b], count = 0;
        do {
          count = kflGetFiles(&table, &cursor, batchFiles.data(), batchRanks.data(), capacity);
          ASSERT_LE(count, capacity);
          files.insert(files.end(), batchFiles.begin(), batchFiles.begin() + count);
          ranks.insert(ranks.end(), batchRanks.begin(), batchRanks.begin() + count);
        } while (count == capacity);
        EXPECT_EQ(files, oneFiles) << how << blocks[b] << " by " << capacity;
        EXPECT_EQ(ranks, oneRanks) << how << blocks[b] << " by " << capacity;
        // Both stand on the next-block word.
        EXPECT_EQ(cursor, one[0]) << how << blocks[b] << " by " << capacity;
        if (b < nextOf.size()) {
          EXPECT_EQ(kflGetNextList(&table, cursor), nextOf[b]) << how << blocks[b];
        }
      }
    }
  };
  expectBatchesAgree(links, "made: ");
  // Opened from its file, the table's pages are read through the file at first and in
  // place once read often: each round gives the same.
  links.disableWrite();
  std::FILE* out = std::fopen((dir.slashed() + "hash").c_str(), "wb");
  ASSERT_TRUE(out);
  ASSERT_TRUE(links.store(out));
  std::fclose(out);
  std::FILE* in = std::fopen((dir.slashed() + "hash").c_str(), "rb");
  ASSERT_TRUE(in);
  CFileLinks opened(path, in);
  std::fclose(in);
  for (int round = 0; round < 3; ++round) expectBatchesAgree(opened, "opened, round " + std::to_string(round) + ": ");

  kulong cursor = links.used(), files[4], ranks[4];
  EXPECT_EQ(kflGetFiles(&links, &cursor, files, ranks, 4), 0u);
  EXPECT_EQ(kflGetFiles(nullptr, &cursor, files, ranks, 4), 0u);
  EXPECT_EQ(kflGetFiles(&links, nullptr, files, ranks, 4), 0u);
  EXPECT_EQ(kflGetFiles(&links, &cursor, nullptr, ranks, 4), 0u);
  EXPECT_EQ(kflGetFiles(&links, &cursor, files, nullptr, 4), 0u);
  EXPECT_TRUE(errors.codes().empty());
}

}  // namespace
