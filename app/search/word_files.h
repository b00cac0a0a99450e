// The program's own readers of the engine's word-data block (the word's last file, its
// count there, its newest link block) and the walk over all files of one word. The
// search and the word count read the word table through these.
#pragma once

#include <cstddef>
#include <functional>
#include <unordered_set>

#include "include/kolvolib.h"

kulong kiGetLastFile(const void* data);
kulong kiGetLastRank(const void* data);
kulong kiGetFiles(const void* data);

using QvFileVisit = std::function<void(kulong file, kulong rank)>;

// The blocks a walk of a word's chain has met, to end the walk of a damaged chain that
// leads back to one. Most words have a block or two: the first few are looked through
// one by one, and only a long chain's are hashed.
class QvBlocksMet {
 public:
  // True the first time block is met.
  bool firstMeeting(kulong block);

 private:
  static constexpr std::size_t kLookedThrough = 16;
  kulong mRecent[kLookedThrough] = {};
  std::size_t mCount = 0;
  std::unordered_set<kulong> mHashed;
};

// Calls visit(file, rank) for every file of the link blocks from list on, following each
// block's next-block word. A block met twice (a damaged chain) ends the walk.
void qvForEachListFile(CFileLinks* links, kulong list, const QvFileVisit& visit);
// The word's last file, then the files of its link blocks, newest block first.
void qvForEachWordFile(CTextStorage* words, CFileLinks* links, kulong word, const QvFileVisit& visit);
