// "externanalyzers.txt" of the kolvo directory as the engine reads it when it makes its
// analyzers: names, patterns and commands, three value lines each. Nothing is run.
#include <filesystem>
#include <memory>

#include "engine/index/kolvo_index.h"
#include "include/kolvolib.h"
#include "tests/fuzz/fuzz_support.h"

namespace {

void quiet(const char*, const char*) {}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static const std::string kolvo = kolvofuzz::scratch() + "kolvo";
  static std::unique_ptr<CKolvoIndex> index = [] {
    kSetThrowCallBack(quiet);
    kSetWarningCallBack(quiet);
    std::filesystem::create_directories(kolvo + "/indexes/fuzz/build_1");
    return std::make_unique<CKolvoIndex>(true, kolvo + "/indexes/fuzz/build_1/");
  }();
  kolvofuzz::writeFile(kolvo + "/externanalyzers.txt",
                       std::string_view(reinterpret_cast<const char*>(data), size));
  kidxCreateAnalyzers(index.get());
  // Every declared name can be chosen by an include pattern.
  kidxSetIncludeCount(index.get(), 1);
  kidxSetIncludePattern(index.get(), 0, "*.x", "generic");
  return 0;
}
