// The PDF analyzer: finds Flate streams by scanning the raw file, inflates each within
// the engine's bounds, and interprets the content operators that show and place text.
#include "engine/pdfanalyzer/pdf_analyzer.h"

#include <zlib.h>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include <algorithm>
#include <array>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <new>
#include <system_error>

#include "engine/index/kolvo_index.h"
#include "engine/kolvolib/error_reporting.h"

namespace {

constexpr char LF = '\n';
constexpr std::string_view endStream = "endstream";
// The read buffer holds a refill behind the bytes that may begin the longest token.
constexpr size_t keptTokenBytes = std::string_view("FlateDecode").size();
// Indexed text is gathered over several streams up to this many bytes before its words
// go to the table: the table then sees each distinct word of a gathering once, not once
// per page, while the text still left to index once the second thread has read the
// last stream of a file stays small.
constexpr size_t gatheredTextBytes = 16 * 1024;

constexpr bool isWhite(unsigned char c) { return c == ' ' || c == '\n' || c == '\r' || c == '\t' || c == '\f' || c == 0; }

constexpr bool isDelimiter(unsigned char c) {
  return c == '(' || c == ')' || c == '<' || c == '>' || c == '[' || c == ']' || c == '{' || c == '}' ||
         c == '/' || c == '%';
}

// What a byte is to the interpreter, looked up once per byte.
enum : unsigned char {
  boundary = 1,   // whitespace or a delimiter: it ends a token
  blank = 2,      // inside a string: separates words
  dropped = 4,    // inside a string: a control byte or one from 127 to 159, left out
  stringMark = 8,  // inside a literal string: a backslash or a parenthesis, which need thought
  // inside a literal string: any byte not written as it is
  stringStop = blank | dropped | stringMark
};

constexpr std::array<unsigned char, 256> byteKinds = [] {
  std::array<unsigned char, 256> kinds{};
  for (int c = 0; c < 256; ++c) {
    auto u = static_cast<unsigned char>(c);
    unsigned char kind = 0;
    if (isWhite(u) || isDelimiter(u)) kind |= boundary;
    if (u == ' ' || u == '\t' || u == '\n' || u == '\r' || u == '\f') kind |= blank;
    else if (u < 32 || (u >= 127 && u < 160)) kind |= dropped;
    if (u == '\\' || u == '(' || u == ')') kind |= stringMark;
    kinds[u] = kind;
  }
  return kinds;
}();

bool isBoundary(unsigned char c) { return byteKinds[c] & boundary; }

bool isDigit(unsigned char c) { return c >= '0' && c <= '9'; }

int hexValue(unsigned char c) {
  if (isDigit(c)) return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return 0;
}

// The number that ends the span bytes before at (whitespace after it skipped), read
// without its sign; -1 when those bytes do not end with one. Read by hand, as the
// locale's decimal point must not matter.
double numberBefore(const char* in, size_t at, size_t span) {
  size_t first = at > span ? at - span : 0;
  size_t end = at;
  while (end > first && isWhite(static_cast<unsigned char>(in[end - 1]))) --end;
  size_t start = end;
  while (start > first && (isDigit(static_cast<unsigned char>(in[start - 1])) || in[start - 1] == '.')) --start;
  double value = 0;
  double scale = 0;
  bool digits = false;
  for (size_t i = start; i < end; ++i) {
    if (in[i] == '.') {
      if (scale != 0) break;
      scale = 1;
      continue;
    }
    digits = true;
    if (scale == 0) {
      value = value * 10 + (in[i] - '0');
    } else {
      scale /= 10;
      value += (in[i] - '0') * scale;
    }
  }
  return digits ? value : -1;
}

// Copies plain string bytes (no stringStop byte) from p to o sixteen at a time while
// sixteen remain before end, and stops at the first byte that is not plain or where
// fewer remain. Sixteen bytes are written even when fewer are plain: o must have room
// for as many bytes as are left before end.
inline void plainRun(const unsigned char*& p, char*& o, const unsigned char* end) {
#if defined(__SSE2__)
  const __m128i space = _mm_set1_epi8(32);
  const __m128i del = _mm_set1_epi8(127);
  const __m128i open = _mm_set1_epi8('(');
  const __m128i close = _mm_set1_epi8(')');
  const __m128i backslash = _mm_set1_epi8('\\');
  const __m128i zero = _mm_setzero_si128();
  while (end - p >= 16) {
    __m128i bytes = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(o), bytes);
    // Blanks and control bytes are 32 or less, the dropped high bytes 127 to 159.
    __m128i low = _mm_cmpeq_epi8(_mm_subs_epu8(bytes, space), zero);
    __m128i high = _mm_cmpeq_epi8(_mm_subs_epu8(_mm_sub_epi8(bytes, del), space), zero);
    __m128i marks = _mm_or_si128(_mm_or_si128(_mm_cmpeq_epi8(bytes, open), _mm_cmpeq_epi8(bytes, close)),
                                 _mm_cmpeq_epi8(bytes, backslash));
    auto stops = static_cast<unsigned>(_mm_movemask_epi8(_mm_or_si128(_mm_or_si128(low, high), marks)));
    if (stops != 0) {
      unsigned plain = static_cast<unsigned>(__builtin_ctz(stops));
      p += plain;
      o += plain;
      return;
    }
    p += 16;
    o += 16;
  }
#else
  (void)p;
  (void)o;
  (void)end;
#endif
}

