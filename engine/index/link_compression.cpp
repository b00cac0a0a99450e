// Link compression: the links of a build or update, collected file by file in the
// temporary link table, become one block per word in the links table, chained in front
// of the word's older blocks. Each word's block is sized by the links this pass adds,
// so an update costs as much as it changed, and a word with more links than one block
// can hold gets several blocks, chained like the blocks of successive passes.
#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <exception>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <system_error>
#include <thread>
#include <vector>

#include "engine/filememory/posix_seam.h"
#include "engine/index/kolvo_index.h"
#include "engine/index/word_data.h"
#include "engine/kolvolib/error_reporting.h"
#include "engine/storage/huge_page_allocator.h"

using kolvo::WordData;

namespace {

constexpr uint32_t linksInitial = 65535, linksIncrement = 1048575;

// A word's state during the fill pass.
struct WordCursor {
  uint32_t currentFile;
  // The lowest record written so far; splitHead for a word of several blocks.
  uint32_t head;
  // In the sizing pass, the links of this pass of a word older than it; from the fill
  // pass on, for a word of several blocks, the place of its blocks in the split list.
  uint32_t olderLinks;
};
// No record lies at offset 0 of the links table, so no block's head is there.
constexpr uint32_t splitHead = 0;

// One block of a word that needs several.
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
// its bytes: the table does not change while compression reads it. A reader of a part
// of it starts at a group head and ends where the next part's head begins.
class TempLinkReader {
 public:
  explicit TempLinkReader(const CWordLinks& table) : TempLinkReader(table, CFileMemory::headerSize, table.used()) {}
  TempLinkReader(const CWordLinks& table, uint32_t from, uint32_t to)
      : bytes(table.getPointer(0, table.used())), end(bytes ? std::min(to, table.used()) : 0),
        recordSize(table.recordSize()), ranked(table.ranked()), offset(from) {}

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
  uint32_t offset;
  uint32_t file = 0;
  bool groupStarts = false;
};

constexpr size_t runLength = 4096;

// The links of one window waiting for its turn, in order, in a file of their own that
// goes with the object. Written and read through a small buffer with plain calls, so
// that its pages stay in the page cache and never count against the process.
// A record is a word (u32, never 0) and a rank byte; a file's run starts with a zero
// word and the file number.
class LinkSpill {
 public:
  explicit LinkSpill(std::string filePath) : path(std::move(filePath)) {
    fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
    if (fd < 0) kolvo::throwKolvoError("MemFileOpenFail", path);
    buffer.reserve(kolvo::limits::linkSpillBufferBytes);
  }
  ~LinkSpill() {
    ::close(fd);
    std::remove(path.c_str());
  }
  LinkSpill(const LinkSpill&) = delete;
  LinkSpill& operator=(const LinkSpill&) = delete;

  void add(const TempLink& link) {
    if (buffer.size() + groupBytes + recordBytes > kolvo::limits::linkSpillBufferBytes) flush();
    if (link.file != lastFile) {
      put(0);
      put(link.file);
      lastFile = link.file;
    }
    put(link.word);
    buffer.push_back(link.rank);
  }
  // After the last add: replaces run with up to capacity next links; false once there
  // are none.
  bool read(std::vector<TempLink>& run, size_t capacity) {
    if (writing) {
      flush();
      writing = false;
      lastFile = 0;
    }
    run.clear();
    while (run.size() < capacity) {
      if (buffer.size() - at < groupBytes) refill();
      if (buffer.size() - at < recordBytes) break;
      uint32_t word = kolvo::loadU32(buffer.data() + at);
      if (word == 0) {
        kolvo::kolvoCheck(buffer.size() - at >= groupBytes, "link spill");
        lastFile = kolvo::loadU32(buffer.data() + at + 4);
        at += groupBytes;
        groupStarts = true;
        continue;
      }
      run.push_back(TempLink{lastFile, word, buffer[at + 4], groupStarts});
      groupStarts = false;
      at += recordBytes;
    }
    return !run.empty();
  }

