#include "app/commands/command_results.h"

#include <algorithm>
#include <cstring>
#include <iterator>
#include <utility>

namespace {

// Most answers are a line or two: the first block is small, and each further one twice
// the one before up to a size that a write to the console takes in one go.
constexpr std::size_t kFirstBlockBytes = 512;
constexpr std::size_t kLargestBlockBytes = 256 * 1024;
// A line's end and the NUL after its piece.
constexpr std::size_t kLineEndBytes = 2;

}  // namespace

QvResults::QvResults(std::initializer_list<std::string_view> lines) {
  for (std::string_view line : lines) push_back(line);
}

QvResults::QvResults(const QvResults& other) { append(other); }

QvResults& QvResults::operator=(const QvResults& other) {
  if (this != &other) {
    QvResults copy(other);
    swap(copy);
  }
  return *this;
}

void QvResults::push_back(std::string_view line) {
  char* at = lineRoom(line.size());
  if (!line.empty()) std::memcpy(at, line.data(), line.size());
  keepLine(line.size());
}

char* QvResults::lineRoom(std::size_t most) {
  std::size_t needed = most + kLineEndBytes;
  if (mBlocks.empty() || mBlocks.back().capacity - mBlocks.back().used < needed) {
    std::size_t grown = mBlocks.empty() ? kFirstBlockBytes : std::min(2 * mBlocks.back().capacity, kLargestBlockBytes);
    Block block;
    block.capacity = std::max(grown, needed);
    // Not zero-filled: only the bytes written are ever read.
    block.text = std::make_unique_for_overwrite<char[]>(block.capacity);
    mBlocks.push_back(std::move(block));
  }
  Block& last = mBlocks.back();
  return last.text.get() + last.used;
}

void QvResults::keepLine(std::size_t length) {
  Block& last = mBlocks.back();
  char* at = last.text.get() + last.used;
  at[length] = '\n';
  at[length + 1] = '\0';
  mLines.emplace_back(at, length);
  last.used += length + 1;
}

void QvResults::append(QvResults&& other) {
  if (this == &other || other.empty()) return;
  if (empty()) {
    swap(other);
    other.clear();
    return;
  }
  // The blocks move whole, so the lines stay where they are and later lines go after them.
  mBlocks.insert(mBlocks.end(), std::make_move_iterator(other.mBlocks.begin()),
                 std::make_move_iterator(other.mBlocks.end()));
  mLines.insert(mLines.end(), other.mLines.begin(), other.mLines.end());
  other.clear();
}

void QvResults::append(const QvResults& other) {
  if (this == &other) {
    QvResults copy(other);
    append(std::move(copy));
    return;
  }
  for (std::string_view line : other.mLines) push_back(line);
}

void QvResults::clear() {
  mBlocks.clear();
  mLines.clear();
}

void QvResults::swap(QvResults& other) noexcept {
  mBlocks.swap(other.mBlocks);
  mLines.swap(other.mLines);
}

std::vector<std::string_view> QvResults::texts() const {
  std::vector<std::string_view> pieces;
  pieces.reserve(mBlocks.size());
  for (const Block& block : mBlocks)
    if (block.used > 0) pieces.emplace_back(block.text.get(), block.used);
  return pieces;
}

void QvResults::appendTextTo(std::string& text) const {
  std::vector<std::string_view> pieces = texts();
  std::size_t size = text.size();
  for (std::string_view piece : pieces) size += piece.size();
  text.reserve(size);
  for (std::string_view piece : pieces) text += piece;
}

std::vector<std::string> QvResults::lines() const { return std::vector<std::string>(mLines.begin(), mLines.end()); }

std::string QvResults::joined() const {
  std::string text;
  appendTextTo(text);
  if (!text.empty()) text.pop_back();
  return text;
}

bool operator==(const QvResults& a, const QvResults& b) { return a.mLines == b.mLines; }

bool operator==(const QvResults& a, const std::vector<std::string>& lines) {
  return std::equal(a.mLines.begin(), a.mLines.end(), lines.begin(), lines.end());
}
