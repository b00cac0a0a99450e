#include "app/search/word_files.h"

#include <algorithm>

#include "app/index/kolvo_lib.h"

kulong kiGetLastFile(const void* data) { return kwdCurrentFile(data); }

kulong kiGetLastRank(const void* data) { return kwdCurrentCount(data); }

kulong kiGetFiles(const void* data) { return kwdChainHead(data); }

bool QvBlocksMet::firstMeeting(kulong block) {
  if (mCount < kLookedThrough) {
    if (std::find(mRecent, mRecent + mCount, block) != mRecent + mCount) return false;
    mRecent[mCount++] = block;
    return true;
  }
  if (mHashed.empty()) mHashed.insert(mRecent, mRecent + mCount);
  return mHashed.insert(block).second;
}

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
  kulong block = list;
  QvBlocksMet met;
  while (links && block != 0 && met.firstMeeting(block)) {
    kulong cursor = block, count = 0;
    do {
      count = getFiles(links, &cursor, files, ranks, batchSize);
      for (kulong i = 0; i < count; ++i) visit(files[i], ranks[i]);
    } while (count == batchSize);
    block = getNextList(links, cursor);
  }
}
