// CFileContents: the display text of one indexed file, made once by the file's analyzer,
// and the questions the search side asks of it: where the hits of a search pattern are,
// the outline of the lines holding them, the length of a word, and the text line by line.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

class CKolvoIndex;

class CFileContents {
 public:
  // Reads the file (for an archive member: extracts it level by level to temporary
  // files, all deleted again before this returns). Raises "AssertionFailed" for a number
  // that is no file entry, "NoFileContentsForDir", "ArchivesNestedTooDeep",
  // "ArchiveExtractError", and whatever the analyzer raises while reading.
  CFileContents(CKolvoIndex* index, uint32_t fileNumber, uint32_t maxBytes, int wrapWidth, bool stripMarkup,
                int nearDistance);
  ~CFileContents();
  CFileContents(const CFileContents&) = delete;
  CFileContents& operator=(const CFileContents&) = delete;

  // The text, or "" when the analyzer gave none.
  const char* contents() const { return text ? text.get() : ""; }
  const std::string& filePath() const { return path; }
  size_t textLength() const { return length; }

  // Length of the token starting at offset; 0 when none starts there or offset lies at
  // or beyond the end.
  size_t tokenLength(size_t offset) const;
  // The offset of the first hit at or after offset, plus 1; 0 when there is none. An
  // offset inside a word continues with the next word.
  size_t searchBuffer(size_t offset, std::string_view pattern);
  bool containsHit(std::string_view pattern);
  // Rewrites the text into the lines holding hits of acceptable length, each once.
  void convertToOutline(std::string_view pattern);
  // The next line with its line feed; raises "EndOfContents" after the last one.
  const char* nextLine();

  // Whether the token at position matches one term: its first character must be a
  // token start (atTokenStart) or a token part, and the term must cover the token.
  bool isMatch(const char* position, std::string_view term, bool atTokenStart) const;

 private:
  struct FreeText {
    void operator()(char* block) const { std::free(block); }
  };

  bool isStart(unsigned char c) const { return tokenStart[c] != 0; }
  bool isPart(unsigned char c) const { return tokenPart[c] != 0; }
  // The first offset after the token starting at offset.
  size_t tokenEnd(size_t offset) const;
  // The first token start at or after offset.
  size_t nextTokenStart(size_t offset) const;
  // The offsets of the hits of pattern, in order (cached for the last pattern).
  const std::vector<size_t>& hitsOf(std::string_view pattern);
  // The first hit at or after offset, or the end of the text.
  size_t firstHitFrom(size_t offset, std::string_view pattern);
  void forgetTokens();

  CKolvoIndex* index;
  std::string path;
  bool isExtracted = false;
  uint32_t maxBytes;
  int wrapWidth;
  int nearDistance;
  const char* lineCursor = nullptr;
  std::unique_ptr<char, FreeText> text;
  std::array<unsigned char, 256> tokenStart{};
  std::array<unsigned char, 256> tokenPart{};
  std::string currentLine;

  size_t length = 0;
  // Every token start in order, made on first use, and the hits of the last pattern asked.
  std::vector<size_t> tokens;
  bool tokensKnown = false;
  std::string cachedPattern;
  std::vector<size_t> cachedHits;
  bool hitsKnown = false;
};
