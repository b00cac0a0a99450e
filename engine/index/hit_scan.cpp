// The scan runs forward. A term followed by a near operator that matches a word waits
// there until its level holds at a later word within the distance; a level holds where
// its first term holds (any other term of the rest holding would already be a hit). A
// term that holds late can settle words before it, so holding is passed on through a
// stack rather than by recursion.
#include "engine/index/hit_scan.h"

#include <algorithm>
#include <cstdint>

#include "engine/kolvolib/lower_case_table.h"

namespace kolvo {

HitScan::HitScan(const HitPattern& hitPattern, const std::array<unsigned char, 256>& part)
    : pattern(hitPattern), tokenPart(part) {
  for (const std::string& text : pattern.distinctTexts) {
    bool hasWild = false;
    bool anyLength = false;
    size_t fixed = 0;
    for (char c : text) {
      bool wildcard = (c == '?' || c == '*') && tokenPart[static_cast<unsigned char>(c)] == 0;
      hasWild = hasWild || wildcard;
      if (c == '*' && wildcard) anyLength = true;
      if (!wildcard) ++fixed;
    }
    wild.push_back(hasWild);
    // A '?' may stand for nothing at the end, so a term with wildcards is as short as its
    // literal characters and, with a '*', as long as any word.
    shortest = std::min(shortest, hasWild ? fixed : text.size());
    longest = std::max(longest, anyLength ? SIZE_MAX : text.size());
    auto first = static_cast<unsigned char>(text.empty() ? 0 : text[0]);
    bool wildFirst = text.empty() || ((first == '?' || first == '*') && tokenPart[first] == 0);
    if (wildFirst) firstBytes.fill(1);
    else firstBytes[first] = 1;
  }
  matched.assign(pattern.distinctTexts.size(), 0);
  ownerOf.assign(pattern.ops.size(), -1);
  levelsBegunBy.resize(pattern.terms.size());
  for (size_t t = 0; t < pattern.terms.size(); ++t)
    if (pattern.terms[t].nearOp >= 0) ownerOf[static_cast<size_t>(pattern.terms[t].nearOp)] = static_cast<int>(t);
  for (size_t o = 0; o < pattern.ops.size(); ++o)
    if (pattern.ops[o].partner >= 0) levelsBegunBy[static_cast<size_t>(pattern.ops[o].partner)].push_back(o);
  waiting.resize(pattern.terms.size());
  settled.resize(pattern.terms.size());
}

void HitScan::restart() {
  for (auto& list : waiting) list.clear();
  for (auto& list : settled) list.clear();
  pending.clear();
  words = 0;
  hit = false;
}

bool HitScan::matches(size_t distinct, const char* token, size_t size) const {
  const std::string& text = pattern.distinctTexts[distinct];
  if (wild[distinct]) return termCoversToken(token, size, text, tokenPart);
  if (text.size() != size) return false;
  for (size_t i = 0; i < size; ++i)
    if (static_cast<char>(lowerCase(static_cast<unsigned char>(token[i]))) != text[i]) return false;
  return true;
}

bool HitScan::takeCandidate(const char* token, size_t size) {
  const uint64_t at = words++;
  for (size_t u = 0; u < matched.size(); ++u) matched[u] = matches(u, token, size);
  for (size_t t = 0; t < pattern.terms.size(); ++t) {
    const HitPattern::Term& term = pattern.terms[t];
    if (term.skipped || !matched[term.unique]) continue;
    if (term.nearOp >= 0) {
      waiting[t].push_back(at);
      settled[t].push_back(0);
    } else {
      termHolds(t, at);
      if (hit) return true;
    }
  }
  return hit;
}

void HitScan::termHolds(size_t term, uint64_t at) {
  pending.clear();
  pending.emplace_back(term, at);
  while (!pending.empty()) {
    auto [held, where] = pending.back();
    pending.pop_back();
    if (!pattern.terms[held].partner) {
      hit = true;
      return;
    }
    for (size_t o : levelsBegunBy[held]) {
      if (ownerOf[o] < 0) continue;
      auto owner = static_cast<size_t>(ownerOf[o]);
      const uint32_t distance = pattern.ops[o].distance;
      const std::vector<uint64_t>& list = waiting[owner];
      std::vector<char>& done = settled[owner];
      auto before = static_cast<size_t>(std::lower_bound(list.begin(), list.end(), where) - list.begin());
      if (distance == 0) {
        // With no limit every earlier word is settled at once, so the settled ones are
        // always the first of the list.
        for (size_t j = before; j-- > 0 && !done[j];) {
          done[j] = 1;
          pending.emplace_back(owner, list[j]);
        }
      } else {
        uint64_t from = where > distance ? where - distance : 0;
        auto first = static_cast<size_t>(std::lower_bound(list.begin(), list.end(), from) - list.begin());
        for (size_t j = first; j < before; ++j) {
          if (done[j]) continue;
          done[j] = 1;
          pending.emplace_back(owner, list[j]);
        }
      }
    }
  }
}

}  // namespace kolvo
