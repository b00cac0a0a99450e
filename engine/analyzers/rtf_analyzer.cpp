// Rich Text Format: control words, groups and escapes taken out of the text.
#include "engine/analyzers/rtf_analyzer.h"

#include <array>
#include <cstring>

#include "engine/analyzers/charset_tables.h"
#include "engine/index/kolvo_index.h"
#include "engine/index/resource_limits.h"

namespace {

constexpr unsigned char CR = '\r';
constexpr unsigned char LF = '\n';

bool isLower(unsigned char c) { return c >= 'a' && c <= 'z'; }
bool isDigit(unsigned char c) { return c >= '0' && c <= '9'; }
int hexValue(unsigned char c) {
  if (isDigit(c)) return c - '0';
  if ((c | 0x20) >= 'a' && (c | 0x20) <= 'f') return (c | 0x20) - 'a' + 10;
  return -1;
}
bool startsWith(std::string_view name, std::string_view prefix) { return name.substr(0, prefix.size()) == prefix; }

// Bytes that end a "\'" escape early: they belong to the markup that follows.
bool isStructural(unsigned char c) { return c == '\\' || c == '{' || c == '}'; }

// A "\'hh" escape at p: the byte, -1 when a digit is no hex digit (the escape is then
// dropped: length says how much), or length 0 when the bytes ran out.
struct Escape {
  int value;
  size_t length;
};
Escape escapeAt(const unsigned char* p, size_t available, bool final) {
  if (available < 4 && !final) return {-1, 0};
  int high = available > 2 ? hexValue(p[2]) : -1;
  int low = available > 3 ? hexValue(p[3]) : -1;
  if (high >= 0 && low >= 0) return {high * 16 + low, 4};
  size_t length = 2;
  while (length < 4 && length < available && !isStructural(p[length])) ++length;
  return {-1, length};
}

}  // namespace

CRtfAnalyzer::Effect CRtfAnalyzer::effectOf(std::string_view name) {
  // Groups that hold fonts, colours, styles, lists, revisions, pictures, objects and
  // drawings: their words are no text of the document.
  if (name == "pict" || name == "object" || name == "do" || name == "fonttbl" || name == "colortbl" ||
      name == "revtbl" || startsWith(name, "list") || startsWith(name, "style"))
    return {Effect::skipGroup, 0};
  if (name == "par" || name == "line" || name == "row" || name == "page" || name == "sect" || name == "column")
    return {Effect::lineBreak, 0};
  if (name == "tab" || name == "cell" || name == "emspace" || name == "enspace" || name == "qmspace")
    return {Effect::space, 0};
  if (name == "u") return {Effect::unicode, 0};
  // Typographic characters, as Windows-1252 has them.
  struct Named {
    const char* name;
    unsigned char value;
  };
  static constexpr Named characters[] = {{"lquote", 0x91},    {"rquote", 0x92}, {"ldblquote", 0x93},
                                         {"rdblquote", 0x94}, {"bullet", 0x95}, {"endash", 0x96},
                                         {"emdash", 0x97}};
  for (const Named& named : characters)
    if (name == named.name) return {Effect::character, named.value};
  return {Effect::none, 0};
}

CRtfAnalyzer::ControlWord CRtfAnalyzer::controlWordAt(const unsigned char* p, size_t available, bool final) {
  size_t at = 1;
  while (at < available && isLower(p[at])) ++at;
  auto ranOut = [&] { return !final && at < kolvo::limits::markupSequenceBytes; };
  if (at == available && ranOut()) return {0, {}, 0, false};
  std::string_view name(reinterpret_cast<const char*>(p) + 1, at - 1);
  bool negative = false;
  if (at < available && p[at] == '-') {
    if (at + 1 == available && ranOut()) return {0, {}, 0, false};
    if (at + 1 < available && isDigit(p[at + 1])) {
      negative = true;
      ++at;
    }
  }
  long parameter = 0;
  bool hasParameter = false;
  for (; at < available && isDigit(p[at]); ++at) {
    hasParameter = true;
    if (parameter < 1000000) parameter = parameter * 10 + (p[at] - '0');
  }
  if (at == available && ranOut()) return {0, {}, 0, false};
  if (at < available && p[at] == ' ') ++at;
  return {at, name, negative ? -parameter : parameter, hasParameter};
}

