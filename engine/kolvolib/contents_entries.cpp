// The C entries of a file's display text (kfc) and the one that makes it. Each forwards
// to CFileContents inside the one guard; a null object gives the documented nothing.
#include "engine/index/contents_check.h"
#include "engine/index/file_contents.h"
#include "engine/kolvolib/entry_guard.h"
#include "include/kolvolib.h"

using kolvo::guardEntry;

extern "C" {

KOLVO_EXPORT CFileContents* kidxGetFileContents(CKolvoIndex* index, kulong file, kulong maxBytes, int wrapWidth,
                                                kbool stripMarkup, int nearDistance) {
  return guardEntry<CFileContents*>(nullptr, [&] {
    return new CFileContents(index, file, maxBytes, wrapWidth, stripMarkup != 0, nearDistance);
  });
}

KOLVO_EXPORT void kfcDeleteContentsObject(CFileContents* contents) {
  guardEntry([&] { delete contents; });
}

KOLVO_EXPORT const char* kfcContents(CFileContents* contents) {
  return guardEntry<const char*>("", [&] { return contents ? contents->contents() : ""; });
}

KOLVO_EXPORT const char* kfcFilePath(CFileContents* contents) {
  return guardEntry<const char*>("", [&] { return contents ? contents->filePath().c_str() : ""; });
}

KOLVO_EXPORT kulong kfcTokenLength(CFileContents* contents, kulong offset) {
  return guardEntry<kulong>(0, [&] { return contents ? static_cast<kulong>(contents->tokenLength(offset)) : 0u; });
}

KOLVO_EXPORT kulong kfcSearchBuffer(CFileContents* contents, kulong offset, const char* pattern) {
  return guardEntry<kulong>(0, [&] {
    return contents && pattern ? static_cast<kulong>(contents->searchBuffer(offset, pattern)) : 0u;
  });
}

KOLVO_EXPORT kbool kfcContainsHit(CFileContents* contents, const char* pattern) {
  return guardEntry<kbool>(0, [&] { return static_cast<kbool>(contents && pattern && contents->containsHit(pattern)); });
}

KOLVO_EXPORT void kfcConvertToOutline(CFileContents* contents, const char* pattern) {
  guardEntry([&] {
    if (contents && pattern) contents->convertToOutline(pattern);
  });
}

KOLVO_EXPORT const char* kfcNext(CFileContents* contents) {
  return guardEntry<const char*>("", [&] { return contents ? contents->nextLine() : ""; });
}

KOLVO_EXPORT void kidxCheckContents(CKolvoIndex* index, const kulong* files, kulong count, kulong maxBytes,
                                    int wrapWidth, kbool stripMarkup, int nearDistance, const char* pattern,
                                    int threads, char* verdicts) {
  guardEntry([&] {
    if (!index || !files || !pattern || !verdicts) return;
    static_assert(sizeof(kulong) == sizeof(uint32_t));
    kolvo::checkContents(*index, reinterpret_cast<const uint32_t*>(files), count, maxBytes, wrapWidth,
                         stripMarkup != 0, nearDistance, pattern, threads > 0 ? static_cast<unsigned>(threads) : 0,
                         verdicts);
  });
}

}  // extern "C"
