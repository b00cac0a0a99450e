// The walk of a build: what is recorded, what is read, what is skipped, reports and
// halting, and trees too deep to follow.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <vector>

#include <gtest/gtest.h>

#include "engine/index/kolvo_index.h"
#include "engine/kolvolib/entry_guard.h"
#include "tests/engine/index/index_fixture.h"
#include "tests/support/engine_errors.h"

namespace {

using kolvotest::EngineErrors;
using kolvotest::IndexFixture;

std::vector<std::string> reports;
kbool answer = 1;
kbool onStatus(const char* code, const char* detail, int) {
  reports.push_back(std::string(code) + "|" + detail);
  return answer;
}

class DirectoryWalkTest : public ::testing::Test, public IndexFixture {
 protected:
  void SetUp() override {
    reports.clear();
    answer = 1;
    kSetStatusCallBack(onStatus);
    root = tree.path().string() + "/root";
    tree.write("root/a.txt", "alpha beta");
    tree.write("root/b.c", "gamma");
    tree.write("root/sub/c.txt", "delta alpha");
    tree.write("root/sub/deeper/d.txt", "epsilon");
  }
  void TearDown() override { kSetStatusCallBack(nullptr); }
  void walk() {
    rootEntry = index->files->addFile(root.c_str());
    index->indexDirectory(root.c_str(), rootEntry);
  }
  std::vector<std::string> recorded() {
    std::vector<std::string> paths;
    for (uint32_t f = index->files->getFirst(); f; f = index->files->getNext(f))
      paths.push_back(kolvotest::pathOf(*index, f));
    std::sort(paths.begin(), paths.end());
    return paths;
  }
  std::vector<std::string> readFiles() {
    std::vector<std::string> read = analyzer->read;
    std::sort(read.begin(), read.end());
    return read;
  }
  std::string at(const std::string& relative) { return root + relative; }

