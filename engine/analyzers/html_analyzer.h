// CHtmlAnalyzer: the "html" analyzer, for web pages and XML. Indexing decodes UTF-8 and
// character references inside words; display text also drops tags, scripts, styles and
// comments and turns paragraph-like tags into line breaks. The registry creates it.
#pragma once

#include <array>
#include <cstddef>
#include <functional>
#include <string>
#include <string_view>
#include <unordered_map>

#include "engine/analyzers/file_analyzer.h"
#include "engine/analyzers/markup_carry.h"

namespace kolvo {
class HitScan;
}

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

  // What scanShownWords needs to know of each byte: whether it begins or goes on with a
  // word, and whether the display writes it and the words about it as they stand
  // (plain). Made once for many pages from the index's masks.
  struct ShownWordRules {
    enum : unsigned char { starts = 1, continues = 2, plain = 4, special = 8, blank = 16 };
    std::array<unsigned char, 256> classes{};
    bool usable = false;
    // start and part: the word bytes; plain: the bytes a generic text may hold for its
    // words to be split from its bytes, all zero when the masks allow none.
    static ShownWordRules of(const std::array<unsigned char, 256>& start, const std::array<unsigned char, 256>& part,
                             const std::array<unsigned char, 256>& plain);
  };
  enum class ShownWords { holds, lacks, unsure };
  // The words of the display text of a whole page (one chunk, all of it shown), handed to
  // scan in the order the display shows them, without making the text: tags, scripts,
  // styles and comments are passed over as the display passes them, references and
  // UTF-8 decoded as it decodes them. unsure when some byte, as the display would write
  // it, is not plain: then only the display can tell. word is scratch for words that
  // hold decoded bytes.
  ShownWords scanShownWords(const char* page, size_t size, bool stripMarkup, const ShownWordRules& rules,
                            kolvo::HitScan& scan, std::string& word) const;

 private:
  MarkupCarry carry;
  // The index's named entities, looked up by a view of the page's bytes: a page may
  // hold a reference every few words.
  struct NameHash {
    using is_transparent = void;
    size_t operator()(std::string_view name) const { return std::hash<std::string_view>{}(name); }
  };
  std::unordered_map<std::string, unsigned char, NameHash, std::equal_to<>> entities;
};
