// kolvocmd killed with SIGKILL at evenly spread moments of a build and of an update of
// a 2,000-file tree: after every kill the index opens, checks sound and answers a known
// search as before, and the next build (or update) succeeds.
#include <gtest/gtest.h>

#include <signal.h>
#include <sys/wait.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <thread>
#include <vector>

#include "tests/cli/kolvocmd_runner.h"

namespace fs = std::filesystem;
using kolvotest::KolvocmdRun;
using kolvotest::KolvocmdRunner;
using Lines = std::vector<std::string>;
using Clock = std::chrono::steady_clock;

namespace {

constexpr int folders = 40;
constexpr int filesPerFolder = 50;
constexpr int moments = 20;

class KolvocmdKillTest : public ::testing::Test {
 protected:
  void SetUp() override {
    // 2,000 files; "needle" is in every seventh, which no update below changes.
    for (int folder = 0; folder < folders; ++folder)
      for (int file = 0; file < filesPerFolder; ++file) {
        int number = folder * filesPerFolder + file;
        std::string text = "common words of file " + std::string(1, char('a' + number % 26)) + "lpha " +
                           std::string(1, char('a' + folder % 26)) + "eta" + (number % 7 == 0 ? " needle" : "") + "\n";
        runner.folder().write(path(folder, file), text);
      }
    KolvocmdRun made = runner.run("addroot " + runner.documents() + "\naddinclude *.txt\nbuild\n");
    ASSERT_EQ(made.status, 0) << made.err;
    known = search();
    ASSERT_EQ(known, "Found 286 Occurrences: 286");
  }
  static std::string path(int folder, int file) {
    return "docs/f" + std::to_string(folder) + "/file" + std::to_string(file) + ".txt";
  }
  // The answer of the known search and of "check", in a fresh run that opens the index.
  std::string search() const {
    KolvocmdRun run = runner.run("find needle\ncheck\n", {"default"});
    auto answers = run.answers();
    bool sound = answers.size() > 2 && answers[2] == Lines{"Index default is sound"};
    if (answers.size() < 2 || answers[1].empty() || !sound) return run.out + run.err;
    return answers[1].back();
  }
  // Runs kolvocmd default option to its end and answers how long it took.
  Clock::duration timed(const char* option) const {
    Clock::time_point began = Clock::now();
    int status = 0;
    waitpid(runner.start({"default", option}), &status, 0);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << option;
    return Clock::now() - began;
  }
  // Kills kolvocmd default option after the delay; false when it had ended by then.
  bool killedAfter(const char* option, Clock::duration delay) const {
    int child = runner.start({"default", option});
    std::this_thread::sleep_for(delay);
    bool running = waitpid(child, nullptr, WNOHANG) == 0;
    kill(child, SIGKILL);
    waitpid(child, nullptr, 0);
    return running;
  }
  // Every file of one folder in ten rewritten, so that the update has work.
  void changeSomeFiles(int round) const {
    for (int folder = round % 10; folder < folders; folder += 10)
      for (int file = 0; file < filesPerFolder; ++file)
        if ((folder * filesPerFolder + file) % 7 != 0)
          runner.folder().write(path(folder, file), "changed in round " + std::string(round + 1, 'r') + "\n");
  }
  void killAtSpreadMoments(const char* option) {
    // A run's length is the middle of the last three: the first can be slower (a cold
    // cache), and on a shared machine the load changes while the test runs, so the
    // moments follow the runs as they are now rather than as they were at the start.
    std::vector<Clock::duration> recent{timed(option), timed(option), timed(option)};
    auto typical = [&] {
      std::vector<Clock::duration> sorted = recent;
      std::sort(sorted.begin(), sorted.end());
      return sorted[1];
    };
    int killedRunning = 0;
    for (int moment = 1; moment <= moments; ++moment) {
      std::string context = std::string(option) + " killed at moment " + std::to_string(moment);
      if (option == std::string("-u")) changeSomeFiles(moment);
      if (killedAfter(option, typical() * moment / (moments + 1))) ++killedRunning;
      EXPECT_EQ(search(), known) << context;
      // The next run of the same command succeeds (and the next kill or the end checks
      // what it left).
      recent.erase(recent.begin());
      recent.push_back(timed(option));
    }
    Clock::duration whole = typical();
    EXPECT_EQ(search(), known) << option;
    std::printf("%s: %d moments over %.2f s, %d of them while it ran\n", option, moments,
                std::chrono::duration<double>(whole).count(), killedRunning);
    // Most moments must fall inside the run, or the test tests nothing.
    EXPECT_GE(killedRunning, moments / 2) << option;
  }

  KolvocmdRunner runner;
  std::string known;
};

TEST_F(KolvocmdKillTest, KillsDuringABuildLoseNothing) { killAtSpreadMoments("-b"); }

TEST_F(KolvocmdKillTest, KillsDuringAnUpdateLoseNothing) { killAtSpreadMoments("-u"); }

}  // namespace
