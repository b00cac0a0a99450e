// An index opened from damaged tables: the input holds "files", "words", "skipped",
// "links" and "hash" in turn, each as a 4-byte little-endian length and its bytes (a
// table the input does not reach is missing). The index is opened, checked, and read
// as a search reads it: every file record, every word with its link blocks, the skip
// words.
#include <cstring>
#include <filesystem>
#include <string>

#include "engine/filememory/le_fields.h"
#include "include/kolvolib.h"
#include "tests/fuzz/fuzz_support.h"

namespace {

void quiet(const char*, const char*) {}

// Walks stop here, whatever the tables claim; a sound walk of the seeds is far shorter.
constexpr int walkBound = 4096;

void readFiles(CFileStorage* files) {
  int steps = 0;
  for (kulong file = kfsGetFirst(files); file != 0 && steps < walkBound; file = kfsGetNext(files, file), ++steps) {
    KolvoFileInfo* info = kfsGetInfo(files, file);
    if (!info) continue;
    const char* name = kfiGetFileName(info);
    kulong parent = kfiGetFileParentID(info);
    kfiGetFileTimeLastWritten(info);
    kfiGetFileSize(info);
    if (name) kfsLookupFile(files, name, parent);
  }
}

void readWords(CTextStorage* words, CFileLinks* links) {
  int steps = 0;
  for (kulong word = ktsGetFirst(words); word != 0 && steps < walkBound; word = ktsGetNext(words, word), ++steps) {
    if (const char* text = ktsGetText(words, word)) ktsLookup(words, text);
    const unsigned char* data = static_cast<const unsigned char*>(ktsGetData(words, word));
    if (!data || !links) continue;
    kulong cursor[2] = {kolvo::loadU32(data + 8), 0};
    for (int records = 0; cursor[0] != 0 && records < walkBound; ++records) {
      if (kflGetFile(links, cursor) != 0) continue;
      cursor[0] = kflGetNextList(links, cursor[0]);
    }
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static const std::string folder = [] {
    kSetThrowCallBack(quiet);
    kSetWarningCallBack(quiet);
    std::string path = kolvofuzz::scratch() + "index/";
    std::filesystem::create_directories(path);
    return path;
  }();
  size_t at = 0;
  for (const char* table : {"files", "words", "skipped", "links", "hash"}) {
    std::filesystem::remove(folder + table);
    if (size - at < 4) continue;
    size_t length = kolvo::loadU32(data + at);
    at += 4;
    length = std::min(length, size - at);
    kolvofuzz::writeFile(folder + table, std::string_view(reinterpret_cast<const char*>(data + at), length));
    at += length;
  }
  CKolvoIndex* index = kCreateNewIndex(0, folder.c_str());
  if (!index) return 0;
  kDeleteChar(kidxCheckIndex(index));
  readFiles(kidxGetFiles(index));
  readWords(kidxGetWords(index), kidxGetLinks(index));
  readWords(kidxGetSkipWords(index), nullptr);
  kidxClearIndex(index);
  return 0;
}
