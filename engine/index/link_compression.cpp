// Link compression: the links of a build or update, collected file by file in the
// temporary link table, become one block per word in the links table, chained in front
// of the word's older blocks. Each word's block is sized by the links this pass adds,
// so an update costs as much as it changed, and a word with more links than one block
// can hold gets several blocks, chained like the blocks of successive passes.
#include <cstdio>
#include <string>
#include <unordered_map>
#include <vector>

#include "engine/index/kolvo_index.h"
#include "engine/index/word_data.h"
#include "engine/kolvolib/error_reporting.h"

using kolvo::WordData;

namespace {

constexpr uint32_t linksInitial = 65535, linksIncrement = 1048575;

// One block of a word that needs several.
struct Block {
  uint32_t start;   // first record
  uint32_t tail;    // the next-block word
  uint32_t cursor;  // lowest record written so far (the block's head)
};

}  // namespace

void CKolvoIndex::newFileLinks() {
  delete fileLinks;
  fileLinks = nullptr;
  delete wordLinks;
  wordLinks = nullptr;
  fileLinks = new CFileLinks(indexPath + "links", linksInitial, linksIncrement, useRanking);
  fileLinks->getSpace(4);  // no block starts at the first offset
  wordLinks = new CWordLinks(indexPath + "temp", linksInitial, linksIncrement, useRanking);
  passWordLimit = words ? words->used() : 0;
}

void CKolvoIndex::compressLinks() {
  kolvo::kolvoCheck(words && fileLinks && wordLinks, "link compression without its tables");
  const uint32_t r = fileLinks->recordSize();
  // The most records a block may hold besides its terminator, within one allocation.
  const uint32_t perBlock = (fileLinks->increment() - 4) / r - 1;

  // Words older than this pass have links of earlier passes in pendingLinks: count what
  // this pass handed over from the temporary table itself.
  std::unordered_map<uint32_t, uint32_t> olderWordLinks;
  bool olderWords = words->getFirst() != 0 && words->getFirst() < passWordLimit;
  for (uint32_t offset = 16, file = olderWords ? wordLinks->getFile(offset) : 0; file;
       file = wordLinks->getFile(offset)) {
    uint8_t rank;
    for (uint32_t word = wordLinks->getWord(offset, rank); word; word = wordLinks->getWord(offset, rank))
      if (word < passWordLimit) ++olderWordLinks[word];
  }
  auto linksOfThisPass = [&](uint32_t word, const unsigned char* data) -> uint32_t {
    if (word >= passWordLimit) return WordData::pendingLinks(data);
    auto found = olderWordLinks.find(word);
    return found == olderWordLinks.end() ? 0 : found->second;
  };

  // Sizing pass: reserve every block at its final size.
  std::unordered_map<uint32_t, std::vector<Block>> splitWords;
  uint32_t step = wordsIndexed * 5 / 100;
  uint32_t counter = step + 1;
  int percent = -5;
  for (uint32_t word = words->getFirst(); word; word = words->getNext(word)) {
    if (++counter > step && statusLevel != 0) {
      percent += 5;
      kolvo::setStatus("CountingCompress", std::to_string(percent));
      counter = 0;
    }
    uint32_t n = linksOfThisPass(word, words->getData(word));
    if (n == 0) continue;
    uint32_t previous = WordData::chainHead(words->getData(word));
    if (n <= perBlock) {
      uint32_t tail = fileLinks->getSpace((n + 1) * r + 4) + (n + 1) * r;
      if (previous) fileLinks->setNextList(tail, previous);
      WordData::setChainHead(words->getWritableData(word), tail - r);
      continue;
    }
    // Too many for one block: the first block filled is chained to the older ones, and
    // the next-block words are set once the fill pass knows where each block begins.
    std::vector<Block>& blocks = splitWords[word];
    for (uint32_t left = n; left > 0;) {
      uint32_t count = std::min(left, perBlock);
      uint32_t start = fileLinks->getSpace((count + 1) * r + 4);
      uint32_t tail = start + (count + 1) * r;
      blocks.push_back(Block{start, tail, tail - r});
      left -= count;
    }
    if (previous) fileLinks->setNextList(blocks.front().tail, previous);
  }

  // Fill pass: each record goes just below the ones already written.
  uint32_t reportAt = 0;
  uint32_t released = 0;
  counter = 0;
  for (uint32_t offset = 16, file = wordLinks->getFile(offset); file; file = wordLinks->getFile(offset)) {
    if (++counter >= reportAt && statusLevel != 0) {
      kolvo::setStatus("CompLinksFmt", std::to_string(reportAt) + "\t" + std::to_string(reportAt + 50000));
      reportAt += 50000;
    }
    if (offset - released > (8u << 20)) {
      wordLinks->releasePagesBelow(offset);  // read once, front to back
      released = offset;
    }
    uint8_t rank;
    for (uint32_t word = wordLinks->getWord(offset, rank); word; word = wordLinks->getWord(offset, rank)) {
      ++counter;
      const unsigned char* data = words->getData(word);
      kolvo::kolvoCheck(data != nullptr, "temporary link to no word");
      // The link of the word's current file stays in its data block.
      if (WordData::currentFile(data) == file) continue;
      if (!splitWords.empty()) {
        auto split = splitWords.find(word);
        if (split != splitWords.end()) {
          std::vector<Block>& blocks = split->second;
          size_t at = 0;
          while (at < blocks.size() && blocks[at].cursor == blocks[at].start) ++at;
          kolvo::kolvoCheck(at < blocks.size(), "more links than the blocks were sized for");
          blocks[at].cursor -= r;
          fileLinks->addFile(blocks[at].cursor, file, rank);
          continue;
        }
      }
      uint32_t head = WordData::chainHead(data);
      kolvo::kolvoCheck(head >= r, "link block overflow");
      head -= r;
      fileLinks->addFile(head, file, rank);
      WordData::setChainHead(words->getWritableData(word), head);
    }
  }
  // Chain the blocks of split words, newest last: each points at where the block
  // before it begins to be read.
  for (auto& [word, blocks] : splitWords) {
    for (size_t i = 1; i < blocks.size(); ++i) fileLinks->setNextList(blocks[i].tail, blocks[i - 1].cursor);
    WordData::setChainHead(words->getWritableData(word), blocks.back().cursor);
  }

  delete wordLinks;
  wordLinks = nullptr;
  std::remove((indexPath + "temp").c_str());
  if (statusLevel != 0) kolvo::setStatus("Done", "");
}