// The text being written by the interpreter: where lines start, and the last space,
// which a wrap turns into a line break.
class TextOut {
 public:
  TextOut(char* out, size_t capacity, int wrapWidth) : out(out), capacity(capacity), wrapWidth(wrapWidth) {}

  size_t written() const { return w; }

  void space(char c) {
    if (wrapWidth > 0 && w - lineStart > static_cast<size_t>(wrapWidth) && hasSpace && lastSpace > lineStart) {
      out[lastSpace] = LF;
      lineStart = lastSpace + 1;
      hasSpace = false;
    }
    if (w == capacity) return;
    lastSpace = w;
    hasSpace = true;
    out[w++] = c;
  }

  // A line never starts empty: text that is already at a line's start stays there.
  void lineBreak() {
    if (w == 0 || out[w - 1] == LF || w == capacity) return;
    out[w++] = LF;
    lineStart = w;
    hasSpace = false;
  }

  // One byte of a string, decoded: a blank or a line end inside the string separates
  // words, other control bytes and those from 127 to 159 are left out.
  void textByte(unsigned char c) {
    unsigned char kind = byteKinds[c];
    if (kind & blank) space(' ');
    else if (!(kind & dropped) && w < capacity) out[w++] = static_cast<char>(c);
  }

  // The bytes of a literal string from at on, up to a backslash or a parenthesis or the
  // end of the data; returns where it stopped. Runs of plain bytes are copied with one
  // test each; when out has room for all the data left, which is the rule, as no byte
  // read here writes more than one, the runs need no bound of their own.
  size_t literalBytes(const unsigned char* in, size_t at, size_t length) {
    if (capacity - w < length - at) {
      for (; at < length && !(byteKinds[in[at]] & stringMark); ++at) textByte(in[at]);
      return at;
    }
    const unsigned char* p = in + at;
    const unsigned char* const end = in + length;
    char* o = out + w;
    for (;;) {
      plainRun(p, o, end);
      while (p < end && !(byteKinds[*p] & stringStop)) *o++ = static_cast<char>(*p++);
      if (p == end || (byteKinds[*p] & stringMark)) break;
      w = static_cast<size_t>(o - out);
      textByte(*p++);
      o = out + w;
    }
    w = static_cast<size_t>(o - out);
    return static_cast<size_t>(p - in);
  }

  // Where a shown string begins, with the gap written before it.
  void markString() { shownFrom = w; }

  // The operators ' and " move to the next line before they show their string, which
  // stands before them: the line break goes in front of that string's text.
  void breakBeforeString() {
    size_t mark = shownFrom;
    shownFrom = none;
    if (mark == none || mark > w || mark == 0 || out[mark - 1] == LF) return;
    if (mark < w && (out[mark] == ' ' || out[mark] == '\t')) {
      out[mark] = LF;
    } else {
      if (w == capacity) return;
      std::memmove(out + mark + 1, out + mark, w - mark);
      out[mark] = LF;
      ++w;
      if (hasSpace && lastSpace >= mark) ++lastSpace;
    }
    if (hasSpace && lastSpace <= mark) hasSpace = false;
    lineStart = std::max(lineStart, mark + 1);
  }

