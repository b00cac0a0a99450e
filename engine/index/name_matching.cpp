#include "engine/index/name_matching.h"

#include <cstddef>
#include <cstring>
#include <limits>
#include <memory_resource>
#include <vector>

#include "engine/kolvolib/entry_guard.h"
#include "engine/kolvolib/lower_case_table.h"
#include "include/kolvolib.h"

namespace kolvo {
namespace {

using Text = const unsigned char*;

const unsigned char* bytes(const char* text) { return reinterpret_cast<const unsigned char*>(text); }

// Where walking a text and a pattern side by side stopped: either with the answer, or
// at a wildcard star whose outcome decides it (inverted when the term was negated).
struct WalkEnd {
  bool settled;
  bool value;
  bool invert;
  std::size_t text;
  std::size_t star;
};

WalkEnd settle(bool value) { return {true, value, false, 0, 0}; }
WalkEnd reachStar(std::size_t text, std::size_t star, bool invert) { return {false, false, invert, text, star}; }

// A star makes the plain recursion (try every later position of the text) exponential:
// '*a*a*a*a*b' against a long run of a's. StarSearch gives the plain recursion's
// answers in O(text x pattern) steps, from two facts:
//  - No walk from a star is negated (a star before '^' ends its term and wins
//    without a scan), so once any nested scan succeeds the whole match does.
//  - Whether a scan after a star succeeds from a text position can only go from
//    true to false as the position grows. So for each star it is enough to remember
//    the lowest position from which its scan is known to fail.
// The nested scans run on the search's own stack of frames, so a pattern with very
// many stars cannot exhaust the call stack.
//
// A Rules type says how one matcher walks and what follows a star:
//   walk(text, pattern)   walks from the two positions to a star or to the answer;
//   nextHit(text, star)   the first text position from text on that the scan after
//                         the star tries, or the position of the text's NUL;
//   whenNoneFits(star)    the answer of the star when no scan position succeeds, or
//                         true when the star wins without a scan.
// Those positions are tried with walk(position, star + 1).
template <typename Rules>
class StarSearch {
 public:
  StarSearch(const Rules& rules, Text text, Text pattern)
      : rules(rules), text(text), pattern(pattern), arena(buffer, sizeof buffer),
        failsFrom(&arena), frames(&arena) {}

  bool run(std::size_t textAt, std::size_t patternAt) {
    WalkEnd end = rules.walk(textAt, patternAt);
    if (end.settled) return end.value;
    bool fits = rules.whenNoneFits(end.star) || scan(end.text, end.star);
    return fits != end.invert;
  }

 private:
  static constexpr std::size_t neverKnown = std::numeric_limits<std::size_t>::max();

  struct Frame {
    std::size_t star;  // pattern position of the star
    std::size_t from;  // the scan's first text position
    std::size_t at;    // the position being tried
  };

  // Stars are met in pattern order, so the first scan's star comes before every other.
  std::size_t knownToFailFrom(std::size_t star) const {
    return failsFrom.empty() ? neverKnown : failsFrom[star - frames.front().star];
  }

  void rememberFailure(std::size_t star, std::size_t from) {
    if (failsFrom.empty()) {
      std::size_t rootStar = frames.front().star;
      failsFrom.assign(std::strlen(reinterpret_cast<const char*>(pattern + rootStar)), neverKnown);
    }
    failsFrom[star - frames.front().star] = from;
  }

  // Whether some text position from `from` on, tried after the star, leads to a match.
  bool scan(std::size_t from, std::size_t star) {
    frames.push_back({star, from, from});
    while (!frames.empty()) {
      Frame& frame = frames.back();
      bool descended = false;
      std::size_t failsAt = knownToFailFrom(frame.star);
      for (;; ++frame.at) {
        frame.at = rules.nextHit(frame.at, frame.star);
        if (text[frame.at] == 0 || frame.at >= failsAt) break;
        WalkEnd end = rules.walk(frame.at, frame.star + 1);
        if (end.settled) {
          if (end.value) return true;
          continue;
        }
        if (rules.whenNoneFits(end.star)) return true;
        if (end.text >= knownToFailFrom(end.star)) continue;
        frames.push_back({end.star, end.text, end.text});
        descended = true;
        break;
      }
      if (descended) continue;
      // Nothing from this frame's start on succeeds; the frame below tries its next
      // position.
      if (frames.size() > 1) rememberFailure(frame.star, frame.from);
      frames.pop_back();
      if (!frames.empty()) ++frames.back().at;
    }
    return false;
  }

  const Rules& rules;
  Text text;
  Text pattern;
  // Patterns of a few dozen stars never reach the heap.
  alignas(std::max_align_t) unsigned char buffer[1024];
  std::pmr::monotonic_buffer_resource arena;
  std::pmr::vector<std::size_t> failsFrom;  // by pattern position after the first star
  std::pmr::vector<Frame> frames;
};

bool isOperator(unsigned char c) { return c == '|' || c == '&' || c == '^'; }

// One term of a name pattern, compared case-folded.
class TermRules {
 public:
  TermRules(Text text, Text pattern) : text(text), pattern(pattern) {}

  WalkEnd walk(std::size_t t, std::size_t p) const {
    bool invert = false;
    if (pattern[p] == '^') {
      invert = true;
      ++p;
      while (pattern[p] == ' ') ++p;
    }
    for (;; ++t, ++p) {
      unsigned char c = pattern[p];
      if (c == '*') return reachStar(t, p, invert);
      if (text[t] == 0) return settle(fitsAtEndOfText(p) != invert);
      // The pattern's end never matches a character, not even one that folds to NUL.
      if (c == 0) return settle(invert);
      if (c != '?' && lowerCase(c) != lowerCase(text[t])) return settle(fitsAfterMismatch(p) != invert);
    }
  }

