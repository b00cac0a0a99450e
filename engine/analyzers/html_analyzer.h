// CHtmlAnalyzer: the "html" analyzer, for web pages and XML. Indexing decodes UTF-8 and
// character references inside words; display text also drops tags, scripts, styles and
// comments and turns paragraph-like tags into line breaks. The registry creates it.
#pragma once

#include <cstddef>
#include <string>

#include "engine/analyzers/file_analyzer.h"
#include "engine/analyzers/markup_carry.h"

class CHtmlAnalyzer : public CFileAnalyzer {
 public:
  explicit CHtmlAnalyzer(CKolvoIndex* owner);

  uint32_t indexBuffer(char* buffer, uint32_t length, uint32_t fileId, bool firstChunk) override;
  void finishInput(std::string& pending, bool whole) override;
  bool checkIndexCharacter(char* c, char** read, char** wordStart, char** write, char** bufferStart,
                           uint32_t length) override;
  bool checkStripCharacter(unsigned char* c, char** read, uint32_t* remaining, char previousOut, bool stripMarkup,
                           StripState& state) override;
  // The display keeps its state in the StripState alone.
  bool displaysStatelessly() const override { return true; }

  // What a UTF-8 sequence or a character reference at the start of some bytes stands for.
  struct Sequence {
    enum Kind { byte, separator, literal, incomplete } kind;
    size_t length;        // bytes it takes; 1 for a literal
    unsigned char value;  // the byte, for kind byte
  };
  // A byte of 0x80 or more at p: C2 or C3 with a continuation byte is the one byte
  // U+0080 to U+00FF; any other valid sequence a separator; anything else the byte itself.
  // available counts the bytes from p; final means no more bytes come after them.
  static Sequence utf8At(const unsigned char* p, size_t available, bool final);
  // A '&' at p: a named entity of the index's table, or a decimal or hexadecimal
  // reference, ended by ';' (optional after digits). Without a name it is the '&' itself.
  Sequence referenceAt(const unsigned char* p, size_t available, bool final) const;

 private:
  MarkupCarry carry;
};
