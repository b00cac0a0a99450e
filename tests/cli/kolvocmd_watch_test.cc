// kolvocmd NAME -w over a temporary tree: the test changes files and waits for the line
// of the update (never longer than a bound), then searches in a separate run. SIGTERM in
// the middle of an update ends the watch after it, with a complete build; searches run
// in a loop while the watch updates always read a complete build.
#include <gtest/gtest.h>

#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <string>
#include <vector>

#include "tests/cli/kolvocmd_runner.h"

namespace fs = std::filesystem;
using kolvotest::KolvocmdRun;
using kolvotest::KolvocmdRunner;
using Clock = std::chrono::steady_clock;

namespace {

// Every wait for the watch ends by this bound; a slower watch fails the test.
constexpr auto kBound = std::chrono::seconds(60);

// A running "kolvocmd default -r settings -w", read line by line.
class WatchProcess {
 public:
  explicit WatchProcess(const KolvocmdRunner& runner) {
    std::string settings = runner.folder().write("watch-settings", "setvalue watchQuiet 100\n");
    pid = runner.start({"default", "-r", settings, "-w"}, &output);
  }
  ~WatchProcess() {
    if (pid > 0) {
      kill(pid, SIGKILL);
      waitpid(pid, nullptr, 0);
    }
    if (output >= 0) close(output);
  }
  // The next line holding text, or "" when none came within the bound.
  std::string waitFor(const std::string& text) {
    Clock::time_point deadline = Clock::now() + kBound;
    for (;;) {
      size_t end;
      while ((end = pending.find('\n')) != std::string::npos) {
        std::string line = pending.substr(0, end);
        pending.erase(0, end + 1);
        all += line + "\n";
        if (line.find(text) != std::string::npos) return line;
      }
      auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
      if (left <= 0 || !readSome(static_cast<int>(left))) return "";
    }
  }
  // SIGTERM, then the exit status and everything printed after the lines read so far.
  int stop(std::string& rest) {
    kill(pid, SIGTERM);
    int status = 0;
    Clock::time_point deadline = Clock::now() + kBound;
    // Everything up to the end of its output, however long the update in progress takes.
    while (!ended && Clock::now() < deadline) readSome(1000);
    waitpid(pid, &status, 0);
    pid = -1;
    rest = pending;
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  }
  std::string all;  // the lines read so far

 private:
  bool readSome(int timeoutMs) {
    pollfd ready{output, POLLIN, 0};
    if (poll(&ready, 1, timeoutMs) <= 0) return false;
    char buffer[4096];
    ssize_t got = read(output, buffer, sizeof buffer);
    if (got <= 0) {
      ended = true;
      return false;
    }
    pending.append(buffer, static_cast<size_t>(got));
    return true;
  }
  int pid = -1;
  int output = -1;
  bool ended = false;
  std::string pending;
};

class KolvocmdWatchTest : public ::testing::Test {
 protected:
  void SetUp() override {
    runner.folder().write("docs/steady/one.txt", "steady anchor words");
    runner.folder().write("docs/steady/two.txt", "steady anchor again");
    runner.folder().write("docs/work/old.txt", "obsolete parsnip");
    KolvocmdRun made = runner.run("addroot " + runner.documents() + "\naddinclude *.txt\nbuild\n");
    ASSERT_EQ(made.status, 0) << made.err;
  }
  // The number of files a search finds, from a separate run; -1 when the run failed.
  int found(const std::string& word) const {
    KolvocmdRun run = runner.run("", {"default", "-j", word});
    if (run.status != 0 || !run.err.empty()) return -1;
    return static_cast<int>(kolvotest::lines(run.out).size());
  }
  std::string doc(const std::string& relative) const { return runner.documents() + "/" + relative; }
  int currentBuild() const {
    return std::stoi(runner.folder().read("kolvo/indexes/default/current_build"));
  }
  // The numbered build folders of the index.
  std::vector<std::string> buildFolders() const {
    std::vector<std::string> names;
    for (const auto& entry : fs::directory_iterator(runner.kolvoDirectory() + "/indexes/default"))
      if (entry.path().filename().string().rfind("build_", 0) == 0) names.push_back(entry.path().filename().string());
    return names;
  }
  // Polls until holds answers true, within the bound.
  template <typename Holds>
  static bool eventually(Holds holds) {
    Clock::time_point deadline = Clock::now() + kBound;
    while (!holds()) {
      if (Clock::now() >= deadline) return false;
      usleep(100 * 1000);
    }
    return true;
  }
  bool sound() const {
    KolvocmdRun run = runner.run("", {"default", "-c"});
    return run.status == 0 && run.out.find("is sound") != std::string::npos;
  }

