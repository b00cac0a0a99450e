// The PDF analyzer's second thread: pieces come out in order, a stop ends a file early
// with an empty piece, a failure reaches the taker, and one thread serves file after file.
#include "engine/pdfanalyzer/pdf_text_ahead.h"

#include <gtest/gtest.h>

#include <stdexcept>
#include <string>

namespace {

// A file of count pieces, the piece numbered n holding the text of n.
CPdfTextAhead::Fill numbered(int count) {
  return [count, made = 0](CPdfTextPiece& piece) mutable {
    std::string text = std::to_string(made++);
    piece.text.assign(text.begin(), text.end());
    piece.length = text.size();
    piece.found = true;
    piece.endsFile = made == count;
  };
}

std::string textOf(const CPdfTextPiece& piece) { return std::string(piece.text.data(), piece.length); }

TEST(PdfTextAhead, PiecesComeInOrderFileAfterFile) {
  CPdfTextAhead ahead;
  for (int count : {1, 3, 50}) {
    SCOPED_TRACE(count);
    ahead.start(numbered(count));
    for (int n = 0; n < count; ++n) {
      CPdfTextPiece& piece = ahead.take();
      EXPECT_EQ(textOf(piece), std::to_string(n));
      EXPECT_EQ(piece.endsFile, n == count - 1);
      ahead.release();
    }
    ahead.drain();  // nothing left: returns at once
  }
}

TEST(PdfTextAhead, StopEndsTheFileAndTheNextOneStartsWhole) {
  CPdfTextAhead ahead;
  ahead.start(numbered(1000000));
  EXPECT_EQ(textOf(ahead.take()), "0");
  ahead.release();
  ahead.stop();
  // The pieces made before the stop was seen, then an empty last one.
  int left = 0;
  for (;;) {
    CPdfTextPiece& piece = ahead.take();
    bool last = piece.endsFile;
    if (last) {
      EXPECT_EQ(piece.length, 0u);
    }
    ahead.release();
    ++left;
    if (last) break;
  }
  EXPECT_LT(left, 100);
  ahead.start(numbered(2));
  EXPECT_EQ(textOf(ahead.take()), "0");
  ahead.release();
  ahead.drain();
  ahead.start(numbered(2));
  EXPECT_EQ(textOf(ahead.take()), "0");
  ahead.release();
  EXPECT_EQ(textOf(ahead.take()), "1");
  ahead.release();
}

TEST(PdfTextAhead, FailureEndsTheFileOnTheTakersSide) {
  CPdfTextAhead ahead;
  ahead.start([made = 0](CPdfTextPiece& piece) mutable {
    if (++made == 3) throw std::runtime_error("broken");
    piece.length = 0;
  });
  for (int n = 0; n < 2; ++n) {
    EXPECT_FALSE(ahead.take().failure);
    ahead.release();
  }
  CPdfTextPiece& failed = ahead.take();
  EXPECT_TRUE(failed.endsFile);
  ASSERT_TRUE(failed.failure);
  EXPECT_THROW(std::rethrow_exception(failed.failure), std::runtime_error);
  ahead.release();
}

TEST(PdfTextAhead, DestroyedWhileAFileIsRead) {
  // The thread waits for room in a full ring; ending it there must not hang.
  CPdfTextAhead ahead;
  ahead.start(numbered(1000000));
  EXPECT_EQ(textOf(ahead.take()), "0");
  ahead.release();
}

}  // namespace
