// The generic analyzer: the chunked read loop, word splitting with the index's masks,
// and the plain display text of any file, binary files included.
#include "engine/analyzers/file_analyzer.h"

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <typeinfo>
#include <vector>

#include "engine/index/kolvo_index.h"
#include "engine/index/resource_limits.h"
#include "engine/kolvolib/error_reporting.h"
#include "engine/kolvolib/lower_case_table.h"

namespace {

using FilePtr = std::unique_ptr<std::FILE, int (*)(std::FILE*)>;

FilePtr openForReading(const char* path) { return FilePtr(std::fopen(path, "rb"), std::fclose); }

// The longest unfinished word carried to the next chunk.
constexpr size_t pendingWordLimit = 1022;
// Words are never longer than this when no maximum is set.
constexpr size_t unlimitedWordLength = 101;

constexpr unsigned char CR = '\r';
constexpr unsigned char LF = '\n';

}  // namespace

SplitRules SplitRules::of(const CKolvoIndex& index) {
  SplitRules rules;
  for (size_t c = 0; c < 256; ++c) {
    bool valid = index.validCharMask[c] != 0;
    rules.classes[c] = static_cast<unsigned char>((valid ? starts : 0) |
                                                  (valid || index.validTrailingMask[c] ? continues : 0) |
                                                  (index.controlCharMask[c] ? control : 0));
  }
  rules.folded = kolvo::lowerCaseTable();
  rules.lower = index.minWordLength;
  rules.upper = index.maxWordLength ? size_t{index.maxWordLength} + 1 : unlimitedWordLength;
  rules.maxPerFileRead = index.maxPerFileRead;
  return rules;
}

bool CFileAnalyzer::canReadAhead() const { return typeid(*this) == typeid(CFileAnalyzer); }

template <class TakeChunk>
bool CFileAnalyzer::readChunks(const char* path, const SplitRules& rules, std::string& pending,
                               TakeChunk&& takeChunk) {
  FilePtr in = openForReading(path);
  if (!in) return false;
  readStream([&](char* buffer, size_t size) { return std::fread(buffer, 1, size, in.get()); }, rules, pending,
             takeChunk);
  return true;
}

template <class Read, class TakeChunk>
void CFileAnalyzer::readStream(Read&& read, const SplitRules& rules, std::string& pending, TakeChunk&& takeChunk) {
  const uint64_t maximum = rules.maxPerFileRead;
  uint32_t capacity = static_cast<uint32_t>(std::min<uint64_t>(maximum, chunkCapacity));
  std::vector<char> chunk(chunkCapacity + 1);
  pending.clear();
  uint32_t carry = 0;
  uint64_t total = 0;
  for (;;) {
    size_t got = capacity > carry ? read(chunk.data() + carry, capacity - carry) : 0;
    // At the end the pending text still holds the carried word.
    if (got == 0) {
      finishInput(pending, true);
      break;
    }
    auto content = static_cast<uint32_t>(carry + got);
    pending.clear();
    takeChunk(chunk.data(), content, got);
    total += got;
    if (total >= maximum) {
      // The limit cut a word only when the stream goes on with a word character; a file
      // of exactly the limit's size, or one cut at a separator, keeps its last word.
      char byte = 0;
      if (read(&byte, 1) == 1) {
        convertRawBuffer(&byte, 1);
        auto c = static_cast<unsigned char>(byte);
        if (rules.classes[c] & SplitRules::continues) pending.clear();
      }
      finishInput(pending, false);
      break;
    }
    carry = static_cast<uint32_t>(pending.size());
    std::memcpy(chunk.data(), pending.data(), carry);
    uint64_t left = maximum - total;
    if (left < capacity - std::min(capacity, carry)) capacity = static_cast<uint32_t>(carry + left);
  }
  // The last word of a file is held to both limits, like every other word.
  if (!rules.withinWordLimits(pending.size())) pending.clear();
}