 private:
  static constexpr size_t none = ~size_t{0};
  char* out;
  size_t capacity;
  int wrapWidth;
  size_t w = 0;
  size_t lineStart = 0;
  size_t lastSpace = 0;
  bool hasSpace = false;
  size_t shownFrom = none;  // where the last shown string began
};

}  // namespace

struct CPdfAnalyzer::Inflater {
  z_stream zs{};
  bool ready = false;
  ~Inflater() {
    if (ready) inflateEnd(&zs);
  }
};

CPdfAnalyzer::CPdfAnalyzer(CKolvoIndex* owner) : CFileAnalyzer(owner), file(nullptr, std::fclose) {}

CPdfAnalyzer::~CPdfAnalyzer() = default;

void CPdfAnalyzer::Scratch::reserve(size_t n, size_t keep) {
  if (n <= size) return;
  std::unique_ptr<char[]> grown(new char[n]);
  if (size_t kept = std::min(keep, size)) std::memcpy(grown.get(), bytes.get(), kept);
  bytes = std::move(grown);
  size = n;
}

size_t CPdfAnalyzer::clearText(const char* inflated, size_t length, char* out, int wrapWidth) {
  TextOut text(out, length, wrapWidth);
  const auto* in = reinterpret_cast<const unsigned char*>(inflated);
  bool inText = false;
  bool inString = false;
  bool hex = false;
  int depth = 0;  // parentheses balanced inside a string are part of it
  int tmCount = 0;

  // Each operator is taken once the byte after it shows that it has ended; the end of
  // the data ends the last one.
  for (size_t i = 0; i <= length; ++i) {
    if (inString) {
      if (i == length) break;
      unsigned char b = in[i];
      if (hex) {
        if (b == '>') {
          inString = false;
        } else if (!isWhite(b)) {
          int low = 0;
          if (i + 1 < length && in[i + 1] != '>') low = hexValue(in[++i]);
          text.textByte(static_cast<unsigned char>(hexValue(b) * 16 + low));
        }
        continue;
      }
      i = text.literalBytes(in, i, length);
      if (i == length) break;
      b = in[i];
      if (b == '\\') {
        if (i + 1 == length) continue;
        unsigned char c = in[++i];
        if (c >= '0' && c <= '7') {
          int value = c - '0';
          for (int more = 0; more < 2 && i + 1 < length && in[i + 1] >= '0' && in[i + 1] <= '7'; ++more)
            value = value * 8 + (in[++i] - '0');
          text.textByte(static_cast<unsigned char>(value));
        } else if (c == 'n' || c == 'r' || c == 't' || c == 'b' || c == 'f') {
          text.space(' ');
        } else if (c == '\r') {
          if (i + 1 < length && in[i + 1] == '\n') ++i;  // the string goes on after the line end
        } else if (c != '\n') {
          text.textByte(c);
        }
      } else if (b == '(') {
        ++depth;
        text.textByte(b);
      } else if (depth == 0) {
        inString = false;  // the closing parenthesis
      } else {
        --depth;
        text.textByte(b);
      }
      continue;
    }

    // A token runs to the next boundary or the end of the data; it is one we look for
    // only when it is short. What comes before it here is always a boundary.
    if (i < length && !isBoundary(in[i])) {
      size_t start = i;
      while (++i < length && !isBoundary(in[i])) {
      }
      if (i - start <= 2) {
        std::string_view token(inflated + start, i - start);
        if (!inText) {
          inText = token == "BT";
        } else if (token == "TD" || token == "Td") {
          double move = numberBefore(inflated, start, 11);
          if (move > 1) text.lineBreak();
          else if (move > 0 && move < 1) text.space(' ');
        } else if (token == "T*") {
          text.lineBreak();
        } else if (token == "'" || token == "\"") {
          text.breakBeforeString();
        } else if (token == "ET") {
          text.lineBreak();
          inText = false;
        } else if (token == "Tm") {
          ++tmCount;
        }
      }
    }
    if (i == length || !inText) continue;

    unsigned char b = in[i];
    if (b == '<' && i + 1 < length && in[i + 1] == '<') {
      ++i;  // a dictionary, not a string
      continue;
    }
    if (b != '(' && b != '<') continue;
    // The gap before a string: a kerning number in a shown array, or a new text matrix.
    double gap = numberBefore(inflated, i, 14);
    text.markString();
    if (gap > 1000) text.space('\t');
    else if (gap > 100) text.space(' ');
    else if (gap <= 0 && tmCount >= 2) text.space(' ');
    tmCount = 0;
    inString = true;
    hex = b == '<';
    depth = 0;
  }
  return text.written();
}

