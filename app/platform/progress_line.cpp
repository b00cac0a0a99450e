#include "app/platform/progress_line.h"

#include <sys/ioctl.h>
#include <unistd.h>

#include <cstdio>
#include <iostream>

namespace {

QvProgressLine* gActive = nullptr;

// Used when the terminal does not tell its width.
constexpr int kDefaultColumns = 80;
// Erases from the cursor to the end of the line.
constexpr const char* kClearToEnd = "\x1b[K";

int terminalColumns() {
  winsize size{};
  if (ioctl(STDOUT_FILENO, TIOCGWINSZ, &size) == 0 && size.ws_col > 0) return size.ws_col;
  return kDefaultColumns;
}

bool isContinuationByte(char c) { return (static_cast<unsigned char>(c) & 0xC0) == 0x80; }

// Characters, not bytes: a UTF-8 sequence counts once.
std::size_t columnsOf(std::string_view text) {
  std::size_t columns = 0;
  for (char c : text)
    if (!isContinuationByte(c)) ++columns;
  return columns;
}

// The last columns characters of text, with "..." in front when it was cut.
std::string lastColumns(std::string_view text, std::size_t columns) {
  if (columnsOf(text) <= columns) return std::string(text);
  if (columns <= 3) return std::string(columns, '.');
  std::size_t keep = columns - 3, at = text.size();
  while (at > 0 && keep > 0) {
    --at;
    if (!isContinuationByte(text[at])) --keep;
  }
  return "..." + std::string(text.substr(at));
}

}  // namespace

QvProgressLine::QvProgressLine(std::function<QvProgressCounts()> counts)
    : mCounts(std::move(counts)), mStart(std::chrono::steady_clock::now()), mOuter(gActive) {
  if (isatty(STDOUT_FILENO)) gActive = this;
}

QvProgressLine::~QvProgressLine() {
  if (gActive != this) return;
  interrupt();
  gActive = mOuter;
}

QvProgressLine* QvProgressLine::active() { return gActive; }

std::string QvProgressLine::compose(const QvProgressCounts& counts, double seconds, std::string_view where,
                                    int width) {
  char numbers[160];
  double rate = seconds > 0 ? counts.files / seconds : 0;
  std::snprintf(numbers, sizeof numbers, "%.0f files, %.0f folders, %.1f MB, %.0f files/s  ", counts.files,
                counts.folders, counts.bytes / 1e6, rate);
  std::size_t room = width > 1 ? static_cast<std::size_t>(width - 1) : 0;
  std::string line = numbers;
  if (columnsOf(line) >= room) return lastColumns(line, room);
  return line + lastColumns(where, room - columnsOf(line));
}

void QvProgressLine::show(std::string_view where) {
  double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - mStart).count();
  std::cout << '\r' << compose(mCounts ? mCounts() : QvProgressCounts{}, seconds, where, terminalColumns())
            << kClearToEnd << std::flush;
  mDrawn = true;
}

void QvProgressLine::interrupt() {
  if (!mDrawn) return;
  std::cout << '\r' << kClearToEnd << std::flush;
  mDrawn = false;
}
