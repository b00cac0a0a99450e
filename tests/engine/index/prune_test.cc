// The update of a stored index: vanished, modified, excluded and new entries, links,
// counters, and the agreement of an updated index with a fresh build of the same tree.
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/time.h>
#include <unistd.h>

#include <algorithm>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <map>
#include <tuple>
#include <vector>

#include <gtest/gtest.h>

#include "engine/index/kolvo_index.h"
#include "engine/kolvolib/entry_guard.h"
#include "tests/engine/index/index_fixture.h"
#include "tests/engine/index/tree_changer.h"
#include "tests/support/engine_errors.h"

namespace {

using kolvotest::EngineErrors;
using kolvotest::IndexFixture;
using kolvotest::TreeChanger;

constexpr int32_t buildTime = 1600000000;  // the time base: every file of the build is older

void setTime(const std::string& path, int32_t when) {
  struct timeval times[2] = {{when, 0}, {when, 0}};
  utimes(path.c_str(), times);
}

class PruneTest : public ::testing::Test, public IndexFixture {
 protected:
  void SetUp() override {
    root = tree.path().string() + "/root";
    put("keep.txt", "stable words");
    put("change.txt", "old content");
    put("gone.txt", "vanishing text");
    put("same.txt", "equal time", buildTime);
    put("skip.log", "excluded modified");
    put("sub/inner.txt", "inner words");
    put("quiet/file.txt", "quiet folder");
    put("lost/x.txt", "lost folder");
    for (const char* folder : {"", "/sub", "/quiet", "/lost"}) setTime(root + folder, buildTime - 100);
    buildTree(root);
  }
  void put(const std::string& relative, const std::string& text, int32_t when = buildTime - 100) {
    tree.write("root/" + relative, text);
    setTime(root + "/" + relative, when);
  }
  uint32_t entryOf(const std::string& folder, const char* name) {
    uint32_t dir = index->files->lookupFile(folder.c_str(), 0);
    return dir ? index->files->lookupFile(name, dir) : 0;
  }

