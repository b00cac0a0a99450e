// The zip, tar and gzip analyzers: which members become entries and how they are read
// (one table for both archive formats), gzip member names, nesting, tar headers, long
// and hostile names, bounds on bytes and depth, temporary files, and extraction.
#include <gtest/gtest.h>

#include <filesystem>
#include <set>
#include <string>
#include <vector>

#include "engine/gzipanalyzer/gzip_analyzer.h"
#include "engine/index/container_level.h"
#include "engine/index/file_contents.h"
#include "engine/index/kolvo_index.h"
#include "engine/kolvolib/error_reporting.h"
#include "include/kolvolib.h"
#include "tests/engine/archives/archive_fixture.h"
#include "tests/support/mailbox_writer.h"
#include "tests/support/pdf_writer.h"

namespace {

namespace fs = std::filesystem;
using kolvotest::ArchiveFixture;
using kolvotest::TarEntry;
using kolvotest::ZipEntry;
using Words = std::set<std::string>;

class ArchiveTest : public ::testing::Test, public ArchiveFixture {};

// The member decision, for zip and tar alike.
struct DecisionCase {
  const char* what;
  const char* member;
  const char* bytes;
  bool trackAll;
  const char* exclude;  // an exclude pattern, or null
  bool recorded;
  Words words;
};

TEST(ArchiveDecisionTest, EachMemberIsDecidedAsTheTableSays) {
  const DecisionCase cases[] = {
      {"a folder entry has no base name", "docs/", "", true, nullptr, false, {}},
      {"a file in a folder is found by its base name", "docs/a.txt", "alpha beta", true, nullptr, true, {"alpha", "beta"}},
      {"a whole-file analyzer gets a temporary file", "deep/report.doc", "gamma", true, nullptr, true, {"gamma"}},
      {"no analyzer, tracked", "image.png", "delta", true, nullptr, true, {}},
      {"no analyzer, not tracked", "image.png", "delta", false, nullptr, false, {}},
      {"excluded, tracked: recorded without contents", "secret.txt", "hidden", true, "secret*", true, {}},
      {"excluded, not tracked: skipped", "secret.txt", "hidden", false, "secret*", false, {}},
      {"an empty member is recorded and indexes nothing", "empty.txt", "", true, nullptr, true, {}},
  };
  for (const char* format : {"zip", "tar"}) {
    for (const DecisionCase& c : cases) {
      SCOPED_TRACE(std::string(format) + ": " + c.what);
      ArchiveFixture fresh;
      fresh.index->trackAll = c.trackAll;
      if (c.exclude) {
        fresh.index->setExcludeCount(1);
        fresh.index->setExcludePattern(0, c.exclude);
      }
      std::string name = std::string("box.") + format;
      if (std::string(format) == "zip")
        kolvotest::writeZip(fresh.docs() + "/" + name, {ZipEntry{c.member, c.bytes}, ZipEntry{"after.txt", "omega"}});
      else
        fresh.put(name, kolvotest::tarArchive({TarEntry{c.member, c.bytes}, TarEntry{"after.txt", "omega"}}));
      fresh.walk();
      std::string path = name + "/" + c.member;
      uint32_t id = fresh.entry(path);
      EXPECT_EQ(id != 0, c.recorded);
      EXPECT_EQ(fresh.wordsOf(id), c.words);
      if (id) {
        EXPECT_EQ(fresh.index->files->getParent(id), fresh.entry(name));
        EXPECT_EQ(fresh.index->files->getSize(id), std::string(c.bytes).size());
      }
      // The member after it is read whatever became of this one.
      EXPECT_EQ(fresh.wordsOf(name + "/after.txt"), Words{"omega"});
      EXPECT_TRUE(fresh.leftovers().empty());
    }
  }
}

TEST_F(ArchiveTest, MembersCarryTheirContainersTimes) {
  // Dated 2100 (a zip's dates run to 2107): a record keeps the last second it can hold.
  ZipEntry late{"late.txt", "later"};
  late.year = 2100;
  put("t.tar", kolvotest::tarArchive({TarEntry{"a.txt", "alpha", '0', 1'234'567'890},
                                      TarEntry{"late.txt", "later", '0', 4'102'444'800}}));
  kolvotest::writeZip(docs() + "/z.zip", {ZipEntry{"b.txt", "beta"}, late});
  put("c.txt.gz", kolvotest::gzipOf("gamma gamma"));
  fs::last_write_time(docs() + "/c.txt.gz", fs::file_time_type::clock::now() - std::chrono::hours(50));
  walk();
  const CFileStorage& files = *index->files;
  EXPECT_EQ(files.getTime(entry("t.tar/a.txt")), 1'234'567'890);
  EXPECT_EQ(files.getTime(entry("z.zip/b.txt")), kolvotest::zipEntrySeconds(ZipEntry{"b.txt", ""}));
  EXPECT_EQ(files.getTime(entry("t.tar/late.txt")), INT32_MAX);
  EXPECT_EQ(files.getTime(entry("z.zip/late.txt")), INT32_MAX);
  EXPECT_EQ(files.getTime(entry("c.txt.gz/c.txt")), files.getTime(entry("c.txt.gz")));
  EXPECT_EQ(files.getSize(entry("c.txt.gz/c.txt")), 11u);
  EXPECT_EQ(wordsOf("c.txt.gz/c.txt"), Words{"gamma"});
}

TEST_F(ArchiveTest, GzipMembersAreNamedAfterTheirFiles) {
  const std::pair<const char*, const char*> names[] = {
      {"report.txt.gz", "report.txt"}, {"backup.tgz", "backup.tar"}, {"notes.TGZ", "notes"},
      {"archive.tar.gz", "archive.tar"}, {"plain", "plain"},          {"dir/x.y.gz", "x.y"},
  };
  for (const auto& [container, member] : names)
    EXPECT_EQ(CGZipAnalyzer::memberName(kolvo::memberBaseName(container)), member) << container;

  std::string tar = kolvotest::tarArchive({TarEntry{"in/tar.txt", "tarred words"}});
  put("archive.tar.gz", kolvotest::gzipOf(tar));
  put("notes.TGZ", kolvotest::gzipOf(tar));
  put("backup.tgz", kolvotest::gzipOf(tar));
  walk();
  EXPECT_EQ(wordsOf("archive.tar.gz/archive.tar/in/tar.txt"), (Words{"tarred", "words"}));
  EXPECT_EQ(wordsOf("backup.tgz/backup.tar/in/tar.txt"), (Words{"tarred", "words"}));
  // No analyzer takes a member named "notes": recorded only.
  EXPECT_NE(entry("notes.TGZ/notes"), 0u);
  EXPECT_EQ(entry("notes.TGZ/notes/in/tar.txt"), 0u);
}

TEST_F(ArchiveTest, ContainersNestAndEveryLevelIsAnEntry) {
  std::string scratch = root.slashed();
  std::string innerZip = kolvotest::zipArchive({ZipEntry{"inner.txt", "innermost words"}}, scratch);
  std::string tar = kolvotest::tarArchive({TarEntry{"t/level.txt", "tarlevel"}, TarEntry{"t/inner.zip", innerZip}});
  kolvotest::writeZip(docs() + "/outer.zip",
                      {ZipEntry{"top.txt", "toplevel"}, ZipEntry{"pack.tgz", kolvotest::gzipOf(tar)},
                       ZipEntry{"notes.txt.gz", kolvotest::gzipOf("gzipped notes")}});
  walk();
  EXPECT_EQ(wordsOf("outer.zip/top.txt"), Words{"toplevel"});
  EXPECT_EQ(wordsOf("outer.zip/pack.tgz/pack.tar/t/level.txt"), Words{"tarlevel"});
  EXPECT_EQ(wordsOf("outer.zip/pack.tgz/pack.tar/t/inner.zip/inner.txt"), (Words{"innermost", "words"}));
  // A gzip member inside an archive is named after the member, not its temporary file.
  EXPECT_EQ(wordsOf("outer.zip/notes.txt.gz/notes.txt"), (Words{"gzipped", "notes"}));
  EXPECT_TRUE(leftovers().empty());
  EXPECT_TRUE(index->members.openContainers.empty());
  EXPECT_TRUE(errors.warnings().empty());
}

// Members of every kind are read by their own analyzers, streamed or through a file; a
// sequence cut by the member's end is still read whole.
TEST_F(ArchiveTest, MembersOfEachKindAreReadByTheirAnalyzers) {
  for (int c = 0xC0; c <= 0xFF; ++c) index->setValidCharMask(c, true);
  kolvotest::PdfWriter pdf;
  pdf.page("BT (paper) Tj 0 -14 Td (abstract) Tj ET");
  const std::string html = "<p>Ein <b>caf&eacute;";
  const std::string rtf = "{\\rtf1 H\\b e\\b0 llo world}";
  kolvotest::writeZip(docs() + "/kinds.zip", {ZipEntry{"page.html", html}, ZipEntry{"letter.rtf", rtf},
                                             ZipEntry{"paper.pdf", pdf.bytes()}});
  put("page.html", html);
  put("kinds.tar", kolvotest::tarArchive({TarEntry{"page.html", html}, TarEntry{"paper.pdf", pdf.bytes()}}));
  walk();
  EXPECT_EQ(wordsOf("page.html"), (Words{"ein", "caf\xe9"}));
  for (const char* container : {"kinds.zip", "kinds.tar"}) {
    SCOPED_TRACE(container);
    EXPECT_EQ(wordsOf(std::string(container) + "/page.html"), (Words{"ein", "caf\xe9"}));
    EXPECT_EQ(wordsOf(std::string(container) + "/paper.pdf"), (Words{"paper", "abstract"}));
  }
  EXPECT_EQ(wordsOf("kinds.zip/letter.rtf"), (Words{"hello", "world"}));
  EXPECT_TRUE(leftovers().empty());
}

TEST_F(ArchiveTest, AMemberOfAMemberIsShownWithItsText) {
  std::string scratch = root.slashed();
  std::string innerZip = kolvotest::zipArchive({ZipEntry{"inner.txt", "innermost words"}}, scratch);
  std::string tar = kolvotest::tarArchive({TarEntry{"t/inner.zip", innerZip}});
  kolvotest::writeZip(docs() + "/outer.zip", {ZipEntry{"pack.tgz", kolvotest::gzipOf(tar)}});
  walk();
  for (int c = 'a'; c <= 'z'; ++c) {
    index->setValidViewableMask(c, true);
    index->setValidTrailingMask(c, true);
  }
  uint32_t member = entry("outer.zip/pack.tgz/pack.tar/t/inner.zip/inner.txt");
  ASSERT_NE(member, 0u);
  CFileContents contents(index.get(), member, 1000, 0, false, 0);
  EXPECT_STREQ(contents.contents(), "innermost words");
  EXPECT_TRUE(contents.containsHit("words"));
  // Every level's temporary file is gone again.
  EXPECT_FALSE(fs::exists(contents.filePath()));
  std::vector<std::string> left;
  for (const auto& item : fs::directory_iterator(index->temporaryDirectory))
    if (item.path() != fs::path(extracted())) left.push_back(item.path().string());
  EXPECT_TRUE(left.empty());
}

TEST_F(ArchiveTest, AnUpdateReplacesTheMembersOfAChangedArchive) {
  kolvotest::writeZip(docs() + "/a.zip", {ZipEntry{"keep.txt", "before"}, ZipEntry{"drop.txt", "dropped"}});
  kolvotest::writeZip(docs() + "/gone.zip", {ZipEntry{"g.txt", "vanishing"}});
  fs::last_write_time(docs() + "/a.zip", fs::file_time_type::clock::now() - std::chrono::hours(10));
  walk();
  ASSERT_NE(entry("a.zip/drop.txt"), 0u);
  int32_t timeBase = static_cast<int32_t>(std::time(nullptr)) - 3600;
  kolvotest::writeZip(docs() + "/a.zip", {ZipEntry{"keep.txt", "after"}});
  fs::remove(docs() + "/gone.zip");
  update(timeBase);
  auto all = entries();
  std::set<std::string> names;
  for (const auto& [path, id] : all) names.insert(path);
  // The old archive's members went with it; the new one's are there once.
  EXPECT_EQ(names, (std::set<std::string>{"a.zip", "a.zip/keep.txt"}));
  EXPECT_EQ(wordsOf("a.zip/keep.txt"), Words{"after"});
}

TEST_F(ArchiveTest, AnUnreadableZipMemberIsSkippedAndTheNextRead) {
  kolvotest::writeZip(docs() + "/m.zip", {ZipEntry{"odd.txt", "compressed by an unknown method", 14},
                                          ZipEntry{"plain.txt", "stored words", 0}});
  walk();
  EXPECT_NE(entry("m.zip/odd.txt"), 0u);
  EXPECT_TRUE(wordsOf("m.zip/odd.txt").empty());
  EXPECT_EQ(wordsOf("m.zip/plain.txt"), (Words{"stored", "words"}));
}

TEST_F(ArchiveTest, AnUpdateSkipsMembersNotNewerThanTheTimeBase) {
  put("u.tar", kolvotest::tarArchive({TarEntry{"old.doc", "older", '0', 1'000'000'000},
                                      TarEntry{"new.doc", "newer", '0', 1'700'000'000}}));
  walk();
  ASSERT_EQ(whole->paths.size(), 2u);
  auto before = entries();
  index->isUpdate = true;
  index->timeBase = 1'500'000'000;
  walk();
  // Only the newer member was read again, under the entry it had.
  ASSERT_EQ(whole->paths.size(), 3u);
  EXPECT_EQ(fs::path(whole->paths[2]).filename().string(), std::to_string(before["u.tar/new.doc"]) + "new.doc");
  EXPECT_EQ(entries(), before);
}

TEST_F(ArchiveTest, TarHeadersAreCheckedAndNamesAreWhole) {
  const std::string longPath = std::string(120, 'd') + "/" + std::string(70, 'e') + "/long.txt";  // 200 bytes
  const std::string fullField = std::string(96, 'f') + ".txt";  // fills the 100-byte field
  put("forms.tar", kolvotest::tarArchive({
                       TarEntry{longPath, "ustarform", '0', 1, TarEntry::NameForm::ustarPrefix},
                       TarEntry{"g/" + longPath, "gnuform", '0', 1, TarEntry::NameForm::gnuLongName},
                       TarEntry{"p/" + longPath, "paxform", '0', 1, TarEntry::NameForm::pax},
                       TarEntry{fullField, "fullfield"},
                       TarEntry{"folder/", "", '5'},
                       TarEntry{"link.txt", "", '2'},
                       TarEntry{"global", "10 a=bcdef\n", 'g'},
                       TarEntry{"seven.txt", "contiguous", '7'},
                       TarEntry{"nul.txt", "oldstyle", '\0'},
                   }));
  TarEntry badSum{"second.txt", "lost"};
  badSum.badChecksum = true;
  put("badsum.tar", kolvotest::tarArchive({TarEntry{"first.txt", "kept"}, badSum, TarEntry{"third.txt", "lost"}}));
  TarEntry lying{"liar.txt", "short"};
  lying.statedSize = 1'000'000;
  put("lying.tar", kolvotest::tarArchive({TarEntry{"whole.txt", "whole"}, lying}));
  put("nottar.tar", std::string(3000, 'x'));
  walk();
  auto all = entries();
  std::set<std::string> names;
  for (const auto& [path, id] : all) names.insert(path);
  EXPECT_EQ(names, (std::set<std::string>{
                       "forms.tar", "forms.tar/" + longPath, "forms.tar/g/" + longPath, "forms.tar/p/" + longPath,
                       "forms.tar/" + fullField, "forms.tar/seven.txt", "forms.tar/nul.txt", "badsum.tar",
                       "badsum.tar/first.txt", "lying.tar", "lying.tar/whole.txt", "nottar.tar"}));
  EXPECT_EQ(wordsOf("forms.tar/" + longPath), Words{"ustarform"});
  EXPECT_EQ(wordsOf("forms.tar/g/" + longPath), Words{"gnuform"});
  EXPECT_EQ(wordsOf("forms.tar/p/" + longPath), Words{"paxform"});
  EXPECT_EQ(wordsOf("forms.tar/" + fullField), Words{"fullfield"});
  EXPECT_EQ(wordsOf("forms.tar/seven.txt"), Words{"contiguous"});
  EXPECT_EQ(wordsOf("badsum.tar/first.txt"), Words{"kept"});
  EXPECT_EQ(wordsOf("lying.tar/whole.txt"), Words{"whole"});
}

TEST_F(ArchiveTest, ZipNamesAreNeverCut) {
  const std::string longName = std::string(150, 'a') + "/" + std::string(150, 'b') + ".doc";
  kolvotest::writeZip(docs() + "/long.zip", {ZipEntry{longName, "lengthy"}});
  walk();
  EXPECT_EQ(wordsOf("long.zip/" + longName), Words{"lengthy"});
  std::string extractedPath = index->extractToTempFile((docs() + "/long.zip").c_str(), longName.c_str(), 77);
  ASSERT_FALSE(extractedPath.empty());
  EXPECT_EQ(kolvotest::readFileBytes(extractedPath), "lengthy");
  fs::remove(extractedPath);
}

TEST_F(ArchiveTest, HostileMemberNamesNeverLeaveTheExtractedFolder) {
  const std::vector<std::string> hostile = {"../../escape.doc", "/abs/rooted.doc", "$(touch pwned).doc",
                                            "new\nline.doc",    "back\\..\\slash.doc", "a/../../..doc"};
  std::vector<ZipEntry> zipped;
  std::vector<TarEntry> tarred;
  for (const std::string& name : hostile) {
    zipped.push_back(ZipEntry{name, "hostile"});
    tarred.push_back(TarEntry{name, "hostile"});
  }
  kolvotest::writeZip(docs() + "/h.zip", zipped);
  put("h.tar", kolvotest::tarArchive(tarred));
  // A gzip file inside a zip takes its member's name from its own hostile name.
  kolvotest::writeZip(docs() + "/g.zip", {ZipEntry{"../$(id)\\x.doc.gz", kolvotest::gzipOf("hostile")}});
  std::set<fs::path> before;
  for (const auto& item : fs::recursive_directory_iterator(root.path())) before.insert(item.path());
  walk();
  ASSERT_EQ(whole->paths.size(), 2 * hostile.size() + 1);
  for (const std::string& path : whole->paths) {
    EXPECT_EQ(fs::path(path).parent_path(), fs::path(extracted())) << path;
    for (char c : fs::path(path).filename().string())
      EXPECT_TRUE(std::isalnum(static_cast<unsigned char>(c)) || c == '.' || c == '-' || c == '_') << path;
  }
  for (const std::string& name : hostile) {
    EXPECT_EQ(wordsOf("h.zip/" + name), Words{"hostile"}) << name;
    EXPECT_EQ(wordsOf("h.tar/" + name), Words{"hostile"}) << name;
    std::string shown = index->extractToTempFile((docs() + "/h.tar").c_str(), name.c_str(), 5);
    EXPECT_EQ(fs::path(shown).parent_path(), fs::path(index->temporaryDirectory)) << shown;
    EXPECT_EQ(kolvotest::readFileBytes(shown), "hostile");
    fs::remove(shown);
  }
  EXPECT_EQ(wordsOf("g.zip/../$(id)\\x.doc.gz/x.doc"), Words{"hostile"});
  // Nothing new anywhere but the index's own files and its extracted folder.
  for (const auto& item : fs::recursive_directory_iterator(root.path())) {
    if (before.count(item.path())) continue;
    std::string path = item.path().string();
    bool inIndex = path.rfind(root.slashed() + "kolvo/", 0) == 0 || path.rfind(index->temporaryDirectory, 0) == 0;
    EXPECT_TRUE(inIndex) << path;
  }
  EXPECT_TRUE(leftovers().empty());
}

TEST_F(ArchiveTest, AGzipBombStopsAtTheMemberBound) {
  // A gigabyte of zeros packs into about a megabyte; its member is a tar archive, so it
  // goes to a temporary file, which stops at the bound (lowered here to spare the disk).
  index->members.memberBound = 16 << 20;
  kolvotest::writeGzipOfZeros(docs() + "/bomb.tar.gz", 1ULL << 30);
  ASSERT_LT(fs::file_size(docs() + "/bomb.tar.gz"), 2u << 20);
  walk();
  EXPECT_EQ(index->members.extractedPeak, index->members.memberBound);
  EXPECT_EQ(errors.warnings(), std::vector<std::string>{"ArchiveMemberCut|" + docs() + "/bomb.tar.gz\tbomb.tar"});
  EXPECT_NE(entry("bomb.tar.gz/bomb.tar"), 0u);
  EXPECT_TRUE(leftovers().empty());
  // Shown, the member stops at the same bound.
  std::string shown = index->extractToTempFile((docs() + "/bomb.tar.gz").c_str(), "bomb.tar", 3);
  EXPECT_EQ(fs::file_size(shown), index->members.memberBound);
  fs::remove(shown);
}

TEST_F(ArchiveTest, OneContainerStopsAtItsOwnBound) {
  index->members.memberBound = 3000;
  index->members.containerBound = 5000;
  std::string big(4000, 'w');
  big += " tail";
  kolvotest::writeZip(docs() + "/many.zip", {ZipEntry{"one.doc", "first " + big}, ZipEntry{"two.doc", "second " + big},
                                             ZipEntry{"three.doc", "third " + big}});
  kolvotest::writeZip(docs() + "/next.zip", {ZipEntry{"four.doc", "fourth"}});
  walk();
  // The first is cut at its own bound, the second at what the container had left, the
  // third gets nothing: each is indexed as far as it was written.
  EXPECT_EQ(wordsOf("many.zip/one.doc"), Words{"first"});
  EXPECT_EQ(wordsOf("many.zip/two.doc"), Words{"second"});
  EXPECT_NE(entry("many.zip/three.doc"), 0u);
  EXPECT_TRUE(wordsOf("many.zip/three.doc").empty());
  EXPECT_EQ(wordsOf("next.zip/four.doc"), Words{"fourth"});
  EXPECT_EQ(errors.warnings(), (std::vector<std::string>{"ArchiveMemberCut|" + docs() + "/many.zip\tone.doc",
                                                         "ArchiveBytesBound|" + docs() + "/many.zip"}));
}

// The cache copies of a mailbox inside an archive are written within what the archive
// has left of its bound, not within a bound of the mailbox's own.
TEST_F(ArchiveTest, AMailboxInsideAnArchiveSharesTheArchivesBound) {
  std::string body(1500, 'x');
  kolvotest::MailboxWriter box;
  box.add(kolvotest::mailFrom("Ann <ann@example.org>", "Mon, 5 Jan 2004 10:11:12 +0100", body + " alphaword"));
  box.add(kolvotest::mailFrom("Bob <bob@example.org>", "Tue, 6 Jan 2004 10:11:12 +0100", body + " bravoword"));
  // Room for the mailbox's own temporary copy and one message's cache copy, not two.
  index->members.containerBound = box.text().size() + 2200;
  kolvotest::writeZip(docs() + "/mail.zip", {ZipEntry{"box.mbox", box.text()}});
  walk();
  Words found;
  size_t messages = 0;
  for (const auto& [path, id] : entries()) {
    if (path.rfind("mail.zip/box.mbox/", 0) != 0) continue;
    ++messages;
    for (const std::string& word : wordsOf(id)) found.insert(word);
  }
  EXPECT_EQ(messages, 2u);
  EXPECT_TRUE(found.count("alphaword"));
  EXPECT_FALSE(found.count("bravoword"));
  EXPECT_LE(index->members.containerBytes, index->members.containerBound);
}

TEST_F(ArchiveTest, NestingStopsAtTheDepthBound) {
  // Forty zips, each inside the next, each with a word of its own.
  auto wordOf = [](int level) { return "lvl" + std::string(1, static_cast<char>('a' + level / 26)) +
                                       std::string(1, static_cast<char>('a' + level % 26)); };
  std::string scratch = root.slashed();
  std::string inner;
  for (int level = 40; level >= 2; --level) {
    std::vector<ZipEntry> entries{ZipEntry{"w.txt", wordOf(level)}};
    if (!inner.empty()) entries.push_back(ZipEntry{"n.zip", inner});
    inner = kolvotest::zipArchive(entries, scratch);
  }
  kolvotest::writeZip(docs() + "/n.zip", {ZipEntry{"w.txt", wordOf(1)}, ZipEntry{"n.zip", inner}});
  walk();
  std::string path = "n.zip";
  const int depth = static_cast<int>(index->members.depthBound);
  for (int level = 1; level <= depth; ++level) {
    EXPECT_EQ(wordsOf(path + "/w.txt"), Words{wordOf(level)}) << level;
    path += "/n.zip";
  }
  // The next archive is recorded, not opened.
  EXPECT_NE(entry(path), 0u);
  EXPECT_EQ(entry(path + "/w.txt"), 0u);
  EXPECT_EQ(errors.warnings(), std::vector<std::string>{"ArchiveTooDeep|" + docs() + "/" + path});
  EXPECT_TRUE(leftovers().empty());
}

TEST_F(ArchiveTest, ATemporaryFileGoesWhenItsAnalyzerRaises) {
  kolvotest::writeZip(docs() + "/r.zip", {ZipEntry{"boom.bad", "never read"}});
  EXPECT_THROW(walk(), kolvo::AbortToken);
  ASSERT_EQ(raising->paths.size(), 1u);
  EXPECT_FALSE(fs::exists(raising->paths[0]));
  EXPECT_TRUE(leftovers().empty());
  // The levels were closed on the way out: the next archive starts at the top.
  EXPECT_TRUE(index->members.openContainers.empty());
  EXPECT_EQ(index->members.extractedNow, 0u);
}

TEST_F(ArchiveTest, AHaltStopsTheWalkInsideAnArchive) {
  // The callback lets the walk go on into the archive, making every later report due
  // at once, and halts at the first member.
  static std::vector<std::string> reported;
  static CKolvoIndex* reporting = nullptr;
  reported.clear();
  reporting = index.get();
  kSetStatusCallBack([](const char* code, const char* detail, int) -> kbool {
    reported.push_back(std::string(code) + "|" + detail);
    reporting->lastStatusTime = 0;
    return reported.size() < 2;
  });
  index->statusLevel = 1;
  index->lastStatusTime = 0;
  kolvotest::writeZip(docs() + "/h.zip", {ZipEntry{"first.doc", "one"}, ZipEntry{"second.doc", "two"}});
  EXPECT_THROW(walk(), kolvo::AbortToken);
  kSetStatusCallBack(nullptr);
  EXPECT_EQ(reported, (std::vector<std::string>{"IndexingFile|" + docs() + "/h.zip\t1",
                                                 "IndexingFile|" + docs() + "/h.zip/first.doc\t1"}));
  EXPECT_TRUE(whole->paths.empty());
  EXPECT_EQ(errors.codes(), std::vector<std::string>{"HaltRequested"});
  EXPECT_TRUE(index->members.openContainers.empty());
}

TEST_F(ArchiveTest, WithoutATemporaryDirectoryNothingIsWritten) {
  index->temporaryDirectory.clear();
  kolvotest::writeZip(docs() + "/a.zip", {ZipEntry{"a.doc", "whole"}, ZipEntry{"a.txt", "streamed"}});
  walk();
  // The member that needs a file is recorded, unread; the streamed one is read.
  EXPECT_NE(entry("a.zip/a.doc"), 0u);
  EXPECT_TRUE(whole->paths.empty());
  EXPECT_EQ(wordsOf("a.zip/a.txt"), Words{"streamed"});
  EXPECT_FALSE(fs::exists("/extracted"));
  EXPECT_TRUE(index->extractToTempFile((docs() + "/a.zip").c_str(), "a.txt", 4).empty());
}

TEST_F(ArchiveTest, FilesLeftByAnEarlierRunAreRemoved) {
  root.write("tmp/extracted/57old.doc", "left behind");
  root.write("tmp/extracted/tmp3.txt", "left behind");
  root.write("tmp/kept-cache.txt", "another analyzer's cache");
  kolvotest::writeZip(docs() + "/a.zip", {ZipEntry{"a.doc", "fresh"}});
  walk();
  EXPECT_TRUE(leftovers().empty());
  EXPECT_TRUE(fs::exists(index->temporaryDirectory + "/kept-cache.txt"));
  EXPECT_EQ(wordsOf("a.zip/a.doc"), Words{"fresh"});
}

TEST_F(ArchiveTest, EachFormatExtractsOneMember) {
  kolvotest::writeZip(docs() + "/x.zip", {ZipEntry{"a.txt", "zip a"}, ZipEntry{"b.txt", "zip b"}});
  put("x.tar", kolvotest::tarArchive({TarEntry{"a.txt", "tar a"}, TarEntry{"b.txt", "tar b"}}));
  put("x.txt.gz", kolvotest::gzipOf("gzip whole"));
  const struct {
    const char* container;
    const char* member;
    const char* bytes;  // null: no such member
  } cases[] = {
      {"x.zip", "b.txt", "zip b"},     {"x.zip", "B.TXT", nullptr}, {"x.zip", "c.txt", nullptr},
      {"x.tar", "b.txt", "tar b"},     {"x.tar", "b", nullptr},     {"x.txt.gz", "x.txt", "gzip whole"},
      {"missing.zip", "a.txt", nullptr},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(std::string(c.container) + " " + c.member);
    std::string path = index->extractToTempFile((docs() + "/" + c.container).c_str(), c.member, 9);
    EXPECT_EQ(path.empty(), c.bytes == nullptr);
    if (c.bytes) {
      EXPECT_EQ(kolvotest::readFileBytes(path), c.bytes);
    }
    if (!path.empty()) fs::remove(path);
  }
  EXPECT_TRUE(leftovers().empty());
}

}  // namespace
