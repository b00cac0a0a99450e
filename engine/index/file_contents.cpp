// The display text of one file and its hit search. A pattern is evaluated once over
// every token of the text, from the last token to the first, so that near terms look
// only at results already known: the work grows with tokens times terms, never with
// the depth to which near terms chain, and nothing recurses.
#include "engine/index/file_contents.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <limits>
#include <map>

#include "engine/analyzers/file_analyzer.h"
#include "engine/index/kolvo_index.h"
#include "engine/index/resource_limits.h"
#include "engine/kolvolib/error_reporting.h"
#include "engine/kolvolib/lower_case_table.h"
#include "engine/storage/file_storage.h"

namespace {

// A file inside more archives than this is refused: the chain of parents is damaged.
constexpr size_t maxAncestors = kolvo::limits::fileAncestors;
constexpr size_t none = std::numeric_limits<size_t>::max();

// The temporary file of the archive level being read; deleted when the next level
// replaces it and on every way out of construction.
class ExtractedFile {
 public:
  ExtractedFile() = default;
  ~ExtractedFile() { drop(); }
  ExtractedFile(const ExtractedFile&) = delete;
  ExtractedFile& operator=(const ExtractedFile&) = delete;

  void replace(const std::string& next) {
    if (next != current) drop();
    current = next;
  }

 private:
  void drop() {
    if (!current.empty()) std::remove(current.c_str());
    current.clear();
  }
  std::string current;
};

}  // namespace

// A pattern split into terms and near operators. Level 0 is the whole pattern; level
// o + 1 is what follows operator o, starting with its partner term.
struct CFileContents::HitPattern {
  struct Term {
    std::string text;
    bool skipped = false;  // written with a leading '+'
    bool partner = false;  // the first term after a near operator
    int nearOp = -1;       // the operator that follows the term, if any
    size_t unique = 0;     // index into distinctTexts
  };
  struct Op {
    uint32_t distance = 0;  // 0: no limit
    int partner = -1;
  };

  std::vector<Term> terms;
  std::vector<Op> ops;
  std::vector<std::string> distinctTexts;