bool CFileAnalyzer::indexFile(const char* path, uint32_t fileId) {
  FilePtr in = openForReading(path);
  if (!in) return false;
  indexStream([&](char* buffer, size_t size) { return std::fread(buffer, 1, size, in.get()); }, fileId, path);
  return true;
}

void CFileAnalyzer::indexStream(const StreamReader& read, uint32_t fileId, const char* detail) {
  CKolvoIndex& owner = *index;
  bool firstChunk = true;
  readStream(read, SplitRules::of(owner), owner.pendingText, [&](char* chunk, uint32_t length, size_t got) {
    indexBuffer(chunk, length, fileId, firstChunk);
    firstChunk = false;
    owner.noteBytesRead(got, detail);
  });
  if (!owner.pendingText.empty()) owner.indexWord(owner.pendingText.c_str(), fileId);
  owner.pendingText.clear();
  ++owner.contentsIndexed;
}

bool CFileAnalyzer::splitFile(const char* path, const SplitRules& rules, WordSink& sink, std::string& lastWord) {
  return readChunks(path, rules, lastWord, [&](char* chunk, uint32_t length, size_t got) {
    splitChunk(rules, chunk, length, sink.nextBatch(), lastWord);
    sink.chunkSplit(got);
  });
}

uint32_t CFileAnalyzer::indexBuffer(char* buffer, uint32_t length, uint32_t fileId, bool /*firstChunk*/) {
  uint32_t indexed = splitChunk(SplitRules::of(*index), buffer, length, batch, index->pendingText);
  index->indexWords(batch, fileId);
  return indexed;
}

uint32_t CFileAnalyzer::splitChunk(const SplitRules& rules, char* buffer, uint32_t length, CWordBatch& words,
                                   std::string& pending) {
  convertRawBuffer(buffer, length);
  if (characterHooks) return splitWithHooks(rules, buffer, length, words, pending);
  // The rules of splitWithHooks without the hooks, a word at a time: within a word a
  // valid and a trailing character are the same, and a separator is passed over at once.
  const unsigned char* classes = rules.classes.data();
  const unsigned char* folded = rules.folded.data();
  char* read = buffer;
  char* const end = buffer + length;
  bool controlSeen = false;
  uint32_t indexed = 0;
  words.clear();
  for (;;) {
    unsigned char c = 0;
    while (read < end && !(classes[c = static_cast<unsigned char>(*read)] & SplitRules::starts)) {
      controlSeen = controlSeen || (classes[c] & SplitRules::control);
      ++read;
    }
    if (read == end) return indexed;
    char* wordStart = read;
    char* write = read;
    *write++ = static_cast<char>(folded[c]);
    ++read;
    bool afterSkip = false;
    for (;;) {
      while (read < end && (classes[c = static_cast<unsigned char>(*read)] & SplitRules::continues) && c != 0) {
        *write++ = static_cast<char>(folded[c]);
        ++read;
        afterSkip = false;
      }
      if (read == end) {
        pending.assign(wordStart, std::min(static_cast<size_t>(write - wordStart), pendingWordLimit));
        return indexed;
      }
      // One NUL inside a word is skipped, so text of 16-bit characters yields its words.
      if (c == 0 && !afterSkip) {
        ++read;
        afterSkip = true;
        continue;
      }
      if (classes[c] & SplitRules::continues) {
        *write++ = static_cast<char>(folded[c]);
        ++read;
        afterSkip = false;
        continue;
      }
      break;
    }
    // A separator ends the word; a word between two control characters is noise.
    bool isControl = (classes[c] & SplitRules::control) != 0;
    auto wordLength = static_cast<size_t>(write - wordStart);
    if (!(controlSeen && isControl) && wordLength >= rules.lower && wordLength <= rules.upper) {
      words.add(wordStart, wordLength);
      ++indexed;
    }
    controlSeen = isControl;
    ++read;
  }
}

