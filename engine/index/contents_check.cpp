// The display text is made exactly as the analyzer's fillDisplayBuffer makes it (the
// same chunks through the same filter, cut at maxBytes and at a NUL), but each chunk's
// text is split into words at once and dropped; a small file whose display keeps its
// words as they stand is split without the filter, and so is a web page read whole,
// its markup passed over as the display passes it. The analyzers read on other threads
// are those whose display keeps no state outside the StripState of each file.
#include "engine/index/contents_check.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <atomic>
#include <cerrno>
#include <cstring>
#include <memory>
#include <string>
#include <thread>
#include <typeinfo>
#include <vector>

#include "engine/analyzers/file_analyzer.h"
#include "engine/analyzers/html_analyzer.h"
#include "engine/index/hit_pattern.h"
#include "engine/index/hit_scan.h"
#include "engine/index/kolvo_index.h"
#include "engine/index/plain_scan.h"
#include "engine/index/resource_limits.h"
#include "engine/storage/file_storage.h"

namespace kolvo {
namespace {

using Mask = std::array<unsigned char, 256>;

struct Job {
  size_t slot;
  uint32_t folder;   // the entry of the file's folder
  const char* name;  // the file's name in it, in the file table
  CFileAnalyzer* analyzer;
  const CHtmlAnalyzer* page;  // the analyzer, when it is the web pages' own
};

// Splits a stream of text, handed over in pieces, into words for a scan; a word cut by
// the end of a piece is kept until the next one ends it.
class WordFeed {
 public:
  WordFeed(HitScan& target, const Mask& start, const Mask& part) : scan(target), isStart(start), isPart(part) {}

  // For the next file.
  void restart() {
    scan.restart();
    cut.clear();
  }
  // True once the scan has found a hit.
  bool feed(const char* text, size_t size) {
    size_t at = 0;
    if (!cut.empty()) {
      while (at < size && isPart[static_cast<unsigned char>(text[at])]) ++at;
      cut.append(text, at);
      if (at == size) return false;
      if (scan.take(cut.data(), cut.size())) return true;
      cut.clear();
    }
    for (;;) {
      while (at < size && !isStart[static_cast<unsigned char>(text[at])]) ++at;
      if (at == size) return false;
      size_t begin = at++;
      while (at < size && isPart[static_cast<unsigned char>(text[at])]) ++at;
      if (at == size) {
        cut.assign(text + begin, at - begin);
        return false;
      }
      if (scan.take(text + begin, at - begin)) return true;
    }
  }
  bool finish() {
    if (!cut.empty() && scan.take(cut.data(), cut.size())) return true;
    cut.clear();
    return scan.found();
  }

 private:
  HitScan& scan;
  const Mask& isStart;
  const Mask& isPart;
  std::string cut;
};

// One read; a regular file gives fewer bytes than asked only at its end.
size_t readOnce(int descriptor, char* into, size_t wanted) {
  for (;;) {
    ssize_t got = ::read(descriptor, into, wanted);
    if (got >= 0) return static_cast<size_t>(got);
    if (errno != EINTR) return 0;
  }
}

// Reads like fread: as many bytes as asked unless the file ends first.
size_t readFully(int descriptor, char* into, size_t wanted) {
  size_t got = 0;
  while (got < wanted) {
    ssize_t now = ::read(descriptor, into + got, wanted - got);
    if (now < 0 && errno == EINTR) continue;
    if (now <= 0) break;
    got += static_cast<size_t>(now);
  }
  return got;
}


// One thread's reading: its buffers, scan and open folder serve file after file.
class Reader {
 public:
  Reader(const CFileStorage& files, const HitPattern& pattern, const Mask& start, const Mask& part,
         const PlainScan& plain, const CHtmlAnalyzer::ShownWordRules& pageRules, uint32_t maxBytes, int wrapWidth,
         bool stripMarkup)
      : table(files),
        plain(plain),
        pageRules(pageRules),
        maxBytes(maxBytes),
        wrapWidth(wrapWidth),
        stripMarkup(stripMarkup),
        scan(pattern, part),
        words(scan, start, part) {}
  ~Reader() {
    if (folderDescriptor >= 0) ::close(folderDescriptor);
  }
  Reader(const Reader&) = delete;
  Reader& operator=(const Reader&) = delete;

