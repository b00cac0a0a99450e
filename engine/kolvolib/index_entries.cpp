// The C entries of an index: its life cycle, settings, counters, masks, tables and the
// work on words and skip words. Each is a few lines inside the one guard.
#include <poll.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <new>

#include "engine/index/kolvo_index.h"
#include "engine/kolvolib/entry_guard.h"
#include "engine/kolvolib/time_conversion.h"
#include "include/kolvolib.h"

using kolvo::guardEntry;

namespace {

// Runs body on a live index; a null handle is ignored.
template <typename Body>
void onIndex(CKolvoIndex* index, Body&& body) {
  guardEntry([&] {
    if (index) body(*index);
  });
}

template <typename Result, typename Body>
Result fromIndex(CKolvoIndex* index, Result nothing, Body&& body) {
  return guardEntry<Result>(nothing, [&]() -> Result { return index ? body(*index) : nothing; });
}

}  // namespace

extern "C" {

KOLVO_EXPORT CKolvoIndex* kCreateNewIndex(kbool isNew, const char* indexPath) {
  return guardEntry<CKolvoIndex*>(nullptr, [&] { return new CKolvoIndex(isNew != 0, indexPath ? indexPath : ""); });
}

KOLVO_EXPORT void kidxClearIndex(CKolvoIndex* index) {
  guardEntry([&] {
    if (!index) return;
    index->clear();  // when clear fails the object is left alive, as it was
    delete index;
  });
}

KOLVO_EXPORT void kidxEmptyIndex(CKolvoIndex* index) { onIndex(index, [](CKolvoIndex& i) { i.emptyIndex(); }); }

KOLVO_EXPORT void kidxStoreStorage(CKolvoIndex* index, const char* path) {
  onIndex(index, [&](CKolvoIndex& i) { i.storeStorage(path ? path : i.indexPath); });
}

KOLVO_EXPORT void kidxIndexWord(CKolvoIndex* index, const char* word, kulong fileId) {
  onIndex(index, [&](CKolvoIndex& i) {
    if (word) i.indexWord(word, fileId);
  });
}

KOLVO_EXPORT void kidxIndexExclusions(CKolvoIndex* index) {
  onIndex(index, [](CKolvoIndex& i) { i.indexExclusions(); });
}

// ---- Settings ----

KOLVO_EXPORT void kidxSetMinWordLength(CKolvoIndex* index, kulong length) {
  onIndex(index, [&](CKolvoIndex& i) { i.minWordLength = length; });
}
KOLVO_EXPORT void kidxSetMaxWordLength(CKolvoIndex* index, kulong length) {
  onIndex(index, [&](CKolvoIndex& i) { i.maxWordLength = length; });
}
KOLVO_EXPORT void kidxSetMaxPerFileRead(CKolvoIndex* index, kulong bytes) {
  onIndex(index, [&](CKolvoIndex& i) { i.maxPerFileRead = bytes; });
}
KOLVO_EXPORT void kidxSetShowStatus(CKolvoIndex* index, int level) {
  onIndex(index, [&](CKolvoIndex& i) { i.statusLevel = level & 0xFF; });
}
KOLVO_EXPORT void kidxSetUseRanking(CKolvoIndex* index, kbool on) {
  onIndex(index, [&](CKolvoIndex& i) { i.useRanking = on != 0; });
}
KOLVO_EXPORT void kidxSetTrackAll(CKolvoIndex* index, kbool on) {
  onIndex(index, [&](CKolvoIndex& i) { i.trackAll = on != 0; });
}
KOLVO_EXPORT void kidxSetIsUpdate(CKolvoIndex* index, kbool on) {
  onIndex(index, [&](CKolvoIndex& i) { i.isUpdate = on != 0; });
}
KOLVO_EXPORT void kidxSetSavePassword(CKolvoIndex* index, kbool on) {
  onIndex(index, [&](CKolvoIndex& i) { i.savePassword = on != 0; });
}
KOLVO_EXPORT void kidxSetNumberHandling(CKolvoIndex* index, int32_t handling) {
  onIndex(index, [&](CKolvoIndex& i) { i.numberHandling = handling; });
}
KOLVO_EXPORT void kidxSetInternationalChar(CKolvoIndex* index, int32_t value) {
  onIndex(index, [&](CKolvoIndex& i) { i.internationalChar = value; });
}
KOLVO_EXPORT void kidxSetTimeBase(CKolvoIndex* index, double time) {
  onIndex(index, [&](CKolvoIndex& i) { i.timeBase = kolvo::unixFromMacTime(time); });
}
KOLVO_EXPORT void kidxSetTemporaryDirectory(CKolvoIndex* index, const char* path) {
  onIndex(index, [&](CKolvoIndex& i) { i.temporaryDirectory = path ? path : ""; });
}
KOLVO_EXPORT void kidxSetSkipFilePath(CKolvoIndex* index, const char* path) {
  onIndex(index, [&](CKolvoIndex& i) { i.skipFilePath = path ? path : ""; });
}

// ---- Counters ----

KOLVO_EXPORT void kidxSetBytesRead(CKolvoIndex* index, double bytes) {
  onIndex(index, [&](CKolvoIndex& i) { i.bytesRead = bytes; });
}
KOLVO_EXPORT double kidxGetBytesRead(CKolvoIndex* index) {
  return fromIndex<double>(index, 0.0, [](CKolvoIndex& i) { return i.bytesRead; });
}
KOLVO_EXPORT void kidxSetDirectoriesRead(CKolvoIndex* index, kulong count) {
  onIndex(index, [&](CKolvoIndex& i) { i.directoriesRead = count; });
}
KOLVO_EXPORT kulong kidxGetDirectoriesRead(CKolvoIndex* index) {
  return fromIndex<kulong>(index, 0, [](CKolvoIndex& i) { return i.directoriesRead; });
}
KOLVO_EXPORT void kidxSetFilesIndexed(CKolvoIndex* index, kulong count) {
  onIndex(index, [&](CKolvoIndex& i) { i.filesIndexed = count; });
}
KOLVO_EXPORT kulong kidxGetFilesIndexed(CKolvoIndex* index) {
  return fromIndex<kulong>(index, 0, [](CKolvoIndex& i) { return i.filesIndexed; });
}
KOLVO_EXPORT void kidxSetContentsIndexed(CKolvoIndex* index, kulong count) {
  onIndex(index, [&](CKolvoIndex& i) { i.contentsIndexed = count; });
}
KOLVO_EXPORT kulong kidxGetContentsIndexed(CKolvoIndex* index) {
  return fromIndex<kulong>(index, 0, [](CKolvoIndex& i) { return i.contentsIndexed; });
}
KOLVO_EXPORT void kidxSetWordsIndexed(CKolvoIndex* index, kulong count) {
  onIndex(index, [&](CKolvoIndex& i) { i.wordsIndexed = count; });
}
KOLVO_EXPORT kulong kidxGetWordsIndexed(CKolvoIndex* index) {
  return fromIndex<kulong>(index, 0, [](CKolvoIndex& i) { return i.wordsIndexed; });
}

// ---- Tables ----

KOLVO_EXPORT CTextStorage* kidxGetWords(CKolvoIndex* index) {
  return fromIndex<CTextStorage*>(index, nullptr, [](CKolvoIndex& i) { return i.words; });
}
KOLVO_EXPORT CFileStorage* kidxGetFiles(CKolvoIndex* index) {
  return fromIndex<CFileStorage*>(index, nullptr, [](CKolvoIndex& i) { return i.files; });
}
KOLVO_EXPORT CTextStorage* kidxGetSkipWords(CKolvoIndex* index) {
  return fromIndex<CTextStorage*>(index, nullptr, [](CKolvoIndex& i) { return i.skippedWords; });
}
KOLVO_EXPORT CFileLinks* kidxGetLinks(CKolvoIndex* index) {
  return fromIndex<CFileLinks*>(index, nullptr, [](CKolvoIndex& i) { return i.fileLinks; });
}

// ---- Character masks ----

KOLVO_EXPORT void kidxSetValidCharMask(CKolvoIndex* index, int c, kbool on) {
  onIndex(index, [&](CKolvoIndex& i) { i.setValidCharMask(c, on != 0); });
}
KOLVO_EXPORT void kidxSetValidTrailingMask(CKolvoIndex* index, int c, kbool on) {
  onIndex(index, [&](CKolvoIndex& i) { i.setValidTrailingMask(c, on != 0); });
}
KOLVO_EXPORT void kidxSetValidViewableMask(CKolvoIndex* index, int c, kbool on) {
  onIndex(index, [&](CKolvoIndex& i) { i.setValidViewableMask(c, on != 0); });
}
KOLVO_EXPORT void kidxSetNonAlphaCharMask(CKolvoIndex* index, int c, kbool on) {
  onIndex(index, [&](CKolvoIndex& i) { i.setNonAlphaCharMask(c, on != 0); });
}

// ---- Utilities ----

// A write to a pipe or terminal may take only part of the text (a signal, a full pipe on a
// descriptor left non-blocking); the rest is written until all of it is out.
KOLVO_EXPORT int kRawStdoutWrite(const char* text) {
  if (!text) return 0;
  const size_t length = std::strlen(text);
  size_t done = 0;
  while (done < length) {
    ssize_t n = ::write(1, text + done, length - done);
    if (n > 0) {
      done += static_cast<size_t>(n);
    } else if (n < 0 && errno == EINTR) {
      continue;
    } else if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
      pollfd out{1, POLLOUT, 0};
      ::poll(&out, 1, -1);
    } else {
      break;
    }
  }
  if (done == 0 && length > 0) return -1;
  return static_cast<int>(std::min<size_t>(done, INT_MAX));
}

KOLVO_EXPORT void kDeleteChar(void* block) { std::free(block); }

KOLVO_EXPORT const char* kGetVersion() { return KOLVO_VERSION; }

}  // extern "C"