  EngineErrors errors;
  std::string root;
  uint32_t rootEntry = 0;
};

TEST_F(DirectoryWalkTest, RecordsFoldersUnderFullPathsAndFilesUnderTheirFolder) {
  startBuild("*.txt");
  walk();
  EXPECT_EQ(recorded(), (std::vector<std::string>{root, at("/a.txt"), at("/b.c"), at("/sub"), at("/sub/c.txt"),
                                                   at("/sub/deeper"), at("/sub/deeper/d.txt")}));
  EXPECT_EQ(readFiles(), (std::vector<std::string>{at("/a.txt"), at("/sub/c.txt"), at("/sub/deeper/d.txt")}));
  uint32_t sub = index->files->lookupFile(at("/sub").c_str(), 0);
  ASSERT_NE(sub, 0u);
  uint32_t c = index->files->lookupFile("c.txt", sub);
  ASSERT_NE(c, 0u);
  EXPECT_EQ(index->files->getSize(c), 11u);
  struct stat status {};
  stat(at("/sub/c.txt").c_str(), &status);
  EXPECT_EQ(index->files->getTime(c), static_cast<int32_t>(status.st_mtime));
  EXPECT_EQ(index->directoriesRead, 3u);
  EXPECT_EQ(index->filesIndexed, 6u);  // the root was entered by the caller
  index->compressLinks();
  EXPECT_EQ(kolvotest::filesOfWord(*index, "alpha").size(), 2u);
}

TEST_F(DirectoryWalkTest, WithoutIncludesTrackAllRecordsEveryFileAndReadsNone) {
  startBuild();
  index->setIncludeCount(0);
  walk();
  EXPECT_EQ(recorded().size(), 7u);
  EXPECT_TRUE(analyzer->read.empty());
  EXPECT_EQ(index->words->getFirst(), 0u);
}

TEST_F(DirectoryWalkTest, WithoutTrackAllOnlyReadFilesAndFoldersAreRecorded) {
  startBuild("*.txt");
  index->trackAll = false;
  walk();
  EXPECT_EQ(recorded(), (std::vector<std::string>{root, at("/a.txt"), at("/sub"), at("/sub/c.txt"), at("/sub/deeper"),
                                                   at("/sub/deeper/d.txt")}));
}

TEST_F(DirectoryWalkTest, TheFirstMatchingIncludeDecidesEvenWhenItHasNoAnalyzer) {
  startBuild();
  auto* other = registerAnalyzer("other");
  index->setIncludeCount(3);
  index->setIncludePattern(0, "*/b.c", "other");
  kolvo::guardEntry([&] { index->setIncludePattern(1, "*/sub/*", "missing"); });
  index->setIncludePattern(2, "*", "generic");
  EXPECT_EQ(errors.warnings(), std::vector<std::string>{"AnalyzerNotFound|missing"});
  walk();
  EXPECT_EQ(other->read, std::vector<std::string>{at("/b.c")});
  EXPECT_EQ(readFiles(), std::vector<std::string>{at("/a.txt")});
  EXPECT_EQ(recorded().size(), 7u);  // sub's files recorded without content
}

TEST_F(DirectoryWalkTest, ExcludedFolderIsNotEnteredExcludedFileIsRecordedUnread) {
  startBuild("*");
  index->setExcludeCount(2);
  index->setExcludePattern(0, "*/deeper");
  index->setExcludePattern(1, "*/a.txt");
  walk();
  EXPECT_EQ(recorded(), (std::vector<std::string>{root, at("/a.txt"), at("/b.c"), at("/sub"), at("/sub/c.txt")}));
  EXPECT_EQ(readFiles(), (std::vector<std::string>{at("/b.c"), at("/sub/c.txt")}));
  EXPECT_TRUE(index->isExcluded(at("/x/a.txt").c_str()));
  index->trackAll = false;
  index->emptyIndex();
  index->newFileLinks();
  walk();
  EXPECT_EQ(recorded(), (std::vector<std::string>{root, at("/b.c"), at("/sub"), at("/sub/c.txt")}));
}

TEST_F(DirectoryWalkTest, SymbolicLinksAreNeitherRecordedNorFollowed) {
  std::filesystem::create_directory_symlink(at("/sub"), at("/linked-dir"));
  std::filesystem::create_symlink(at("/a.txt"), at("/linked-file.txt"));
  std::filesystem::create_directory_symlink(root, at("/sub/loop"));
  startBuild("*");
  walk();
  EXPECT_EQ(recorded().size(), 7u);
  EXPECT_EQ(readFiles().size(), 4u);
}

TEST_F(DirectoryWalkTest, TheKolvoDirectoryIsSkippedAndCountsNothing) {
  // An index three levels below a kolvo directory that lies inside the tree.
  std::string kolvo = at("/sub");
  std::filesystem::create_directories(kolvo + "/indexes/x/build_1");
  index = std::make_unique<CKolvoIndex>(true, kolvo + "/indexes/x/build_1/");
  EXPECT_EQ(index->kolvoDirectory, kolvo);
  analyzer = registerAnalyzer();
  index->setIncludeCount(1);
  index->setIncludePattern(0, "*", "generic");
  index->emptyIndex();
  index->newFileLinks();
  index->indexDirectory(kolvo.c_str(), 36);
  EXPECT_EQ(reports, std::vector<std::string>{"Skipped Kolvo Directory|"});
  EXPECT_EQ(index->directoriesRead, 0u);
  EXPECT_EQ(index->files->getFirst(), 0u);
  walk();
  EXPECT_EQ(recorded(), (std::vector<std::string>{root, at("/a.txt"), at("/b.c"), at("/sub")}));
  EXPECT_EQ(readFiles(), (std::vector<std::string>{at("/a.txt"), at("/b.c")}));
}

TEST_F(DirectoryWalkTest, AnIndexPathTooShortForAKolvoDirectorySkipsNothing) {
  index = std::make_unique<CKolvoIndex>(true, store.slashed());
  EXPECT_EQ(CKolvoIndex::kolvoDirectoryOf("/a/b/"), "");
  EXPECT_EQ(CKolvoIndex::kolvoDirectoryOf("/h/.kolvo/Coll/Idx/1/"), "/h/.kolvo");
}

TEST_F(DirectoryWalkTest, HaltAtAReportStopsTheWholeWalk) {
  startBuild("*");
  index->statusLevel = 1;
  answer = 0;
  rootEntry = index->files->addFile(root.c_str());
  kolvo::guardEntry([&] { index->indexDirectory(root.c_str(), rootEntry); });
  EXPECT_EQ(errors.codes(), std::vector<std::string>{"HaltRequested"});
  ASSERT_EQ(reports.size(), 1u);
  EXPECT_EQ(reports[0].rfind("IndexingFile|" + root + "/", 0), 0u);
  EXPECT_NE(reports[0].find("\t1"), std::string::npos);
  EXPECT_TRUE(analyzer->read.empty());
  // With status level 0 there is no report and so no halt.
  reports.clear();
  index->statusLevel = 0;
  index->lastStatusTime = 0;
  errors.clear();
  index->indexDirectory(root.c_str(), rootEntry);
  EXPECT_TRUE(reports.empty());
  EXPECT_TRUE(errors.errors().empty());
  EXPECT_EQ(readFiles().size(), 4u);
}

TEST_F(DirectoryWalkTest, UnopenableFolderStillCountsAndIsPassedOver) {
  if (geteuid() == 0) GTEST_SKIP() << "permissions do not keep root out of a folder";
  startBuild("*");
  chmod(at("/sub").c_str(), 0);
  walk();
  chmod(at("/sub").c_str(), 0755);
  EXPECT_EQ(index->directoriesRead, 2u);
  EXPECT_EQ(readFiles().size(), 2u);
}

// A chain of nested one-letter folders, made and removed without ever naming a path
// longer than the system allows.
class DeepTree {
 public:
  DeepTree(const std::string& top, int depth) : top(top) {
    int fd = open(top.c_str(), O_RDONLY | O_DIRECTORY);
    for (int i = 0; i < depth && fd >= 0; ++i) {
      mkdirat(fd, "d", 0755);
      int next = openat(fd, "d", O_RDONLY | O_DIRECTORY);
      close(fd);
      fd = next;
    }
    if (fd >= 0) close(fd);
  }
  ~DeepTree() {
    // Move the folder below the top up, remove the emptied top, and go on.
    std::string first = top + "/d", moved = top + "/m";
    while (std::filesystem::exists(first)) {
      if (std::rename((first + "/d").c_str(), moved.c_str()) != 0) {
        rmdir(first.c_str());
        break;
      }
      rmdir(first.c_str());
      std::rename(moved.c_str(), first.c_str());
    }
  }