  ContentsVerdict check(const Job& job) {
    int descriptor = open(job);
    if (descriptor < 0) return lacksHit;
    std::unique_ptr<int, void (*)(int*)> closer(&descriptor, [](int* open) { ::close(*open); });
    if (maxBytes == 0) return lacksHit;
    words.restart();
    // The file's first chunk, read in one call: a regular file shorter than a chunk is
    // then read whole.
    char* chunk = buffers.chunk.data();
    size_t got = readOnce(descriptor, chunk, CFileAnalyzer::chunkCapacity);
    bool whole = got < CFileAnalyzer::chunkCapacity;
    // A whole file shorter than the limit and of plain bytes only is split straight from
    // its converted bytes, when the analyzer's filter has no format hooks.
    if (!job.analyzer->hasCharacterHooks()) {
      if (whole && got <= maxBytes) {
        job.analyzer->convertRawBuffer(chunk, static_cast<uint32_t>(got));
        PlainScan::Verdict verdict = plain.run(scan, chunk, got);
        if (verdict != PlainScan::Verdict::notPlain) return verdict == PlainScan::Verdict::holds ? holdsHit : lacksHit;
        scan.restart();
      }
      // Converted or read already: the filter reads the file again.
      if (::lseek(descriptor, 0, SEEK_SET) != 0) return askContents;
      got = 0;
      whole = false;
    } else if (job.page && whole && got <= maxBytes) {
      // A whole page whose display cannot be cut: its words are read from its bytes.
      CHtmlAnalyzer::ShownWords shown = job.page->scanShownWords(chunk, got, stripMarkup, pageRules, scan, word);
      if (shown != CHtmlAnalyzer::ShownWords::unsure) return shown == CHtmlAnalyzer::ShownWords::holds ? holdsHit : lacksHit;
      scan.restart();
    }
    // The display text chunk by chunk, cut at maxBytes and at its first NUL as the
    // contents object's text is. The chunk read above is the stream's first.
    bool taken = got == 0;
    auto read = [&](char* into, size_t size) -> size_t {
      if (!taken) {
        taken = true;
        return got;  // already in place: the stream's first read is into the whole chunk
      }
      return whole ? 0 : readFully(descriptor, into, size);
    };
    size_t produced = 0;
    bool holds = false;
    job.analyzer->displayStream(read, wrapWidth, stripMarkup, buffers, [&](const char* text, size_t size) {
      size_t take = std::min<size_t>(size, maxBytes - produced);
      const void* nul = std::memchr(text, 0, take);
      if (nul) take = static_cast<size_t>(static_cast<const char*>(nul) - text);
      holds = words.feed(text, take);
      produced += take;
      return !holds && !nul && produced < maxBytes;
    });
    return holds || words.finish() ? holdsHit : lacksHit;
  }

 private:
  // Opens the file in its folder, which stays open for the files after it that share it,
  // so that the path is looked up once per folder rather than once per file.
  int open(const Job& job) {
    if (job.folder != folder) {
      if (folderDescriptor >= 0) ::close(folderDescriptor);
      folder = job.folder;
      folderDescriptor = ::open(table.getText(folder), O_PATH | O_DIRECTORY | O_CLOEXEC);
    }
    if (folderDescriptor < 0) return -1;
    return ::openat(folderDescriptor, job.name, O_RDONLY | O_CLOEXEC);
  }

