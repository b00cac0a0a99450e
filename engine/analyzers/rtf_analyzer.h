// CRtfAnalyzer: the "rtf" analyzer, for Rich Text Format. Indexing takes control words
// and groups out of words and decodes escaped characters; display text also drops the
// groups that hold no text (fonts, styles, lists, pictures, objects) and shows paragraph
// marks as line breaks. The registry creates it.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

#include "engine/analyzers/file_analyzer.h"
#include "engine/analyzers/markup_carry.h"

class CRtfAnalyzer : public CFileAnalyzer {
 public:
  explicit CRtfAnalyzer(CKolvoIndex* owner) : CFileAnalyzer(owner) {
    characterHooks = true;
    indexHookBytes = markupStarts();
  }

  uint32_t indexBuffer(char* buffer, uint32_t length, uint32_t fileId, bool firstChunk) override;
  void finishInput(std::string& pending, bool whole) override;
  uint32_t stripBuffer(char* in, uint32_t inLength, char* out, uint32_t outSize, int wrapWidth, bool stripMarkup,
                       bool firstChunk, StripState& state) override;
  bool checkIndexCharacter(char* c, char** read, char** wordStart, char** write, char** bufferStart,
                           uint32_t length) override;
  bool checkStripCharacter(unsigned char* c, char** read, uint32_t* remaining, char previousOut, bool stripMarkup,
                           StripState& state) override;

  // What a control word does to the text, by its name.
  struct Effect {
    enum Kind { none, skipGroup, lineBreak, space, character, unicode } kind;
    unsigned char value;  // the character, for kind character
  };
  static Effect effectOf(std::string_view name);

 private:
  // A control word: '\', its letters, an optional parameter (digits after an optional
  // '-'), one optional space. Length 0: the bytes ran out before it ended.
  struct ControlWord {
    size_t length;
    std::string_view name;
    long parameter;
    bool hasParameter;
  };
  // The bytes that start markup: a control word or symbol, or a group.
  static const unsigned char* markupStarts();
  // checkIndexCharacter before it narrows the bytes offered to the next call.
  bool indexHook(char* c, char** read, char** wordStart, char** write, char* bufferStart, uint32_t length);
  static ControlWord controlWordAt(const unsigned char* p, size_t available, bool final);
  // The character of a "\'hh" escape through the file's character set.
  unsigned char escaped(unsigned char hex) const;
  // Whether the first chunk of a file says it was written with the Mac character set.
  static bool saysMac(const char* buffer, uint32_t length);

  MarkupCarry carry;
  bool macCharset = false;
  // Inside a group that holds no text, this many levels deep (indexing).
  int skipDepth = 0;
  // After a Unicode character: its stand-in for older readers comes next and is dropped.
  bool indexFallback = false;
  bool displayFallback = false;
};
