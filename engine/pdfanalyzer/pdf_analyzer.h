// CPdfAnalyzer: the text of PDF files, indexed and shown. It does not parse the object
// structure: it scans the raw file for Flate-compressed streams, inflates each with zlib
// and keeps the strings shown between BT and ET. The registry holds it under "pdf".
// While indexing, a second thread (CPdfTextAhead) extracts the next streams of a file.
#pragma once

#include <cstdint>
#include <cstdio>
#include <memory>
#include <string_view>
#include <vector>

#include "engine/analyzers/file_analyzer.h"
#include "engine/index/resource_limits.h"
#include "engine/pdfanalyzer/pdf_text_ahead.h"

class CPdfAnalyzer : public CFileAnalyzer {
 public:
  explicit CPdfAnalyzer(CKolvoIndex* owner);
  ~CPdfAnalyzer() override;

  // An archive member that is a PDF is written to a file first: streams are found by
  // scanning the whole file.
  bool canUseIndexBuffer() override { return false; }
  bool indexFile(const char* path, uint32_t fileId) override;
  // At most maxBytes - 1 bytes of text and a NUL; stripMarkup is not used.
  char* fillDisplayBuffer(const char* path, uint32_t fileId, uint32_t maxBytes, int wrapWidth,
                          bool stripMarkup) override;

  // Extracts the text of every Flate stream of the file at path: into displayBuffer (of
  // displayMax bytes, kept NUL-terminated) when it is given, else into the index under
  // fileId. False only when the file cannot be opened.
  bool processFile(const char* path, uint32_t fileId, char* displayBuffer, uint32_t displayMax, int wrapWidth);
  // The content interpreter: the text shown by one inflated content stream, with line
  // breaks, TABs and spaces where the text moves. out needs room for length bytes, which
  // the text never exceeds. wrapWidth 0 or less means no wrapping. Returns the bytes written.
  static size_t clearText(const char* inflated, size_t length, char* out, int wrapWidth);

  // Bounds of one stream: the raw bytes collected and the bytes inflated from them.
  uint64_t streamLimit = kolvo::limits::pdfStreamBytes;
  uint64_t inflatedLimit = kolvo::limits::pdfInflatedBytes;
  // Seconds between "DecodingPdf" reports, which are also the moments a halt is seen.
  double reportSeconds = kolvo::limits::decodingReportSeconds;
  // Whether indexing extracts the streams on a second thread; the words are the same.
  bool readAhead = true;

 private:
  enum class Scan { found, endOfFile, bounded };

  // Refills the read buffer behind the keep bytes at its end; false at the end of the file.
  bool readNextBuffer(size_t keep);
  // Moves past the next occurrence of token; with collect, appends every byte passed to
  // it, and stops with Scan::bounded once it holds more than limit bytes.
  Scan findNextToken(std::string_view token, std::vector<char>* collect = nullptr, uint64_t limit = 0);
  // Finds, inflates and interprets the next Flate stream of the open file into piece,
  // which is marked endsFile when no stream follows. Touches nothing of the index, so
  // the second thread may run it.
  void extractNext(CPdfTextPiece& piece, int wrapWidth);
  // Collects the current stream up to and including "endstream" into streamBuffer.
  Scan getStreamBuffer();
  // Inflates the collected stream into inflated; false when zlib refuses it. Sets
  // boundHit when the stream inflates to more than inflatedLimit.
  bool inflateStream(size_t& produced, bool& boundHit);

  // A buffer that grows without clearing what it gains: zlib and the interpreter fill it.
  struct Scratch {
    std::unique_ptr<char[]> bytes;
    size_t size = 0;
    char* data() { return bytes.get(); }
    // Room for n bytes, keeping the first keep of those held.
    void reserve(size_t n, size_t keep = 0);
  };

  // zlib's state, kept from stream to stream.
  struct Inflater;
  std::unique_ptr<Inflater> inflater;
  std::unique_ptr<std::FILE, int (*)(std::FILE*)> file;
  std::vector<char> readBuffer;
  size_t readPosition = 0;
  size_t bytesInReadBuffer = 0;
  std::vector<char> streamBuffer;
  Scratch inflated;
  // The file bytes read so far, which the analyzer's thread adds to the index's count.
  uint64_t fileBytesRead = 0;
  // The extracting side above; the indexing side below.
  CPdfTextPiece piece;  // the piece in hand when streams are extracted on this thread
  Scratch text;         // text gathered for the word table
  // Declared last, so that its thread ends before the buffers it uses go.
  std::unique_ptr<CPdfTextAhead> ahead;
};