  const CFileStorage& table;
  const PlainScan& plain;
  const CHtmlAnalyzer::ShownWordRules& pageRules;
  const uint32_t maxBytes;
  const int wrapWidth;
  const bool stripMarkup;
  HitScan scan;
  WordFeed words;
  CFileAnalyzer::DisplayBuffers buffers;
  std::string word;  // a page's word that holds decoded bytes
  uint32_t folder = 0;
  int folderDescriptor = -1;
};

}  // namespace

// Word bytes must be shown as they are: not punctuation, no blank or line break the
// filter rewrites. A file made only of such bytes holds, besides words, only punctuation
// and shown characters (written, so they still part words) and line ends (which the
// filter keeps apart); no byte the filter drops, which would let its trimming join two
// words, no NUL and no byte above 127 that is not shown.
Mask plainDisplayBytes(const CKolvoIndex& index, const Mask& start, const Mask& part) {
  Mask plain{};
  for (int c = 1; c < 256; ++c) {
    bool word = start[c] || part[c];
    bool shown = index.validViewableMask[c] != 0;
    bool punctuation = index.nonAlphaCharMask[c] != 0;
    bool rewritten = c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == 0xE3;
    if (word && (!shown || punctuation || rewritten)) return Mask{};
    plain[c] = (word || punctuation || shown || c == '\n' || c == '\r') && (c < 0x80 || shown);
  }
  return plain;
}

void checkContents(CKolvoIndex& index, const uint32_t* files, size_t count, uint32_t maxBytes, int wrapWidth,
                   bool stripMarkup, int nearDistance, std::string_view pattern, unsigned threads, char* verdicts) {
  Mask start = index.validCharMask;
  Mask part = index.validTrailingMask;
  // The terminating NUL never continues a word, whatever the masks say.
  start[0] = 0;
  part[0] = 0;
  const HitPattern hitPattern(pattern, part, nearDistance);
  const Mask plainSet = plainDisplayBytes(index, start, part);
  const PlainScan plain(start, part, plainSet, HitScan(hitPattern, part));
  const auto pageRules = CHtmlAnalyzer::ShownWordRules::of(start, part, plainSet);

  // The registry is read here only; the threads see the analyzers, and read the file
  // table's names.
  std::vector<Job> jobs;
  CFileStorage* table = index.files;
  std::string path;
  CFileAnalyzer* generic = nullptr;
  if (auto found = index.analyzerMap.find("generic"); found != index.analyzerMap.end()) generic = found->second.get();
  for (size_t i = 0; i < count; ++i) {
    verdicts[i] = askContents;
    uint32_t file = files[i];
    if (!table || !table->isEntry(file)) continue;
    uint32_t parent = table->getParent(file);
    if (parent == 0) {
      verdicts[i] = lacksHit;  // a folder has no contents
      continue;
    }
    if (!table->isEntry(parent) || table->getParent(parent) != 0) continue;
    const char* name = table->getText(file);
    path.assign(table->getText(parent)).append("/").append(name);
    CFileAnalyzer* analyzer = index.analyzerThatMatches(path.c_str());
    if (!analyzer) analyzer = generic;
    if (!analyzer || !analyzer->displaysStatelessly()) continue;
    const CHtmlAnalyzer* page =
        typeid(*analyzer) == typeid(CHtmlAnalyzer) ? static_cast<const CHtmlAnalyzer*>(analyzer) : nullptr;
    jobs.push_back(Job{i, parent, name, analyzer, page});
  }

  if (jobs.empty()) return;
  unsigned cores = threads != 0 ? threads : std::max(1U, std::thread::hardware_concurrency());
  size_t workers = std::min<size_t>({cores, limits::contentsCheckThreads, jobs.size()});
  std::atomic<size_t> next{0};
  auto work = [&] {
    Reader reader(*table, hitPattern, start, part, plain, pageRules, maxBytes, wrapWidth, stripMarkup);
    for (size_t j; (j = next.fetch_add(1)) < jobs.size();) {
      char verdict = askContents;
      try {
        verdict = reader.check(jobs[j]);
      } catch (...) {
        // Out of memory on a thread: the contents object decides on the calling one.
      }
      verdicts[jobs[j].slot] = verdict;
    }
  };
  std::vector<std::jthread> pool;
  for (size_t w = 1; w < workers; ++w) pool.emplace_back(work);
  work();
}

}  // namespace kolvo
