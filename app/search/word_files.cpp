#include "app/search/word_files.h"

#include "app/index/kolvo_lib.h"

kulong kiGetLastFile(const void* data) { return kwdCurrentFile(data); }

kulong kiGetLastRank(const void* data) { return kwdCurrentCount(data); }

kulong kiGetFiles(const void* data) { return kwdChainHead(data); }

void qvForEachWordFile(CTextStorage* words, CFileLinks* links, kulong word, const QvFileVisit& visit) {
  static const auto getData = klib(ktsGetData);
  const void* data = getData(words, word);
  if (!data) return;
  if (kulong last = kiGetLastFile(data); last != 0) visit(last, kiGetLastRank(data));
  qvForEachListFile(links, kiGetFiles(data), visit);
}

void qvForEachListFile(CFileLinks* links, kulong list, const QvFileVisit& visit) {
  static const auto getFiles = klib(kflGetFiles);
  static const auto getNextList = klib(kflGetNextList);
  // A block's records are taken many at a time: a word of a prefix or a common word
  // has thousands of files.
  constexpr kulong batchSize = 256;
  kulong files[batchSize], ranks[batchSize];
  // Every block is written after the ones it chains to, so a sound chain only ever goes
  // down the table. The engine refuses a next block past the end of this one; one that
  // leads back into it would loop.
  kulong block = list, above = ~kulong{0};
  while (links && block != 0 && block < above) {
    above = block;
    kulong cursor = block, count = 0;
    do {
      count = getFiles(links, &cursor, files, ranks, batchSize);
      for (kulong i = 0; i < count; ++i) visit(files[i], ranks[i]);
    } while (count == batchSize);
    block = getNextList(links, cursor);
  }
}
