#include "bench/engine_build.h"

#include <cstdio>
#include <filesystem>

namespace kolvobench {

void configureEngineIndex(CKolvoIndex* index, const IncludePatterns& includes, const std::string& temporaryDirectory) {
  for (int c = 'a'; c <= 'z'; ++c) kidxSetValidCharMask(index, c, 1);
  for (int c = 'A'; c <= 'Z'; ++c) kidxSetValidCharMask(index, c, 1);
  kidxSetMaxPerFileRead(index, 100000000);
  kidxCreateAnalyzers(index);
  kidxSetIncludeCount(index, static_cast<int>(includes.size()));
  for (size_t i = 0; i < includes.size(); ++i)
    kidxSetIncludePattern(index, static_cast<int>(i), includes[i].first.c_str(), includes[i].second.c_str());
  if (!temporaryDirectory.empty()) kidxSetTemporaryDirectory(index, temporaryDirectory.c_str());
}

CKolvoIndex* buildEngineIndex(const std::string& root, const std::string& at, const IncludePatterns& includes,
                              const std::string& temporaryDirectory) {
  CKolvoIndex* index = kCreateNewIndex(1, at.c_str());
  configureEngineIndex(index, includes, temporaryDirectory);
  kidxEmptyIndex(index);
  kidxNewFileLinks(index);
  kulong entry = kfsAddFile(kidxGetFiles(index), root.c_str());
  kidxIndexDirectory(index, root.c_str(), entry);
  kidxCompressLinks(index);
  kidxStoreStorage(index, at.c_str());
  return index;
}

namespace {
void printEngineError(const char* code, const char* detail) { std::fprintf(stderr, "engine: %s %s\n", code, detail); }
}  // namespace

GeneratedIndex::GeneratedIndex(int fileCount)
    : tree(scratch.slashed() + "tree", fileCount), at(scratch.slashed() + "build/") {
  kSetThrowCallBack(printEngineError);
  kSetWarningCallBack(printEngineError);
  tree.generate();
  tree.warm();
  std::filesystem::create_directories(at);
  index = buildEngineIndex(tree.root(), at);
}

GeneratedIndex::~GeneratedIndex() { kidxClearIndex(index); }

}  // namespace kolvobench
