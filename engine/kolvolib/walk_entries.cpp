// The C entries of the walk, the updates, link compression and the integrity check.
#include <cstdlib>
#include <cstring>
#include <new>
#include <string>
#include <vector>

#include "engine/index/integrity_check.h"
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
  onIndex(index, [&](CKolvoIndex& i) {
    // The walk records every entry under dirId: it must be an entry, not an offset into a name.
    kolvo::kolvoCheck(i.files != nullptr && i.files->isFileNumber(dirId), "directory number");
    i.indexDirectory(path, dirId);
  });
}
KOLVO_EXPORT void kidxPrune(CKolvoIndex* index) { onIndex(index, [](CKolvoIndex& i) { i.prune(); }); }
KOLVO_EXPORT void kidxUpdatePaths(CKolvoIndex* index, const char* const* paths, kulong count) {
  onIndex(index, [&](CKolvoIndex& i) {
    kolvo::kolvoCheck(paths != nullptr || count == 0, "no paths to update");
    std::vector<std::string> named;
    named.reserve(count);
    for (kulong at = 0; at < count; ++at)
      if (paths[at]) named.emplace_back(paths[at]);
    i.updatePaths(named);
  });
}
KOLVO_EXPORT void kidxNewFileLinks(CKolvoIndex* index) { onIndex(index, [](CKolvoIndex& i) { i.newFileLinks(); }); }
KOLVO_EXPORT void kidxCompressLinks(CKolvoIndex* index) {
  onIndex(index, [](CKolvoIndex& i) { i.compressLinks(); });
}
KOLVO_EXPORT char* kidxCheckIndex(CKolvoIndex* index) {
  return kolvo::guardEntry<char*>(nullptr, [&]() -> char* {
    kolvo::kolvoCheck(index != nullptr, "check of no index");
    std::string text;
    for (const std::string& line : kolvo::checkIndex(*index)) text += line + "\n";
    // Handed over with malloc: the caller frees it with kDeleteChar.
    char* block = static_cast<char*>(std::malloc(text.size() + 1));
    if (!block) throw std::bad_alloc();
    std::memcpy(block, text.c_str(), text.size() + 1);
    return block;
  });
}

}  // extern "C"