uint32_t CFileAnalyzer::splitWithHooks(const SplitRules& rules, char* buffer, uint32_t length, CWordBatch& words,
                                       std::string& pending) {
  const size_t upper = rules.upper;
  const size_t lower = rules.lower;
  const unsigned char* classes = rules.classes.data();
  const unsigned char* folded = rules.folded.data();

  char* chunkStart = buffer;
  char* read = buffer;
  char* write = buffer;
  char* wordStart = buffer;
  bool controlSeen = false;
  bool afterSkip = true;
  uint32_t indexed = 0;
  words.clear();
  while (read - chunkStart < static_cast<ptrdiff_t>(length)) {
    auto c = static_cast<unsigned char>(*read);
    // One NUL inside a word is skipped, so text of 16-bit characters yields its words.
    if (c == 0 && !afterSkip && write != wordStart) {
      ++read;
      afterSkip = true;
      continue;
    }
    if (characterHooks && (!indexHookBytes || indexHookBytes[c])) {
      // The hook gets copies of the cursors, so the loop keeps its own in registers.
      char hooked = static_cast<char>(c);
      char* at = read;
      char* start = wordStart;
      char* to = write;
      char* chunk = chunkStart;
      bool consumed = checkIndexCharacter(&hooked, &at, &start, &to, &chunk, length);
      read = at;
      wordStart = start;
      write = to;
      if (consumed) {
        afterSkip = false;
        continue;
      }
      c = static_cast<unsigned char>(hooked);
    }
    if (classes[c] & SplitRules::starts) {
      *write++ = static_cast<char>(folded[c]);
      ++read;
    } else if (write == wordStart) {
      if (!controlSeen) controlSeen = (classes[c] & SplitRules::control) != 0;
      ++read;
      wordStart = write = read;
    } else if (classes[c] & SplitRules::continues) {
      *write++ = static_cast<char>(folded[c]);
      ++read;
    } else {
      // A separator ends the word; a word between two control characters is noise.
      if (!(controlSeen && (classes[c] & SplitRules::control))) {
        auto wordLength = static_cast<size_t>(write - wordStart);
        if (wordLength >= lower && wordLength <= upper) {
          // The NUL may land on the separator itself, which is examined again below.
          words.add(wordStart, wordLength);
          ++indexed;
        }
      }
      controlSeen = (classes[c] & SplitRules::control) != 0;
      wordStart = write = read;
    }
    afterSkip = false;
  }
  if (write != wordStart)
    pending.assign(wordStart, std::min(static_cast<size_t>(write - wordStart), pendingWordLimit));
  return indexed;
}

void CFileAnalyzer::convertRawBuffer(char* /*buffer*/, uint32_t /*length*/) {}

void CFileAnalyzer::finishInput(std::string& /*pending*/, bool /*whole*/) {}

bool CFileAnalyzer::extractToTempFile(const char* /*containerPath*/, const char* /*memberName*/,
                                      const char* /*destinationPath*/, uint32_t /*fileId*/) {
  return false;
}

bool CFileAnalyzer::checkIndexCharacter(char* /*c*/, char** /*read*/, char** /*wordStart*/, char** /*write*/,
                                        char** /*bufferStart*/, uint32_t /*length*/) {
  return false;
}

bool CFileAnalyzer::checkStripCharacter(unsigned char* /*c*/, char** /*read*/, uint32_t* /*remaining*/,
                                        char /*previousOut*/, bool /*stripMarkup*/, StripState& /*state*/) {
  return false;
}

bool CFileAnalyzer::displaysStatelessly() const { return typeid(*this) == typeid(CFileAnalyzer); }