bool CPdfAnalyzer::readNextBuffer(size_t keep) {
  keep = std::min(keep, bytesInReadBuffer - readPosition);
  std::memmove(readBuffer.data(), readBuffer.data() + bytesInReadBuffer - keep, keep);
  readPosition = 0;
  bytesInReadBuffer = keep;
  size_t got = std::fread(readBuffer.data() + keep, 1, chunkCapacity, file.get());
  bytesInReadBuffer += got;
  fileBytesRead += got;
  return got > 0;
}

CPdfAnalyzer::Scan CPdfAnalyzer::findNextToken(std::string_view token, std::vector<char>* collect, uint64_t limit) {
  // Passes n bytes from the read position, collecting them; false when the collection
  // reached its bound first (the read position is then at the bound).
  auto pass = [&](size_t n) {
    if (collect) {
      const char* from = readBuffer.data() + readPosition;
      uint64_t room = limit - std::min<uint64_t>(limit, collect->size());
      if (n > room) {
        collect->insert(collect->end(), from, from + room);
        readPosition += static_cast<size_t>(room);
        return false;
      }
      collect->insert(collect->end(), from, from + n);
    }
    readPosition += n;
    return true;
  };
  for (;;) {
    const char* from = readBuffer.data() + readPosition;
    size_t available = bytesInReadBuffer - readPosition;
    const void* hit = memmem(from, available, token.data(), token.size());
    if (hit) {
      size_t through = static_cast<size_t>(static_cast<const char*>(hit) - from) + token.size();
      return pass(through) ? Scan::found : Scan::bounded;
    }
    // The last bytes may begin the token: they wait for the refill.
    if (!pass(available - std::min(available, token.size() - 1))) return Scan::bounded;
    if (!readNextBuffer(token.size() - 1)) {
      if (!pass(bytesInReadBuffer - readPosition)) return Scan::bounded;
      return Scan::endOfFile;
    }
  }
}

CPdfAnalyzer::Scan CPdfAnalyzer::getStreamBuffer() {
  streamBuffer.clear();
  return findNextToken(endStream, &streamBuffer, streamLimit);
}

