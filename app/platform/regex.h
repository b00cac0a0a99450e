// Regular expressions of kolvocmd on PCRE2: command splitting, name filters, build
// directory names, search tokens and criteria all go through this one class.
// Patterns work on bytes (no UTF mode), since file names and texts may be Latin-1.
#pragma once

#include <cstddef>
#include <memory>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

struct pcre2_real_code_8;

// Raised for a pattern PCRE2 refuses; the message names the pattern and the reason.
class QvRegexError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// One successful match: the whole match is group 0.
class QvRegexMatch {
 public:
  QvRegexMatch(std::string_view subject, std::vector<std::ptrdiff_t> offsets);
  std::size_t groupCount() const { return offsets.size() / 2; }
  bool hasGroup(std::size_t group) const;
  std::size_t start(std::size_t group = 0) const;
  std::size_t end(std::size_t group = 0) const;
  std::string group(std::size_t group = 0) const;

 private:
  std::string_view subject;  // valid as long as the searched text
  std::vector<std::ptrdiff_t> offsets;  // start/end pairs, -1 for a group that took no part
};

class QvRegex {
 public:
  enum Option : unsigned { kNone = 0, kCaseless = 1, kMultiline = 2, kDotAll = 4 };

  explicit QvRegex(std::string_view pattern, unsigned options = kNone);
  ~QvRegex();
  QvRegex(QvRegex&&) noexcept;
  QvRegex& operator=(QvRegex&&) noexcept;
  QvRegex(const QvRegex&) = delete;
  QvRegex& operator=(const QvRegex&) = delete;

  const std::string& pattern() const { return source; }
  // The first match at or after start, or none.
  std::optional<QvRegexMatch> search(std::string_view text, std::size_t start = 0) const;
  bool foundIn(std::string_view text) const { return search(text).has_value(); }
  // Every non-overlapping match, left to right, replaced; "$1" in the replacement
  // stands for group 1 ("$$" for a dollar sign).
  std::string replaceAll(std::string_view text, std::string_view replacement) const;
  // Only the first match replaced.
  std::string replaceFirst(std::string_view text, std::string_view replacement) const;

 private:
  std::string substitute(std::string_view text, std::string_view replacement, bool global) const;

  std::string source;
  struct CodeFree {
    void operator()(pcre2_real_code_8* code) const;
  };
  std::unique_ptr<pcre2_real_code_8, CodeFree> code;
};