 private:
  static constexpr size_t groupBytes = 8, recordBytes = 5;
  void put(uint32_t value) {
    unsigned char bytes[4];
    kolvo::storeU32(bytes, value);
    buffer.insert(buffer.end(), bytes, bytes + 4);
  }
  void flush() {
    for (size_t done = 0; done < buffer.size();) {
      ssize_t wrote = kolvo::posixCalls().write(fd, buffer.data() + done, buffer.size() - done);
      if (wrote <= 0) kolvo::throwKolvoError("MemFileExtendFail", path);
      done += static_cast<size_t>(wrote);
    }
    buffer.clear();
  }
  // Keeps what is left unread and reads more behind it.
  void refill() {
    buffer.erase(buffer.begin(), buffer.begin() + static_cast<std::ptrdiff_t>(at));
    at = 0;
    size_t kept = buffer.size();
    buffer.resize(kolvo::limits::linkSpillBufferBytes);
    ssize_t got = ::pread(fd, buffer.data() + kept, buffer.size() - kept, readAt);
    if (got < 0) kolvo::throwKolvoError("StorageReadError", path);
    buffer.resize(kept + static_cast<size_t>(got));
    readAt += got;
  }

  std::string path;
  int fd = -1;
  std::vector<unsigned char> buffer;
  bool writing = true;
  uint32_t lastFile = 0;
  size_t at = 0;
  off_t readAt = 0;
  bool groupStarts = false;
};

// The words from firstWord on, up to the next window's, own the links table from start on.
struct FillWindow {
  uint32_t firstWord;
  uint32_t start;
};

// Which window a word's links go to, found in a small table of where every stretch of
// wordStretchBytes of the word table begins rather than by a search of the windows for
// each link: a million files make tens of windows, and the search's branches cost more
// than the rest of the link's handling.
class WindowOfWord {
 public:
  static constexpr uint32_t wordStretchShift = 12;

  WindowOfWord(const std::vector<FillWindow>& fillWindows, uint32_t wordsUsed) : windows(fillWindows) {
    firstOfStretch.resize((wordsUsed >> wordStretchShift) + 1);
    uint32_t w = 0;
    for (size_t stretch = 0; stretch < firstOfStretch.size(); ++stretch) {
      const uint64_t begins = static_cast<uint64_t>(stretch) << wordStretchShift;
      while (w + 1 < windows.size() && windows[w + 1].firstWord <= begins) ++w;
      firstOfStretch[stretch] = w;
    }
  }
  // The window that holds word: the last one whose first word is not above it.
  uint32_t of(uint32_t word) const {
    size_t stretch = std::min<size_t>(word >> wordStretchShift, firstOfStretch.size() - 1);
    uint32_t w = firstOfStretch[stretch];
    while (w + 1 < windows.size() && windows[w + 1].firstWord <= word) ++w;
    return w;
  }

 private:
  const std::vector<FillWindow>& windows;
  std::vector<uint32_t> firstOfStretch;
};

// Does tasks 0 .. count - 1, fillOne(task, run, counted, reports) each, on this thread
// and up to threads - 1 others: the parts of the temporary table read at once, or the
// windows filled at once (windows share no word, no block and no page). Only this
// thread reports progress or tells a callback; another thread's failure is raised here
// once all have stopped.
template <typename FillOne>
void fillWindowsOnThreads(size_t count, unsigned threads, uint32_t& counted, FillOne&& fillOne) {
  std::atomic<size_t> next{0};
  std::mutex failureLock;
  std::optional<kolvo::HeldReport> heldFailure;
  std::exception_ptr otherFailure;
  std::vector<std::thread> helpers;
  auto stopAll = [&] {
    next = count;
    for (std::thread& helper : helpers) helper.join();
  };
  try {
    for (unsigned t = 1; t < threads && t < count; ++t) {
      try {
        helpers.emplace_back([&] {
          kolvo::HoldReports hold;
          std::vector<TempLink> run;
          run.reserve(runLength);
          uint32_t helperCounted = 0;
          try {
            for (size_t w = next++; w < count; w = next++) fillOne(w, run, helperCounted, false);
          } catch (...) {
            next = count;
            std::lock_guard<std::mutex> holding(failureLock);
            if (heldFailure || otherFailure) return;
            try {
              throw;
            } catch (const kolvo::HeldReport& report) {
              heldFailure = report;
            } catch (...) {
              otherFailure = std::current_exception();
            }
          }
        });
      } catch (const std::system_error&) {
        break;  // no more threads to be had: the ones running do the rest
      }
    }
    std::vector<TempLink> run;
    run.reserve(runLength);
    for (size_t w = next++; w < count; w = next++) fillOne(w, run, counted, true);
  } catch (...) {
    stopAll();
    throw;
  }
  stopAll();
  if (heldFailure) heldFailure->raise();
  if (otherFailure) std::rethrow_exception(otherFailure);
}

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
  // Compression reads every word's data once; the words are not looked up again in
  // this pass, so the accelerator's memory goes before the links table's comes.
  words->releaseAccelerator();
  // A pass that made every word is a build's, which looks up no name from here to its
  // end (an update may go on looking names up): the names' memory goes too.
  const bool olderWords = words->getFirst() != 0 && words->getFirst() < passWordLimit;
  if (!olderWords && files) files->releaseAccelerator();
  const uint32_t r = fileLinks->recordSize();
  // The most records a block may hold besides its terminator, within one allocation.
  const uint32_t perBlock = (fileLinks->increment() - 4) / r - 1;