char* CFileAnalyzer::fillDisplayBuffer(const char* path, uint32_t /*fileId*/, uint32_t maxBytes, int wrapWidth,
                                       bool stripMarkup) {
  FilePtr in = openForReading(path);
  if (!in) kolvo::throwKolvoError("CannotOpenContentsFile", path);
  std::unique_ptr<char, void (*)(void*)> text(static_cast<char*>(std::malloc(size_t{maxBytes} + 1)), std::free);
  if (!text) kolvo::throwKolvoError("NoMemory", "");
  text.get()[0] = '\0';
  if (maxBytes == 0) return text.release();

  using Clock = std::chrono::steady_clock;
  Clock::time_point noted = Clock::now();
  DisplayBuffers buffers;
  size_t produced = 0;
  displayStream([&](char* buffer, size_t size) { return std::fread(buffer, 1, size, in.get()); }, wrapWidth,
                stripMarkup, buffers, [&](const char* shown, size_t size) {
                  size_t take = std::min<size_t>(size, maxBytes - produced);
                  std::memcpy(text.get() + produced, shown, take);
                  produced += take;
                  text.get()[produced] = '\0';
                  Clock::time_point now = Clock::now();
                  if (std::chrono::duration<double>(now - noted).count() >= kolvo::limits::decodingReportSeconds) {
                    if (!kolvo::setStatus("DecodingGeneric", path)) return false;
                    noted = now;
                  }
                  return produced < maxBytes;
                });
  return text.release();
}

void CFileAnalyzer::displayStream(const StreamReader& read, int wrapWidth, bool stripMarkup, DisplayBuffers& buffers,
                                  const DisplaySink& take) {
  StripState state;
  if (buffers.stripped.empty()) buffers.stripped.resize(2 * size_t{chunkCapacity});
  char* chunk = buffers.chunk.data();
  bool firstChunk = true;
  uint32_t carry = 0;
  for (;;) {
    size_t got = read(chunk + carry, chunkCapacity - carry);
    auto content = static_cast<uint32_t>(carry + got);
    if (content == 0) break;
    // A short read is the stream's end: nothing may wait for a next chunk then.
    state.lastChunk = got < chunkCapacity - carry;
    state.held.clear();
    uint32_t made = stripBuffer(chunk, content, buffers.stripped.data(), static_cast<uint32_t>(buffers.stripped.size()),
                                wrapWidth, stripMarkup, firstChunk, state);
    if (!take(buffers.stripped.data(), made)) break;
    if (!state.held.empty() && got > 0) {
      carry = static_cast<uint32_t>(std::min<size_t>(state.held.size(), chunkCapacity));
      std::memcpy(chunk, state.held.data(), carry);
    } else {
      carry = 0;
    }
    firstChunk = false;
  }
}

