// The C entries of the analyzer registry and of the index's matchers.
#include "engine/index/kolvo_index.h"
#include "engine/kolvolib/entry_guard.h"
#include "include/kolvolib.h"

using kolvo::guardEntry;

extern "C" {

KOLVO_EXPORT void kidxCreateAnalyzers(CKolvoIndex* index) {
  guardEntry([&] {
    if (index) index->createAnalyzers();
  });
}

KOLVO_EXPORT kbool kidxDoesWordMatch(CKolvoIndex* index, const char* word, const char* pattern) {
  return guardEntry<kbool>(0, [&]() -> kbool { return index && word && pattern && index->doesWordMatch(word, pattern); });
}

KOLVO_EXPORT kbool kidxDirMatch(CKolvoIndex* index, const char* directory, const char* pattern) {
  return guardEntry<kbool>(0, [&]() -> kbool {
    return index && directory && pattern && index->dirMatch(directory, pattern);
  });
}

}  // extern "C"
