// Link compression: the links of a build or update, collected file by file in the
// temporary link table, become one block per word in the links table, chained in front
// of the word's older blocks. Each word's block is sized by the links this pass adds,
// so an update costs as much as it changed, and a word with more links than one block
// can hold gets several blocks, chained like the blocks of successive passes.
#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <string>
#include <unordered_map>
#include <vector>

#include "engine/index/kolvo_index.h"
#include "engine/index/word_data.h"
#include "engine/kolvolib/error_reporting.h"
#include "engine/storage/huge_page_allocator.h"

using kolvo::WordData;

namespace {

constexpr uint32_t linksInitial = 65535, linksIncrement = 1048575;

// One block of a word that needs several.
// A word's state during the fill pass.
struct WordCursor {
  uint32_t currentFile;
  uint32_t head;  // the lowest record written so far
  uint32_t olderLinks;
};

struct Block {
  uint32_t start;   // first record
  uint32_t tail;    // the next-block word
  uint32_t cursor;  // lowest record written so far (the block's head)
};

// One link of the temporary table, decoded.
struct TempLink {
  uint32_t file;
  uint32_t word;
  uint8_t rank;
  bool startsGroup;
};

// Reads the temporary table from front to back a run of links at a time, straight from
// its bytes: the table does not change while compression reads it.
class TempLinkReader {
 public:
  explicit TempLinkReader(const CWordLinks& table)
      : bytes(table.getPointer(0, table.used())), end(bytes ? table.used() : 0), recordSize(table.recordSize()),
        ranked(table.ranked()) {}

  // Replaces run with up to capacity next links; false once there are none.
  bool read(std::vector<TempLink>& run, size_t capacity) {
    run.clear();
    while (run.size() < capacity) {
      if (file == 0) {
        if (offset + 4 > end) break;
        file = kolvo::loadU32(bytes + offset);
        offset += 4;
        if (file == 0) {
          offset = end;
          break;
        }
        groupStarts = true;
      }
      // A last group has no end record: the used space ends it.
      uint32_t word = offset + recordSize <= end ? kolvo::loadU32(bytes + offset) : 0;
      uint8_t rank = word != 0 ? (ranked ? bytes[offset + 4] : 255) : 0;
      offset = std::min(end, offset + recordSize);
      if (word == 0) {
        file = 0;
        continue;
      }
      run.push_back(TempLink{file, word, rank, groupStarts});
      groupStarts = false;
    }
    return !run.empty();
  }
  // Where the next run starts.
  uint32_t position() const { return offset; }

 private:
  const unsigned char* bytes;
  uint32_t end;
  uint32_t recordSize;
  bool ranked;
  uint32_t offset = 16;
  uint32_t file = 0;
  bool groupStarts = false;
};

constexpr size_t runLength = 4096;

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

  // What the passes need of each word (its current file, its next record, and its links
  // in this pass or window when they are counted from the temporary table) is kept in
  // memory at number / 16 (entries lie at least 21 bytes apart): a link's cursor is found
  // from the link alone, so it can be fetched well ahead.
  std::vector<WordCursor, kolvo::HugePageAllocator<WordCursor>> cursors(words->used() / 16 + 1, WordCursor{0, 0, 0});
  auto cursorOf = [&](uint32_t word) -> WordCursor& {
    kolvo::kolvoCheck(words->isEntry(word), "temporary link to no word");
    return cursors[word / 16];
  };

  // The fill writes each word's block wherever it lies, so the whole of what it fills
  // stays resident. A large pass is therefore taken in windows of the temporary table,
  // each with blocks of its own chained in front of the window's before, and each
  // window's part of the links table is let go once it is written: the memory of a
  // build no longer grows with its links. Each window counts its links itself first.
  const uint32_t windowBytes = std::max(linkFillWindow, r);
  const bool windowed = wordLinks->used() > windowBytes;

  // Words older than this pass have links of earlier passes in pendingLinks: count what
  // this pass handed over from the temporary table itself.
  std::vector<TempLink> run;
  run.reserve(runLength);
  if (!windowed && words->getFirst() != 0 && words->getFirst() < passWordLimit) {
    TempLinkReader older(*wordLinks);
    while (older.read(run, runLength))
      for (const TempLink& link : run)
        if (link.word < passWordLimit) ++cursorOf(link.word).olderLinks;
  }

