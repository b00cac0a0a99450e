// The watch command when inotify falls short, forced through the seam: the per-user
// limit of watches met, and the kernel's queue overflowing. Each is told once, with the
// limit and how to raise it, and what could not be seen comes in by a full update.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/inotify.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <thread>

#include "app/commands/command_interface.h"
#include "app/index/kolvo_index.h"
#include "app/platform/tree_watch.h"
#include "tests/app/platform/limited_watch_calls.h"
#include "tests/support/index_fixture.h"

namespace fs = std::filesystem;

namespace {

using Clock = std::chrono::steady_clock;

size_t occurrences(const std::string& text, const std::string& part) {
  size_t count = 0;
  for (size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1)) ++count;
  return count;
}

class IndexWatchTest : public kolvotest::IndexFixture {
 protected:
  void SetUp() override {
    openIndex();
    temp.write("docs/a/one.txt", "first words");
    temp.write("docs/b/two.txt", "second words");
    buildDocs();
    run("setvalue watchQuiet 50; setvalue watchFallback 1");
    QvWatchCalls::replaceStandard(&calls);
  }
  void TearDown() override {
    QvWatchCalls::replaceStandard(nullptr);
    IndexFixture::TearDown();
  }
  // Waits (bounded) until the build number passes from.
  bool buildPasses(int from) const {
    Clock::time_point deadline = Clock::now() + std::chrono::seconds(60);
    while (currentBuild() <= from && Clock::now() < deadline) usleep(10 * 1000);
    return currentBuild() > from;
  }
  // Runs the watch here while work runs beside it (on files only: the index object is
  // the watch's), then ends it as SIGTERM does; what the watch printed.
  std::string watchWhile(const std::function<void()>& work) {
    testing::internal::CaptureStdout();
    std::thread beside([&] {
      work();
      kill(getpid(), SIGTERM);
    });
    QvResults results = run("watch");
    beside.join();
    std::string printed = testing::internal::GetCapturedStdout();
    EXPECT_EQ(results, QvResults{"watch ended"});
    return printed;
  }

  kolvotest::LimitedWatchCalls calls;
};

TEST_F(IndexWatchTest, FoldersBeyondTheLimitComeInByTheFallbackUpdate) {
  calls.allowed = 2;  // the root and one of its two folders
  int built = currentBuild();
  std::string printed = watchWhile([&] {
    ASSERT_TRUE(buildPasses(built));  // the first full update
    int started = currentBuild();
    temp.write("docs/a/new.txt", "capybara");
    temp.write("docs/b/new.txt", "capybara");
    // One of them is seen by its watch and updated; the fallback update takes both.
    ASSERT_TRUE(buildPasses(started + 1));
  });
  EXPECT_EQ(occurrences(printed, "limit of inotify watches"), 1u) << printed;
  EXPECT_NE(printed.find("sysctl fs.inotify.max_user_watches="), std::string::npos) << printed;
  EXPECT_NE(printed.find("full update (fallback)"), std::string::npos) << printed;
  QvResults found = run("find capybara");
  ASSERT_FALSE(found.empty());
  EXPECT_EQ(found.back().substr(0, 8), "Found 2 ");
}

TEST_F(IndexWatchTest, AnOverflowIsToldOnceAndTakenByAFullUpdate) {
  int built = currentBuild();
  std::string printed = watchWhile([&] {
    ASSERT_TRUE(buildPasses(built));
    for (int round = 0; round < 2; ++round) {
      int before = currentBuild();
      calls.overflowNext = true;
      temp.write("docs/a/lost" + std::to_string(round) + ".txt", "okapi");
      ASSERT_TRUE(buildPasses(before));
    }
  });
  EXPECT_EQ(occurrences(printed, "queue of file events overflowed"), 1u) << printed;
  EXPECT_EQ(occurrences(printed, "full update (events missed)"), 2u) << printed;
  QvResults found = run("find okapi");
  ASSERT_FALSE(found.empty());
  EXPECT_EQ(found.back().substr(0, 8), "Found 2 ");
}

}  // namespace

namespace {

TEST_F(IndexWatchTest, TheKolvoDirectoryAndExcludedFoldersAreNeverWatched) {
  // The root holds the kolvo directory and an excluded folder beside the documents.
  run("clearroots; addroot " + temp.path().string() + "; addexclude */docs/b; build");
  int built = currentBuild();
  std::string printed = watchWhile([&] { ASSERT_TRUE(buildPasses(built)); });
  // The root, docs and docs/a; not docs/b, not the kolvo directory nor its builds.
  EXPECT_NE(printed.find("watching 3 folders under " + temp.path().string() + ";"), std::string::npos) << printed;
}

}  // namespace
