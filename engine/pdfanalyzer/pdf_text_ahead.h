// CPdfTextAhead: the second thread of the PDF analyzer. While the analyzer's thread
// indexes the text of one stream, this thread finds, inflates and interprets the next
// streams of the same file. Pieces of text come out in the order they were made; the
// index, callbacks and warnings are touched only by the analyzer's thread.
#pragma once

#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <exception>
#include <functional>
#include <mutex>
#include <thread>
#include <vector>

// The text of one Flate stream, or the end of a file's streams.
struct CPdfTextPiece {
  std::vector<char> text;  // grows, never shrinks while a file is read; length bytes hold the text
  size_t length = 0;
  bool found = false;     // a "FlateDecode" was found: a moment for a status report
  bool boundHit = false;  // the stream was cut at a bound
  bool endsFile = false;  // no piece follows
  uint64_t bytesRead = 0;  // file bytes read since the previous piece
  std::exception_ptr failure;  // what the filling raised; it ends the file

  void clear();
};

class CPdfTextAhead {
 public:
  // Fills the next piece of the file in hand; marks the last one endsFile.
  using Fill = std::function<void(CPdfTextPiece&)>;

  CPdfTextAhead();
  // Stops the thread; a file being read is given up.
  ~CPdfTextAhead();
  CPdfTextAhead(const CPdfTextAhead&) = delete;
  CPdfTextAhead& operator=(const CPdfTextAhead&) = delete;

  // Starts reading one file through fill, which runs on the second thread until it
  // marks a piece endsFile or stop is asked. Every piece up to that one must be taken.
  void start(Fill fill);
  // The next piece, waiting for it; it stays valid until release.
  CPdfTextPiece& take();
  void release();
  // Asks the file in hand to end at the next piece, which then ends it empty.
  void stop();
  // Takes and releases every piece left of the file in hand.
  void drain();
  // Gives back the memory of large pieces; only between files.
  void trim(size_t keep);

 private:
  void run();
  // The next piece to fill, waiting for room; null when the thread must end.
  CPdfTextPiece* room();
  void publish(const CPdfTextPiece& piece);

  std::vector<CPdfTextPiece> ring;
  size_t takeAt = 0;  // the analyzer's thread alone
  size_t fillAt = 0;  // this thread alone
  bool reading = false;  // the analyzer's thread alone: a file is started and its end not taken

  std::mutex lock;
  std::condition_variable fillerWakes;
  std::condition_variable takerWakes;
  // Guarded by lock.
  Fill job;
  bool hasJob = false;
  bool stopAsked = false;
  bool ending = false;
  size_t published = 0;
  uint64_t publishedBytes = 0;
  bool fillerWaits = false;
  bool takerWaits = false;

  // Started last, once everything it uses is made.
  std::thread filler;
};