bool CPdfAnalyzer::inflateStream(size_t& produced, bool& boundHit) {
  produced = 0;
  const char* data = streamBuffer.data();
  size_t end = streamBuffer.size();
  size_t start = 0;
  if (start < end && data[start] == '\r') ++start;
  if (start < end && data[start] == '\n') ++start;
  if (end - start >= endStream.size() &&
      std::string_view(data + end - endStream.size(), endStream.size()) == endStream) {
    end -= endStream.size();
    if (end > start && data[end - 1] == '\n') --end;
    if (end > start && data[end - 1] == '\r') --end;
  }
  if (inflatedLimit == 0) return false;

  // One inflater serves every stream: a reset keeps its state and window allocated.
  if (!inflater) {
    auto made = std::make_unique<Inflater>();
    if (inflateInit(&made->zs) != Z_OK) return false;
    made->ready = true;
    inflater = std::move(made);
  } else if (inflateReset(&inflater->zs) != Z_OK) {
    return false;
  }
  z_stream& zs = inflater->zs;
  // The checksum at a stream's end is not computed: text that inflated is kept anyway,
  // as it is from a stream cut short, and the sum costs as much as a tenth of inflating.
  inflateValidate(&zs, 0);
  zs.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(data + start));
  zs.avail_in = static_cast<uInt>(end - start);
  size_t capacity = static_cast<size_t>(std::min<uint64_t>(std::max<uint64_t>(3 * (end - start), 1024), inflatedLimit));
  bool good = true;
  for (;;) {
    inflated.reserve(capacity, zs.total_out);
    zs.next_out = reinterpret_cast<Bytef*>(inflated.data() + zs.total_out);
    zs.avail_out = static_cast<uInt>(capacity - zs.total_out);
    // Z_FINISH: a stream that ends in the room given is not copied to the window.
    int result = inflate(&zs, Z_FINISH);
    if (result == Z_STREAM_END) break;
    if (result != Z_OK && result != Z_BUF_ERROR) {
      good = false;
      break;
    }
    if (zs.avail_out == 0) {
      // A stream may inflate to no more than its bound; the text up to there is kept.
      if (capacity >= inflatedLimit) {
        boundHit = true;
        break;
      }
      capacity = static_cast<size_t>(std::min<uint64_t>(uint64_t{capacity} * 3, inflatedLimit));
      continue;
    }
    // The data ended before the stream did (a truncated file or a cut stream): what
    // came out of it stays.
    if (zs.avail_in == 0 || result == Z_BUF_ERROR) break;
  }
  produced = zs.total_out;
  return good;
}

void CPdfAnalyzer::extractNext(CPdfTextPiece& piece, int wrapWidth) {
  uint64_t before = fileBytesRead;
  struct Count {
    CPdfTextPiece& piece;
    const uint64_t& now;
    uint64_t before;
    ~Count() { piece.bytesRead = now - before; }
  } count{piece, fileBytesRead, before};
  if (findNextToken("FlateDecode") != Scan::found) {
    piece.endsFile = true;
    return;
  }
  piece.found = true;
  if (findNextToken("stream") != Scan::found) {
    piece.endsFile = true;
    return;
  }
  size_t made = 0;
  try {
    if (getStreamBuffer() == Scan::bounded) piece.boundHit = true;
    if (!inflateStream(made, piece.boundHit)) return;
    if (piece.text.size() < made + 1) piece.text.resize(made + 1);
  } catch (const std::bad_alloc&) {
    // A stream larger than the memory left is skipped like a damaged one.
    return;
  }
  char* out = piece.text.data();
  size_t length = clearText(inflated.data(), made, out, wrapWidth);
  // A stream's last word never runs into the first word of the next.
  if (length > 0 && out[length - 1] != LF) out[length++] = LF;
  piece.length = length;
}

