// The carry of the markup analyzers between the chunks of one file.
#include "engine/analyzers/markup_carry.h"

#include <algorithm>
#include <cstring>

#include "engine/analyzers/file_analyzer.h"
#include "engine/index/kolvo_index.h"

namespace {

// The longest unfinished word carried to the next chunk, as the generic splitting keeps it.
constexpr size_t pendingWordLimit = 1022;

}  // namespace

uint32_t MarkupCarry::indexChunk(CFileAnalyzer& analyzer, CKolvoIndex& index, char* buffer, uint32_t length,
                                 uint32_t chunkFileId, bool firstChunk) {
  if (firstChunk) {
    held.clear();
    carriedWord = 0;
  }
  fileId = chunkFileId;
  // The read loop puts the pending word ahead of every chunk after the first.
  passThrough = std::min(carriedWord, length);
  uint32_t indexed;
  if (held.empty()) {
    indexed = analyzer.CFileAnalyzer::indexBuffer(buffer, length, fileId, firstChunk);
  } else {
    joined.assign(buffer, buffer + passThrough);
    joined.insert(joined.end(), held.begin(), held.end());
    joined.insert(joined.end(), buffer + passThrough, buffer + length);
    held.clear();
    indexed = analyzer.CFileAnalyzer::indexBuffer(joined.data(), static_cast<uint32_t>(joined.size()), fileId,
                                                  firstChunk);
  }
  carriedWord = static_cast<uint32_t>(index.pendingText.size());
  return indexed;
}

void MarkupCarry::finish(CFileAnalyzer& analyzer, CKolvoIndex& index, std::string& pending, bool whole) {
  if (!whole || held.empty()) {
    held.clear();
    return;
  }
  std::string last = pending + held;
  held.clear();
  carriedWord = static_cast<uint32_t>(pending.size());
  inputEnds = true;
  index.pendingText.clear();
  indexChunk(analyzer, index, last.data(), static_cast<uint32_t>(last.size()), fileId, false);
  inputEnds = false;
  pending = index.pendingText;
}

bool MarkupCarry::give(const CKolvoIndex& index, size_t length, unsigned char byte, char* c, char** read,
                       char** wordStart, char** write) {
  bool inWord = *write != *wordStart;
  if (index.validCharMask[byte] || (inWord && index.validTrailingMask[byte])) {
    *read += length - 1;
    *c = static_cast<char>(byte);
    return false;
  }
  if (inWord) {
    *c = 0;
    return false;
  }
  *read += length;
  return true;
}

void MarkupCarry::hold(char** read, char* end, char** wordStart, char** write, std::string& pendingText) {
  pendingText.assign(*wordStart, std::min(static_cast<size_t>(*write - *wordStart), pendingWordLimit));
  held.assign(*read, end);
  *wordStart = *write;
  *read = end;
}

bool MarkupCarry::holdDisplayTail(char** read, uint32_t* remaining, std::string& pending) {
  pending.assign(*read - 1, *remaining + 1);
  *read += *remaining;
  *remaining = 0;
  return true;
}
