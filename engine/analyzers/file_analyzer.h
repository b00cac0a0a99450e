// CFileAnalyzer: the base of every analyzer, and itself the "generic" one. It turns the
// bytes of one file into index words and into display text; the registry of each index
// holds one instance per analyzer name, and the walk and the file-contents view use it.
#pragma once

#include <cstdint>
#include <cstdio>

#include "engine/index/word_batch.h"

class CKolvoIndex;

class CFileAnalyzer {
 public:
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
  // the bytes written without the NUL.
  virtual uint32_t stripBuffer(char* in, uint32_t inLength, char* out, uint32_t outSize, int wrapWidth,
                               bool stripMarkup, bool firstChunk, int* hookState);
  // Format hooks, offered every character when characterHooks is on. The index hook sees
  // the character at *read (and may change it, advance *read or move the word cursors);
  // the strip hook sees the character just taken, *read already past it and *remaining
  // the bytes after it. True: the position is consumed and the generic rules are skipped.
  virtual bool checkIndexCharacter(char* c, char** read, char** wordStart, char** write, char** bufferStart,
                                   uint32_t length);
  virtual bool checkStripCharacter(unsigned char* c, char** read, uint32_t* remaining, char previousOut,
                                   bool stripMarkup, int* hookState);

  // The chunk size of every read loop.
  static constexpr uint32_t chunkCapacity = 65535;

 protected:
  // Hands the index's pending word (left by indexBuffer at a file's end) to indexWord
  // when it is within both length limits.
  void indexPendingWord(uint32_t fileId);
  bool withinWordLimits(size_t length) const;

  CKolvoIndex* index;
  bool characterHooks = false;

 private:
  // The words of the chunk in hand; kept between chunks for its memory only.
  CWordBatch batch;
};
