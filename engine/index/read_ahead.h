// CReadAhead: the second thread of a build's walk. It opens, reads and splits the files
// the walk queues while the walk's own thread records entries and puts the words in the
// tables, which no other thread touches. Words reach the tables file by file in the
// order queued, and every callback, warning and error happens on the walk's thread.
#pragma once

#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <exception>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "engine/analyzers/file_analyzer.h"
#include "engine/index/kolvo_index.h"
#include "engine/index/word_batch.h"

class CReadAhead {
 public:
  // Splits under the index's rules as they stand now; later changes do not reach it.
  explicit CReadAhead(CKolvoIndex& index);
  // Stops the reader; what it read and was not indexed is dropped.
  ~CReadAhead();
  CReadAhead(const CReadAhead&) = delete;
  CReadAhead& operator=(const CReadAhead&) = delete;

  // Queues a file whose analyzer canReadAhead, then indexes whatever is ready, and
  // waits when the reader is too far ahead of the tables.
  void queue(CFileAnalyzer& analyzer, const std::string& path, uint32_t fileId);
  // Indexes every file queued, as indexFile would have one after another. After an
  // error while indexing it does nothing: the build stops where the error arose.
  void finish();

 private:
  struct Job {
    CFileAnalyzer* analyzer = nullptr;
    std::string path;
    uint32_t fileId = 0;
  };
  // The words of one chunk of a file; the last chunk of a file also says how it ended.
  struct Chunk {
    CWordBatch words;
    size_t bytesRead = 0;
    bool hasWords = false;
    bool endsFile = false;
    bool opened = false;
    std::string lastWord;
    std::exception_ptr failure;
  };
  class Sink;
  // Raised in the reader when the walk no longer wants its work.
  struct Stopped {};

  void readFiles();
  void readFile(const Job& job);
  // The next free chunk for the reader, waiting for one.
  Chunk& takeChunk();
  void publishChunk();
  // Indexes the chunks the reader has published; with wait, at least one.
  void indexReady(bool wait);
  void indexChunk(Chunk& chunk);

  CKolvoIndex& index;
  const SplitRules rules;

  // The walk's thread alone: files queued whose words have not all been indexed, and
  // the ring position of the next chunk to index.
  std::deque<Job> unindexed;
  size_t indexAt = 0;
  bool broken = false;
  // The reader alone: where its next chunk goes in the ring.
  size_t fillAt = 0;

  std::mutex lock;
  std::condition_variable readerWakes;
  std::condition_variable walkWakes;
  // Guarded by lock.
  std::deque<Job> unread;
  std::vector<Chunk> ring;
  size_t published = 0;  // chunks from indexAt on that the walk may index
  bool stopping = false;
  bool readerWaits = false;
  bool walkWaits = false;

  // Started last, once everything it uses is made.
  std::thread reader;
};
