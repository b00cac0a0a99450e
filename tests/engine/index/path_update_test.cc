// The update of named paths against the full update: random rounds of creations,
// deletions, modifications and moves of files and folders, files replaced by folders and
// back, and symbolic links, each followed by both updates of the same build, which must
// agree on every live entry and every word's files.
#include <sys/stat.h>

#include <filesystem>
#include <fstream>
#include <map>
#include <set>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "engine/index/kolvo_index.h"
#include "engine/kolvolib/entry_guard.h"
#include "include/kolvolib.h"
#include "tests/engine/index/index_fixture.h"
#include "tests/engine/index/tree_changer.h"
#include "tests/support/engine_errors.h"

namespace {

namespace fs = std::filesystem;
using kolvotest::IndexFixture;
using kolvotest::TreeChanger;

constexpr int32_t buildTime = 1600000000;  // every file of a round's starting tree is older

class PathUpdateTest : public ::testing::Test {
 protected:
  // Both indexes start from the same build of the tree.
  void buildBoth() {
    kolvotest::ageTree(root, buildTime - 100);
    full.buildTree(root);
    named.buildTree(root);
  }
  void expectAgreement(const std::string& round) {
    EXPECT_EQ(kolvotest::livePaths(*named.index), kolvotest::livePaths(*full.index)) << round;
    EXPECT_EQ(kolvotest::liveWordFiles(*named.index), kolvotest::liveWordFiles(*full.index)) << round;
  }

