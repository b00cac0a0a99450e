// The HTML and RTF targets: one file's bytes indexed through the read loop and shown
// through the display loop (displayStream), both in chunks whose sizes the input chooses, so that every
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
int fuzzMarkup(const uint8_t* data, size_t size) {
  InputBytes input(data, size);
  uint8_t options = input.take();
  uint8_t sizes[3] = {input.take(), input.take(), input.take()};
  static const int wraps[4] = {0, 1, 20, 72};
  ChunkedBytes bytes(input.rest(), sizes);
  Analyzer analyzer(EngineIndex::shared().get());
  auto read = [&](char* buffer, size_t asked) { return bytes.read(buffer, asked); };
  try {
    analyzer.indexStream(read, 7, "fuzz");
    bytes.rewind();
    CFileAnalyzer::DisplayBuffers buffers;
    std::string shown;
    analyzer.displayStream(read, wraps[options & 3], (options & 4) == 0, buffers, [&](const char* text, size_t size) {
      shown.append(text, size);
      return true;
    });
  } catch (const kolvo::AbortToken&) {
  }
  return 0;
}

}  // namespace kolvofuzz
