// The PDF content interpreter alone: one inflated content stream into text. The output
// has exactly the room the interpreter promises to need (the input's length), so a
// write past it is caught. The first byte chooses the wrap width.
#include <memory>

#include "engine/pdfanalyzer/pdf_analyzer.h"
#include "tests/fuzz/engine_index.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  kolvofuzz::InputBytes input(data, size);
  int wrap = input.take() % 100;
  std::string_view stream = input.rest();
  std::unique_ptr<char[]> out(new char[stream.size()]);
  size_t made = CPdfAnalyzer::clearText(stream.data(), stream.size(), out.get(), wrap);
  if (made > stream.size()) __builtin_trap();
  return 0;
}
