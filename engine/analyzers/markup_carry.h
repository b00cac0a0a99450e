// MarkupCarry: what the HTML and RTF analyzers keep between the chunks of one file, so
// that an entity, escape or control word cut by a chunk end is read whole, and the
// display text holds a chunk's last bytes back for the next chunk but never past the end.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

class CFileAnalyzer;
class CKolvoIndex;

class MarkupCarry {
 public:
  // Indexes one chunk through the generic splitting (and so the analyzer's index hook).
  // When the chunk before ended inside a sequence, its held bytes go back between the
  // carried word at the chunk's start and the chunk's new bytes.
  uint32_t indexChunk(CFileAnalyzer& analyzer, CKolvoIndex& index, char* buffer, uint32_t length, uint32_t fileId,
                      bool firstChunk);
  // At the end of the file the held bytes are read as they stand; cut by the file
  // limit, they are dropped. pending is the file's last word.
  void finish(CFileAnalyzer& analyzer, CKolvoIndex& index, std::string& pending, bool whole);

  // For the index hooks, at the byte *read of a chunk starting at bufferStart: true for
  // the bytes of the word carried ahead of this chunk, which are decoded text already.
  bool carriedText(const char* read, const char* bufferStart) const {
    return static_cast<uint32_t>(read - bufferStart) < passThrough;
  }
  // The sequence of length bytes at *read stands for byte (0: a separator); answers as an
  // index hook. A byte that starts or goes on with a word is left to the generic rules
  // on the sequence's last byte. A byte that ends the word in progress is handed over
  // as a separator with the cursor still on the sequence, which is offered again once
  // the word is indexed; then, with no word in progress, the sequence is consumed.
  static bool give(const CKolvoIndex& index, size_t length, unsigned char byte, char* c, char** read,
                   char** wordStart, char** write);
  // The chunk ends inside a sequence that starts at *read: the word in progress goes to
  // the pending text, the sequence's bytes are held, and the rest of the chunk is consumed.
  void hold(char** read, char* end, char** wordStart, char** write, std::string& pendingText);
  // True when the bytes of the chunk in hand end at the file's end (no chunk follows).
  bool atInputEnd() const { return inputEnds; }

  // For the display hooks: the byte just taken starts a sequence that the chunk cuts, so
  // it and the rest of the chunk wait in pending for the next chunk.
  static bool holdDisplayTail(char** read, uint32_t* remaining, std::string& pending);

 private:
  std::string held;
  std::vector<char> joined;
  uint32_t carriedWord = 0;
  uint32_t passThrough = 0;
  uint32_t fileId = 0;
  bool inputEnds = false;
};