  // What the passes need of each word (its current file, its next record, and for a
  // word older than this pass its links in this pass) is kept in memory at number / 16
  // (entries lie at least 21 bytes apart): a link's cursor is found from the link alone,
  // so it can be fetched well ahead.
  std::vector<WordCursor, kolvo::HugePageAllocator<WordCursor>> cursors(words->used() / 16 + 1, WordCursor{0, 0, 0});
  auto cursorOf = [&](uint32_t word) -> WordCursor& {
    kolvo::kolvoCheck(words->isEntry(word), "temporary link to no word");
    return cursors[word / 16];
  };

  // Words older than this pass have links of earlier passes in pendingLinks: count what
  // this pass handed over from the temporary table itself, and note which they are, so
  // that an update visits the words it touched and not the whole table.
  std::vector<TempLink> run;
  run.reserve(runLength);
  std::vector<uint32_t> olderTouched;
  if (olderWords) {
    TempLinkReader older(*wordLinks);
    while (older.read(run, runLength))
      for (const TempLink& link : run)
        if (link.word < passWordLimit && cursorOf(link.word).olderLinks++ == 0) olderTouched.push_back(link.word);
    std::sort(olderTouched.begin(), olderTouched.end());
  }
  // The first word this pass made: its entry starts where the table's used space ended.
  uint32_t firstNew = words->getFirst();
  if (firstNew != 0 && firstNew < passWordLimit) {
    firstNew = passWordLimit + words->dataSize() + 4;
    if (!words->isEntry(firstNew)) firstNew = 0;
  }
  // The words with links in this pass, in table order: the older ones touched, then the new.
  size_t olderAt = 0;
  bool amongNew = false;
  auto nextWord = [&](uint32_t word) -> uint32_t {
    if (olderAt < olderTouched.size()) return olderTouched[olderAt++];
    if (amongNew) return words->getNext(word);
    amongNew = true;
    return firstNew;
  };