unsigned char CRtfAnalyzer::escaped(unsigned char hex) const { return macCharset ? kolvo::macRomanTable()[hex] : hex; }

bool CRtfAnalyzer::saysMac(const char* buffer, uint32_t length) {
  return length > 22 && std::memcmp(buffer + 7, "mac", 3) == 0;
}

namespace {

// The byte a Unicode character gives: itself up to U+00FF, else a separator (0).
unsigned char unicodeByte(long parameter) {
  long code = parameter < 0 ? parameter + 65536 : parameter;
  return code >= 1 && code <= 255 ? static_cast<unsigned char>(code) : 0;
}

}  // namespace

uint32_t CRtfAnalyzer::indexBuffer(char* buffer, uint32_t length, uint32_t fileId, bool firstChunk) {
  if (firstChunk) {
    macCharset = saysMac(buffer, length);
    skipDepth = 0;
    indexFallback = false;
    indexHookBytes = markupStarts();
  }
  return carry.indexChunk(*this, *index, buffer, length, fileId, firstChunk);
}

void CRtfAnalyzer::finishInput(std::string& pending, bool whole) { carry.finish(*this, *index, pending, whole); }

uint32_t CRtfAnalyzer::stripBuffer(char* in, uint32_t inLength, char* out, uint32_t outSize, int wrapWidth,
                                   bool stripMarkup, bool firstChunk, StripState& state) {
  if (firstChunk) {
    macCharset = saysMac(in, inLength);
    displayFallback = false;
  }
  return CFileAnalyzer::stripBuffer(in, inLength, out, outSize, wrapWidth, stripMarkup, firstChunk, state);
}

bool CRtfAnalyzer::checkIndexCharacter(char* c, char** read, char** wordStart, char** write, char** bufferStart,
                                       uint32_t length) {
  bool consumed = indexHook(c, read, wordStart, write, *bufferStart, length);
  // Inside a skipped group, or before a Unicode character's stand-in, every byte counts.
  indexHookBytes = skipDepth > 0 || indexFallback ? nullptr : markupStarts();
  return consumed;
}

const unsigned char* CRtfAnalyzer::markupStarts() {
  static const std::array<unsigned char, 256> starts = [] {
    std::array<unsigned char, 256> table{};
    table['\\'] = table['{'] = table['}'] = 1;
    return table;
  }();
  return starts.data();
}

bool CRtfAnalyzer::indexHook(char* c, char** read, char** wordStart, char** write, char* bufferStart,
                             uint32_t length) {
  char* at = *read;
  auto u = static_cast<unsigned char>(*c);
  if (skipDepth == 0 && !indexFallback && !isStructural(u)) return false;
  if (carry.carriedText(at, bufferStart)) return false;
  char* end = bufferStart + length;
  auto p = reinterpret_cast<const unsigned char*>(at);
  auto available = static_cast<size_t>(end - at);
  bool final = carry.atInputEnd();
  auto consume = [&](size_t bytes) {
    *read = at + bytes;
    return true;
  };
  auto hold = [&] {
    carry.hold(read, end, wordStart, write, index->pendingText);
    return true;
  };
  auto give = [&](size_t bytes, unsigned char byte) {
    return MarkupCarry::give(*index, bytes, byte, c, read, wordStart, write);
  };

  if (skipDepth > 0) {
    if (u == '\\') {
      if (available < 2) return final ? consume(1) : hold();
      return consume(2);
    }
    if (u == '{') ++skipDepth;
    if (u == '}') --skipDepth;
    return consume(1);
  }
  // Groups only scope formatting: their braces never split a word.
  if (u == '{' || u == '}') {
    indexFallback = false;
    return consume(1);
  }
  if (u != '\\') {
    indexFallback = false;
    return consume(1);
  }
  if (available < 2) return final ? consume(1) : hold();
  unsigned char b = p[1];
  if (b == '\'') {
    Escape escape = escapeAt(p, available, final);
    if (escape.length == 0) return hold();
    if (escape.value < 0 || indexFallback) {
      indexFallback = false;
      return consume(escape.length);
    }
    return give(escape.length, escaped(static_cast<unsigned char>(escape.value)));
  }
  if (isLower(b)) {
    ControlWord word = controlWordAt(p, available, final);
    if (word.length == 0) return hold();
    indexFallback = false;
    Effect effect = effectOf(word.name);
    switch (effect.kind) {
      case Effect::skipGroup:
        skipDepth = 1;
        return consume(word.length);
      case Effect::lineBreak:
      case Effect::space:
        return give(word.length, 0);
      case Effect::character:
        return give(word.length, effect.value);
      case Effect::unicode:
        indexFallback = true;
        return give(word.length, unicodeByte(word.parameter));
      case Effect::none:
        return consume(word.length);
    }
  }
  indexFallback = false;
  switch (b) {
    case '*':
      skipDepth = 1;
      return consume(2);
    case '\\':
    case '{':
    case '}':
      return give(2, b);
    case '_':
      return give(2, '-');
    case '-':
      // An optional hyphen: the word goes on.
      return consume(2);
    default:
      // A non-breaking space, a "\" line break and any other symbol end the word.
      return give(2, 0);
  }
}

