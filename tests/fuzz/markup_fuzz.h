// The HTML and RTF targets: one file's bytes indexed through the read loop and shown
// through the display loop, both in chunks whose sizes the input chooses, so that every
// entity, escape, control word and UTF-8 sequence can be cut by a chunk end. The input:
// a byte of display options, three chunk sizes (see ChunkedBytes), then the file.
#pragma once

#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "engine/kolvolib/error_reporting.h"
#include "tests/fuzz/engine_index.h"
#include "tests/fuzz/fuzz_support.h"

namespace kolvofuzz {

template <class Analyzer>
class ChunkedMarkup : public Analyzer {
 public:
  using Analyzer::Analyzer;

  // The display loop of fillDisplayBuffer over bytes read in the chunks of in: a chunk
  // is the carried bytes plus one read, and a short read is the end.
  std::string display(ChunkedBytes& in, int wrapWidth, bool stripMarkup) {
    constexpr uint32_t capacity = CFileAnalyzer::chunkCapacity;
    CKolvoIndex& owner = *this->index;
    std::vector<char> chunk(capacity + 1);
    std::vector<char> stripped(2 * size_t{capacity});
    std::string shown;
    int hookState = 0;
    bool firstChunk = true;
    uint32_t carry = 0;
    for (;;) {
      size_t asked = capacity - carry;
      size_t got = in.read(chunk.data() + carry, asked);
      auto content = static_cast<uint32_t>(carry + got);
      if (content == 0) break;
      owner.pendingText.clear();
      this->lastDisplayChunk = got < asked;
      uint32_t made = this->stripBuffer(chunk.data(), content, stripped.data(), static_cast<uint32_t>(stripped.size()),
                                        wrapWidth, stripMarkup, firstChunk, &hookState);
      this->lastDisplayChunk = false;
      shown.append(stripped.data(), made);
      if (!owner.pendingText.empty() && got > 0) {
        carry = static_cast<uint32_t>(std::min<size_t>(owner.pendingText.size(), capacity));
        std::memcpy(chunk.data(), owner.pendingText.data(), carry);
      } else {
        carry = 0;
      }
      firstChunk = false;
    }
    return shown;
  }
};

template <class Analyzer>
int fuzzMarkup(const uint8_t* data, size_t size) {
  InputBytes input(data, size);
  uint8_t options = input.take();
  uint8_t sizes[3] = {input.take(), input.take(), input.take()};
  static const int wraps[4] = {0, 1, 20, 72};
  ChunkedBytes bytes(input.rest(), sizes);
  ChunkedMarkup<Analyzer> analyzer(EngineIndex::shared().get());
  try {
    analyzer.indexStream([&](char* buffer, size_t asked) { return bytes.read(buffer, asked); }, 7, "fuzz");
    bytes.rewind();
    analyzer.display(bytes, wraps[options & 3], (options & 4) == 0);
  } catch (const kolvo::AbortToken&) {
  }
  return 0;
}

}  // namespace kolvofuzz