  HitPattern(std::string_view pattern, const std::array<unsigned char, 256>& tokenPart, int nearDistance) {
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
};

CFileContents::CFileContents(CKolvoIndex* owner, uint32_t fileNumber, uint32_t maxBytesToRead, int wrap,
                             bool stripMarkup, int near)
    : index(owner), maxBytes(maxBytesToRead), wrapWidth(wrap), nearDistance(near) {
  kolvo::kolvoCheck(index != nullptr && index->files != nullptr, "index without a file table");
  CFileStorage& files = *index->files;
  kolvo::kolvoCheck(files.isFileNumber(fileNumber), "file number");
  if (files.getParent(fileNumber) == 0) kolvo::throwKolvoError("NoFileContentsForDir");

  // The file, then its archives from the innermost out, then its folder.
  std::vector<uint32_t> chain{fileNumber};
  for (uint32_t parent = files.getParent(fileNumber); parent != 0; parent = files.getParent(parent)) {
    kolvo::kolvoCheck(files.isFileNumber(parent), "parent of a file entry");
    chain.push_back(parent);
    if (chain.size() - 1 > maxAncestors) kolvo::throwKolvoError("ArchivesNestedTooDeep");
  }

  size_t level = chain.size() - 2;
  std::string logicalPath = std::string(files.getText(chain.back())) + "/" + files.getText(chain[level]);
  std::string reading = logicalPath;
  ExtractedFile extracted;
  while (level > 0) {
    isExtracted = true;
    --level;
    const char* member = files.getText(chain[level]);
    std::string next = index->extractToTempFile(reading.c_str(), member, chain[level]);
    if (next.empty()) kolvo::throwKolvoError("ArchiveExtractError");
    extracted.replace(next);
    reading = next;
    logicalPath += "/";
    logicalPath += member;
  }
  path = reading;

  tokenStart = index->validCharMask;
  tokenPart = index->validTrailingMask;
  // The terminating NUL never continues a token, whatever the masks say.
  tokenStart[0] = 0;
  tokenPart[0] = 0;

  CFileAnalyzer* analyzer = index->analyzerThatMatches(logicalPath.c_str());
  if (!analyzer) {
    auto generic = index->analyzerMap.find("generic");
    if (generic != index->analyzerMap.end()) analyzer = generic->second.get();
  }
  kolvo::kolvoCheck(analyzer != nullptr, "no generic analyzer");
  text.reset(analyzer->fillDisplayBuffer(path.c_str(), fileNumber, maxBytes, wrapWidth, stripMarkup));
  length = text ? std::strlen(text.get()) : 0;
  lineCursor = text.get();
}

CFileContents::~CFileContents() = default;

size_t CFileContents::tokenEnd(size_t offset) const {
  const char* at = text.get() + offset + 1;
  while (isPart(static_cast<unsigned char>(*at))) ++at;
  return static_cast<size_t>(at - text.get());
}

size_t CFileContents::nextTokenStart(size_t offset) const {
  const char* at = text.get() + offset;
  while (*at != 0 && !isStart(static_cast<unsigned char>(*at))) ++at;
  return static_cast<size_t>(at - text.get());
}

size_t CFileContents::tokenLength(size_t offset) const {
  if (!text || offset >= length || !isStart(static_cast<unsigned char>(text.get()[offset]))) return 0;
  return tokenEnd(offset) - offset;
}

bool CFileContents::isMatch(const char* position, std::string_view term, bool atTokenStart) const {
  auto first = static_cast<unsigned char>(*position);
  if (first == 0 || !(atTokenStart ? isStart(first) : isPart(first))) return false;
  size_t tokenSize = 1;
  while (isPart(static_cast<unsigned char>(position[tokenSize]))) ++tokenSize;
  auto folded = [&](size_t i) { return static_cast<char>(kolvo::lowerCase(static_cast<unsigned char>(position[i]))); };
  auto isWild = [&](char c) { return (c == '?' || c == '*') && !isPart(static_cast<unsigned char>(c)); };

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

void CFileContents::forgetTokens() {
  tokens.clear();
  tokensKnown = false;
  cachedHits.clear();
  cachedPattern.clear();
  hitsKnown = false;
}

const std::vector<size_t>& CFileContents::hitsOf(std::string_view pattern) {
  if (hitsKnown && cachedPattern == pattern) return cachedHits;
  if (!tokensKnown) {
    tokens.clear();
    if (text)
      for (size_t at = nextTokenStart(0); at < length; at = nextTokenStart(tokenEnd(at))) tokens.push_back(at);
    tokensKnown = true;
  }
  cachedHits.clear();
  hitsKnown = false;

  HitPattern hitPattern(pattern, tokenPart, nearDistance);
  const auto& terms = hitPattern.terms;
  const auto& ops = hitPattern.ops;
  const size_t termCount = terms.size();
  std::vector<char> matched(hitPattern.distinctTexts.size());
  std::vector<char> contributes(termCount);
  std::vector<char> anyFrom(termCount + 1);
  std::vector<char> levelHit(ops.size());
  // For each operator, the nearest later token (by number) that is a hit of its level.
  std::vector<size_t> nextLevelHit(ops.size(), none);

  for (size_t i = tokens.size(); i-- > 0;) {
    const char* at = text.get() + tokens[i];
    for (size_t u = 0; u < matched.size(); ++u) matched[u] = isMatch(at, hitPattern.distinctTexts[u], true);
    for (size_t t = 0; t < termCount; ++t) {
      const auto& term = terms[t];
      bool hit = !term.skipped && matched[term.unique];
      if (hit && term.nearOp >= 0) {
        const auto& op = ops[static_cast<size_t>(term.nearOp)];
        size_t later = nextLevelHit[static_cast<size_t>(term.nearOp)];
        hit = later != none && (op.distance == 0 || later - i <= op.distance);
      }
      contributes[t] = hit;
    }
    anyFrom[termCount] = 0;
    for (size_t t = termCount; t-- > 0;)
      anyFrom[t] = anyFrom[t + 1] || (!terms[t].partner && contributes[t]);
    for (size_t o = 0; o < ops.size(); ++o) {
      int partner = ops[o].partner;
      levelHit[o] = partner >= 0 && (contributes[static_cast<size_t>(partner)] || anyFrom[static_cast<size_t>(partner) + 1]);
    }
    for (size_t o = 0; o < ops.size(); ++o)
      if (levelHit[o]) nextLevelHit[o] = i;
    if (anyFrom[0]) cachedHits.push_back(tokens[i]);
  }
  std::reverse(cachedHits.begin(), cachedHits.end());
  cachedPattern = std::string(pattern);
  hitsKnown = true;
  return cachedHits;
}

size_t CFileContents::firstHitFrom(size_t offset, std::string_view pattern) {
  if (!text || offset >= length) return length;
  const std::vector<size_t>& hits = hitsOf(pattern);
  // From inside a word the search goes on with the next word: a word's tail is no hit.
  auto after = std::upper_bound(tokens.begin(), tokens.end(), offset);
  if (after != tokens.begin()) {
    size_t start = *(after - 1);
    if (start < offset && tokenEnd(start) > offset) offset = tokenEnd(start);
  }
  auto hit = std::lower_bound(hits.begin(), hits.end(), offset);
  return hit == hits.end() ? length : *hit;
}

size_t CFileContents::searchBuffer(size_t offset, std::string_view pattern) {
  size_t hit = firstHitFrom(offset, pattern);
  return hit < length ? hit + 1 : 0;
}

bool CFileContents::containsHit(std::string_view pattern) { return firstHitFrom(0, pattern) < length; }

void CFileContents::convertToOutline(std::string_view pattern) {
  if (!text) return;
  const std::vector<size_t> hits = hitsOf(pattern);
  const size_t minLength = index->minWordLength;
  const size_t maxLength = index->maxWordLength;  // 0: no maximum
  char* buffer = text.get();
  size_t write = 0;
  size_t searchFrom = 0;
  for (size_t hit : hits) {
    if (hit < searchFrom) continue;
    size_t size = tokenLength(hit);
    if (size < minLength || (maxLength != 0 && size > maxLength)) continue;
    size_t lineStart = hit;
    while (lineStart > searchFrom && buffer[lineStart - 1] != '\n') --lineStart;
    const char* feed = static_cast<const char*>(std::memchr(buffer + hit, '\n', length - hit));
    size_t lineEnd = feed ? static_cast<size_t>(feed - buffer) + 1 : length;
    std::memmove(buffer + write, buffer + lineStart, lineEnd - lineStart);
    write += lineEnd - lineStart;
    searchFrom = lineEnd;
  }
  buffer[write] = '\0';
  length = write;
  lineCursor = buffer;
  forgetTokens();
}

const char* CFileContents::nextLine() {
  if (!lineCursor || *lineCursor == 0) kolvo::throwKolvoError("EndOfContents");
  const char* feed = std::strchr(lineCursor, '\n');
  size_t size = feed ? static_cast<size_t>(feed - lineCursor) + 1 : std::strlen(lineCursor);
  currentLine.assign(lineCursor, size);
  lineCursor += size;
  return currentLine.c_str();
}
