// Child processes through the shell: output, exit status, piped input, and no
// deadlock when either pipe carries more than it holds.
#include "app/platform/child_process.h"

#include <poll.h>
#include <signal.h>
#include <unistd.h>

#include <fstream>
#include <iterator>
#include <string>

#include <gtest/gtest.h>

#include "app/platform/event_pump.h"

namespace {

// Gone, or a zombie waiting for a parent that is not ours to reap it.
bool processEnded(pid_t pid) {
  if (kill(pid, 0) != 0) return true;
  std::ifstream stat("/proc/" + std::to_string(pid) + "/stat");
  std::string text((std::istreambuf_iterator<char>(stat)), std::istreambuf_iterator<char>());
  std::size_t close = text.rfind(')');
  return close != std::string::npos && close + 2 < text.size() && text[close + 2] == 'Z';
}

TEST(QvChildProcess, ShellCommandGivesOutputAndStatus) {
  struct Case {
    const char* command;
    const char* output;
    int exitCode;
  };
  const Case cases[] = {
      {"echo hi", "hi\n", 0},
      {"printf 'a\\nb'", "a\nb", 0},
      {"echo out; exit 3", "out\n", 3},
      {"kill -9 $$", "", 137},
      {"nosuch_command_kolvo_test 2>/dev/null", "", 127},
      {"read line; echo \"[$line]\"", "[]\n", 0},  // input is empty, not the terminal
  };
  for (const auto& row : cases) {
    QvShellResult result = qvRunShellCommand(row.command);
    EXPECT_EQ(result.output, row.output) << row.command;
    EXPECT_EQ(result.exitCode, row.exitCode) << row.command;
  }
}

TEST(QvChildProcess, OutputLargerThanAPipeDoesNotBlock) {
  QvShellResult result = qvRunShellCommand("head -c 1000000 /dev/zero | tr '\\0' a; exit 4");
  EXPECT_EQ(result.output.size(), 1000000u);
  EXPECT_EQ(result.output.find_first_not_of('a'), std::string::npos);
  EXPECT_EQ(result.exitCode, 4);
}

TEST(QvChildProcess, PipedInputReachesTheChild) {
  QvChildProcess child;
  child.start("cat");
  EXPECT_TRUE(child.started());
  std::string input;
  for (int i = 0; i < 50000; ++i) input += "line " + std::to_string(i) + "\n";
  child.write(input);  // far more than a pipe holds: the rest goes out while we read
  child.closeInput();
  EXPECT_EQ(child.wait(), 0);
  EXPECT_EQ(child.takeOutput(), input);
  EXPECT_FALSE(child.running());
}

TEST(QvChildProcess, OutputArrivesWhileEventsRun) {
  QvChildProcess child;
  child.start("echo ready; read x; echo got $x");
  std::string seen;
  for (int step = 0; step < 100 && seen.find("ready\n") == std::string::npos; ++step) {
    QvEventPump::instance().waitStep();
    seen += child.takeOutput();
  }
  EXPECT_EQ(seen, "ready\n");
  EXPECT_TRUE(child.running());
  child.write("it\n");
  child.closeInput();
  EXPECT_EQ(child.wait(), 0);
  EXPECT_EQ(child.takeOutput(), "got it\n");
  EXPECT_EQ(child.exitCode(), 0);
}

TEST(QvChildProcess, OtherEventsRunWhileWaiting) {
  int fds[2];
  ASSERT_EQ(pipe(fds), 0);
  ASSERT_EQ(write(fds[1], "x", 1), 1);
  bool served = false;
  int token = QvEventPump::instance().watch(fds[0], POLLIN, [&](short) {
    char c;
    served = read(fds[0], &c, 1) == 1;
  });
  QvShellResult result = qvRunShellCommand("sleep 0.3; echo done");
  QvEventPump::instance().unwatch(token);
  close(fds[0]);
  close(fds[1]);
  EXPECT_TRUE(served);
  EXPECT_EQ(result.output, "done\n");
}

TEST(QvChildProcess, WritingToAChildThatLeftIsHarmless) {
  QvChildProcess child;
  child.start("exit 0");
  EXPECT_EQ(child.wait(), 0);
  child.write(std::string(200000, 'x'));  // the pipe is broken: no signal, no error
  child.closeInput();
  EXPECT_EQ(child.exitCode(), 0);
}

TEST(QvChildProcess, DestroyingEndsARunningChildAndWhatItStarted) {
  auto child = std::make_unique<QvChildProcess>();
  // The shell starts sleep as a process of its own and reports its id.
  child->start("sleep 30 & echo $!; wait");
  std::string reported;
  for (int step = 0; step < 100 && reported.find('\n') == std::string::npos; ++step) {
    QvEventPump::instance().waitStep();
    reported += child->takeOutput();
  }
  pid_t sleeper = static_cast<pid_t>(std::stol(reported));
  EXPECT_TRUE(child->running());
  child.reset();  // must not wait the 30 seconds
  bool gone = false;
  for (int step = 0; step < 50 && !gone; ++step) {
    gone = processEnded(sleeper);
    if (!gone) QvEventPump::instance().waitStep();
  }
  EXPECT_TRUE(gone) << "the shell's own child outlived it";
}

}  // namespace