bool CPdfAnalyzer::processFile(const char* path, uint32_t fileId, char* displayBuffer, uint32_t displayMax,
                               int wrapWidth) {
  file.reset(std::fopen(path, "rb"));
  if (!file) return false;
  CKolvoIndex& owner = *index;
  // Indexing extracts the streams on a second thread, ahead of the words; display text,
  // read once and small, is extracted here.
  if (!displayBuffer && readAhead && !ahead) {
    try {
      ahead = std::make_unique<CPdfTextAhead>();
    } catch (const std::system_error&) {
      // Without a thread the streams are extracted here.
    }
  }
  CPdfTextAhead* const extractor = displayBuffer || !readAhead ? nullptr : ahead.get();
  // The second thread is done with the file before it is closed, however processing
  // ends; the buffers serve the next file too, unless a large stream made them large.
  struct Release {
    CPdfAnalyzer& pdf;
    CPdfTextAhead* extractor;
    ~Release() {
      if (extractor) extractor->drain();
      pdf.file.reset();
      if (pdf.streamBuffer.capacity() + pdf.inflated.size + pdf.text.size + pdf.piece.text.capacity() >
          kolvo::limits::pdfKeptBufferBytes) {
        std::vector<char>().swap(pdf.streamBuffer);
        std::vector<char>().swap(pdf.piece.text);
        pdf.inflated = Scratch();
        pdf.text = Scratch();
      }
      if (extractor) extractor->trim(kolvo::limits::pdfKeptBufferBytes);
    }
  } release{*this, extractor};

  using Clock = std::chrono::steady_clock;
  Clock::time_point noted = Clock::now();
  bool reported = false;
  owner.pendingText.clear();
  readBuffer.resize(size_t{chunkCapacity} + keptTokenBytes);
  readPosition = 0;
  bytesInReadBuffer = 0;
  fileBytesRead = 0;
  if (displayBuffer && displayMax > 0) displayBuffer[0] = '\0';

  // Display text keeps room for its NUL; indexed text is bounded like any file's read.
  const uint64_t textLimit = displayBuffer ? (displayMax > 0 ? displayMax - 1 : 0) : owner.maxPerFileRead;
  // The streams are extracted until their text reaches the limit, whoever extracts them.
  auto fill = [this, textLimit, wrapWidth, extracted = uint64_t{0}](CPdfTextPiece& next) mutable {
    if (extracted >= textLimit) {
      next.endsFile = true;
      return;
    }
    extractNext(next, wrapWidth);
    extracted += std::min<uint64_t>(next.length, textLimit - extracted);
  };
  if (extractor) extractor->start(fill);

  uint64_t produced = 0;
  bool firstChunk = true;
  bool boundHit = false;
  // Every stream's text ends with a line break, so no word is cut where two gathered
  // streams meet.
  size_t held = 0;
  auto indexHeld = [&] {
    if (held == 0) return;
    // A word cut by the limit stays in the pending text and is not indexed.
    indexBuffer(text.data(), static_cast<uint32_t>(held), fileId, firstChunk);
    firstChunk = false;
    held = 0;
  };
  for (bool more = true; more;) {
    CPdfTextPiece* next = &piece;
    if (extractor) {
      next = &extractor->take();
    } else {
      piece.clear();
      fill(piece);
    }
    // Given back however this piece's turn ends.
    struct Done {
      CPdfTextAhead* extractor;
      ~Done() {
        if (extractor) extractor->release();
      }
    } done{extractor};
    owner.bytesRead += static_cast<double>(next->bytesRead);
    if (next->failure) std::rethrow_exception(next->failure);
    more = !next->endsFile;
    if (next->found) {
      Clock::time_point now = Clock::now();
      if (std::chrono::duration<double>(now - noted).count() >= reportSeconds) {
        reported = true;
        if (!kolvo::setStatus("DecodingPdf", path)) break;
        noted = now;
      }
    }
    boundHit = boundHit || next->boundHit;
    auto take = static_cast<size_t>(std::min<uint64_t>(next->length, textLimit - produced));
    if (take == 0) continue;
    if (displayBuffer) {
      std::memcpy(displayBuffer + produced, next->text.data(), take);
      displayBuffer[produced + take] = '\0';
    } else {
      text.reserve(held + take, held);
      std::memcpy(text.data() + held, next->text.data(), take);
      held += take;
      if (held >= gatheredTextBytes) indexHeld();
    }
    produced += take;
  }
  indexHeld();

  owner.pendingText.clear();
  // An empty report clears a "DecodingPdf" shown for this file.
  if (reported) kolvo::setStatus("", "");
  if (boundHit) kolvo::tellWarning("PdfStreamTooLarge", path);
  if (!displayBuffer) ++owner.contentsIndexed;
  return true;
}

bool CPdfAnalyzer::indexFile(const char* path, uint32_t fileId) {
  return processFile(path, fileId, nullptr, 0, 10000);
}

char* CPdfAnalyzer::fillDisplayBuffer(const char* path, uint32_t fileId, uint32_t maxBytes, int wrapWidth,
                                      bool /*stripMarkup*/) {
  std::unique_ptr<char, void (*)(void*)> buffer(static_cast<char*>(std::malloc(std::max<uint32_t>(maxBytes, 1))),
                                                std::free);
  if (!buffer) kolvo::throwKolvoError("NoMemory", "");
  buffer.get()[0] = '\0';
  processFile(path, fileId, buffer.get(), maxBytes, wrapWidth);
  return buffer.release();
}
