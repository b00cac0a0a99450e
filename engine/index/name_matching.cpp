#include "engine/index/name_matching.h"

#include <algorithm>
#include <cstddef>
#include <cstring>
#include <limits>
#include <memory_resource>
#include <new>
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
// '*a*a*a*a*b' against a long run of a's. StarSearch keeps the answer of every
// (text position, star) pair it has worked out, so each is worked out once, and it
// runs the nested scans on its own stack of frames, so a pattern with very many stars
// cannot exhaust the call stack. The answers are those of the plain recursion.
//
// A Rules type says how one matcher walks and what follows a star:
//   walk(text, pattern)   walks from the two positions to a star or to the answer;
//   isStar(pattern)       whether the pattern byte is a wildcard star;
//   scanHit(text, star)   whether the scan after that star tries this text position;
//   whenNoneFits(star)    the answer of the star when no scan position succeeds, or
//                         true when the star wins without a scan.
// scanHit positions are tried with walk(position, star + 1).
template <typename Rules>
class StarSearch {
 public:
  StarSearch(const Rules& rules, Text text, Text pattern)
      : rules(rules), text(text), pattern(pattern), arena(buffer, sizeof buffer),
        stars(&arena), memo(&arena), frames(&arena) {}

  bool run(std::size_t textAt, std::size_t patternAt) {
    WalkEnd end = rules.walk(textAt, patternAt);
    if (end.settled) return end.value;
    return starOutcome(end.text, end.star) != end.invert;
  }

 private:
  enum : unsigned char { unknown = 0, isFalse = 1, isTrue = 2 };

  struct Frame {
    std::size_t star;  // index into stars
    std::size_t from;  // the scan's first text position
    std::size_t at;    // the position being tried
  };

  // The answer of matching from the star at pattern position starAt with the text at
  // textAt.
  bool starOutcome(std::size_t textAt, std::size_t starAt) {
    if (rules.whenNoneFits(starAt)) return true;
    if (stars.empty()) prepare(starAt);
    std::size_t star = starIndex(starAt);
    unsigned char known = memoAt(textAt, star);
    if (known != unknown) return known == isTrue;
    return scan(textAt, star);
  }

  // Stars are met in pattern order, so those before the first one met never count.
  void prepare(std::size_t firstStar) {
    textLength = std::strlen(reinterpret_cast<const char*>(text));
    std::size_t count = 0;
    for (std::size_t p = firstStar; pattern[p] != 0; ++p) count += rules.isStar(p) ? 1 : 0;
    stars.reserve(count);
    for (std::size_t p = firstStar; pattern[p] != 0; ++p)
      if (rules.isStar(p)) stars.push_back(p);
    if (count > std::numeric_limits<std::size_t>::max() / (textLength + 1)) throw std::bad_alloc();
    memo.assign(count * (textLength + 1), unknown);
    frames.reserve(count);
  }

  std::size_t starIndex(std::size_t starAt) const {
    return static_cast<std::size_t>(std::lower_bound(stars.begin(), stars.end(), starAt) - stars.begin());
  }

  unsigned char& memoAt(std::size_t textAt, std::size_t star) { return memo[star * (textLength + 1) + textAt]; }

  // Whether some text position from `from` on, tried after the star, leads to a match.
  // A walk from a star only reaches later stars, so a frame never waits on its own star.
  // No walk from a star is negated: a star before '^' ends its term and wins without
  // a scan.
  bool scan(std::size_t from, std::size_t star) {
    frames.push_back({star, from, from});
    int handedUp = -1;  // a finished child frame's answer, or -1
    for (;;) {
      Frame& frame = frames.back();
      int found = -1;
      if (handedUp >= 0) {
        if (handedUp == 1) found = 1;
        else ++frame.at;
        handedUp = -1;
      }
      bool descended = false;
      while (found < 0) {
        if (frame.at >= textLength) {
          found = 0;
          break;
        }
        unsigned char known = memoAt(frame.at, frame.star);
        if (known != unknown) {
          found = known == isTrue;
          break;
        }
        std::size_t starAt = stars[frame.star];
        if (!rules.scanHit(frame.at, starAt)) {
          ++frame.at;
          continue;
        }
        WalkEnd end = rules.walk(frame.at, starAt + 1);
        bool fits;
        if (end.settled) {
          fits = end.value;
        } else if (rules.whenNoneFits(end.star)) {
          fits = true;
        } else {
          std::size_t next = starIndex(end.star);
          unsigned char nextKnown = memoAt(end.text, next);
          if (nextKnown == unknown) {
            frames.push_back({next, end.text, end.text});
            descended = true;
            break;
          }
          fits = nextKnown == isTrue;
        }
        if (fits) found = 1;
        else ++frame.at;
      }
      if (descended) continue;
      // Every position from the scan's start up to where it ended shares its answer.
      std::size_t last = std::min(frame.at, textLength);
      for (std::size_t k = frame.from; k <= last; ++k) memoAt(k, frame.star) = found ? isTrue : isFalse;
      frames.pop_back();
      if (frames.empty()) return found == 1;
      handedUp = found;
    }
  }

  const Rules& rules;
  Text text;
  Text pattern;
  std::size_t textLength = 0;
  // Short names and words never reach the heap.
  alignas(std::max_align_t) unsigned char buffer[2048];
  std::pmr::monotonic_buffer_resource arena;
  std::pmr::vector<std::size_t> stars;
  std::pmr::vector<unsigned char> memo;
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

  bool isStar(std::size_t p) const { return pattern[p] == '*'; }

  // The character after a star is looked for as a literal, even a '?' or a '*'.
  bool scanHit(std::size_t t, std::size_t star) const {
    unsigned char next = pattern[star + 1];
    return next != 0 && lowerCase(text[t]) == lowerCase(next);
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

  bool scanHit(std::size_t w, std::size_t star) const { return word[w] == pattern[star + 1]; }

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
