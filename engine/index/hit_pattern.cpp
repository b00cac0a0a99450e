// Splitting a hit pattern, and matching a token against one of its terms.
#include "engine/index/hit_pattern.h"

#include <algorithm>
#include <map>

#include "engine/kolvolib/lower_case_table.h"

namespace kolvo {

HitPattern::HitPattern(std::string_view pattern, const std::array<unsigned char, 256>& tokenPart, int nearDistance) {
  auto isTermChar = [&](char c) {
    auto u = static_cast<unsigned char>(c);
    return tokenPart[u] != 0 || c == '?' || c == '*' || c == '+';
  };
  uint32_t defaultDistance = nearDistance > 0 ? static_cast<uint32_t>(nearDistance) : 0;
  int lastTerm = -1;   // a term with only separators after it so far
  int pendingOp = -1;  // an operator still waiting for its partner
  size_t at = 0;
  while (at < pattern.size()) {
    char c = pattern[at];
    if (c == '<') {
      ++at;
      uint32_t distance = defaultDistance;
      if (at < pattern.size() && pattern[at] >= '0' && pattern[at] <= '9') {
        uint64_t written = 0;
        for (; at < pattern.size() && pattern[at] >= '0' && pattern[at] <= '9'; ++at)
          written = std::min<uint64_t>(written * 10 + static_cast<uint64_t>(pattern[at] - '0'), UINT32_MAX);
        distance = static_cast<uint32_t>(written);
      }
      ops.push_back(Op{distance, -1});
      if (lastTerm >= 0) terms[static_cast<size_t>(lastTerm)].nearOp = static_cast<int>(ops.size() - 1);
      lastTerm = -1;
      pendingOp = static_cast<int>(ops.size() - 1);
      continue;
    }
    if (!isTermChar(c)) {
      ++at;
      continue;
    }
    size_t begin = at;
    while (at < pattern.size() && isTermChar(pattern[at])) ++at;
    std::string_view run = pattern.substr(begin, at - begin);
    if (run == "+" && at < pattern.size() && pattern[at] == '(') {
      // The whole group is left out; an operator before it gets no partner.
      for (int depth = 0; at < pattern.size(); ++at) {
        if (pattern[at] == '(') ++depth;
        if (pattern[at] == ')' && --depth == 0) {
          ++at;
          break;
        }
      }
      lastTerm = -1;
      pendingOp = -1;
      continue;
    }
    Term term;
    term.text = std::string(run);
    term.skipped = run[0] == '+';
    term.partner = pendingOp >= 0;
    if (pendingOp >= 0) ops[static_cast<size_t>(pendingOp)].partner = static_cast<int>(terms.size());
    pendingOp = -1;
    terms.push_back(std::move(term));
    lastTerm = static_cast<int>(terms.size() - 1);
  }
  std::map<std::string, size_t> seen;
  for (Term& term : terms) {
    if (term.skipped) continue;
    auto [where, added] = seen.emplace(term.text, distinctTexts.size());
    if (added) distinctTexts.push_back(term.text);
    term.unique = where->second;
  }
}

bool termCoversToken(const char* token, size_t tokenSize, std::string_view term,
                     const std::array<unsigned char, 256>& tokenPart) {
  auto folded = [&](size_t i) { return static_cast<char>(lowerCase(static_cast<unsigned char>(token[i]))); };
  auto isWild = [&](char c) { return (c == '?' || c == '*') && tokenPart[static_cast<unsigned char>(c)] == 0; };

  if (term.find('*') == std::string_view::npos || !isWild('*')) {
    size_t t = 0;
    for (char c : term) {
      if (isWild(c)) {
        if (t < tokenSize) ++t;  // '?' may match nothing only at the token's end
      } else if (t < tokenSize && folded(t) == c) {
        ++t;
      } else {
        return false;
      }
    }
    return t == tokenSize;
  }

  // With stars: the set of term positions reachable after each token character, so
  // many stars cost term length times token length rather than a search of all splits.
  const size_t m = term.size();
  std::vector<char> current(m + 1, 0), next(m + 1, 0);
  auto closeOverStars = [&](std::vector<char>& states) {
    for (size_t k = 0; k < m; ++k)
      if (states[k] && term[k] == '*') states[k + 1] = 1;
  };
  current[0] = 1;
  closeOverStars(current);
  for (size_t t = 0; t < tokenSize; ++t) {
    std::fill(next.begin(), next.end(), 0);
    char c = folded(t);
    bool any = false;
    for (size_t k = 0; k < m; ++k) {
      if (!current[k]) continue;
      char p = term[k];
      if (p == '*' && isWild(p)) {
        next[k] = 1;
      } else if ((p == '?' && isWild(p)) || p == c) {
        next[k + 1] = 1;
      } else {
        continue;
      }
      any = true;
    }
    if (!any) return false;
    closeOverStars(next);
    current.swap(next);
  }
  // At the token's end the remaining '?' and '*' may match nothing.
  for (size_t k = 0; k < m; ++k)
    if (current[k] && isWild(term[k])) current[k + 1] = 1;
  return current[m] != 0;
}

}  // namespace kolvo
