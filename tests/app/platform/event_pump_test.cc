// The event pump: handlers run for ready descriptors, never for idle ones, and a
// handler may unwatch itself or a later one.
#include "app/platform/event_pump.h"

#include <poll.h>
#include <unistd.h>

#include <chrono>

#include <gtest/gtest.h>

namespace {

class PipePair {
 public:
  PipePair() { EXPECT_EQ(pipe(fds), 0); }
  ~PipePair() {
    close(fds[0]);
    close(fds[1]);
  }
  int readEnd() const { return fds[0]; }
  void send(const char* text) { ASSERT_GT(write(fds[1], text, 1), 0); }
  char receive() {
    char c = 0;
    EXPECT_EQ(read(fds[0], &c, 1), 1);
    return c;
  }

 private:
  int fds[2];
};

TEST(QvEventPump, RunsOnlyReadyHandlers) {
  auto& pump = QvEventPump::instance();
  PipePair ready, idle;
  std::string seen;
  int readyToken = pump.watch(ready.readEnd(), POLLIN, [&](short) { seen += ready.receive(); });
  int idleToken = pump.watch(idle.readEnd(), POLLIN, [&](short) { seen += "idle"; });
  pump.runPending();
  EXPECT_EQ(seen, "");
  ready.send("x");
  pump.runPending();
  EXPECT_EQ(seen, "x");
  pump.unwatch(readyToken);
  pump.unwatch(idleToken);
  EXPECT_FALSE(pump.watching(readyToken));
}

TEST(QvEventPump, HandlerMayUnwatchItselfAndOthers) {
  auto& pump = QvEventPump::instance();
  PipePair a, b;
  int calls = 0;
  int tokenB = 0;
  int tokenA = pump.watch(a.readEnd(), POLLIN, [&](short) {
    ++calls;
    pump.unwatch(tokenA);
    pump.unwatch(tokenB);
  });
  tokenB = pump.watch(b.readEnd(), POLLIN, [&](short) { ++calls; });
  a.send("1");
  b.send("2");
  pump.runPending();
  pump.runPending();
  EXPECT_EQ(calls, 1);
}

TEST(QvEventPump, WaitStepWaitsForDataOrAStep) {
  auto& pump = QvEventPump::instance();
  PipePair idle;
  bool called = false;
  int token = pump.watch(idle.readEnd(), POLLIN, [&](short) { called = true; });
  auto before = std::chrono::steady_clock::now();
  pump.waitStep();
  auto waited = std::chrono::steady_clock::now() - before;
  EXPECT_FALSE(called);
  EXPECT_GE(waited, std::chrono::milliseconds(90));
  idle.send("z");
  pump.waitStep();
  EXPECT_TRUE(called);
  pump.unwatch(token);
}

TEST(QvEventPump, NestedRunsDoNotDispatchTwice) {
  auto& pump = QvEventPump::instance();
  PipePair ready;
  int calls = 0;
  int token = pump.watch(ready.readEnd(), POLLIN, [&](short) {
    ++calls;
    pump.runPending();  // the data is still unread here
    ready.receive();
  });
  ready.send("x");
  pump.runPending();
  EXPECT_EQ(calls, 1);
  pump.unwatch(token);
}

}  // namespace
