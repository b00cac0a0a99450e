// Writing an answer through a pipe: every byte arrives, in order, however slowly the
// other end reads, in many pieces or few, on a blocking or non-blocking pipe; a long
// answer enlarges the pipe and a short one leaves it as it is.
#include "app/platform/console_output.h"

#include <fcntl.h>
#include <unistd.h>

#include <csignal>
#include <fstream>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "tests/support/slow_reader.h"

namespace {

struct Pipe {
  int ends[2] = {-1, -1};
  Pipe() { EXPECT_EQ(pipe(ends), 0); }
  ~Pipe() {
    for (int end : ends)
      if (end >= 0) close(end);
  }
  void closeEnd(int which) {
    close(ends[which]);
    ends[which] = -1;
  }
};

// The text of piece i: its number and a run of letters of a length that varies.
std::string pieceText(std::size_t i) {
  std::string text = std::to_string(i) + ":";
  text.append(i % 97 * 41 % 3001, static_cast<char>('a' + i % 26));
  return text + "\n";
}

struct WriteCase {
  std::size_t pieces;
  bool nonBlocking;
  bool slowReader;
};

TEST(QvConsoleOutputTest, EveryPieceArrivesWholeAndInOrder) {
  const WriteCase cases[] = {
      {1, false, false},
      {3, false, true},
      // More pieces than one call takes, and more bytes than the largest pipe.
      {2500, false, true},
      {2500, true, true},
      {200, true, false},
  };
  for (const WriteCase& c : cases) {
    SCOPED_TRACE(std::to_string(c.pieces) + (c.nonBlocking ? " non-blocking" : " blocking"));
    std::vector<std::string> texts;
    std::string expected;
    for (std::size_t i = 0; i < c.pieces; ++i) {
      texts.push_back(pieceText(i));
      expected += texts.back();
    }
    // An empty piece among them is passed over.
    texts.insert(texts.begin() + static_cast<std::ptrdiff_t>(texts.size() / 2), std::string());
    std::vector<std::string_view> pieces(texts.begin(), texts.end());
    Pipe pipe;
    if (c.nonBlocking) fcntl(pipe.ends[1], F_SETFL, fcntl(pipe.ends[1], F_GETFL) | O_NONBLOCK);
    std::string received;
    std::thread reader([&] { received = kolvotest::readToEnd(pipe.ends[0], c.slowReader); });
    EXPECT_TRUE(qvWriteOutput(pipe.ends[1], pieces));
    pipe.closeEnd(1);
    reader.join();
    EXPECT_EQ(received.size(), expected.size());
    EXPECT_TRUE(received == expected);
  }
}

TEST(QvConsoleOutputTest, ALongAnswerEnlargesThePipeAndAShortOneDoesNot) {
  std::size_t systemMost = 0;
  std::ifstream("/proc/sys/fs/pipe-max-size") >> systemMost;
  for (std::size_t bytes : {std::size_t{100}, kolvo::limits::outputPipeUsualBytes, std::size_t{3} << 20}) {
    SCOPED_TRACE(bytes);
    Pipe pipe;
    const int before = fcntl(pipe.ends[1], F_GETPIPE_SZ);
    std::string text(bytes, 'x');
    std::string received;
    std::thread reader([&] { received = kolvotest::readToEnd(pipe.ends[0], false); });
    EXPECT_TRUE(qvWriteOutput(pipe.ends[1], {text}));
    const int after = fcntl(pipe.ends[1], F_GETPIPE_SZ);
    pipe.closeEnd(1);
    reader.join();
    EXPECT_EQ(received.size(), bytes);
    if (bytes <= kolvo::limits::outputPipeUsualBytes || systemMost <= static_cast<std::size_t>(before)) {
      EXPECT_EQ(after, before);
    } else {
      EXPECT_GT(after, before);
      EXPECT_LE(static_cast<std::size_t>(after), kolvo::limits::outputPipeBytes);
    }
  }
}

TEST(QvConsoleOutputTest, AClosedOutputIsReportedAsAFailure) {
  // Without this the write would end the test program.
  auto previous = std::signal(SIGPIPE, SIG_IGN);
  Pipe pipe;
  pipe.closeEnd(0);
  std::string text(200000, 'y');
  EXPECT_FALSE(qvWriteOutput(pipe.ends[1], {text}));
  std::signal(SIGPIPE, previous);
  EXPECT_FALSE(qvWriteOutput(-1, {std::string_view("line\n")}));
}

}  // namespace