bool CRtfAnalyzer::checkStripCharacter(unsigned char* c, char** read, uint32_t* remaining, char /*previousOut*/,
                                       bool /*stripMarkup*/, StripState& state) {
  auto p = reinterpret_cast<const unsigned char*>(*read) - 1;
  size_t available = size_t{*remaining} + 1;
  auto consume = [&](size_t bytes) {
    *read += bytes;
    *remaining -= static_cast<uint32_t>(bytes);
  };
  // An escape, a control word or a CR LF pair the chunk cuts waits for the next chunk.
  const bool final = state.lastChunk;
  auto hold = [&] { return MarkupCarry::holdDisplayTail(read, remaining, state.held); };
  if (!final && available < 2 && (*c == '\\' || *c == CR)) return hold();

  if (state.hook > 0) {
    if (*c == '\\' && available > 1) consume(1);
    if (*c == '{') ++state.hook;
    if (*c == '}') --state.hook;
    return true;
  }
  if (*c == '{' || *c == '}') {
    displayFallback = false;
    return true;
  }
  // Source line breaks are no text; a lone LF is left to show.
  if (*c == CR) {
    if (available > 1 && p[1] == LF) consume(1);
    return true;
  }
  if (*c != '\\') {
    if (displayFallback && *c != LF) {
      displayFallback = false;
      return true;
    }
    return false;
  }
  if (available < 2) return true;
  unsigned char b = p[1];
  if (b == '\'') {
    Escape escape = escapeAt(p, available, final);
    if (escape.length == 0) return hold();
    consume(escape.length - 1);
    if (escape.value < 0 || displayFallback) {
      displayFallback = false;
      return true;
    }
    *c = escaped(static_cast<unsigned char>(escape.value));
    return false;
  }
  displayFallback = false;
  if (isLower(b)) {
    ControlWord word = controlWordAt(p, available, final);
    if (word.length == 0) return hold();
    consume(word.length - 1);
    Effect effect = effectOf(word.name);
    switch (effect.kind) {
      case Effect::skipGroup:
        state.hook = 1;
        return true;
      case Effect::lineBreak:
        *c = LF;
        return false;
      case Effect::space:
        *c = ' ';
        return false;
      case Effect::character:
        *c = effect.value;
        return false;
      case Effect::unicode: {
        displayFallback = true;
        unsigned char byte = unicodeByte(word.parameter);
        *c = byte ? byte : ' ';
        return false;
      }
      case Effect::none:
        return true;
    }
  }
  switch (b) {
    case '*':
      consume(1);
      state.hook = 1;
      return true;
    case '\\':
    case '{':
    case '}':
      consume(1);
      *c = b;
      return false;
    case '_':
      consume(1);
      *c = '-';
      return false;
    case '-':
      consume(1);
      return true;
    case CR:
    case LF:
      consume(1);
      *c = LF;
      return false;
    default:
      // "\~" and other symbols show as a space; the symbol's byte is read next.
      *c = ' ';
      return false;
  }
}
