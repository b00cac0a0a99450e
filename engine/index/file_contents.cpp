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
#include "engine/index/hit_pattern.h"
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
  return kolvo::termCoversToken(position, tokenSize, term, tokenPart);
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

  kolvo::HitPattern hitPattern(pattern, tokenPart, nearDistance);
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
