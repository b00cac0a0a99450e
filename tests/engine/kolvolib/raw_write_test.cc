// The raw write of the console: all of a long text reaches descriptor 1 even when the
// pipe behind it is full and the write is cut short by a signal or by a non-blocking pipe.
#include <fcntl.h>
#include <poll.h>
#include <pthread.h>
#include <signal.h>
#include <unistd.h>

#include <atomic>
#include <string>
#include <thread>

#include <gtest/gtest.h>

#include "include/kolvolib.h"

namespace {

void ignoreSignal(int) {}

struct WriteCase {
  const char* name;
  bool nonBlocking;
  bool interrupted;
};

class RawWriteTest : public ::testing::TestWithParam<WriteCase> {};

TEST_P(RawWriteTest, AllOfALongTextReachesAFullPipe) {
  const WriteCase& c = GetParam();
  std::string text;
  for (int i = 0; text.size() < (1u << 20); ++i) text += "line " + std::to_string(i) + " of the answer\n";

  int fds[2];
  ASSERT_EQ(0, ::pipe(fds));
  ::fcntl(fds[1], F_SETPIPE_SZ, 4096);
  if (c.nonBlocking) ::fcntl(fds[1], F_SETFL, ::fcntl(fds[1], F_GETFL) | O_NONBLOCK);
  struct sigaction quiet {}, before {};
  quiet.sa_handler = ignoreSignal;  // no SA_RESTART: a blocked write returns what it wrote
  ::sigemptyset(&quiet.sa_mask);
  ::sigaction(SIGUSR1, &quiet, &before);

  ::fflush(stdout);
  int savedOut = ::dup(1);
  ::dup2(fds[1], 1);
  std::atomic<bool> done{false};
  int result = 0;
  std::thread writer([&] {
    result = kRawStdoutWrite(text.c_str());
    done = true;
  });

  std::string received;
  char chunk[512];
  int idlePolls = 0;
  // Reads slowly so the writer keeps meeting a full pipe; gives up only after 10 s without data.
  while (received.size() < text.size() && idlePolls < 1000) {
    if (c.interrupted && !done) ::pthread_kill(writer.native_handle(), SIGUSR1);
    pollfd in{fds[0], POLLIN, 0};
    if (::poll(&in, 1, 10) <= 0) {
      if (done) ++idlePolls;
      continue;
    }
    idlePolls = 0;
    ssize_t n = ::read(fds[0], chunk, sizeof chunk);
    if (n > 0) received.append(chunk, static_cast<size_t>(n));
  }
  // A writer still blocked gets room to finish so the thread can be joined; one that
  // has written all but not yet said so is waited for, never read after (a read with
  // nothing more to come would block for good).
  while (!done) {
    pollfd in{fds[0], POLLIN, 0};
    if (::poll(&in, 1, 10) > 0 && ::read(fds[0], chunk, sizeof chunk) <= 0) break;
  }
  writer.join();
  ::dup2(savedOut, 1);
  ::close(savedOut);
  ::sigaction(SIGUSR1, &before, nullptr);
  ::close(fds[0]);
  ::close(fds[1]);

  EXPECT_EQ(static_cast<int>(text.size()), result);
  EXPECT_EQ(text.size(), received.size());
  EXPECT_TRUE(received == text) << "the text arrived changed";
}

INSTANTIATE_TEST_SUITE_P(Pipes, RawWriteTest,
                         ::testing::Values(WriteCase{"Blocking", false, false},
                                           WriteCase{"BlockingInterrupted", false, true},
                                           WriteCase{"NonBlocking", true, false}),
                         [](const ::testing::TestParamInfo<WriteCase>& info) { return std::string(info.param.name); });

}  // namespace
