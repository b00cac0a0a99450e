// The text lines a command answers with: commands append, the console and "tee" write
// the text out as it stands, and scripts and tests read it line by line. The lines sit
// one after another in a few large blocks, each line followed by its line end, so a
// listing of a hundred thousand lines costs no allocation per line and no copy to print.
#pragma once

#include <cstddef>
#include <initializer_list>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

class QvResults {
 public:
  using value_type = std::string_view;
  using const_iterator = std::vector<std::string_view>::const_iterator;
  using iterator = const_iterator;

  QvResults() = default;
  QvResults(std::initializer_list<std::string_view> lines);
  QvResults(const QvResults& other);
  QvResults& operator=(const QvResults& other);
  QvResults(QvResults&& other) noexcept = default;
  QvResults& operator=(QvResults&& other) noexcept = default;
  ~QvResults() = default;

  void push_back(std::string_view line);
  // Each of lines (strings or views), in order.
  template <class Lines>
  void addLines(const Lines& lines) {
    for (const auto& line : lines) push_back(line);
  }
  // Every line of other, after these; other is left empty.
  void append(QvResults&& other);
  void append(const QvResults& other);
  // Room for a line of at most most bytes, to be written in place and then kept with
  // keepLine; nothing else may be added in between.
  char* lineRoom(std::size_t most);
  void keepLine(std::size_t length);
  // Room in the table of lines for count more, for an answer whose length is known.
  void reserveLines(std::size_t count) { mLines.reserve(mLines.size() + count); }
  void clear();
  void swap(QvResults& other) noexcept;

  std::size_t size() const { return mLines.size(); }
  bool empty() const { return mLines.empty(); }
  // A line stays where it is until the results are cleared or destroyed.
  std::string_view operator[](std::size_t i) const { return mLines[i]; }
  // A line by number, or std::out_of_range.
  std::string_view at(std::size_t i) const { return mLines.at(i); }
  std::string_view front() const { return mLines.front(); }
  std::string_view back() const { return mLines.back(); }
  const_iterator begin() const { return mLines.begin(); }
  const_iterator end() const { return mLines.end(); }

  // The whole text in order, as pieces of lines each followed by '\n'; the byte after
  // each piece is a NUL, so a piece can be handed on as a C string.
  std::vector<std::string_view> texts() const;
  // The whole text added to the end of text.
  void appendTextTo(std::string& text) const;
  // Each line as a string of its own, for code that keeps or changes them.
  std::vector<std::string> lines() const;
  // The lines joined by line ends, with none after the last.
  std::string joined() const;

  friend bool operator==(const QvResults& a, const QvResults& b);
  // The same lines as lines, in the same order.
  friend bool operator==(const QvResults& a, const std::vector<std::string>& lines);

 private:
  struct Block {
    std::unique_ptr<char[]> text;
    std::size_t used = 0;
    std::size_t capacity = 0;
  };

  std::vector<Block> mBlocks;
  std::vector<std::string_view> mLines;
};
