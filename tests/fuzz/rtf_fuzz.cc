// The RTF analyzer's index and display hooks over chunks of fuzz-chosen sizes.
#include "engine/analyzers/rtf_analyzer.h"
#include "tests/fuzz/markup_fuzz.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  return kolvofuzz::fuzzMarkup<CRtfAnalyzer>(data, size);
}
