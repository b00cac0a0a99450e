#include "app/search/word_files.h"

#include <unordered_set>

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
  static const auto getFile = klib(kflGetFile);
  static const auto getNextList = klib(kflGetNextList);
  kulong block = list;
  std::unordered_set<kulong> seenBlocks;
  while (links && block != 0 && seenBlocks.insert(block).second) {
    kulong cursor[2] = {block, 0};
    for (kulong file = getFile(links, cursor); file != 0; file = getFile(links, cursor)) visit(file, cursor[1]);
    block = getNextList(links, cursor[0]);
  }
}
