// CFileAnalyzer: the base of every analyzer, and itself the "generic" one. It turns the
// bytes of one file into index words and into display text; the registry of each index
// holds one instance per analyzer name, and the walk and the file-contents view use it.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <functional>
#include <string>
#include <vector>

#include "engine/index/word_batch.h"

class CKolvoIndex;

// What splitting a chunk into words depends on, copied from an index: what each byte is
// to a word, the case table, the word length limits and how much of a file is read. The
// walk's reader thread splits under a copy made when the walk began.
struct SplitRules {
  enum : unsigned char { starts = 1, continues = 2, control = 4 };
  // starts: the byte may begin a word (a valid character); continues: it may go on with
  // one (valid or trailing); control: a control character, which marks noise.
  std::array<unsigned char, 256> classes{};
  std::array<unsigned char, 256> folded{};
  size_t lower = 0;
  size_t upper = 0;
  uint64_t maxPerFileRead = 0;

  static SplitRules of(const CKolvoIndex& index);
  bool withinWordLimits(size_t length) const { return length >= lower && length <= upper; }
};

// What the display filter carries from one chunk of a file to the next, so that where a
// chunk ends changes nothing in the text (a word ending one chunk and a separator
// starting the next still show a space between them). Each file's text starts from a
// fresh one; a filter keeps nothing of a file anywhere else, so that several threads may
// filter files through one analyzer.
struct StripState {
  int hook = 0;                  // the format hooks' own state
  std::string held;              // bytes a hook held back, read again ahead of the next chunk
  bool lastChunk = false;        // no chunk follows the one in hand: nothing may be held
  size_t run = 0;                // bytes written since the last separator
  size_t highRun = 0;            // undisplayable high bytes in a row
  ptrdiff_t lineLength = 1;      // bytes written since the last line break, plus one
  bool trimPending = false;      // punctuation after a dropped byte waits to be trimmed
  bool previousViewable = false;
  bool afterNul = true;
  bool breakAfterCr = false;     // a CR ended the chunk: a line break unless an LF follows
  char previousOut = 0;          // the last byte written
};

class CFileAnalyzer {
 public:
  // The chunk size of every read loop.
  static constexpr uint32_t chunkCapacity = 65535;

  explicit CFileAnalyzer(CKolvoIndex* owner) : index(owner) {}
  virtual ~CFileAnalyzer() = default;
  CFileAnalyzer(const CFileAnalyzer&) = delete;
  CFileAnalyzer& operator=(const CFileAnalyzer&) = delete;