  // The character after a star is looked for as a literal, even a '?' or a '*'.
  std::size_t nextHit(std::size_t t, std::size_t star) const {
    unsigned char next = lowerCase(pattern[star + 1]);
    if (pattern[star + 1] == 0) return t + std::strlen(reinterpret_cast<const char*>(text + t));
    while (text[t] != 0 && lowerCase(text[t]) != next) ++t;
    return t;
  }

  bool whenNoneFits(std::size_t star) const { return fitsAtEndOfText(star + 1); }

 private:
  bool endsTerm(std::size_t p) const {
    return isOperator(pattern[p]) || (pattern[p] == '*' && pattern[p + 1] == 0);
  }
  bool fitsAtEndOfText(std::size_t p) const {
    while (pattern[p] == '*' || pattern[p] == '?') ++p;
    while (pattern[p] == ' ') ++p;
    return pattern[p] == 0 || endsTerm(p);
  }
  bool fitsAfterMismatch(std::size_t p) const {
    while (pattern[p] == ' ') ++p;
    return endsTerm(p);
  }

  Text text;
  Text pattern;
};

// A search term against a stored word: exact bytes, no operators.
class WordRules {
 public:
  WordRules(Text word, Text pattern, const unsigned char* validCharMask, const unsigned char* validTrailingMask)
      : word(word), pattern(pattern),
        starIsWild(!declared('*', validCharMask, validTrailingMask)),
        questionIsWild(!declared('?', validCharMask, validTrailingMask)) {}

  // The end of either string is looked at before a star, as for empty strings.
  WalkEnd walk(std::size_t w, std::size_t p) const {
    for (;; ++w, ++p) {
      unsigned char c = pattern[p];
      if (word[w] == 0 || c == 0) return settle(bothEnd(w, p));
      if (isStar(p)) return reachStar(w, p, false);
      if (c == '?' && questionIsWild) continue;
      if (c != word[w]) return settle(false);
    }
  }

  bool isStar(std::size_t p) const { return pattern[p] == '*' && starIsWild; }

  std::size_t nextHit(std::size_t w, std::size_t star) const {
    unsigned char next = pattern[star + 1];
    while (word[w] != 0 && word[w] != next) ++w;
    return w;
  }

  // A star that ends the pattern takes the rest of the word; any other needs a scan.
  bool whenNoneFits(std::size_t star) const { return pattern[star + 1] == 0; }

 private:
  static bool declared(unsigned char c, const unsigned char* mask1, const unsigned char* mask2) {
    return (mask1 != nullptr && mask1[c] != 0) || (mask2 != nullptr && mask2[c] != 0);
  }
  bool isWildcard(std::size_t p) const { return isStar(p) || (pattern[p] == '?' && questionIsWild); }
  bool bothEnd(std::size_t w, std::size_t p) const {
    while (isWildcard(p)) ++p;
    return pattern[p] == 0 && word[w] == 0;
  }

  Text word;
  Text pattern;
  bool starIsWild;
  bool questionIsWild;
};

bool isSeparator(unsigned char c) { return c == '/' || c == '\\'; }

bool holdsSeparator(Text p) {
  for (; *p != 0; ++p)
    if (isSeparator(*p)) return true;
  return false;
}

Text skipSpaces(Text p) {
  while (*p == ' ') ++p;
  return p;
}

}  // namespace

bool termMatch(const char* text, const char* pattern) {
  TermRules rules(bytes(text), bytes(pattern));
  return StarSearch<TermRules>(rules, bytes(text), bytes(pattern)).run(0, 0);
}

bool fileNameMatch(const char* text, const char* pattern) {
  Text term = bytes(pattern);
  for (;;) {
    const char* termText = reinterpret_cast<const char*>(term);
    if (!termMatch(text, termText)) {
      const char* bar = std::strchr(termText, '|');
      if (bar == nullptr) return false;
      term = skipSpaces(bytes(bar + 1));
      continue;
    }
    // The term's own leading '^' is no operator.
    const char* body = *term == '^' ? termText + 1 : termText;
    const char* op = std::strpbrk(body, "&^");
    if (op == nullptr) return true;
    if (*op == '^') {
      term = bytes(op);
      continue;
    }
    term = skipSpaces(bytes(op + 1));
    if (*term == 0) return true;
  }
}

bool wordMatch(const char* word, const char* pattern, const unsigned char* validCharMask,
               const unsigned char* validTrailingMask) {
  WordRules rules(bytes(word), bytes(pattern), validCharMask, validTrailingMask);
  return StarSearch<WordRules>(rules, bytes(word), bytes(pattern)).run(0, 0);
}

// Only the first place after a star is tried: the answer says whether a folder could
// lie there, and the walk never backtracks.
bool dirMatch(const char* directory, const char* pattern) {
  Text d = bytes(directory);
  Text p = bytes(pattern);
  for (;;) {
    if (*d == 0) return !holdsSeparator(p);
    if (*p == '*') {
      if (!holdsSeparator(p + 1)) return true;
      unsigned char next = lowerCase(p[1]);
      while (*d != 0 && lowerCase(*d) != next) ++d;
      if (*d == 0) return true;
      ++p;
      continue;
    }
    // The pattern's end never matches a character, not even one that folds to NUL.
    if (*p == 0 || (*p != '?' && lowerCase(*p) != lowerCase(*d))) return !holdsSeparator(p);
    ++d;
    ++p;
  }
}

}  // namespace kolvo

extern "C" KOLVO_EXPORT kbool kFileNameMatch(const char* text, const char* pattern) {
  if (text == nullptr || pattern == nullptr) return 0;
  return kolvo::guardEntry<kbool>(0, [&]() -> kbool { return kolvo::fileNameMatch(text, pattern) ? 1 : 0; });
}
