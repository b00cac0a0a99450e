// The live progress line of a build or an update at a terminal: while one lives and
// standard output is a terminal, the engine's progress reports redraw a single line
// (files and folders seen, MB read, files per second, the current folder cut to the
// terminal's width) instead of adding a line each; the line is cleared when it ends, so
// the command's summary takes its place. Elsewhere it does nothing, and scripts see the
// status lines as before.
#pragma once

#include <chrono>
#include <functional>
#include <string>
#include <string_view>

struct QvProgressCounts {
  double files = 0;
  double folders = 0;
  double bytes = 0;
};

class QvProgressLine {
 public:
  // counts is asked at each redraw.
  explicit QvProgressLine(std::function<QvProgressCounts()> counts);
  ~QvProgressLine();
  QvProgressLine(const QvProgressLine&) = delete;
  QvProgressLine& operator=(const QvProgressLine&) = delete;

  // The line drawn at the terminal now, or null (none, or output is no terminal).
  static QvProgressLine* active();

  // Redraws the line with where as its last part (a folder, or a step's message).
  void show(std::string_view where);
  // Clears the line before a line of its own (a warning) is printed; the next report
  // draws it again.
  void interrupt();

  // The text of the line for a terminal of width columns: never wider than width - 1,
  // the cut falling on the start of where (a path keeps its end).
  static std::string compose(const QvProgressCounts& counts, double seconds, std::string_view where, int width);

 private:
  std::function<QvProgressCounts()> mCounts;
  std::chrono::steady_clock::time_point mStart;
  QvProgressLine* mOuter;
  bool mDrawn = false;
};