 private:
  std::string top;
};

TEST_F(DirectoryWalkTest, ATreeThreeThousandLevelsDeepIsCutWithAWarning) {
  std::string top = tree.path().string() + "/deep";
  std::filesystem::create_directory(top);
  DeepTree deep(top, 3000);
  startBuild("*");
  uint32_t entry = index->files->addFile(top.c_str());
  index->indexDirectory(top.c_str(), entry);
  EXPECT_TRUE(errors.errors().empty());
  ASSERT_EQ(errors.warnings().size(), 1u);
  EXPECT_EQ(errors.warnings()[0].rfind("DirectoryTooDeep|" + top + "/d/d/", 0), 0u);
  EXPECT_EQ(index->directoriesRead, static_cast<uint32_t>(index->maxWalkDepth) + 1);
}

// A record holds 32 bits of size and of time: a larger file or a time beyond them is
// kept at the nearest value a record holds, never wrapped around to a small one.
TEST_F(DirectoryWalkTest, SizesAndTimesBeyondARecordAreKeptAtItsLimits) {
  struct Case {
    const char* name;
    uint64_t size;
    int64_t modified;
    uint32_t recordedSize;
    int32_t recordedTime;
  };
  constexpr uint64_t gib = 1ull << 30;
  const Case cases[] = {
      {"empty.bin", 0, 0, 0, 0},
      {"largest.bin", 4 * gib - 1, 1600000000, UINT32_MAX, 1600000000},
      {"four.bin", 4 * gib, 1600000000, UINT32_MAX, 1600000000},
      {"five.bin", 5 * gib + 7, 1600000000, UINT32_MAX, 1600000000},
      {"late.bin", 10, 4102444800, 10, INT32_MAX},    // 2100-01-01
      {"last.bin", 10, INT32_MAX, 10, INT32_MAX},
      {"before.bin", 10, -86400, 10, -86400},
  };
  for (const Case& c : cases) {
    std::string path = tree.write("root/big/" + std::string(c.name), "");
    ASSERT_EQ(truncate(path.c_str(), static_cast<off_t>(c.size)), 0) << c.name;  // sparse: no disk taken
    struct timespec times[2] = {{static_cast<time_t>(c.modified), 0}, {static_cast<time_t>(c.modified), 0}};
    ASSERT_EQ(utimensat(AT_FDCWD, path.c_str(), times, 0), 0) << c.name;
    struct stat status {};
    ASSERT_EQ(stat(path.c_str(), &status), 0);
    if (status.st_mtime != c.modified) GTEST_SKIP() << "this file system cannot hold the time of " << c.name;
  }
  startBuild("*.txt");  // the big files are recorded, not read
  walk();
  uint32_t folder = index->files->lookupFile(at("/big").c_str(), 0);
  ASSERT_NE(folder, 0u);
  for (const Case& c : cases) {
    uint32_t entry = index->files->lookupFile(c.name, folder);
    ASSERT_NE(entry, 0u) << c.name;
    EXPECT_EQ(index->files->getSize(entry), c.recordedSize) << c.name;
    EXPECT_EQ(index->files->getTime(entry), c.recordedTime) << c.name;
  }
}

}  // namespace