uint32_t CFileAnalyzer::stripBuffer(char* in, uint32_t inLength, char* out, uint32_t outSize, int wrapWidth,
                                    bool stripMarkup, bool /*firstChunk*/, StripState& state) {
  convertRawBuffer(in, inLength);
  if (inLength == 0 || outSize <= 1) return 0;
  const CKolvoIndex& owner = *index;
  const unsigned char* viewable = owner.validViewableMask.data();
  const unsigned char* nonAlpha = owner.nonAlphaCharMask.data();

  uint32_t room = outSize - 1;
  char* w = out;
  ptrdiff_t lineStart = -state.lineLength;  // offset of the last line break
  char* lastSpace = nullptr;                   // the last space written, which a wrap turns into LF
  size_t run = state.run;
  size_t highRun = state.highRun;
  bool trimPending = state.trimPending;
  bool previousViewable = state.previousViewable;
  bool afterNul = state.afterNul;

  // Writes one byte of text, wrapping the line first when it grows past the width.
  auto put = [&](unsigned char c) {
    if (wrapWidth != 0 && w - out - lineStart > wrapWidth && lastSpace && lastSpace < w && *lastSpace == ' ') {
      *lastSpace = '\n';
      lineStart = lastSpace - out;
    }
    if (c == '\t' || c == ' ') {
      c = ' ';
      lastSpace = w;
    }
    if (c == LF) {
      lineStart = w - out;
      run = 0;
    } else {
      ++run;
    }
    *w++ = static_cast<char>(c);
    --room;
  };

  char* read = in;
  uint32_t remaining = inLength;
  // A CR that ended the chunk before is a line break unless this chunk goes on with LF.
  if (state.breakAfterCr && static_cast<unsigned char>(*read) != LF) {
    put(LF);
    trimPending = false;
  }
  state.breakAfterCr = false;
  // Bytes shown as they stand, which no hook is offered in text: a run of them is
  // copied at once, up to where a wrap could break the line.
  std::array<unsigned char, 256> asIs{};
  if (!characterHooks || stripHookBytes) {
    for (int c = 1; c < 256; ++c)
      asIs[c] = viewable[c] && !nonAlpha[c] && c != ' ' && c != '\t' && c != LF && !(characterHooks && stripHookBytes[c]);
  }
  while (remaining > 0 && room > 0) {
    if (asIs[static_cast<unsigned char>(*read)] && highRun <= 3 && (!characterHooks || state.hook == 0)) {
      // The wrap looks back for a space only once the line is longer than the width.
      size_t most = std::min(remaining, room);
      bool canWrap = wrapWidth != 0 && lastSpace && lastSpace < w && *lastSpace == ' ';
      if (canWrap) {
        ptrdiff_t left = wrapWidth - (w - out - lineStart) + 1;
        most = left > 0 ? std::min(most, static_cast<size_t>(left)) : 0;
      }
      size_t copied = 0;
      while (copied < most && asIs[static_cast<unsigned char>(read[copied])]) {
        w[copied] = read[copied];
        ++copied;
      }
      if (copied > 0) {
        w += copied;
        read += copied;
        remaining -= static_cast<uint32_t>(copied);
        room -= static_cast<uint32_t>(copied);
        run += copied;
        highRun = 0;
        previousViewable = true;
        afterNul = false;
        continue;
      }
    }
    auto c = static_cast<unsigned char>(*read++);
    --remaining;
    if (c == 0 && !afterNul) {
      afterNul = true;
      if (previousViewable) continue;
    }
    if (characterHooks && (state.hook != 0 || !stripHookBytes || stripHookBytes[c])) {
      char previousOut = w > out ? w[-1] : state.previousOut;
      afterNul = false;
      if (checkStripCharacter(&c, &read, &remaining, previousOut, stripMarkup, state)) continue;
    }

    bool written = true;
    bool isViewable = false;
    if (nonAlpha[c]) {
      if (previousViewable || viewable[c]) isViewable = true;
      else trimPending = true;
    } else if (viewable[c]) {
      isViewable = true;
    } else {
      // A separator: never written itself, but it may leave a space or a line break.
      written = false;
      if (trimPending) {
        while (run > 0 && w > out && nonAlpha[static_cast<unsigned char>(w[-1])] && w[-1] != '\n') {
          --w;
          ++room;
          --run;
        }
      } else if (run > 0) {
        if (c != CR && c != LF && room > 0) {
          *w = ' ';
          lastSpace = w++;
          --room;
        }
        run = 0;
      }
      bool lineBreak = c == LF || c == 0xE3;
      if (c == CR) {
        if (remaining == 0 && !state.lastChunk && room > 0) state.breakAfterCr = true;
        if (remaining == 0 || room == 0 || static_cast<unsigned char>(*read) == LF) isViewable = true;
        else lineBreak = true;
      }
      if (lineBreak) {
        c = LF;
        written = true;
        isViewable = true;
        trimPending = false;
      }
    }

    // A run of four or more undisplayable high bytes is taken out again where it ends.
    if (c >= 0x80 && !isViewable) {
      ++highRun;
    } else {
      if (highRun > 3) {
        while (w > out && static_cast<unsigned char>(w[-1]) >= 0x80) {
          --w;
          ++room;
        }
        run = 0;
      }
      highRun = 0;
    }

    if (written && room > 0) put(c);
    previousViewable = isViewable;
    afterNul = false;
  }
  // The last space stays a space: breaking there would split the text's last line,
  // which no wrap asked for.
  *w = '\0';
  state.run = run;
  state.highRun = highRun;
  state.lineLength = (w - out) - lineStart;
  state.trimPending = trimPending;
  state.previousViewable = previousViewable;
  state.afterNul = afterNul;
  if (w > out) state.previousOut = w[-1];
  return static_cast<uint32_t>(w - out);
}