  KolvocmdRunner runner;
};

TEST_F(KolvocmdWatchTest, EachChangeIsFoundAfterItsUpdateLine) {
  WatchProcess watch(runner);
  ASSERT_NE(watch.waitFor("full update (start)"), "") << watch.all;
  struct Step {
    const char* what;
    void (*change)(const KolvocmdRunner&);
    const char* named;  // a path the update line names, below the documents
    std::vector<std::pair<std::string, int>> expected;
  };
  const std::vector<Step> steps = {
      {"new file", [](const KolvocmdRunner& r) { r.folder().write("docs/work/new.txt", "zebra crossing"); },
       "work/new.txt", {{"zebra", 1}}},
      {"file written again", [](const KolvocmdRunner& r) { r.folder().write("docs/work/new.txt", "okapi only"); },
       "work/new.txt", {{"zebra", 0}, {"okapi", 1}}},
      {"file removed", [](const KolvocmdRunner& r) { fs::remove(r.documents() + "/work/old.txt"); }, "work/old.txt",
       {{"parsnip", 0}}},
      {"folder with subfolders moved in",
       [](const KolvocmdRunner& r) {
         r.folder().write("outside/tree/a/b/deep.txt", "gazelle deep");
         r.folder().write("outside/tree/top.txt", "gazelle top");
         fs::rename(r.folder().path() / "outside/tree", r.documents() + "/tree");
       },
       "tree", {{"gazelle", 2}}},
      {"file replaced by a folder",
       [](const KolvocmdRunner& r) {
         fs::remove(r.documents() + "/work/new.txt");
         r.folder().write("docs/work/new.txt/inner.txt", "ibis inside");
       },
       "work/new.txt", {{"okapi", 0}, {"ibis", 1}}},
      {"symbolic link", [](const KolvocmdRunner& r) {
         fs::create_directory_symlink(r.documents() + "/steady", r.documents() + "/work/link");
       },
       "work/link", {{"steady", 2}}},
  };
  for (const Step& step : steps) {
    SCOPED_TRACE(step.what);
    step.change(runner);
    std::string line = watch.waitFor(doc(step.named));
    ASSERT_EQ(line.rfind("updated ", 0), 0u) << watch.all;
    EXPECT_NE(line.find(" seconds"), std::string::npos) << line;
    // A change made of several steps may be taken by more than one update.
    for (const auto& [word, count] : step.expected)
      EXPECT_TRUE(eventually([&, word = word, count = count] { return found(word) == count; })) << word;
    // The build before goes once the update is told.
    EXPECT_TRUE(eventually([&] {
      return buildFolders() == std::vector<std::string>{"build_" + std::to_string(currentBuild())};
    }));
  }
  std::string rest;
  EXPECT_EQ(watch.stop(rest), 0);
  EXPECT_NE(rest.find("watch ended"), std::string::npos) << rest;
  EXPECT_TRUE(sound());
}

TEST_F(KolvocmdWatchTest, SigtermDuringAnUpdateEndsAfterItWithACompleteBuild) {
  // A folder of many files moved in at once: one update, long enough to be caught in.
  constexpr int files = 1500;
  for (int i = 0; i < files; ++i)
    runner.folder().write("outside/many/f" + std::to_string(i) + ".txt", "heron marsh number " + std::to_string(i));
  WatchProcess watch(runner);
  ASSERT_NE(watch.waitFor("full update (start)"), "") << watch.all;
  int before = currentBuild();
  fs::rename(runner.folder().path() / "outside/many", doc("many"));
  // The update has begun once its build folder exists.
  std::string next = runner.kolvoDirectory() + "/indexes/default/build_" + std::to_string(before + 1);
  Clock::time_point deadline = Clock::now() + kBound;
  while (!fs::exists(next) && Clock::now() < deadline) usleep(1000);
  ASSERT_TRUE(fs::exists(next));
  std::string rest;
  EXPECT_EQ(watch.stop(rest), 0);
  // The update in progress finished and was stored, then the watch ended.
  EXPECT_NE((watch.all + rest).find("updated " + doc("many")), std::string::npos) << watch.all << rest;
  EXPECT_NE(rest.find("watch ended"), std::string::npos) << rest;
  EXPECT_EQ(currentBuild(), before + 1);
  EXPECT_EQ(buildFolders(), std::vector<std::string>{"build_" + std::to_string(before + 1)});
  EXPECT_TRUE(sound());
  EXPECT_EQ(found("heron"), files);
}

TEST_F(KolvocmdWatchTest, SearchesDuringUpdatesAlwaysReadACompleteBuild) {
  WatchProcess watch(runner);
  ASSERT_NE(watch.waitFor("full update (start)"), "") << watch.all;
  int first = currentBuild();
  // One change at a time while another kolvocmd searches in a loop, until the change's
  // update is stored and a few searches after it: each search opens whichever build is
  // current, also while the next is being written, and finds both anchors.
  constexpr int rounds = 6;
  int searches = 0, failures = 0;
  for (int round = 0; round < rounds; ++round) {
    int before = currentBuild();
    runner.folder().write("docs/work/round" + std::to_string(round) + ".txt", "round words");
    Clock::time_point deadline = Clock::now() + kBound;
    for (int after = 0; after < 3 && Clock::now() < deadline; ++searches) {
      if (found("anchor") != 2) ++failures;
      if (currentBuild() != before) ++after;
    }
  }
  EXPECT_EQ(failures, 0) << "of " << searches;
  EXPECT_GE(currentBuild() - first, rounds);
  EXPECT_EQ(found("round"), rounds);
  std::string rest;
  EXPECT_EQ(watch.stop(rest), 0);
  EXPECT_TRUE(sound());
}

}  // namespace
