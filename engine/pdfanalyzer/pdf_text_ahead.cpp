#include "engine/pdfanalyzer/pdf_text_ahead.h"

#include <utility>

#include "engine/index/resource_limits.h"

namespace {

// Pieces in flight. Each side wakes the other only once half the ring is ready for it,
// so that a thread waiting on a faster one is not woken for every stream.
constexpr size_t ringSize = 8;
constexpr size_t wakeAfter = ringSize / 2;

}  // namespace

void CPdfTextPiece::clear() {
  length = 0;
  found = false;
  boundHit = false;
  endsFile = false;
  bytesRead = 0;
  failure = nullptr;
}

CPdfTextAhead::CPdfTextAhead() : ring(ringSize) { filler = std::thread(&CPdfTextAhead::run, this); }

CPdfTextAhead::~CPdfTextAhead() {
  {
    std::lock_guard<std::mutex> hold(lock);
    ending = true;
    stopAsked = true;
  }
  fillerWakes.notify_one();
  filler.join();
}

void CPdfTextAhead::start(Fill fill) {
  {
    std::lock_guard<std::mutex> hold(lock);
    job = std::move(fill);
    hasJob = true;
    stopAsked = false;
  }
  reading = true;
  fillerWakes.notify_one();
}

CPdfTextPiece& CPdfTextAhead::take() {
  std::unique_lock<std::mutex> hold(lock);
  while (published == 0) {
    takerWaits = true;
    takerWakes.wait(hold);
  }
  takerWaits = false;
  return ring[takeAt];
}

void CPdfTextAhead::release() {
  CPdfTextPiece& piece = ring[takeAt];
  if (piece.endsFile) reading = false;
  takeAt = (takeAt + 1) % ring.size();
  std::lock_guard<std::mutex> hold(lock);
  --published;
  publishedBytes -= piece.length;
  if (fillerWaits && (ring.size() - published >= wakeAfter || published == 0)) fillerWakes.notify_one();
}

void CPdfTextAhead::stop() {
  std::lock_guard<std::mutex> hold(lock);
  stopAsked = true;
}

void CPdfTextAhead::drain() {
  if (!reading) return;
  stop();
  while (reading) {
    take();
    release();
  }
}

void CPdfTextAhead::trim(size_t keep) {
  for (CPdfTextPiece& piece : ring)
    if (piece.text.capacity() > keep) std::vector<char>().swap(piece.text);
}

void CPdfTextAhead::run() {
  for (;;) {
    Fill fill;
    {
      std::unique_lock<std::mutex> hold(lock);
      while (!hasJob && !ending) {
        fillerWaits = true;
        fillerWakes.wait(hold);
      }
      fillerWaits = false;
      if (ending) return;
      fill = std::move(job);
      hasJob = false;
    }
    for (bool more = true; more;) {
      CPdfTextPiece* piece = room();
      if (!piece) return;
      piece->clear();
      bool stopped = false;
      {
        std::lock_guard<std::mutex> hold(lock);
        stopped = stopAsked;
      }
      if (stopped) {
        piece->endsFile = true;
      } else {
        try {
          fill(*piece);
        } catch (...) {
          // Raised on the analyzer's thread when it takes this piece.
          piece->failure = std::current_exception();
          piece->endsFile = true;
        }
      }
      more = !piece->endsFile;
      publish(*piece);
    }
  }
}

CPdfTextPiece* CPdfTextAhead::room() {
  std::unique_lock<std::mutex> hold(lock);
  // Pieces wait while the ring is full or holds much text, unless it is empty.
  while (!ending && (published == ring.size() ||
                     (published > 0 && publishedBytes >= kolvo::limits::pdfTextAheadBytes))) {
    fillerWaits = true;
    fillerWakes.wait(hold);
  }
  fillerWaits = false;
  if (ending) return nullptr;
  return &ring[fillAt];
}

void CPdfTextAhead::publish(const CPdfTextPiece& piece) {
  fillAt = (fillAt + 1) % ring.size();
  std::lock_guard<std::mutex> hold(lock);
  ++published;
  publishedBytes += piece.length;
  if (takerWaits && (published >= wakeAfter || piece.endsFile || publishedBytes >= kolvo::limits::pdfTextAheadBytes))
    takerWakes.notify_one();
}
