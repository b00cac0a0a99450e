// The PDF analyzer on a whole file: indexed, then shown with and without wrapping.
#include "engine/kolvolib/error_reporting.h"
#include "engine/pdfanalyzer/pdf_analyzer.h"
#include "tests/fuzz/engine_index.h"
#include "tests/fuzz/fuzz_support.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  kolvofuzz::EngineIndex& index = kolvofuzz::EngineIndex::shared();
  std::string path = index.docs() + "input.pdf";
  kolvofuzz::writeFile(path, std::string_view(reinterpret_cast<const char*>(data), size));
  CPdfAnalyzer analyzer(index.get());
  // A fuzzed stream may claim to inflate far; a megabyte reaches every path as well.
  analyzer.inflatedLimit = 1 << 20;
  for (int wrap : {0, 40}) {
    try {
      if (wrap == 0) analyzer.indexFile(path.c_str(), 7);
      std::free(analyzer.fillDisplayBuffer(path.c_str(), 7, 1 << 16, wrap, true));
    } catch (const kolvo::AbortToken&) {
    }
  }
  return 0;
}