  kolvotest::EngineErrors errors;
  IndexFixture full, named;
  std::string root = full.tree.path().string() + "/root";
  std::string outside = full.tree.path().string() + "/outside";
};

TEST_F(PathUpdateTest, RandomRoundsAgreeWithTheFullUpdate) {
  for (unsigned seed : {1u, 2u, 3u, 4u, 5u, 6u}) {
    SCOPED_TRACE("seed " + std::to_string(seed));
    fs::remove_all(root);
    TreeChanger changer(root, outside, seed);
    changer.populate(40);
    changer.write(outside + "/far.txt", "faraway words");
    buildBoth();
    int serial = 0;
    for (int round = 0; round < 4; ++round) {
      std::vector<std::string> paths;
      for (int step = 0; step < 6; ++step)
        for (std::string& path : changer.change(serial++)) paths.push_back(std::move(path));
      full.updateTree(buildTime);
      named.updatePaths(buildTime, paths);
      expectAgreement("round " + std::to_string(round));
      // Links are never followed: nothing outside the tree and no path through a link.
      for (const std::string& path : kolvotest::livePaths(*named.index)) {
        EXPECT_EQ(path.rfind(root, 0), 0u) << path;
        EXPECT_FALSE(fs::is_symlink(path)) << path;
      }
      kolvotest::ageTree(root, buildTime - 100);
    }
  }
  EXPECT_TRUE(errors.codes().empty());
}

// The cases one by one, each against the full update.
struct NamedCase {
  const char* what;
  void (*change)(TreeChanger&, const std::string& root);
  std::vector<std::string> named;  // relative to the root; "" is the root itself
};

TEST_F(PathUpdateTest, EachKindOfChangeAgreesWithTheFullUpdate) {
  const std::vector<NamedCase> cases = {
      {"modified file", [](TreeChanger& t, const std::string& r) { t.write(r + "/a/one.txt", "quartz revised"); },
       {"a/one.txt"}},
      {"deleted file", [](TreeChanger&, const std::string& r) { fs::remove(r + "/a/one.txt"); }, {"a/one.txt"}},
      {"root removed", [](TreeChanger&, const std::string& r) { fs::remove_all(r); }, {""}},
      {"new nested folders named by the deepest file",
       [](TreeChanger& t, const std::string& r) { t.write(r + "/x/y/z/new.txt", "heron thistle"); }, {"x/y/z/new.txt"}},
      {"folder replaced by a file",
       [](TreeChanger& t, const std::string& r) {
         fs::remove_all(r + "/a");
         t.write(r + "/a", "larch");
       },
       {"a"}},
      {"folder named with a trailing slash after its files changed",
       [](TreeChanger& t, const std::string& r) {
         t.write(r + "/a/one.txt", "sorrel");
         fs::remove_all(r + "/a/b");
         t.write(r + "/a/three.txt", "raven");
       },
       {"a/"}},
      {"excluded file and folder",
       [](TreeChanger& t, const std::string& r) {
         t.write(r + "/a/skip.log", "ember");
         t.write(r + "/a/logs.log/in.txt", "ember");
       },
       {"a/skip.log", "a/logs.log/in.txt"}},
      {"nothing changed", [](TreeChanger&, const std::string&) {}, {"a/one.txt", "a", "nosuch/file"}},
  };
  for (const NamedCase& test : cases) {
    SCOPED_TRACE(test.what);
    fs::remove_all(root);
    TreeChanger changer(root, outside, 7);
    changer.write(root + "/a/one.txt", "apple brook");
    changer.write(root + "/a/b/two.txt", "cedar delta");
    changer.write(root + "/c.txt", "ember fjord");
    full.excludePattern = named.excludePattern = "*.log";
    buildBoth();
    test.change(changer, root);
    std::vector<std::string> paths;
    for (const std::string& relative : test.named) paths.push_back(relative.empty() ? root : root + "/" + relative);
    full.updateTree(buildTime);
    named.updatePaths(buildTime, paths);
    expectAgreement(test.what);
  }
  EXPECT_TRUE(errors.codes().empty());
}

// Names that differ only in letter case are different files and folders on this system:
// a build, a full update and a path update each keep both, with their own words.
TEST_F(PathUpdateTest, NamesDifferingOnlyInCaseAreKeptApart) {
  TreeChanger changer(root, outside, 8);
  changer.write(root + "/f7.txt", "apple");
  changer.write(root + "/F7.txt", "brook");
  changer.write(root + "/d/in.txt", "cedar");
  changer.write(root + "/D/in.txt", "delta");
  buildBoth();
  using Words = std::map<std::string, std::set<std::string>>;
  const Words built = {{"apple", {root + "/f7.txt"}},
                       {"brook", {root + "/F7.txt"}},
                       {"cedar", {root + "/d/in.txt"}},
                       {"delta", {root + "/D/in.txt"}}};
  EXPECT_EQ(kolvotest::liveWordFiles(*full.index), built);

  // One twin changed, a third spelling added beside it, and a file renamed to another case.
  changer.write(root + "/F7.txt", "ember");
  changer.write(root + "/f7.TXT", "fjord");
  fs::rename(root + "/D/in.txt", root + "/D/IN.txt");
  full.updateTree(buildTime);
  named.updatePaths(buildTime, {root + "/F7.txt", root + "/f7.TXT", root + "/D"});
  const Words updated = {{"apple", {root + "/f7.txt"}},
                         {"ember", {root + "/F7.txt"}},
                         {"fjord", {root + "/f7.TXT"}},
                         {"cedar", {root + "/d/in.txt"}},
                         {"delta", {root + "/D/IN.txt"}}};
  EXPECT_EQ(kolvotest::liveWordFiles(*full.index), updated);
  expectAgreement("after the updates");
  EXPECT_TRUE(errors.codes().empty());
}

// Every entry not marked obsolete itself, by its name under its parent's: a member left
// live under a container that is gone shows here though a search would pass over it.
std::multiset<std::string> unmarkedEntries(const CKolvoIndex& index) {
  std::multiset<std::string> entries;
  for (uint32_t entry = index.files->getFirst(); entry; entry = index.files->getNext(entry))
    if (!index.files->isObsolete(entry)) entries.insert(kolvotest::pathOf(index, entry));
  return entries;
}

// Containers (".box" files to the test analyzer) and their members, members of members
// among them: a container changed, gone or replaced takes its members along, and the
// entries after it stay.
TEST_F(PathUpdateTest, ContainersTakeTheirMembersAlong) {
  const std::vector<NamedCase> cases = {
      {"container rewritten",
       [](TreeChanger& t, const std::string& r) { t.write(r + "/a/pack.box", "one quartz\nfour.box raven\n"); },
       {"a/pack.box"}},
      {"container deleted", [](TreeChanger&, const std::string& r) { fs::remove(r + "/a/pack.box"); }, {"a/pack.box"}},
      {"container replaced by a folder",
       [](TreeChanger& t, const std::string& r) {
         fs::remove(r + "/a/pack.box");
         t.write(r + "/a/pack.box/in.txt", "sorrel");
       },
       {"a/pack.box"}},
      {"two containers, one after the other, both rewritten",
       [](TreeChanger& t, const std::string& r) {
         t.write(r + "/a/pack.box", "one heron\n");
         t.write(r + "/a/rest.box", "five.box thistle\n");
       },
       {"a/pack.box", "a/rest.box"}},
      {"container deleted with its folder",
       [](TreeChanger&, const std::string& r) { fs::remove_all(r + "/a"); }, {"a"}},
      {"the file after a container changed", [](TreeChanger& t, const std::string& r) { t.write(r + "/a/q.txt", "larch"); },
       {"a/q.txt"}},
  };
  for (const NamedCase& test : cases) {
    SCOPED_TRACE(test.what);
    fs::remove_all(root);
    TreeChanger changer(root, outside, 11);
    changer.write(root + "/a/pack.box", "one apple\ntwo.box brook\nthree cedar\n");
    changer.write(root + "/a/q.txt", "delta");
    changer.write(root + "/a/rest.box", "six.box ember\nseven fjord\n");
    changer.write(root + "/c.txt", "gorse");
    buildBoth();
    ASSERT_EQ(kolvotest::liveWordFiles(*named.index)["brook"],
              (std::set<std::string>{"pack.box/two.box", "two.box/inner"}));
    test.change(changer, root);
    std::vector<std::string> paths;
    for (const std::string& relative : test.named) paths.push_back(root + "/" + relative);
    full.updateTree(buildTime);
    named.updatePaths(buildTime, paths);
    expectAgreement(test.what);
    EXPECT_EQ(unmarkedEntries(*named.index), unmarkedEntries(*full.index));
    EXPECT_EQ(kolvotest::liveWordFiles(*named.index).count("brook"), test.named[0] == "a/q.txt" ? 1u : 0u);
  }
  EXPECT_TRUE(errors.codes().empty());
}

TEST_F(PathUpdateTest, OnlyTheNamedPathsAreRead) {
  TreeChanger changer(root, outside, 8);
  changer.write(root + "/a/one.txt", "apple");
  changer.write(root + "/b/two.txt", "brook");
  buildBoth();
  changer.write(root + "/a/one.txt", "cedar");
  changer.write(root + "/b/two.txt", "delta");
  named.updatePaths(buildTime, {root + "/a/one.txt"});
  EXPECT_EQ(named.analyzer->read, std::vector<std::string>{root + "/a/one.txt"});
  auto words = kolvotest::liveWordFiles(*named.index);
  EXPECT_EQ(words.count("cedar"), 1u);
  EXPECT_EQ(words.count("brook"), 1u);  // not named: still as built
  EXPECT_EQ(words.count("delta"), 0u);
}

TEST_F(PathUpdateTest, TheEntryTakesPathsThroughTheCInterface) {
  TreeChanger changer(root, outside, 9);
  changer.write(root + "/one.txt", "apple");
  buildBoth();
  changer.write(root + "/two.txt", "maple");
  std::string added = root + "/two.txt";
  const char* paths[] = {added.c_str(), nullptr, "relative/ignored"};
  named.index.reset();
  named.index = std::make_unique<CKolvoIndex>(false, named.store.slashed());
  for (int c = 'a'; c <= 'z'; ++c) named.index->setValidCharMask(c, true);
  named.registerAnalyzer();
  kidxSetIncludeCount(named.index.get(), 1);
  kidxSetIncludePattern(named.index.get(), 0, "*", "generic");
  kidxUpdatePaths(named.index.get(), paths, 3);
  kidxCompressLinks(named.index.get());
  EXPECT_EQ(kolvotest::liveWordFiles(*named.index)["maple"], std::set<std::string>{added});
  // No paths is no work; a null list with a count is refused through the throw callback.
  kidxUpdatePaths(named.index.get(), nullptr, 0);
  EXPECT_TRUE(errors.codes().empty());
  kidxUpdatePaths(named.index.get(), nullptr, 2);
  EXPECT_EQ(errors.codes(), std::vector<std::string>{"AssertionFailed"});
  kidxUpdatePaths(nullptr, paths, 1);
}

}  // namespace