  // Sizing pass: reserve every block at its final size.
  struct SplitWord {
    uint32_t word;
    std::vector<Block> blocks;
  };
  std::vector<SplitWord> splitWords;
  std::vector<uint32_t> filled;  // the words of one block each, in table order
  // Blocks are reserved in table order, so a run of words owns a run of the table: the
  // fill pass writes one such window at a time and lets go of it when it is done.
  std::vector<FillWindow> windows{FillWindow{0, fileLinks->used()}};
  uint32_t step = wordsIndexed * 5 / 100;
  uint32_t counter = step + 1;
  int percent = -5;
  for (uint32_t word = nextWord(0); word; word = nextWord(word)) {
    if (++counter > step && statusLevel != 0) {
      percent += 5;
      kolvo::setStatus("CountingCompress", std::to_string(percent));
      counter = 0;
    }
    const unsigned char* data = words->getData(word);
    uint32_t previous = WordData::chainHead(data);
    WordCursor& cursor = cursors[word / 16];
    cursor.currentFile = WordData::currentFile(data);
    cursor.head = previous;
    uint32_t n = word >= passWordLimit ? WordData::pendingLinks(data) : cursor.olderLinks;
    if (n == 0) continue;
    if (fileLinks->used() - windows.back().start >= linkFillWindow)
      windows.push_back(FillWindow{word, fileLinks->used()});
    if (n <= perBlock) {
      uint32_t tail = fileLinks->getSpace((n + 1) * r + 4) + (n + 1) * r;
      if (previous) fileLinks->setNextList(tail, previous);
      cursor.head = tail - r;
      filled.push_back(word);
      continue;
    }
    // Too many for one block: the first block filled is chained to the older ones, and
    // the next-block words are set once the fill pass knows where each block begins.
    // Its cursor tells the fill pass where its blocks are kept, with no lookup for the
    // links of other words.
    cursor.head = splitHead;
    cursor.olderLinks = static_cast<uint32_t>(splitWords.size());
    std::vector<Block>& blocks = splitWords.emplace_back(SplitWord{word, {}}).blocks;
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
  uint32_t reportAt = 0;
  counter = 0;
  // The links other threads have filled, for this thread's reports of progress.
  std::atomic<uint32_t> helpersCounted{0};
  // counted: the links this thread has filled (and its groups); only this thread reports.
  // Fetches are only hints: a word beyond the table (which cursorOf refuses) is fetched
  // at the last cursor instead.
  const size_t lastCursor = cursors.size() - 1;
  auto cursorAt = [&](uint32_t word) -> const WordCursor& { return cursors[std::min<size_t>(word / 16, lastCursor)]; };
  auto fill = [&](const std::vector<TempLink>& links, uint32_t& counted, bool reports) {
    for (size_t i = 0; i < links.size() && i < cursorAhead; ++i) __builtin_prefetch(&cursorAt(links[i].word));
    for (size_t i = 0; i < links.size(); ++i) {
      if (i + cursorAhead < links.size()) __builtin_prefetch(&cursorAt(links[i + cursorAhead].word));
      if (i + blockAhead < links.size()) fileLinks->prefetch(cursorAt(links[i + blockAhead].word).head - r, true);
      const TempLink& link = links[i];
      if (link.startsGroup) {
        ++counted;
        if (reports && statusLevel != 0 && counted + helpersCounted.load(std::memory_order_relaxed) >= reportAt) {
          kolvo::setStatus("CompLinksFmt", std::to_string(reportAt) + "\t" + std::to_string(reportAt + 50000));
          reportAt += 50000;
        }
      }
      ++counted;
      WordCursor& cursor = cursorOf(link.word);
      // The link of the word's current file stays in its data block.
      if (cursor.currentFile == link.file) continue;
      if (cursor.head == splitHead) {
        kolvo::kolvoCheck(cursor.olderLinks < splitWords.size() && splitWords[cursor.olderLinks].word == link.word,
                          "link to a word with no block");
        std::vector<Block>& blocks = splitWords[cursor.olderLinks].blocks;
        size_t at = 0;
        while (at < blocks.size() && blocks[at].cursor == blocks[at].start) ++at;
        kolvo::kolvoCheck(at < blocks.size(), "more links than the blocks were sized for");
        blocks[at].cursor -= r;
        fileLinks->addFile(blocks[at].cursor, link.file, link.rank);
        continue;
      }
      kolvo::kolvoCheck(cursor.head >= r, "link block overflow");
      cursor.head -= r;
      fileLinks->addFile(cursor.head, link.file, link.rank);
    }
  };
  // The temporary table is read once, in parts read at once, each from a group head:
  // the first part's links of the first window are written at once, all others go, in
  // the same order, to a spill table of their part and window. A window's turn comes
  // once every part is read: it takes its spills part by part, so its links come in the
  // order of the temporary table whatever the parts. Each window is written whole before
  // its pages go, and nothing of it is touched again but the chaining of split words'
  // blocks below.
  std::vector<uint32_t> partStarts{CFileMemory::headerSize};
  if (windows.size() > 1)
    for (unsigned part = 1; part < linkFillThreads; ++part) {
      const std::vector<uint32_t>& marks = wordLinks->groupMarks();
      auto mark = std::lower_bound(marks.begin(), marks.end(),
                                   static_cast<uint32_t>(static_cast<uint64_t>(wordLinks->used()) * part / linkFillThreads));
      if (mark != marks.end() && *mark > partStarts.back()) partStarts.push_back(*mark);
    }
  const size_t parts = partStarts.size();
  partStarts.push_back(wordLinks->used());
  std::vector<std::unique_ptr<LinkSpill>> spills(parts * windows.size());
  // Made on the first link: a part's spills are its own thread's.
  auto spillOf = [&](size_t part, size_t w) -> LinkSpill& {
    std::unique_ptr<LinkSpill>& spill = spills[part * windows.size() + w];
    if (!spill)
      spill = std::make_unique<LinkSpill>(indexPath + "temp" + std::to_string(w) + "." + std::to_string(part));
    return *spill;
  };
  const uint32_t secondWord = windows.size() > 1 ? windows[1].firstWord : UINT32_MAX;
  const WindowOfWord windowOf(windows, words->used());
  auto readPart = [&](size_t part, std::vector<TempLink>& links, uint32_t& counted, bool reports) {
    TempLinkReader reader(*wordLinks, partStarts[part], partStarts[part + 1]);
    uint32_t released = partStarts[part];
    std::vector<TempLink> inFirst;
    inFirst.reserve(runLength);
    while (reader.read(links, runLength)) {
      if (windows.size() == 1) {
        fill(links, counted, reports);
      } else {
        inFirst.clear();
        for (const TempLink& link : links) {
          size_t w = link.word < secondWord ? 0 : windowOf.of(link.word);
          if (w == 0 && part == 0)
            inFirst.push_back(link);
          else
            spillOf(part, w).add(link);
        }
        uint32_t before = counted;
        fill(inFirst, counted, reports);
        if (!reports) helpersCounted.fetch_add(counted - before, std::memory_order_relaxed);
      }
      // Let go of what has been read.
      if (reader.position() - released > kolvo::limits::linkReadReleaseBytes) {
        wordLinks->releasePagesBetween(released, reader.position());
        released = reader.position();
      }
    }
  };
  fillWindowsOnThreads(parts, linkFillThreads, counter, readPart);
  delete wordLinks;
  wordLinks = nullptr;
  std::remove((indexPath + "temp").c_str());
  if (windows.size() > 1) {
    auto fillSpilled = [&](size_t w, std::vector<TempLink>& links, uint32_t& counted, bool reports) {
      for (size_t part = 0; part < parts; ++part) {
        std::unique_ptr<LinkSpill>& spill = spills[part * windows.size() + w];
        if (!spill) continue;
        while (spill->read(links, runLength)) {
          uint32_t before = counted;
          fill(links, counted, reports);
          if (!reports) helpersCounted.fetch_add(counted - before, std::memory_order_relaxed);
        }
        spill.reset();
      }
      // Its words are done: its pages go, whatever the other windows still fill (the
      // first window's with those of older blocks the sizing pass chained to).
      uint32_t end = w + 1 < windows.size() ? windows[w + 1].start : fileLinks->used();
      fileLinks->releasePagesBetween(w == 0 ? 0 : windows[w].start, end);
    };
    fillWindowsOnThreads(windows.size(), linkFillThreads, counter, fillSpilled);
  }

  // Each word filled takes its new head back, in table order.
  for (uint32_t word : filled) WordData::setChainHead(words->getWritableData(word), cursors[word / 16].head);
  // Chain the blocks of split words, newest last: each points at where the block
  // before it begins to be read.
  for (auto& [word, blocks] : splitWords) {
    for (size_t i = 1; i < blocks.size(); ++i) fileLinks->setNextList(blocks[i].tail, blocks[i - 1].cursor);
    WordData::setChainHead(words->getWritableData(word), blocks.back().cursor);
  }

  if (statusLevel != 0) kolvo::setStatus("Done", "");
}