  TempLinkReader reader(*wordLinks);
  uint32_t reportAt = 0;
  uint32_t released = 0;
  uint32_t linksCounter = 0;
  for (bool firstWindow = true;; firstWindow = false) {
    size_t windowLinks = SIZE_MAX;
    if (windowed) {
      // The links up to windowBytes further on; the pages read are let go as for the
      // fill, which takes them again from the page cache.
      TempLinkReader counting = reader;
      const uint64_t windowEnd = uint64_t{reader.position()} + windowBytes;
      size_t counted = 0;
      uint32_t countReleased = counting.position();
      for (;;) {
        uint64_t left = windowEnd > counting.position() ? windowEnd - counting.position() : 0;
        if (left == 0 || !counting.read(run, std::clamp<uint64_t>(left / r, 1, runLength))) break;
        for (const TempLink& link : run) ++cursorOf(link.word).olderLinks;
        counted += run.size();
        if (counting.position() - countReleased > (8u << 20)) {
          wordLinks->releasePagesBelow(counting.position());
          countReleased = counting.position();
        }
      }
      if (counted == 0) break;
      windowLinks = counted;
    }

    // Sizing pass: reserve every block at its final size.
    std::unordered_map<uint32_t, std::vector<Block>> splitWords;
    std::vector<uint32_t> filled;  // the words of one block each, in table order
    uint32_t step = wordsIndexed * 5 / 100;
    uint32_t counter = step + 1;
    int percent = -5;
    for (uint32_t word = words->getFirst(); word; word = words->getNext(word)) {
      if (++counter > step && statusLevel != 0 && firstWindow) {
        percent += 5;
        kolvo::setStatus("CountingCompress", std::to_string(percent));
        counter = 0;
      }
      const unsigned char* data = words->getData(word);
      uint32_t previous = WordData::chainHead(data);
      WordCursor& cursor = cursors[word / 16];
      cursor.currentFile = WordData::currentFile(data);
      cursor.head = previous;
      uint32_t n = windowed || word < passWordLimit ? cursor.olderLinks : WordData::pendingLinks(data);
      cursor.olderLinks = 0;
      if (n == 0) continue;
      if (n <= perBlock) {
        uint32_t tail = fileLinks->getSpace((n + 1) * r + 4) + (n + 1) * r;
        if (previous) fileLinks->setNextList(tail, previous);
        cursor.head = tail - r;
        filled.push_back(word);
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

    // Fill pass: each record goes just below the ones already written. The links are
    // read in order but their words and blocks lie anywhere: each word's data is fetched
    // some links ahead and its block's next record a few links ahead, so that the misses
    // overlap instead of coming one after another.
    constexpr size_t cursorAhead = 16, blockAhead = 8;
    size_t taken = 0;
    while (taken < windowLinks && reader.read(run, std::min(runLength, windowLinks - taken))) {
      taken += run.size();
      for (size_t i = 0; i < run.size() && i < cursorAhead; ++i)
        __builtin_prefetch(&cursors[run[i].word / 16 % cursors.size()]);
      for (size_t i = 0; i < run.size(); ++i) {
        if (i + cursorAhead < run.size()) __builtin_prefetch(&cursors[run[i + cursorAhead].word / 16 % cursors.size()]);
        if (i + blockAhead < run.size())
          fileLinks->prefetch(cursors[run[i + blockAhead].word / 16 % cursors.size()].head - r, true);
        const TempLink& link = run[i];
        if (link.startsGroup && ++linksCounter >= reportAt && statusLevel != 0) {
          kolvo::setStatus("CompLinksFmt", std::to_string(reportAt) + "\t" + std::to_string(reportAt + 50000));
          reportAt += 50000;
        }
        ++linksCounter;
        WordCursor& cursor = cursorOf(link.word);
        // The link of the word's current file stays in its data block.
        if (cursor.currentFile == link.file) continue;
        if (!splitWords.empty()) {
          auto split = splitWords.find(link.word);
          if (split != splitWords.end()) {
            std::vector<Block>& blocks = split->second;
            size_t at = 0;
            while (at < blocks.size() && blocks[at].cursor == blocks[at].start) ++at;
            kolvo::kolvoCheck(at < blocks.size(), "more links than the blocks were sized for");
            blocks[at].cursor -= r;
            fileLinks->addFile(blocks[at].cursor, link.file, link.rank);
            continue;
          }
        }
        kolvo::kolvoCheck(cursor.head >= r, "link block overflow");
        cursor.head -= r;
        fileLinks->addFile(cursor.head, link.file, link.rank);
      }
      if (reader.position() - released > (8u << 20)) {
        wordLinks->releasePagesBelow(reader.position());  // read once, front to back
        released = reader.position();
      }
    }
    // Each word filled takes its new head back, in table order.
    for (uint32_t word : filled) WordData::setChainHead(words->getWritableData(word), cursors[word / 16].head);
    // Chain the blocks of split words, newest last: each points at where the block
    // before it begins to be read.
    for (auto& [word, blocks] : splitWords) {
      for (size_t i = 1; i < blocks.size(); ++i) fileLinks->setNextList(blocks[i].tail, blocks[i - 1].cursor);
      WordData::setChainHead(words->getWritableData(word), blocks.back().cursor);
    }
    if (!windowed) break;
    // What this window wrote is not touched again by the build.
    fileLinks->releasePagesBelow(fileLinks->used());
  }

  delete wordLinks;
  wordLinks = nullptr;
  std::remove((indexPath + "temp").c_str());
  if (statusLevel != 0) kolvo::setStatus("Done", "");
}
