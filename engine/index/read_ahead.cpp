#include "engine/index/read_ahead.h"

namespace {

// Chunks split and not yet indexed, and files queued and not yet indexed: enough for
// the reader to run ahead over a folder of small files, little memory at any time.
constexpr size_t ringSize = 32;
constexpr size_t queueLimit = 64;

}  // namespace

class CReadAhead::Sink : public CFileAnalyzer::WordSink {
 public:
  explicit Sink(CReadAhead& reader) : owner(reader) {}

  // A chunk is published only when the next one starts or the file ends, so the last
  // chunk of a file also carries how the file ended.
  CWordBatch& nextBatch() override {
    if (held) {
      held = nullptr;
      owner.publishChunk();
    }
    held = &owner.takeChunk();
    return held->words;
  }
  void chunkSplit(size_t bytesRead) override {
    held->bytesRead = bytesRead;
    held->hasWords = true;
  }

  Chunk* held = nullptr;

 private:
  CReadAhead& owner;
};

CReadAhead::CReadAhead(CKolvoIndex& owner) : index(owner), rules(SplitRules::of(owner)), ring(ringSize) {
  reader = std::thread(&CReadAhead::readFiles, this);
}

CReadAhead::~CReadAhead() {
  {
    std::lock_guard<std::mutex> hold(lock);
    stopping = true;
  }
  readerWakes.notify_one();
  reader.join();
}

void CReadAhead::queue(CFileAnalyzer& analyzer, const std::string& path, uint32_t fileId) {
  unindexed.push_back(Job{&analyzer, path, fileId});
  try {
    std::lock_guard<std::mutex> hold(lock);
    unread.push_back(unindexed.back());
    if (readerWaits) readerWakes.notify_one();
  } catch (...) {
    // A file the reader never gets must not be waited for.
    unindexed.pop_back();
    throw;
  }
  indexReady(false);
  while (unindexed.size() > queueLimit) indexReady(true);
}

void CReadAhead::finish() {
  if (broken) return;
  while (!unindexed.empty()) indexReady(true);
}

void CReadAhead::indexReady(bool wait) {
  size_t count = 0;
  {
    std::unique_lock<std::mutex> hold(lock);
    while (wait && published == 0) {
      walkWaits = true;
      walkWakes.wait(hold);
    }
    walkWaits = false;
    count = published;
  }
  for (size_t done = 0; done < count; ++done) {
    Chunk& chunk = ring[indexAt];
    indexAt = (indexAt + 1) % ring.size();
    try {
      indexChunk(chunk);
    } catch (...) {
      broken = true;
      throw;
    }
    // Given back one by one, so the reader goes on while the rest is indexed.
    std::lock_guard<std::mutex> hold(lock);
    --published;
    if (readerWaits) readerWakes.notify_one();
  }
}

void CReadAhead::indexChunk(Chunk& chunk) {
  const Job& job = unindexed.front();
  if (chunk.failure) std::rethrow_exception(chunk.failure);
  if (chunk.hasWords) {
    index.indexWords(chunk.words, job.fileId);
    index.noteBytesRead(chunk.bytesRead, job.path.c_str());
  }
  if (!chunk.endsFile) return;
  if (!chunk.lastWord.empty()) index.indexWord(chunk.lastWord.c_str(), job.fileId);
  if (chunk.opened) ++index.contentsIndexed;
  unindexed.pop_front();
}

void CReadAhead::readFiles() {
  try {
    for (;;) {
      Job job;
      {
        std::unique_lock<std::mutex> hold(lock);
        while (unread.empty() && !stopping) {
          readerWaits = true;
          readerWakes.wait(hold);
        }
        readerWaits = false;
        if (stopping) return;
        job = std::move(unread.front());
        unread.pop_front();
      }
      readFile(job);
    }
  } catch (const Stopped&) {
  }
}

void CReadAhead::readFile(const Job& job) {
  Sink sink(*this);
  std::string lastWord;
  bool opened = false;
  std::exception_ptr failure;
  try {
    opened = job.analyzer->splitFile(job.path.c_str(), rules, sink, lastWord);
  } catch (const Stopped&) {
    throw;
  } catch (...) {
    // Raised on the walk's thread when it reaches this file, as indexFile would have.
    failure = std::current_exception();
  }
  Chunk& end = sink.held ? *sink.held : takeChunk();
  end.endsFile = true;
  end.opened = opened;
  end.lastWord.swap(lastWord);
  end.failure = failure;
  publishChunk();
}

CReadAhead::Chunk& CReadAhead::takeChunk() {
  {
    std::unique_lock<std::mutex> hold(lock);
    while (published == ring.size() && !stopping) {
      readerWaits = true;
      readerWakes.wait(hold);
    }
    readerWaits = false;
    if (stopping) throw Stopped{};
  }
  Chunk& chunk = ring[fillAt];
  chunk.bytesRead = 0;
  chunk.hasWords = false;
  chunk.endsFile = false;
  chunk.opened = false;
  chunk.lastWord.clear();
  chunk.failure = nullptr;
  return chunk;
}

void CReadAhead::publishChunk() {
  fillAt = (fillAt + 1) % ring.size();
  std::lock_guard<std::mutex> hold(lock);
  ++published;
  if (walkWaits) walkWakes.notify_one();
}
