// The watch of a tree through inotify: the paths each kind of change names, folders made
// or moved in being watched in turn, skipped folders, and through the seam the per-user
// limit of watches and an overflowing queue.
#include <sys/inotify.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <set>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "app/platform/tree_watch.h"
#include "tests/app/platform/limited_watch_calls.h"
#include "tests/support/temp_dir.h"

namespace {

namespace fs = std::filesystem;

// Collects until every path of wanted has been named, or five seconds have gone.
std::set<std::string> collectUntil(QvTreeWatch& watch, const std::set<std::string>& wanted) {
  std::set<std::string> changed;
  auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
  while (std::chrono::steady_clock::now() < deadline) {
    watch.collect(50, changed);
    if (std::includes(changed.begin(), changed.end(), wanted.begin(), wanted.end())) break;
  }
  // What else comes at once belongs to the same change.
  watch.collect(50, changed);
  return changed;
}

class TreeWatchTest : public ::testing::Test {
 protected:
  void SetUp() override {
    root = folder.path().string() + "/root";
    folder.write("root/a/one.txt", "one");
    folder.write("root/b/two.txt", "two");
    folder.write("root/skip/three.txt", "three");
  }
  std::string at(const std::string& relative) const { return root + "/" + relative; }

  kolvotest::TempDir folder;
  std::string root;
  std::function<bool(const std::string&)> skip = [this](const std::string& path) {
    return path == at("skip") || path.rfind(at("skip/"), 0) == 0;
  };
};

TEST_F(TreeWatchTest, EachChangeNamesItsPaths) {
  QvTreeWatch watch(skip);
  ASSERT_TRUE(watch.open());
  watch.watchTree(root);
  EXPECT_EQ(watch.watchCount(), 3u);  // root, a and b, not skip
  struct Case {
    const char* what;
    std::function<void()> change;
    std::set<std::string> named;
  };
  const std::vector<Case> cases = {
      {"written", [&] { std::ofstream(at("a/one.txt")) << "again"; }, {at("a/one.txt")}},
      {"made", [&] { std::ofstream(at("b/new.txt")) << "new"; }, {at("b/new.txt")}},
      {"removed", [&] { fs::remove(at("b/two.txt")); }, {at("b/two.txt")}},
      {"moved", [&] { fs::rename(at("a/one.txt"), at("b/moved.txt")); }, {at("a/one.txt"), at("b/moved.txt")}},
      {"new folder, then a file in it",
       [&] {
         fs::create_directory(at("c"));
         std::ofstream(at("c/later.txt")) << "later";
       },
       {at("c")}},
      {"a folder moved in",
       [&] {
         folder.write("outside/d/deep.txt", "deep");
         fs::rename(folder.path() / "outside/d", at("d"));
       },
       {at("d")}},
      {"a folder moved out", [&] { fs::rename(at("d"), folder.path() / "gone"); }, {at("d")}},
  };
  for (const Case& test : cases) {
    SCOPED_TRACE(test.what);
    test.change();
    std::set<std::string> named = collectUntil(watch, test.named);
    EXPECT_TRUE(std::includes(named.begin(), named.end(), test.named.begin(), test.named.end()));
  }
  // The new folder is watched from its making on; the one moved out no longer is.
  EXPECT_TRUE(watch.watching(at("c")));
  EXPECT_FALSE(watch.watching(at("d")));
  std::ofstream(at("c/after.txt")) << "after";
  EXPECT_EQ(collectUntil(watch, {at("c/after.txt")}).count(at("c/after.txt")), 1u);
  // Nothing below a skipped folder is named.
  std::ofstream(at("skip/three.txt")) << "changed";
  std::ofstream(at("a/marker.txt")) << "marker";
  std::set<std::string> named = collectUntil(watch, {at("a/marker.txt")});
  EXPECT_EQ(named.count(at("skip/three.txt")), 0u);
  EXPECT_FALSE(watch.overflowed());
  EXPECT_FALSE(watch.watchLimitMet());
}

TEST_F(TreeWatchTest, TheRootRemovedIsNamed) {
  QvTreeWatch watch(skip);
  ASSERT_TRUE(watch.open());
  watch.watchTree(root);
  fs::remove_all(root);
  std::set<std::string> named = collectUntil(watch, {root});
  EXPECT_EQ(named.count(root), 1u);
  EXPECT_FALSE(watch.watching(root));
}

TEST_F(TreeWatchTest, TheLimitOfWatchesLeavesFoldersUnwatched) {
  kolvotest::LimitedWatchCalls calls;
  calls.allowed = 2;
  QvTreeWatch watch(skip, calls);
  ASSERT_TRUE(watch.open());
  watch.watchTree(root);
  EXPECT_TRUE(watch.watchLimitMet());
  EXPECT_EQ(watch.watchCount(), 2u);
  ASSERT_EQ(watch.unwatched().size(), 1u);
  std::string left = *watch.unwatched().begin();
  EXPECT_TRUE(left == at("a") || left == at("b")) << left;
  // Once watches can be had again, the folder is watched and leaves the list.
  calls.allowed = 10;
  watch.watchTree(left);
  EXPECT_TRUE(watch.unwatched().empty());
  EXPECT_TRUE(watch.watching(left));
}

TEST_F(TreeWatchTest, AnOverflowIsTold) {
  kolvotest::LimitedWatchCalls calls;
  QvTreeWatch watch(skip, calls);
  ASSERT_TRUE(watch.open());
  watch.watchTree(root);
  calls.overflowNext = true;
  std::ofstream(at("a/one.txt")) << "lost";
  std::set<std::string> changed;
  auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
  while (!watch.overflowed() && std::chrono::steady_clock::now() < deadline) watch.collect(50, changed);
  EXPECT_TRUE(watch.overflowed());
  EXPECT_TRUE(changed.empty());
  watch.clearOverflow();
  EXPECT_FALSE(watch.overflowed());
}

}  // namespace
