// A mailbox's cache file on its own: records of every size written and read back while
// writing and afterwards, the last record of an entry winning, a record cut short by a
// stopped build, and a fresh build starting the cache anew.
#include "engine/mboxanalyzer/mail_cache.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "tests/support/temp_dir.h"

namespace fs = std::filesystem;
using kolvo::CMailCacheWriter;
using kolvo::MailCacheLookup;
using kolvo::MailCacheRecord;

namespace {

std::string patterned(size_t size, int seed) {
  std::string bytes(size, '\0');
  for (size_t i = 0; i < size; ++i) bytes[i] = static_cast<char>((i * 131 + static_cast<size_t>(seed) * 7) & 0xFF);
  return bytes;
}

// The bytes of an entry as the file-contents view gets them; "<none>" when it gets none.
std::string shown(const std::string& cache, uint32_t fileId, const kolvotest::TempDir& dir) {
  MailCacheRecord record;
  MailCacheLookup found = kolvo::findMailCacheRecord(cache, fileId, record);
  if (found == MailCacheLookup::absent) return "<absent>";
  if (found == MailCacheLookup::forgotten) return "<forgotten>";
  std::string copy = (dir.path() / "copy").string();
  if (!kolvo::copyMailCacheRecord(cache, record, copy)) return "<copy failed>";
  return dir.read("copy");
}

void writeEntry(CMailCacheWriter& writer, uint32_t fileId, const std::string& bytes, size_t piece = 1000) {
  writer.begin(fileId);
  for (size_t at = 0; at < bytes.size(); at += piece)
    writer.append(bytes.data() + at, std::min(piece, bytes.size() - at));
}

TEST(MailCache, RecordsOfEverySizeReadBackWhileWritingAndAfter) {
  kolvotest::TempDir dir;
  std::string cache = kolvo::mailCachePath(dir.path().string(), 7);
  // Small ones that stay in memory, one larger than a write piece, one pieced in
  // large appends, and an empty one.
  const std::vector<std::string> entries = {patterned(10, 1), patterned(3'000'000, 2), patterned(5000, 3),
                                            patterned(2'500'000, 4), std::string()};
  {
    CMailCacheWriter writer(cache, false);
    ASSERT_TRUE(writer.usable());
    for (size_t i = 0; i < entries.size(); ++i) {
      SCOPED_TRACE(i);
      writeEntry(writer, static_cast<uint32_t>(100 + i), entries[i], i == 3 ? 1'500'000 : 1000);
      std::optional<MailCacheRecord> record = writer.finish();
      ASSERT_TRUE(record);
      ASSERT_EQ(record->length, entries[i].size());
      // Read back at once in odd pieces, as indexing does.
      std::string back;
      std::vector<char> piece(65535);
      for (size_t got; (got = writer.read(*record, back.size(), piece.data(), 777 + i * 4000)) > 0;)
        back.append(piece.data(), got);
      EXPECT_EQ(back, entries[i]);
    }
  }
  for (size_t i = 0; i < entries.size(); ++i) EXPECT_EQ(shown(cache, static_cast<uint32_t>(100 + i), dir), entries[i]);
  EXPECT_EQ(shown(cache, 99, dir), "<absent>");
  EXPECT_EQ(shown(dir.path().string() + "/no-such-cache", 100, dir), "<absent>");
}

TEST(MailCache, TheLastRecordOfAnEntryHoldsAndAFreshBuildStartsAnew) {
  kolvotest::TempDir dir;
  std::string cache = kolvo::mailCachePath(dir.path().string(), 3);
  {
    CMailCacheWriter writer(cache, false);
    writeEntry(writer, 1, "first copy");
    writer.finish();
    writeEntry(writer, 2, "kept");
    writer.finish();
  }
  {
    // An update appends: the entry written again is shown as written last, the other
    // as it was; an entry forgotten shows nothing.
    CMailCacheWriter writer(cache, true);
    writeEntry(writer, 1, "second copy");
    writer.finish();
    writer.forget(2);
  }
  EXPECT_EQ(shown(cache, 1, dir), "second copy");
  EXPECT_EQ(shown(cache, 2, dir), "<forgotten>");
  {
    CMailCacheWriter writer(cache, false);
    writeEntry(writer, 4, "only this");
    writer.finish();
  }
  EXPECT_EQ(shown(cache, 1, dir), "<absent>");
  EXPECT_EQ(shown(cache, 4, dir), "only this");
  EXPECT_EQ(fs::file_size(cache), 16u + 9u);
}

TEST(MailCache, ARecordCutShortIsDroppedBeforeAnUpdateAppends) {
  kolvotest::TempDir dir;
  std::string cache = kolvo::mailCachePath(dir.path().string(), 5);
  {
    CMailCacheWriter writer(cache, false);
    writeEntry(writer, 1, "whole record");
    writer.finish();
    // A build that stops here leaves a head whose length is not yet known.
    writeEntry(writer, 2, "never finished");
  }
  uint64_t whole = 16 + 12;
  EXPECT_EQ(shown(cache, 2, dir), "<absent>");
  for (const std::string& tail : {std::string("mai"), std::string("junk that is no head at all")}) {
    SCOPED_TRACE(tail);
    std::ofstream(cache, std::ios::binary | std::ios::app) << tail;
    {
      CMailCacheWriter writer(cache, true);
      writeEntry(writer, 3, "after");
      writer.finish();
    }
    EXPECT_EQ(shown(cache, 1, dir), "whole record");
    EXPECT_EQ(shown(cache, 3, dir), "after");
    EXPECT_EQ(fs::file_size(cache), whole + 16 + 5);
    fs::resize_file(cache, whole);
  }
}

TEST(MailCache, WithoutAPlaceNothingIsWritten) {
  kolvotest::TempDir dir;
  EXPECT_EQ(kolvo::mailCachePath("", 1), "");
  for (const std::string& path : {std::string(), (dir.path() / "missing" / "1-mail.cache").string()}) {
    CMailCacheWriter writer(path, false);
    EXPECT_FALSE(writer.usable());
    writeEntry(writer, 1, "lost");
    EXPECT_FALSE(writer.finish());
  }
}

}  // namespace
