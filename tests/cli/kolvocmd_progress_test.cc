// The live progress line of a build: drawn under a pseudo-terminal it rewrites one line
// and gives way to the summary; through a pipe the status lines stay as they were.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <pty.h>
#include <sys/wait.h>
#include <unistd.h>

#include "tests/cli/kolvocmd_runner.h"

using kolvotest::KolvocmdRun;
using kolvotest::KolvocmdRunner;

namespace {

constexpr unsigned short kColumns = 50;
constexpr const char* kClearToEnd = "\x1b[K";

class KolvocmdProgressTest : public ::testing::Test {
 protected:
  void SetUp() override {
    for (int i = 0; i < 20; ++i)
      runner.folder().write("docs/d" + std::to_string(i % 4) + "/f" + std::to_string(i) + ".txt", "alpha beta\n");
  }
  std::string commands() const {
    return "new docs\naddroot " + runner.documents() + "\naddinclude *.txt\nbuild\nquit\n";
  }
  // The program's output at a terminal kColumns wide, commands on its input.
  std::string atTerminal() {
    std::string input = runner.folder().write("pty/stdin", commands());
    winsize size{};
    size.ws_row = 24;
    size.ws_col = kColumns;
    int master = -1;
    pid_t child = forkpty(&master, nullptr, nullptr, &size);
    if (child == 0) {
      int in = open(input.c_str(), O_RDONLY);
      if (in < 0 || dup2(in, STDIN_FILENO) < 0) _exit(126);
      setenv("HOME", runner.folder().path().c_str(), 1);
      setenv("KOLVODIR", runner.kolvoDirectory().c_str(), 1);
      unsetenv("LD_LIBRARY_PATH");
      execl(KOLVOCMD_PATH, KOLVOCMD_PATH, static_cast<char*>(nullptr));
      _exit(127);
    }
    EXPECT_GT(child, 0);
    std::string out;
    char buffer[4096];
    // The read fails with EIO once the program has ended and closed the terminal.
    for (ssize_t got; (got = read(master, buffer, sizeof buffer)) > 0;) out.append(buffer, static_cast<std::size_t>(got));
    close(master);
    int status = 0;
    waitpid(child, &status, 0);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
    return out;
  }

  KolvocmdRunner runner;
};

TEST_F(KolvocmdProgressTest, AtATerminalOneLineRewritesItselfAndGivesWayToTheSummary) {
  std::string out = atTerminal();
  std::size_t summary = out.find("build completed in");
  ASSERT_NE(summary, std::string::npos) << out;
  // Every drawing starts at the line's start and clears what an older one left. (The
  // terminal ends each ordinary line with CR LF.)
  std::vector<std::string> drawings;
  for (std::size_t at = 0; (at = out.find('\r', at)) != std::string::npos && at < summary; ++at) {
    if (out.compare(at, 2, "\r\n") == 0) continue;
    std::size_t end = out.find(kClearToEnd, at);
    if (end == std::string::npos || end > summary) break;
    drawings.push_back(out.substr(at + 1, end - at - 1));
  }
  std::size_t counted = 0;
  for (const std::string& drawing : drawings) {
    if (drawing.empty()) continue;
    ++counted;
    EXPECT_LT(drawing.size(), kColumns) << drawing;
    EXPECT_EQ(drawing.find('\n'), std::string::npos) << drawing;
    EXPECT_NE(drawing.find(" files, "), std::string::npos) << drawing;
  }
  EXPECT_GE(counted, 2u) << out;
  // The last drawing is cleared before the summary.
  std::string clear = std::string("\r") + kClearToEnd;
  EXPECT_EQ(out.rfind(clear, summary), summary - clear.size()) << out;
  // None of the status lines of a build is printed as a line of its own.
  EXPECT_EQ(out.find("Building Links"), std::string::npos);
}

TEST_F(KolvocmdProgressTest, ThroughAPipeTheStatusLinesStay) {
  KolvocmdRun run = runner.run(commands());
  EXPECT_EQ(run.status, 0) << run.err;
  EXPECT_EQ(run.out.find(kClearToEnd), std::string::npos);
  EXPECT_EQ(run.out.find('\r'), std::string::npos);
  EXPECT_NE(run.out.find("\nBuilding Links 0%\n"), std::string::npos) << run.out;
  EXPECT_NE(run.out.find("\nbuild completed in"), std::string::npos) << run.out;
}

}  // namespace
