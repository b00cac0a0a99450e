// The live progress line: the text of the line for a given width, and a line that is
// never drawn when standard output is no terminal (the test's own output is a pipe or
// a file under CTest; the pseudo-terminal runs are in the program's tests).
#include <gtest/gtest.h>
#include <unistd.h>

#include "app/platform/progress_line.h"

namespace {

TEST(ProgressLine, ComposeFitsTheWidthAndKeepsTheEndOfThePlace) {
  const QvProgressCounts counts{1200, 34, 5.6e6};
  struct Case {
    int width;
    std::string where, line;
  } cases[] = {
      {80, "/home/me/notes", "1200 files, 34 folders, 5.6 MB, 600 files/s  /home/me/notes"},
      {60, "/home/me/notes/recipes", "1200 files, 34 folders, 5.6 MB, 600 files/s  ...tes/recipes"},
      {48, "/home/me", "1200 files, 34 folders, 5.6 MB, 600 files/s  .."},
      // Too narrow for the numbers: they keep their end too.
      {20, "/home/me", "...B, 600 files/s  "},
      {1, "/home/me", ""},
      {0, "/home/me", ""},
      // A character of several bytes is one column and is never cut in two.
      {51, "/h\xc3\xa9lo\xc3\xa9", "1200 files, 34 folders, 5.6 MB, 600 files/s  ...o\xc3\xa9"},
  };
  for (const Case& c : cases) EXPECT_EQ(QvProgressLine::compose(counts, 2.0, c.where, c.width), c.line) << c.width;
  // No time yet: no rate.
  EXPECT_EQ(QvProgressLine::compose({}, 0, "", 80), "0 files, 0 folders, 0.0 MB, 0 files/s  ");
}

TEST(ProgressLine, NothingIsActiveWhenOutputIsNoTerminal) {
  if (isatty(STDOUT_FILENO)) GTEST_SKIP() << "run with standard output at a terminal";
  QvProgressLine line([] { return QvProgressCounts{}; });
  EXPECT_EQ(QvProgressLine::active(), nullptr);
}

}  // namespace
