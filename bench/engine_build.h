// A build of a tree through the C interface with the engine linked directly, as the
// build-and-update benchmark makes it; the kolvocmd benchmark repeats it to compare.
#pragma once

#include <string>
#include <utility>
#include <vector>

#include "bench/bench_tree.h"
#include "bench/table_bench_support.h"
#include "include/kolvolib.h"

namespace kolvobench {

// Include patterns, each with the analyzer that reads what it matches.
using IncludePatterns = std::vector<std::pair<std::string, std::string>>;
inline const IncludePatterns textOnly{{"*.txt", "generic"}};

// Letters as word characters, whole files read, the includes given, and members and
// mail copies written below temporaryDirectory when one is named.
void configureEngineIndex(CKolvoIndex* index, const IncludePatterns& includes = textOnly,
                          const std::string& temporaryDirectory = "");
// Builds an index of root in the folder at (which must exist) and stores it there.
CKolvoIndex* buildEngineIndex(const std::string& root, const std::string& at, const IncludePatterns& includes = textOnly,
                              const std::string& temporaryDirectory = "");

// A generated tree in a scratch folder and its index, built and stored in "build/"
// there and left open; engine errors and warnings are printed on stderr.
struct GeneratedIndex {
  explicit GeneratedIndex(int fileCount);
  ~GeneratedIndex();
  GeneratedIndex(const GeneratedIndex&) = delete;
  GeneratedIndex& operator=(const GeneratedIndex&) = delete;

  ScratchDir scratch;
  BenchTree tree;
  std::string at;
  CKolvoIndex* index = nullptr;
};

}  // namespace kolvobench
