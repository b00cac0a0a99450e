// The C entries of the walk, the update and link compression.
#include "engine/index/kolvo_index.h"
#include "engine/kolvolib/entry_guard.h"
#include "include/kolvolib.h"

namespace {

template <typename Body>
void onIndex(CKolvoIndex* index, Body&& body) {
  kolvo::guardEntry([&] {
    if (index) body(*index);
  });
}

}  // namespace

extern "C" {

KOLVO_EXPORT void kidxSetIncludeCount(CKolvoIndex* index, int count) {
  onIndex(index, [&](CKolvoIndex& i) { i.setIncludeCount(count); });
}
KOLVO_EXPORT void kidxSetIncludePattern(CKolvoIndex* index, int i, const char* pattern, const char* analyzerName) {
  onIndex(index, [&](CKolvoIndex& x) { x.setIncludePattern(i, pattern, analyzerName); });
}
KOLVO_EXPORT void kidxSetExcludeCount(CKolvoIndex* index, int count) {
  onIndex(index, [&](CKolvoIndex& i) { i.setExcludeCount(count); });
}
KOLVO_EXPORT void kidxSetExcludePattern(CKolvoIndex* index, int i, const char* pattern) {
  onIndex(index, [&](CKolvoIndex& x) { x.setExcludePattern(i, pattern); });
}
KOLVO_EXPORT void kidxIndexDirectory(CKolvoIndex* index, const char* path, kulong dirId) {
  onIndex(index, [&](CKolvoIndex& i) { i.indexDirectory(path, dirId); });
}
KOLVO_EXPORT void kidxPrune(CKolvoIndex* index) { onIndex(index, [](CKolvoIndex& i) { i.prune(); }); }
KOLVO_EXPORT void kidxNewFileLinks(CKolvoIndex* index) { onIndex(index, [](CKolvoIndex& i) { i.newFileLinks(); }); }
KOLVO_EXPORT void kidxCompressLinks(CKolvoIndex* index) {
  onIndex(index, [](CKolvoIndex& i) { i.compressLinks(); });
}

}  // extern "C"