  // True when the analyzer can take a file's bytes in arbitrary chunks through
  // indexBuffer; false when it must be handed a whole file through indexFile.
  virtual bool canUseIndexBuffer() { return true; }
  // Splits one chunk into words (in place: converted and lower-cased) and indexes them
  // under fileId; an unfinished word at the end is left in the index's pending text.
  // Returns the number of words handed to the index.
  virtual uint32_t indexBuffer(char* buffer, uint32_t length, uint32_t fileId, bool firstChunk);
  // Indexes the words of the file at path under fileId; false when it cannot be read.
  virtual bool indexFile(const char* path, uint32_t fileId);
  // Where a stream's bytes come from: the count read into buffer, 0 at its end.
  using StreamReader = std::function<size_t(char* buffer, size_t size)>;
  // Indexes a stream (an archive member) exactly as indexFile indexes a file, in the same
  // chunks, limits and last word, for analyzers that can use indexBuffer; detail names it
  // in progress reports.
  void indexStream(const StreamReader& read, uint32_t fileId, const char* detail);
  // Whether the walk may read and split this analyzer's files on its reader thread with
  // splitFile, rather than through indexFile. Only the base and the analyzers that
  // change nothing but convertRawBuffer may: a subclass that reads files its own way
  // has other work done in indexFile.
  virtual bool canReadAhead() const;
  // Where splitFile hands the words it splits, chunk by chunk.
  class WordSink {
   public:
    virtual ~WordSink() = default;
    // The batch the next chunk's words go into.
    virtual CWordBatch& nextBatch() = 0;
    // The batch of nextBatch holds the words of a chunk of that many bytes read.
    virtual void chunkSplit(size_t bytesRead) = 0;
  };
  // Reads and splits the file at path as indexFile does, but touches neither the index
  // nor a callback, so another thread may run it: the words of each chunk go to sink,
  // and the file's last word, when indexFile would index it, to lastWord (else empty).
  // False when the file cannot be opened.
  bool splitFile(const char* path, const SplitRules& rules, WordSink& sink, std::string& lastWord);
  // Called once when a file's chunks end, by the read loop and by whoever else streams a
  // file through indexBuffer: whole at the end of the file, not whole when maxPerFileRead
  // cut it. An analyzer that holds back the bytes of a sequence cut by a chunk end reads
  // them here; pending is the file's last word (the index's pending text), which it may change.
  virtual void finishInput(std::string& pending, bool whole);
  // Converts a chunk in place to the index's character set; the base leaves it alone.
  virtual void convertRawBuffer(char* buffer, uint32_t length);
  // Writes a member of a container to destinationPath; the base holds no members.
  virtual bool extractToTempFile(const char* containerPath, const char* memberName, const char* destinationPath,
                                 uint32_t fileId);
  // The display text of a file, at most maxBytes bytes and NUL-terminated, allocated
  // with malloc; the receiver frees it with free (kDeleteChar across the C boundary).
  // wrapWidth 0 means no wrapping. Raises "CannotOpenContentsFile" and "NoMemory".
  virtual char* fillDisplayBuffer(const char* path, uint32_t fileId, uint32_t maxBytes, int wrapWidth,
                                  bool stripMarkup);
  // Filters one chunk into display text in out (outSize bytes, NUL included); returns
  // the bytes written without the NUL. state carries what the chunks before left.
  virtual uint32_t stripBuffer(char* in, uint32_t inLength, char* out, uint32_t outSize, int wrapWidth,
                               bool stripMarkup, bool firstChunk, StripState& state);
  // The buffers of displayStream, which a caller may keep from one file to the next.
  // The text's buffer is made when a text is first made: a caller that reads most files
  // its own way into chunk may never need it.
  struct DisplayBuffers {
    std::vector<char> chunk = std::vector<char>(chunkCapacity + 1);
    std::vector<char> stripped;
  };
  // Where displayStream hands each chunk's text; false stops the stream.
  using DisplaySink = std::function<bool(const char* text, size_t size)>;
  // The display text of a stream made chunk by chunk as fillDisplayBuffer makes it, each
  // chunk's text handed to take. It touches neither the index nor a callback, so another
  // thread may run it for an analyzer whose display filter keeps no state of its own.
  void displayStream(const StreamReader& read, int wrapWidth, bool stripMarkup, DisplayBuffers& buffers,
                     const DisplaySink& take);
  // True when the analyzer's display text is made by the base's read loop and its filter
  // keeps nothing of a file outside the StripState, so that displayStream makes the
  // whole of it and several threads may make texts at once.
  virtual bool displaysStatelessly() const;
  // Whether the display filter offers characters to checkStripCharacter.
  bool hasCharacterHooks() const { return characterHooks; }
  // Format hooks, offered every character when characterHooks is on. The index hook sees
  // the character at *read (and may change it, advance *read or move the word cursors);
  // the strip hook sees the character just taken, *read already past it and *remaining
  // the bytes after it. True: the position is consumed and the generic rules are skipped.
  virtual bool checkIndexCharacter(char* c, char** read, char** wordStart, char** write, char** bufferStart,
                                   uint32_t length);
  virtual bool checkStripCharacter(unsigned char* c, char** read, uint32_t* remaining, char previousOut,
                                   bool stripMarkup, StripState& state);

 protected:
  // Splits one chunk in place (converted and lower-cased) into words (cleared first);
  // an unfinished word at the end goes to pending. Returns the words it found.
  uint32_t splitChunk(const SplitRules& rules, char* buffer, uint32_t length, CWordBatch& words,
                      std::string& pending);

  CKolvoIndex* index;
  bool characterHooks = false;
  // The bytes indexBuffer offers to checkIndexCharacter (a 256-entry table, nonzero for
  // those offered); null offers every byte. A hook that would answer false for a byte
  // and leave it as it is need not see it.
  const unsigned char* indexHookBytes = nullptr;
  // The bytes stripBuffer offers to checkStripCharacter while the hooks' state is 0; null
  // offers every byte. In that state a hook must answer false for any other byte and
  // leave it, the read position and the state as they are.
  const unsigned char* stripHookBytes = nullptr;

 private:
  // splitChunk byte by byte, offering each byte to checkIndexCharacter.
  uint32_t splitWithHooks(const SplitRules& rules, char* buffer, uint32_t length, CWordBatch& words,
                          std::string& pending);
  // The read loop of indexFile and splitFile: takeChunk(chunk, length, bytesRead) splits
  // each chunk and leaves its unfinished word in pending. False when the file cannot be
  // opened; else pending ends as the file's last word to index, or empty.
  template <class TakeChunk>
  bool readChunks(const char* path, const SplitRules& rules, std::string& pending, TakeChunk&& takeChunk);
  // The loop itself, over read(buffer, size) as over a file.
  template <class Read, class TakeChunk>
  void readStream(Read&& read, const SplitRules& rules, std::string& pending, TakeChunk&& takeChunk);

  // The words of the chunk in hand; kept between chunks for its memory only.
  CWordBatch batch;
};
