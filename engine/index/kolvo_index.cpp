#include "engine/index/kolvo_index.h"

#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <memory>
#include <new>
#include <utility>

#include "engine/analyzers/file_analyzer.h"
#include "engine/filememory/posix_seam.h"
#include "engine/kolvolib/error_reporting.h"
#include "engine/kolvolib/lower_case_table.h"
#include "engine/storage/hash_stream.h"

using kolvo::throwKolvoError;

namespace {

// Parameters of the tables of a new index.
constexpr uint32_t fileBuckets = 1000;
constexpr uint32_t wordsInitial = 131071, wordsIncrement = 1048575, wordData = 16, wordBuckets = 40000;
constexpr uint32_t skipInitial = 32767, skipIncrement = 65535, skipBuckets = 1000;
constexpr uint32_t linksInitial = 65535, linksIncrement = 1048575;
// The file beside "words" with its words sorted by text, for prefix searches.
constexpr const char* wordOrderName = "wordorder";

struct StreamCloser {
  void operator()(std::FILE* stream) const { std::fclose(stream); }
};
using Stream = std::unique_ptr<std::FILE, StreamCloser>;

// The HTML entities the index knows, with their ISO 8859-1 bytes.
std::map<std::string, unsigned char> makeEntityMap() {
  std::map<std::string, unsigned char> map = {
      {"quot", 0x22}, {"amp", 0x26}, {"lt", 0x3C}, {"gt", 0x3E}, {"apos", 0x27}};
  const char* const upper[] = {"Agrave", "Aacute", "Acirc",  "Atilde", "Auml",   "Aring", "AElig",  "Ccedil",
                               "Egrave", "Eacute", "Ecirc",  "Euml",   "Igrave", "Iacute", "Icirc", "Iuml",
                               "ETH",    "Ntilde", "Ograve", "Oacute", "Ocirc",  "Otilde", "Ouml",  nullptr,
                               "Oslash", "Ugrave", "Uacute", "Ucirc",  "Uuml",   "Yacute", "THORN", "szlig"};
  const char* const lower[] = {"agrave", "aacute", "acirc",  "atilde", "auml",   "aring",  "aelig",  "ccedil",
                               "egrave", "eacute", "ecirc",  "euml",   "igrave", "iacute", "icirc",  "iuml",
                               "eth",    "ntilde", "ograve", "oacute", "ocirc",  "otilde", "ouml",   nullptr,
                               "oslash", "ugrave", "uacute", "ucirc",  "uuml",   "yacute", "thorn",  "yuml"};
  for (int i = 0; i < 32; ++i) {
    if (upper[i]) map[upper[i]] = static_cast<unsigned char>(0xC0 + i);
    if (lower[i]) map[lower[i]] = static_cast<unsigned char>(0xE0 + i);
  }
  return map;
}

}  // namespace

std::string CKolvoIndex::kolvoDirectoryOf(const std::string& path) {
  int found = 0;
  for (size_t at = path.size(); at-- > 0;)
    if (path[at] == '/' && ++found == 4) return path.substr(0, at);
  return std::string();
}

CKolvoIndex::CharMask CKolvoIndex::makeControlMask() {
  CharMask mask{};
  for (int c = 1; c <= 6; ++c) mask[c] = 1;
  mask[8] = 1;
  for (int c = 14; c <= 31; ++c) mask[c] = 1;
  return mask;
}

CKolvoIndex::CKolvoIndex(bool isNew, const std::string& path)
    : indexPath(path), kolvoDirectory(kolvoDirectoryOf(path)), controlCharMask(makeControlMask()) {
  kolvo::mapLowerCaseChars();
  clear();
  try {
    if (isNew) {
      files = new CFileStorage(indexPath + "files", fileBuckets);
      words = new CTextStorage(indexPath + "words", wordsInitial, wordsIncrement, wordData, wordBuckets);
      skippedWords = new CTextStorage(indexPath + "skipped", skipInitial, skipIncrement, 0, skipBuckets);
      fileLinks = new CFileLinks(indexPath + "links", linksInitial, linksIncrement, useRanking);
    } else {
      openStoredTables();
    }
  } catch (...) {
    freeMemFiles();
    throw;
  }
  entityMap = makeEntityMap();
}

void CKolvoIndex::openStoredTables() {
  Stream hash(std::fopen((indexPath + "hash").c_str(), "rb"));
  if (!hash) throwKolvoError("StorageReadError", indexPath);
  // A table whose backing file is missing would open empty and fail at its first
  // lookup; such an index is unusable, so say so now.
  auto mustBeMapped = [](const CFileMemory& table, const std::string& name) {
    if (!table.mapped()) throwKolvoError("StorageReadError", name);
  };
  files = new CFileStorage(indexPath + "files", hash.get());
  mustBeMapped(*files, indexPath + "files");
  words = new CTextStorage(indexPath + "words", hash.get());
  mustBeMapped(*words, indexPath + "words");
  words->attachOrder(indexPath + wordOrderName);
  skippedWords = new CTextStorage(indexPath + "skipped", hash.get());
  mustBeMapped(*skippedWords, indexPath + "skipped");
  fileLinks = new CFileLinks(indexPath + "links", hash.get());
  mustBeMapped(*fileLinks, indexPath + "links");
  // Nothing follows the links section in a sound "hash".
  if (std::fgetc(hash.get()) != EOF) throwKolvoError("StorageReadError", indexPath + "hash");
}

