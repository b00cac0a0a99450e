// Word indexing and skip words: how one occurrence of a word is recorded, and how the
// skip file fills the skip-word table.
#include <cstdio>
#include <algorithm>
#include <cstring>
#include <memory>
#include <vector>

#include "engine/index/kolvo_index.h"
#include "engine/index/word_batch.h"
#include "engine/index/word_data.h"
#include "engine/kolvolib/error_reporting.h"
#include "engine/kolvolib/lower_case_table.h"

using kolvo::WordData;

namespace {

constexpr uint32_t skipChunk = 65535;
constexpr size_t pendingLimit = 1023;

}  // namespace

void CKolvoIndex::indexWord(const char* word, uint32_t fileId) {
  kolvo::kolvoCheck(words != nullptr, "indexing without a word table");
  indexWord(word, CTextStorage::Key(word), fileId, 1);
}

void CKolvoIndex::indexWords(const CWordBatch& batch, uint32_t fileId) {
  kolvo::kolvoCheck(words != nullptr, "indexing without a word table");
  // The words of a chunk are known in advance: the table's memory for each is fetched
  // a few words ahead, so that its misses overlap instead of coming one after another.
  constexpr size_t ahead = 16;
  const std::vector<CWordBatch::Word>& list = batch.words();
  batchKeys.clear();
  batchKeys.reserve(list.size());
  // indexBuffer folds every word through the case table, which yields no ASCII capital,
  // so the batch's hash is the key's own.
  for (const CWordBatch::Word& word : list) batchKeys.emplace_back(batch.text(word), word.length, word.hash);
  // An update meets many of its words in the stored chains first: for those, the bucket
  // is fetched as soon as the slot shows the word is not at hand, and the bucket's first
  // entry after that.
  constexpr size_t bucketAhead = 8, entryAhead = 4;
  const size_t n = list.size();
  const bool chains = words->meetsWordsInChains();
  uint32_t buckets[bucketAhead];
  auto fetchBucket = [&](size_t at) {
    buckets[at % bucketAhead] = words->prefetchBucket(batchKeys[at], batch.text(list[at]));
  };
  for (size_t i = 0; i < n && i < ahead; ++i) words->prefetch(batchKeys[i]);
  if (chains) {
    for (size_t i = 0; i < n && i < bucketAhead; ++i) fetchBucket(i);
    for (size_t i = 0; i < n && i < entryAhead; ++i) words->prefetchFirstInBucket(buckets[i]);
  }
  for (size_t i = 0; i < n; ++i) {
    if (i + ahead < n) words->prefetch(batchKeys[i + ahead]);
    if (chains) {
      if (i + bucketAhead < n) fetchBucket(i + bucketAhead);
      if (i + entryAhead < n) words->prefetchFirstInBucket(buckets[(i + entryAhead) % bucketAhead]);
    }
    indexWord(batch.text(list[i]), batchKeys[i], fileId, list[i].occurrences);
  }
}

// The same as that many single occurrences in a row: only the first can finish a link
// or start the word; the others only count.
void CKolvoIndex::indexWord(const char* word, const CTextStorage::Key& key, uint32_t fileId, uint32_t occurrences) {
  // Most builds have few or no skip words; an empty table needs no lookup.
  if (skippedWords && skippedWords->getEntryCount() != 0 && skippedWords->lookup(word)) return;
  CTextStorage::Entry entry = words->findEntry(key, word);
  if (entry.word == 0) {
    entry = words->addEntry(word);
    ++wordsIndexed;
  }
  // Read from where the table keeps the data at hand, and written back whole.
  unsigned char data[16];
  std::memcpy(data, words->dataOf(entry), sizeof data);
  uint32_t current = WordData::currentFile(data);
  uint32_t counted = occurrences;
  if (current == 0) {
    WordData::setCurrentCount(data, 0);
    WordData::setPendingLinks(data, 0);
    WordData::setCurrentFile(data, fileId);
    --counted;
  } else if (current != fileId) {
    // The link to the previous file is finished: it goes to the temporary table, which
    // must exist from newFileLinks or prune on.
    kolvo::kolvoCheck(wordLinks != nullptr, "a word moved to another file with no temporary link table");
    uint8_t rank = static_cast<uint8_t>(WordData::currentCount(data) & 0xFF);
    wordLinks->addWord(current, entry.word, rank);
    WordData::setPendingLinks(data, WordData::pendingLinks(data) + 1);
    WordData::setCurrentCount(data, 0);
    WordData::setCurrentFile(data, fileId);
    --counted;
  } else if (!useRanking || counted == 0 || WordData::currentCount(data) >= 255) {
    return;
  }
  // The count stops at 255, the largest rank.
  uint32_t count = WordData::currentCount(data);
  if (useRanking && counted != 0 && count < 255)
    WordData::setCurrentCount(data, static_cast<uint16_t>(std::min(count + counted, 255u)));
  words->setData(entry, data);
}

void CKolvoIndex::noteBytesRead(size_t got, const char* path) {
  bytesRead += static_cast<double>(got);
  if (statusLevel >= 2) {
    char total[64];
    std::snprintf(total, sizeof total, "%f", bytesRead);
    kolvo::setStatus("BytesIndexing", std::string(total) + "\t" + path);
  }
}

uint32_t CKolvoIndex::indexExcludedWord(const char* word) {
  uint32_t number = skippedWords->lookup(word);
  return number ? number : skippedWords->addText(word);
}

std::string CKolvoIndex::skipFile() const {
  if (!skipFilePath.empty()) return skipFilePath;
  return kolvoDirectory + "/skipfile.txt";
}

void CKolvoIndex::indexExcludeBuffer(char* buffer, uint32_t length) {
  uint32_t wordStart = 0;
  for (uint32_t at = 0; at < length; ++at) {
    auto c = static_cast<unsigned char>(buffer[at]);
    if (validCharMask[c]) {
      buffer[at] = static_cast<char>(kolvo::lowerCase(c));
    } else if (at == wordStart) {
      wordStart = at + 1;
    } else if (validTrailingMask[c]) {
      buffer[at] = static_cast<char>(kolvo::lowerCase(c));
    } else {
      buffer[at] = '\0';
      indexExcludedWord(buffer + wordStart);
      wordStart = at + 1;
    }
  }
  pendingText.assign(buffer + wordStart, std::min<size_t>(length - wordStart, pendingLimit));
}

void CKolvoIndex::indexExclusions() {
  if (statusLevel != 0) kolvo::setStatus("IndexingExcluded", "");
  delete skippedWords;
  skippedWords = nullptr;
  skippedWords = new CTextStorage(indexPath + "skipped", 32767, 65535, 0, 1000);
  std::string path = skipFile();
  std::unique_ptr<std::FILE, int (*)(std::FILE*)> in(std::fopen(path.c_str(), "rb"), std::fclose);
  if (!in) kolvo::throwKolvoError("SkipOpenFail", path);
  pendingText.clear();
  std::vector<char> chunk(skipChunk + 1);
  size_t carry = 0;
  for (;;) {
    size_t got = std::fread(chunk.data() + carry, 1, skipChunk - carry, in.get());
    if (got == 0) break;
    pendingText.clear();
    indexExcludeBuffer(chunk.data(), static_cast<uint32_t>(carry + got));
    bytesRead += static_cast<double>(got);
    carry = pendingText.size();
    std::copy(pendingText.begin(), pendingText.end(), chunk.begin());
  }
  // A last word without a separator after it counts only from three characters on.
  if (pendingText.size() >= 3) indexExcludedWord(pendingText.c_str());
  pendingText.clear();
}