  EngineErrors errors;
  std::string root;
};

TEST_F(PruneTest, UpdateMarksReindexesAddsAndKeepsTheRest) {
  uint32_t oldChange = entryOf(root, "change.txt");
  uint32_t oldKeep = entryOf(root, "keep.txt");
  ASSERT_NE(oldChange, 0u);
  put("change.txt", "new content", buildTime + 10);
  std::filesystem::remove(root + "/gone.txt");
  setTime(root + "/same.txt", buildTime);  // as recorded and equal to the time base: not modified
  put("skip.log", "excluded but changed and longer", buildTime + 10);
  put("sub/new.txt", "fresh words", buildTime + 10);
  put("newdir/deep/n.txt", "brand words", buildTime + 10);
  put("quiet/unseen.txt", "hidden words", buildTime - 50);  // the folder's time decides
  std::filesystem::remove_all(root + "/lost");
  setTime(root + "/sub", buildTime + 10);
  setTime(root + "/quiet", buildTime - 50);
  setTime(root, buildTime + 10);

  includePattern = "*";
  index.reset();
  index = std::make_unique<CKolvoIndex>(false, store.slashed());
  for (int c = 'a'; c <= 'z'; ++c) index->setValidCharMask(c, true);
  analyzer = registerAnalyzer();
  index->setIncludeCount(1);
  index->setIncludePattern(0, "*", "generic");
  index->setExcludeCount(1);
  index->setExcludePattern(0, "*.log");
  index->timeBase = buildTime;
  uint32_t filesBefore = index->filesIndexed = 10;
  index->contentsIndexed = 0;
  index->directoriesRead = 0;
  index->prune();
  index->compressLinks();

  std::vector<std::string> read = analyzer->read;
  std::sort(read.begin(), read.end());
  EXPECT_EQ(read, (std::vector<std::string>{root + "/change.txt", root + "/newdir/deep/n.txt", root + "/sub/new.txt"}));
  // The modified file has a new entry; the old one is obsolete, the kept one untouched.
  uint32_t newChange = entryOf(root, "change.txt");
  EXPECT_GT(newChange, oldChange);
  EXPECT_TRUE(index->files->isObsolete(oldChange));
  EXPECT_EQ(entryOf(root, "keep.txt"), oldKeep);
  EXPECT_EQ(entryOf(root, "gone.txt"), 0u);
  // Excluded but modified: same entry, new size, no words read.
  uint32_t skip = entryOf(root, "skip.log");
  EXPECT_EQ(index->files->getSize(skip), 31u);
  EXPECT_EQ(index->files->getTime(skip), buildTime + 10);
  EXPECT_TRUE(kolvotest::filesOfWord(*index, "longer").empty());
  EXPECT_EQ(entryOf(root + "/quiet", "unseen.txt"), 0u);
  EXPECT_EQ(index->files->lookupFile((root + "/lost").c_str(), 0), 0u);
  // Each thing counted once: change.txt, new.txt, newdir, deep and n.txt are entries
  // added; two folders were walked; three files were read.
  EXPECT_EQ(index->filesIndexed, filesBefore + 5);
  EXPECT_EQ(index->directoriesRead, 2u);
  EXPECT_EQ(index->contentsIndexed, 3u);
  auto words = kolvotest::liveWordFiles(*index);
  EXPECT_EQ(words["content"], (std::set<std::string>{root + "/change.txt"}));
  EXPECT_EQ(words["new"], (std::set<std::string>{root + "/change.txt"}));
  EXPECT_EQ(words.count("old"), 0u);
  EXPECT_EQ(words.count("vanishing"), 0u);
  EXPECT_EQ(words["brand"], (std::set<std::string>{root + "/newdir/deep/n.txt"}));
  EXPECT_FALSE(std::filesystem::exists(store.slashed() + "temp"));
}

TEST_F(PruneTest, AReopenedIndexAnswersASearchThenANameThenAnUpdate) {
  uint32_t keep = entryOf(root, "keep.txt");
  auto built = kolvotest::liveWordFiles(*index);
  // Opened afresh, the file table has not indexed its names; a search needs none.
  index = std::make_unique<CKolvoIndex>(false, store.slashed());
  EXPECT_EQ(kolvotest::filesOfWord(*index, "stable"), (std::vector<uint32_t>{keep}));
  EXPECT_EQ(kolvotest::liveWordFiles(*index), built);
  // The first name lookup indexes them.
  EXPECT_EQ(entryOf(root, "keep.txt"), keep);
  EXPECT_EQ(entryOf(root, "nosuch.txt"), 0u);
  put("change.txt", "new content words", buildTime + 10);
  setTime(root, buildTime + 10);
  updateTree(buildTime);
  auto updated = kolvotest::liveWordFiles(*index);
  EXPECT_EQ(updated["content"], (std::set<std::string>{root + "/change.txt"}));
  EXPECT_EQ(updated["stable"], (std::set<std::string>{root + "/keep.txt"}));
  EXPECT_EQ(entryOf(root, "keep.txt"), keep);
}

TEST_F(PruneTest, UpdatedIndexReadsLikeAFreshBuild) {
  put("change.txt", "new content words", buildTime + 10);
  std::filesystem::remove(root + "/gone.txt");
  put("sub/new.txt", "fresh stable words", buildTime + 10);
  setTime(root + "/sub", buildTime + 10);
  setTime(root, buildTime + 10);
  updateTree(buildTime);
  auto updated = kolvotest::liveWordFiles(*index);
  IndexFixture fresh;
  fresh.buildTree(root);
  EXPECT_EQ(updated, kolvotest::liveWordFiles(*fresh.index));
  EXPECT_EQ(updated["stable"], (std::set<std::string>{root + "/keep.txt", root + "/sub/new.txt"}));
}

// An update records what it finds as the walk does: a file larger than a record's
// 32 bits, or written after 2038, at the nearest value a record holds.
TEST_F(PruneTest, AnUpdateKeepsSizesAndTimesBeyondARecordAtItsLimits) {
  includePattern = "*.txt";  // the others are recorded, never read
  std::string big = tree.write("root/big.bin", "");
  std::string late = tree.write("root/late.bin", "0123456789");
  ASSERT_EQ(truncate(big.c_str(), static_cast<off_t>(5ull << 30)), 0);  // sparse
  setTime(big, buildTime + 10);
  struct timespec times[2] = {{4102444800, 0}, {4102444800, 0}};  // 2100-01-01
  ASSERT_EQ(utimensat(AT_FDCWD, late.c_str(), times, 0), 0);
  setTime(root, buildTime + 10);
  updateTree(buildTime);
  EXPECT_EQ(index->files->getSize(entryOf(root, "big.bin")), UINT32_MAX);
  EXPECT_EQ(index->files->getTime(entryOf(root, "late.bin")), INT32_MAX);
  EXPECT_EQ(index->files->getSize(entryOf(root, "late.bin")), 10u);
  // Grown past 6 GiB and named to a path update: still the largest size a record holds.
  ASSERT_EQ(truncate(big.c_str(), static_cast<off_t>(6ull << 30)), 0);
  setTime(big, buildTime + 20);
  updatePaths(buildTime + 15, {big});
  EXPECT_EQ(index->files->getSize(entryOf(root, "big.bin")), UINT32_MAX);
  EXPECT_EQ(index->files->getTime(entryOf(root, "big.bin")), buildTime + 20);
}

// A file is read again when it was written after the time base, or when its time or
// size is not the one recorded: a copy that keeps times, a restored backup or an older
// file moved over it brings new text with an old time. A file dated in the future is
// read once, not again at every update while the clock has not reached its time. Both
// updates judge alike.
TEST(PruneRecordedStatus, AFileWhoseTimeOrSizeLeftItsRecordIsReadAgain) {
  const int32_t ahead = static_cast<int32_t>(time(nullptr)) + 365 * 24 * 3600;
  struct Case {
    const char* name;
    const char* before;
    const char* after;
    int32_t beforeTime, afterTime;
    bool movedOver;  // replaced by renaming another file over it
    bool readAgain;
  };
  const Case cases[] = {
      {"untouched.txt", "alpha", "alpha", buildTime - 100, buildTime - 100, false, false},
      {"older.txt", "bravo", "delta", buildTime - 100, buildTime - 200, false, true},            // same size
      {"resized.txt", "charlie", "charlie echo", buildTime - 100, buildTime - 100, false, true},  // same time
      {"newer.txt", "foxtrot", "golf", buildTime - 100, buildTime + 10, false, true},
      {"restored.txt", "hotel", "india", buildTime - 100, buildTime - 300, true, true},
      {"touched.txt", "juliet", "juliet", buildTime - 100, buildTime - 50, false, true},  // time alone moved
      {"future.txt", "kilo", "kilo", ahead, ahead, false, false},
      {"futureresized.txt", "lima", "lima mike", ahead, ahead, false, true},
  };
  for (bool pathUpdate : {false, true}) {
    SCOPED_TRACE(pathUpdate ? "path update" : "full update");
    IndexFixture fixture;
    const std::string root = fixture.tree.path().string() + "/root";
    for (const Case& c : cases) setTime(fixture.tree.write(std::string("root/") + c.name, c.before), c.beforeTime);
    setTime(root, buildTime - 100);
    fixture.buildTree(root);
    std::vector<std::string> paths, expected;
    for (const Case& c : cases) {
      std::string path = root + "/" + c.name;
      std::string written = fixture.tree.write(c.movedOver ? std::string("elsewhere.txt") : std::string("root/") + c.name, c.after);
      setTime(written, c.afterTime);
      if (c.movedOver) std::filesystem::rename(written, path);
      paths.push_back(path);
      if (c.readAgain) expected.push_back(path);
    }
    setTime(root, buildTime - 100);  // no entry came or went
    if (pathUpdate) fixture.updatePaths(buildTime, paths);
    else fixture.updateTree(buildTime);
    std::vector<std::string> read = fixture.analyzer->read;
    std::sort(read.begin(), read.end());
    std::sort(expected.begin(), expected.end());
    EXPECT_EQ(read, expected);
    auto words = kolvotest::liveWordFiles(*fixture.index);
    for (const Case& c : cases) {
      SCOPED_TRACE(c.name);
      std::string after = c.after;
      EXPECT_EQ(words[after.substr(0, after.find(' '))].count(root + "/" + c.name), 1u);
    }
    for (const char* gone : {"bravo", "hotel"}) EXPECT_TRUE(words[gone].empty()) << gone;
  }
}

// Enough entries for the update to take their statuses ahead in several windows and on
// two threads: vanished and modified files anywhere among them, the boundaries included,
// and the updated index still reads like a fresh build.
TEST(PruneManyEntries, StatusesTakenAheadGiveTheSameUpdate) {
  IndexFixture built;
  const std::string root = built.tree.path().string() + "/many";
  auto letters = [](int n) {
    std::string word = "w";
    for (; n > 0; n /= 26) word += static_cast<char>('a' + n % 26);
    return word;
  };
  std::vector<std::string> paths;
  for (int folder = 0; folder < 41; ++folder)
    for (int file = 0; file < 500; ++file) {
      std::string relative = "many/f" + std::to_string(folder) + "/" + std::to_string(file) + ".txt";
      paths.push_back(built.tree.write(relative, letters(folder * 500 + file) + " common"));
      setTime(paths.back(), buildTime - 100);
    }
  for (int folder = 0; folder < 41; ++folder) setTime(root + "/f" + std::to_string(folder), buildTime - 100);
  setTime(root, buildTime - 100);
  built.buildTree(root);
  size_t removed = 0;
  size_t changed = 0;
  for (size_t i = 0; i < paths.size(); ++i) {
    if (i % 997 == 0 || i == 2047 || i == 16383 || i == 16384) {
      std::filesystem::remove(paths[i]);
      ++removed;
    } else if (i % 1009 == 0 || i == 2046 || i == 2048 || i == 18430 || i == 18431 || i == paths.size() - 1) {
      std::ofstream(paths[i]) << "changed words";
      setTime(paths[i], buildTime + 10);
      ++changed;
    }
  }
  built.updateTree(buildTime);
  auto updated = kolvotest::liveWordFiles(*built.index);
  EXPECT_EQ(updated["common"].size(), paths.size() - removed - changed);
  EXPECT_EQ(updated["changed"].size(), changed);
  EXPECT_GT(changed, 21u);
  IndexFixture fresh;
  fresh.buildTree(root);
  EXPECT_EQ(updated, kolvotest::liveWordFiles(*fresh.index));
}

// Every entry of the file table as stored, obsolete ones too: number, name, parent, state,
// time and size; and every word with the numbers of its files. Two updates that agree on
// both made the same index, file numbers included.
using StoredEntry = std::tuple<uint32_t, std::string, uint32_t, bool, int32_t, uint32_t>;
std::vector<StoredEntry> storedEntries(const CKolvoIndex& index) {
  std::vector<StoredEntry> entries;
  for (uint32_t entry = index.files->getFirst(); entry; entry = index.files->getNext(entry))
    entries.emplace_back(entry, index.files->getText(entry), index.files->getParent(entry),
                         index.files->isObsolete(entry), index.files->getTime(entry), index.files->getSize(entry));
  return entries;
}
std::map<std::string, std::vector<uint32_t>> wordFileNumbers(const CKolvoIndex& index) {
  std::map<std::string, std::vector<uint32_t>> all;
  for (uint32_t word = index.words->getFirst(); word; word = index.words->getNext(word))
    all[index.words->getText(word)] = kolvotest::filesOfWord(index, word);
  return all;
}

// More entries than the first window of statuses taken ahead, so that every thread takes
// some of them, changed at random between updates: the update whose statuses are taken on
// many threads, many to a system call, makes the same index as the one whose visit takes
// them all itself, one call each.
TEST(PruneOnThreads, RandomChangesGiveTheSameIndexOnOneThreadAndOnMany) {
  static_assert(kolvo::limits::updateStatusThreads > 1);
  for (unsigned seed : {1u, 2u}) {
    SCOPED_TRACE("seed " + std::to_string(seed));
    IndexFixture alone, many;
    alone.statusThreads = 0;
    alone.batchedStatuses = false;
    const std::string root = alone.tree.path().string() + "/root", outside = alone.tree.path().string() + "/outside";
    TreeChanger changer(root, outside, seed);
    changer.populate(static_cast<int>(kolvo::limits::statusFirstWindow + kolvo::limits::statusFirstWindow / 2));
    changer.write(outside + "/far.txt", "faraway words");
    kolvotest::ageTree(root, buildTime - 100);
    alone.buildTree(root);
    many.buildTree(root);
    ASSERT_EQ(storedEntries(*alone.index), storedEntries(*many.index));
    int serial = 0;
    for (int round = 0; round < 3; ++round) {
      SCOPED_TRACE("round " + std::to_string(round));
      for (int step = 0; step < 30; ++step) changer.change(serial++);
      alone.updateTree(buildTime);
      many.updateTree(buildTime);
      auto entries = storedEntries(*many.index);
      EXPECT_EQ(storedEntries(*alone.index), entries);
      EXPECT_EQ(wordFileNumbers(*alone.index), wordFileNumbers(*many.index));
      // The changes reached the index: entries were added and some made obsolete.
      EXPECT_TRUE(std::any_of(entries.begin(), entries.end(), [](const StoredEntry& e) { return std::get<3>(e); }));
      kolvotest::ageTree(root, buildTime - 100);
    }
    // And the updated index reads like a fresh build of the tree.
    IndexFixture fresh;
    fresh.buildTree(root);
    EXPECT_EQ(kolvotest::liveWordFiles(*many.index), kolvotest::liveWordFiles(*fresh.index));
  }
}

// A modified folder's listing is matched with its stored entries in table order: files
// read again in earlier updates, now stored far from the rest, files added between known
// ones and a subfolder gone and back are each known once, recorded once and read as a
// fresh build reads them.
TEST(PruneListingOrder, RepeatedUpdatesRecordEachFileOnce) {
  IndexFixture built;
  const std::string root = built.tree.path().string() + "/root";
  std::vector<std::string> paths;
  for (int file = 0; file < 300; ++file) paths.push_back(built.tree.write("root/f" + std::to_string(file) + ".txt", "plain words"));
  built.tree.write("root/sub/inner.txt", "inner words");
  kolvotest::ageTree(root, buildTime - 100);
  built.buildTree(root);
  for (int round = 1; round <= 4; ++round) {
    SCOPED_TRACE("round " + std::to_string(round));
    for (size_t i = static_cast<size_t>(round); i < paths.size(); i += 3 + static_cast<size_t>(round))
      std::ofstream(paths[i]) << "changed words round";
    std::ofstream(root + "/new" + std::to_string(round) + ".txt") << "added words";
    if (round == 2) std::filesystem::remove_all(root + "/sub");
    if (round == 3) built.tree.write("root/sub/again.txt", "inner words again");
    built.updateTree(buildTime);
    // Every live file path has one live entry.
    size_t live = 0;
    const CKolvoIndex& index = *built.index;
    for (uint32_t entry = index.files->getFirst(); entry; entry = index.files->getNext(entry)) {
      uint32_t parent = index.files->getParent(entry);
      live += !index.files->isObsolete(entry) && !(parent && index.files->isObsolete(parent));
    }
    auto paths = kolvotest::livePaths(index);
    EXPECT_EQ(live, paths.size());
    IndexFixture fresh;
    fresh.buildTree(root);
    EXPECT_EQ(paths, kolvotest::livePaths(*fresh.index));
    EXPECT_EQ(kolvotest::liveWordFiles(index), kolvotest::liveWordFiles(*fresh.index));
    kolvotest::ageTree(root, buildTime - 100);
  }
}

// An update that reads many more files again than a reopened file table walks single
// chains for, and adds new ones besides, joins every new entry to the end of its stored
// chain: each live entry is found by its chain and by the accelerator, and the next
// update of the unchanged tree adds no entry.
TEST(PruneManyAdditions, EveryNewEntryJoinsItsChain) {
  IndexFixture built;
  const std::string root = built.tree.path().string() + "/root";
  const int count = static_cast<int>(kolvo::limits::fileChainTailWalks) * 3;
  std::vector<std::string> paths;
  for (int file = 0; file < count; ++file)
    paths.push_back(built.tree.write("root/d" + std::to_string(file % 5) + "/f" + std::to_string(file) + ".txt",
                                     "first words"));
  kolvotest::ageTree(root, buildTime - 100);
  built.buildTree(root);
  for (int file = 0; file < count; file += 2) std::ofstream(paths[file]) << "second words";
  for (int file = 0; file < count / 4; ++file)
    std::ofstream(root + "/d" + std::to_string(file % 5) + "/new" + std::to_string(file) + ".txt") << "added words";
  built.updateTree(buildTime);
  auto entriesAfter = [&] {
    size_t entries = 0;
    const CFileStorage& files = *built.index->files;
    for (uint32_t entry = files.getFirst(); entry; entry = files.getNext(entry)) ++entries;
    return entries;
  };
  size_t entries = entriesAfter();
  CFileStorage& files = *built.index->files;
  size_t live = 0;
  for (uint32_t entry = files.getFirst(); entry; entry = files.getNext(entry)) {
    if (files.isObsolete(entry)) continue;
    ++live;
    const std::string name = files.getText(entry);
    uint32_t parent = files.getParent(entry);
    ASSERT_EQ(files.lookupFileByChain(name.c_str(), parent), entry) << name;
    ASSERT_EQ(files.lookupFile(name.c_str(), parent), entry) << name;
  }
  auto livePaths = kolvotest::livePaths(*built.index);
  EXPECT_EQ(live, livePaths.size());
  IndexFixture fresh;
  fresh.buildTree(root);
  EXPECT_EQ(livePaths, kolvotest::livePaths(*fresh.index));
  EXPECT_EQ(kolvotest::liveWordFiles(*built.index), kolvotest::liveWordFiles(*fresh.index));
  // Nothing changed since: a time base after every time the files have.
  built.updateTree(static_cast<int32_t>(time(nullptr)) + 1000);
  EXPECT_EQ(entriesAfter(), entries);
}

// A halt at the first report, while the other threads take the statuses of the next
// window: they are waited for, and the index keeps what it had.
TEST(PruneOnThreads, AHaltWhileStatusesAreTakenStopsCleanly) {
  EngineErrors errors;
  IndexFixture built;
  const std::string root = built.tree.path().string() + "/root";
  TreeChanger changer(root, built.tree.path().string() + "/outside", 7);
  changer.populate(static_cast<int>(kolvo::limits::statusFirstWindow * 2));
  kolvotest::ageTree(root, buildTime - 100);
  built.buildTree(root);
  auto before = kolvotest::liveWordFiles(*built.index);
  built.index = std::make_unique<CKolvoIndex>(false, built.store.slashed());
  CKolvoIndex& index = *built.index;
  index.statusLevel = 1;
  index.lastStatusTime = 0;
  index.timeBase = buildTime;
  kSetStatusCallBack([](const char*, const char*, int) -> kbool { return 0; });
  kolvo::guardEntry([&] { index.prune(); });
  kSetStatusCallBack(nullptr);
  EXPECT_EQ(errors.codes(), std::vector<std::string>{"HaltRequested"});
  kolvo::guardEntry([&] { index.compressLinks(); });
  EXPECT_EQ(errors.codes(), std::vector<std::string>{"HaltRequested"});
  EXPECT_EQ(kolvotest::liveWordFiles(index), before);
}

TEST_F(PruneTest, AFileThatBecameASymbolicLinkHasVanished) {
  std::filesystem::remove(root + "/keep.txt");
  std::filesystem::create_symlink(root + "/same.txt", root + "/keep.txt");
  std::filesystem::create_directory_symlink("/", root + "/sub/escape");
  setTime(root + "/sub", buildTime + 10);
  uint32_t keep = entryOf(root, "keep.txt");
  updateTree(buildTime);
  EXPECT_TRUE(index->files->isObsolete(keep));
  EXPECT_EQ(entryOf(root, "keep.txt"), 0u);
  EXPECT_EQ(index->files->lookupFile((root + "/sub/escape").c_str(), 0), 0u);
  EXPECT_EQ(entryOf(root + "/sub", "escape"), 0u);
}

TEST_F(PruneTest, HaltAtAReportKeepsWhatWasDone) {
  index.reset();
  index = std::make_unique<CKolvoIndex>(false, store.slashed());
  index->statusLevel = 1;
  index->lastStatusTime = 0;
  index->timeBase = buildTime;
  kSetStatusCallBack([](const char*, const char*, int) -> kbool { return 0; });
  kolvo::guardEntry([&] { index->prune(); });
  kSetStatusCallBack(nullptr);
  EXPECT_EQ(errors.codes(), std::vector<std::string>{"HaltRequested"});
  ASSERT_NE(index->wordLinks, nullptr);  // kept for link compression
}

TEST_F(PruneTest, AParentOutsideTheFileTableIsReportedWithADiagnostic) {
  uint32_t keep = entryOf(root, "keep.txt");
  index.reset();
  index = std::make_unique<CKolvoIndex>(false, store.slashed());
  index->enableWrite(true);
  index->files->setParent(keep, 0x7FFFFFF0);
  std::string here = std::filesystem::current_path();
  std::filesystem::current_path(tree.path());
  kolvo::guardEntry([&] { index->prune(); });
  std::filesystem::current_path(here);
  EXPECT_EQ(errors.codes(), std::vector<std::string>{"PruneParentError"});
  std::string dead = tree.read("deadkolvo.txt");
  EXPECT_EQ(dead, "Name keep.txt\nnFile " + [&] {
    char hex[16];
    std::snprintf(hex, sizeof hex, "%x", keep);
    return std::string(hex);
  }() + "\npFileInfo->m_nParent 7ffffff0\npFolderInfo 0\n");
}

}  // namespace