CKolvoIndex::~CKolvoIndex() {
  try {
    clear();
  } catch (...) {
    // clear reports its own failures; a destructor cannot pass them on.
  }
}

void CKolvoIndex::clear() {
  clearAnalyzers();
  freeMemFiles();
  numberHandling = 0;
  isUpdate = false;
  trackAll = true;
  minWordLength = 3;
  maxWordLength = 16;
  useRanking = true;
  includePatterns.clear();
  includeAnalyzers.clear();
  excludePatterns.clear();
}

void CKolvoIndex::freeMemFiles() {
  delete files;
  delete words;
  delete skippedWords;
  delete wordLinks;
  delete fileLinks;
  files = nullptr;
  words = nullptr;
  skippedWords = nullptr;
  wordLinks = nullptr;
  fileLinks = nullptr;
}

void CKolvoIndex::emptyIndex() {
  isUpdate = false;
  delete files;
  files = nullptr;
  delete words;
  words = nullptr;
  delete fileLinks;
  fileLinks = nullptr;
  directoriesRead = 0;
  contentsIndexed = 0;
  filesIndexed = 0;
  wordsIndexed = 0;
  bytesRead = 0;
  files = new CFileStorage(indexPath + "files", fileBuckets);
  words = new CTextStorage(indexPath + "words", wordsInitial, wordsIncrement, wordData, wordBuckets);
  lastStatusTime = static_cast<int32_t>(time(nullptr)) - 2;
}

void CKolvoIndex::enableWrite(bool on) {
  for (CFileMemory* table : {static_cast<CFileMemory*>(words), static_cast<CFileMemory*>(files),
                             static_cast<CFileMemory*>(skippedWords), static_cast<CFileMemory*>(fileLinks)}) {
    if (!table) continue;
    if (on)
      table->enableWrite();
    else
      table->disableWrite();
  }
}

void CKolvoIndex::storeStorage(const std::string& directory) {
  enableWrite(false);
  // A table that could not be made (a full disk while the skip words were read, which
  // the program passes over with a warning) leaves nothing whole to store.
  const std::pair<const CFileMemory*, const char*> tables[] = {
      {files, "files"}, {words, "words"}, {skippedWords, "skipped"}, {fileLinks, "links"}};
  for (const auto& [table, name] : tables)
    if (!table) throwKolvoError("MemFileOpenFail", directory + name);
  // The tables reach the disk before the "hash" that describes them. All are started
  // before the first is waited for, so the disk writes them together.
  for (const auto& [table, name] : tables) table->startSync();
  for (const auto& [table, name] : tables)
    if (!table->sync()) throwKolvoError("StorageReadError", table->getStoragePath());
  // The sorted words, which the next open trusts only as far as the table agrees.
  if (!words->storeOrder(directory + wordOrderName, directory == indexPath))
    throwKolvoError("StorageReadError", directory + wordOrderName);
  // "hash" is made whole in memory and replaced at once, so an interrupted or failed
  // store never leaves a half-written "hash" behind.
  char* buffer = nullptr;
  size_t size = 0;
  std::FILE* memory = open_memstream(&buffer, &size);
  if (!memory) throw std::bad_alloc();
  bool made = files->store(memory) && words->store(memory) && skippedWords->store(memory) && fileLinks->store(memory);
  made = std::fclose(memory) == 0 && made;
  std::unique_ptr<char, decltype(&std::free)> owned(buffer, std::free);
  if (!made) throw std::bad_alloc();
  if (!kolvo::replaceFileDurably(directory + "hash", std::string(buffer, size)))
    throwKolvoError("StorageReadError", directory + "hash");
}

void CKolvoIndex::setMask(CharMask& mask, int c, bool on) {
  if (c < 0 || c > 255) throwKolvoError("AssertionFailed", "character " + std::to_string(c) + " outside 0 to 255");
  mask[static_cast<size_t>(c)] = on ? 1 : 0;
}

unsigned char CKolvoIndex::htmlChar(const char* reference) const {
  if (reference[0] == '#') {
    if (reference[1] < '0' || reference[1] > '9') return 0;
    uint32_t value = 0;
    for (const char* at = reference + 1; *at >= '0' && *at <= '9'; ++at)
      value = value * 10 + static_cast<uint32_t>(*at - '0');
    return static_cast<unsigned char>(value & 0xFF);
  }
  auto found = entityMap.find(reference);
  return found == entityMap.end() ? ' ' : found->second;
}
