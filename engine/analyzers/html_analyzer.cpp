// HTML and XML: UTF-8 and character references decoded, and tags taken out of the
// display text.
#include "engine/analyzers/html_analyzer.h"

#include <array>
#include <cstring>
#include <string_view>

#include "engine/index/hit_scan.h"
#include "engine/index/kolvo_index.h"
#include "engine/index/resource_limits.h"

namespace {

using Sequence = CHtmlAnalyzer::Sequence;
using kolvo::limits::markupSequenceBytes;

// Display hook states, kept by fillDisplayBuffer across the chunks of a file.
enum State : int { inText = 0, inTag = 1, inScript = -1, inStyle = -2, inComment = -3 };

constexpr unsigned char CR = '\r';
constexpr unsigned char LF = '\n';
constexpr unsigned char TAB = '\t';

bool isContinuation(unsigned char c) { return c >= 0x80 && c <= 0xBF; }
bool isDigit(unsigned char c) { return c >= '0' && c <= '9'; }
bool isLetter(unsigned char c) { return (c | 0x20) >= 'a' && (c | 0x20) <= 'z'; }
int hexValue(unsigned char c) {
  if (isDigit(c)) return c - '0';
  if ((c | 0x20) >= 'a' && (c | 0x20) <= 'f') return (c | 0x20) - 'a' + 10;
  return -1;
}

// The bytes ran out before the sequence ended: it waits for more unless none come, or
// unless it is already longer than any sequence is read whole.
Sequence ranOut(size_t taken, bool final, Sequence otherwise) {
  if (!final && taken < markupSequenceBytes) return {Sequence::incomplete, taken, 0};
  return otherwise;
}

constexpr Sequence literal{Sequence::literal, 1, 0};

// The most bytes a '<' and what follows it are looked at: "</script".
constexpr size_t longestTagStart = 8;

// True when the bytes after p (available counting p) spell word, in either case.
bool spells(const unsigned char* p, size_t available, const char* word) {
  size_t length = std::strlen(word);
  if (available < length + 1) return false;
  for (size_t k = 0; k < length; ++k)
    if ((p[k + 1] | 0x20) != static_cast<unsigned char>(word[k])) return false;
  return true;
}

// The bytes after a '<' that make it open a tag rather than stand as text.
bool opensTag(const unsigned char* p, size_t available) {
  return available > 1 && (isLetter(p[1]) || p[1] == '/' || p[1] == '!' || p[1] == '?');
}

// For a tag whose start the display turns into a line break, as a paragraph's or a
// row's, the length of the name that makes it so; 0 for any other tag.
size_t lineBreakName(const unsigned char* p, size_t available) {
  if ((p[1] | 0x20) == 'p') return 1;
  return spells(p, available, "/p") || spells(p, available, "br") || spells(p, available, "tr") ||
                 spells(p, available, "li")
             ? 2
             : 0;
}

// Where a comment's text from at ends: past its first "-->", or at the end.
size_t pastComment(const unsigned char* p, size_t size, size_t at) {
  while (at + 2 < size) {
    auto dash = static_cast<const unsigned char*>(std::memchr(p + at, '-', size - at - 2));
    if (!dash) break;
    at = static_cast<size_t>(dash - p);
    if (p[at + 1] == '-' && p[at + 2] == '>') return at + 3;
    ++at;
  }
  return size;
}

// Where a script or style from at ends: past the first '<' that spells closing (whose
// tag then goes on to its '>'), or at the end.
size_t pastClosing(const unsigned char* p, size_t size, size_t at, const char* closing) {
  while (at < size) {
    auto open = static_cast<const unsigned char*>(std::memchr(p + at, '<', size - at));
    if (!open) break;
    at = static_cast<size_t>(open - p);
    if (spells(open, size - at, closing)) return at + 1 + std::strlen(closing);
    ++at;
  }
  return size;
}

}  // namespace

Sequence CHtmlAnalyzer::utf8At(const unsigned char* p, size_t available, bool final) {
  unsigned char lead = p[0];
  size_t need = lead >= 0xC2 && lead <= 0xDF ? 2 : lead >= 0xE0 && lead <= 0xEF ? 3 : lead >= 0xF0 && lead <= 0xF4 ? 4 : 0;
  if (need == 0) return literal;
  for (size_t k = 1; k < need; ++k) {
    if (k >= available) return ranOut(k, final, literal);
    unsigned char next = p[k];
    // The second byte also rules out overlong forms, surrogates and code points past U+10FFFF.
    unsigned char low = 0x80, high = 0xBF;
    if (k == 1) {
      if (lead == 0xE0) low = 0xA0;
      if (lead == 0xED) high = 0x9F;
      if (lead == 0xF0) low = 0x90;
      if (lead == 0xF4) high = 0x8F;
    }
    if (next < low || next > high || !isContinuation(next)) return literal;
  }
  if (need == 2 && lead <= 0xC3)
    return {Sequence::byte, 2, static_cast<unsigned char>(((lead & 0x03) << 6) | (p[1] & 0x3F))};
  return {Sequence::separator, need, 0};
}

Sequence CHtmlAnalyzer::referenceAt(const unsigned char* p, size_t available, bool final) const {
  if (available < 2) return ranOut(1, final, literal);
  size_t at = 1;
  if (p[1] == '#') {
    at = 2;
    int base = 10;
    if (at < available && (p[at] | 0x20) == 'x') {
      base = 16;
      ++at;
    }
    size_t digits = 0;
    unsigned value = 0;
    for (; at < available; ++at) {
      int digit = base == 16 ? hexValue(p[at]) : isDigit(p[at]) ? p[at] - '0' : -1;
      if (digit < 0) break;
      ++digits;
      // Past 255 the value only needs to stay past it.
      if (value <= 255) value = value * static_cast<unsigned>(base) + static_cast<unsigned>(digit);
    }
    if (at == available) {
      Sequence whole{digits > 0 && value >= 1 && value <= 255 ? Sequence::byte : Sequence::separator, at,
                     static_cast<unsigned char>(value)};
      return ranOut(at, final, whole);
    }
    if (p[at] == ';') ++at;
    if (digits == 0 || value == 0 || value > 255) return {Sequence::separator, at, 0};
    return {Sequence::byte, at, static_cast<unsigned char>(value)};
  }
  while (at < available && at <= kolvo::limits::entityNameBytes + 1 && (isLetter(p[at]) || isDigit(p[at]))) ++at;
  if (at == available) return ranOut(at, final, literal);
  size_t nameLength = at - 1;
  if (nameLength == 0 || nameLength > kolvo::limits::entityNameBytes || p[at] != ';') return literal;
  auto found = entities.find(std::string_view(reinterpret_cast<const char*>(p) + 1, nameLength));
  if (found == entities.end()) return {Sequence::separator, at + 1, 0};
  return {Sequence::byte, at + 1, found->second};
}

CHtmlAnalyzer::CHtmlAnalyzer(CKolvoIndex* owner) : CFileAnalyzer(owner) {
  characterHooks = true;
  if (owner) entities.insert(owner->entityMap.begin(), owner->entityMap.end());
  // Only a reference or a UTF-8 lead byte asks more of indexing than the generic rules.
  static const std::array<unsigned char, 256> sequenceStarts = [] {
    std::array<unsigned char, 256> starts{};
    starts['&'] = 1;
    for (int lead = 0xC2; lead <= 0xF4; ++lead) starts[lead] = 1;
    return starts;
  }();
  indexHookBytes = sequenceStarts.data();
  // In text, display asks more only of a tag, a reference, a UTF-8 lead byte and blanks.
  static const std::array<unsigned char, 256> textSpecials = [] {
    std::array<unsigned char, 256> specials{};
    for (char c : std::string_view("<& \t\n\r")) specials[static_cast<unsigned char>(c)] = 1;
    for (int high = 0x80; high <= 0xFF; ++high) specials[high] = 1;
    return specials;
  }();
  stripHookBytes = textSpecials.data();
}

uint32_t CHtmlAnalyzer::indexBuffer(char* buffer, uint32_t length, uint32_t fileId, bool firstChunk) {
  return carry.indexChunk(*this, *index, buffer, length, fileId, firstChunk);
}

void CHtmlAnalyzer::finishInput(std::string& pending, bool whole) { carry.finish(*this, *index, pending, whole); }

bool CHtmlAnalyzer::checkIndexCharacter(char* c, char** read, char** wordStart, char** write, char** bufferStart,
                                        uint32_t length) {
  char* at = *read;
  if (carry.carriedText(at, *bufferStart)) return false;
  char* end = *bufferStart + length;
  auto bytes = reinterpret_cast<const unsigned char*>(at);
  auto available = static_cast<size_t>(end - at);
  Sequence found = *c == '&' ? referenceAt(bytes, available, carry.atInputEnd())
                             : utf8At(bytes, available, carry.atInputEnd());
  switch (found.kind) {
    case Sequence::literal:
      return false;
    case Sequence::incomplete:
      carry.hold(read, end, wordStart, write, index->pendingText);
      return true;
    case Sequence::byte:
      return MarkupCarry::give(*index, found.length, found.value, c, read, wordStart, write);
    case Sequence::separator:
      return MarkupCarry::give(*index, found.length, 0, c, read, wordStart, write);
  }
  return false;
}

bool CHtmlAnalyzer::checkStripCharacter(unsigned char* c, char** read, uint32_t* remaining, char previousOut,
                                        bool stripMarkup, StripState& state) {
  // p is the byte taken, available counts it and the bytes after it.
  auto p = reinterpret_cast<const unsigned char*>(*read) - 1;
  size_t available = size_t{*remaining} + 1;
  auto consume = [&](size_t bytes) {
    *read += bytes;
    *remaining -= static_cast<uint32_t>(bytes);
  };
  // A tag name or an end of comment the chunk may cut waits for the next chunk.
  const bool final = state.lastChunk;
  auto cut = [&](size_t needed) { return !final && available < needed; };
  auto hold = [&] { return MarkupCarry::holdDisplayTail(read, remaining, state.held); };

  if (stripMarkup) {
    switch (state.hook) {
      case inTag:
        if (*c != '>') return true;
        state.hook = inText;
        {
          // The line breaks and indentation that follow a tag are the source's layout.
          bool spaces = available > 1 && p[1] == ' ';
          while (*remaining > 0) {
            auto next = static_cast<unsigned char>(**read);
            if (next != CR && next != LF && next != TAB && !(spaces && next == ' ')) break;
            consume(1);
          }
        }
        if (previousOut == ' ' || previousOut == '\n') return true;
        *c = ' ';
        return false;
      case inScript:
      case inStyle:
        if (*c == '<' && cut(longestTagStart)) return hold();
        if (*c == '<' && spells(p, available, state.hook == inScript ? "/script" : "/style")) {
          consume(state.hook == inScript ? 7 : 6);
          state.hook = inTag;
        }
        return true;
      case inComment:
        if (*c == '-' && cut(3)) return hold();
        if (*c == '-' && available >= 3 && p[1] == '-' && p[2] == '>') {
          consume(2);
          state.hook = inText;
        }
        return true;
      default:
        break;
    }
    if (*c == '<' && cut(longestTagStart)) return hold();
    // A '<' starts a tag only before a name, '/', '!' or '?'; "a < b" is text.
    if (*c == '<' && opensTag(p, available)) {
      if (spells(p, available, "!--")) {
        consume(3);
        state.hook = inComment;
        return true;
      }
      if (spells(p, available, "script")) {
        consume(6);
        state.hook = inScript;
        return true;
      }
      if (spells(p, available, "style")) {
        consume(5);
        state.hook = inStyle;
        return true;
      }
      state.hook = inTag;
      size_t named = lineBreakName(p, available);
      if (named == 0) return true;
      consume(named);
      *c = LF;
      return false;
    }
  }

  Sequence found = *c == '&' ? referenceAt(p, available, final) : *c >= 0x80 ? utf8At(p, available, final) : literal;
  if (found.kind == Sequence::incomplete) return hold();
  if (found.kind == Sequence::byte || found.kind == Sequence::separator) {
    consume(found.length - 1);
    *c = found.kind == Sequence::byte ? found.value : ' ';
  } else if (*c == TAB || *c == LF || *c == CR) {
    *c = ' ';
  }
  return *c == ' ' && previousOut == ' ';
}

CHtmlAnalyzer::ShownWordRules CHtmlAnalyzer::ShownWordRules::of(const std::array<unsigned char, 256>& start,
                                                               const std::array<unsigned char, 256>& part,
                                                               const std::array<unsigned char, 256>& keeps) {
  ShownWordRules rules;
  for (int c = 0; c < 256; ++c) {
    bool hooked = c == '<' || c == '&' || c >= 0x80;
    bool isBlank = c == ' ' || c == TAB || c == LF || c == CR;
    // A CR reaches the display's own rules only from a reference; there it waits on the
    // byte after it, which this scan does not follow.
    rules.classes[static_cast<size_t>(c)] = static_cast<unsigned char>(
        (start[static_cast<size_t>(c)] ? starts : 0) | (part[static_cast<size_t>(c)] ? continues : 0) |
        (keeps[static_cast<size_t>(c)] && c != CR ? plain : 0) | (hooked ? special : 0) | (isBlank ? blank : 0));
  }
  // Blanks and tags reach the display's rules as spaces, paragraph tags as line breaks:
  // both must be plain bytes that are no part of a word.
  auto separates = [&](unsigned char c) { return (rules.classes[c] & (plain | starts | continues)) == plain; };
  rules.usable = separates(' ') && separates(LF);
  return rules;
}

CHtmlAnalyzer::ShownWords CHtmlAnalyzer::scanShownWords(const char* page, size_t size, bool stripMarkup,
                                                       const ShownWordRules& rules, kolvo::HitScan& scan,
                                                       std::string& word) const {
  using Rules = ShownWordRules;
  if (!rules.usable) return ShownWords::unsure;
  const unsigned char* kinds = rules.classes.data();
  auto p = reinterpret_cast<const unsigned char*>(page);
  // The word in hand: length bytes from begin while they stand in a row in the page,
  // else copied into word (it holds a decoded byte, or a comment cut it).
  const unsigned char* begin = nullptr;
  size_t length = 0;
  bool copied = false;
  bool inWord = false;
  bool holds = false;
  auto endWord = [&]() __attribute__((always_inline)) {
    inWord = false;
    if (!holds)
      holds = copied ? scan.take(word.data(), word.size()) : scan.take(reinterpret_cast<const char*>(begin), length);
  };
  // One byte as the display's own rules get it: from the page at from, or made by the
  // hooks (from null). False when it is not plain.
  auto give = [&](unsigned char c, const unsigned char* from) __attribute__((always_inline)) {
    unsigned char k = kinds[c];
    if (!(k & Rules::plain)) return false;
    if (inWord && (k & Rules::continues)) {
      if (!copied && from && from == begin + length) {
        ++length;
        return true;
      }
      if (!copied) word.assign(reinterpret_cast<const char*>(begin), length);
      copied = true;
      word.push_back(static_cast<char>(c));
      return true;
    }
    if (inWord) endWord();
    if (k & Rules::starts) {
      inWord = true;
      copied = from == nullptr;
      if (copied) word.assign(1, static_cast<char>(c));
      begin = from;
      length = 1;
    }
    return true;
  };

  constexpr unsigned char kind = Rules::plain | Rules::special | Rules::blank;
  size_t at = 0;
  while (at < size) {
    unsigned char c = p[at];
    unsigned char k = kinds[c];
    if (!inWord && (k & (kind | Rules::starts)) == (Rules::plain | Rules::starts)) {
      // Most words stand in the page as they are shown, and end at a byte that is no
      // hook's: they are taken from the page at once.
      size_t from = at++;
      while (at < size && (kinds[p[at]] & (kind | Rules::continues)) == (Rules::plain | Rules::continues)) ++at;
      if (at == size || !(kinds[p[at]] & Rules::special)) {
        if (!holds) holds = scan.take(page + from, at - from);
        continue;
      }
      inWord = true;
      copied = false;
      begin = p + from;
      length = at - from;
      continue;
    }
    if (k & Rules::blank) {
      // The display shows a blank as a space, or drops it after one: a plain byte that
      // parts words either way.
      if (inWord) endWord();
      ++at;
      continue;
    }
    if (!(k & Rules::special)) {
      if (!give(c, p + at)) return ShownWords::unsure;
      ++at;
      continue;
    }
    const unsigned char* q = p + at;
    size_t available = size - at;
    if (c == '<' && stripMarkup && opensTag(q, available)) {
      // A comment leaves nothing, not even a space: the words about it may join.
      if (spells(q, available, "!--")) {
        at = pastComment(p, size, at + 4);
        continue;
      }
      size_t from = at + 1;
      if (spells(q, available, "script")) {
        from = pastClosing(p, size, at + 7, "/script");
      } else if (spells(q, available, "style")) {
        from = pastClosing(p, size, at + 6, "/style");
      } else if (lineBreakName(q, available) != 0 && !give(LF, nullptr)) {
        return ShownWords::unsure;
      }
      // A tag ends at its first '>', quoted or not, and parts the words about it.
      auto close = from < size ? static_cast<const unsigned char*>(std::memchr(p + from, '>', size - from)) : nullptr;
      if (!close) break;
      if (!give(' ', nullptr)) return ShownWords::unsure;
      at = static_cast<size_t>(close - p) + 1;
      continue;
    }
    Sequence found = c == '&' ? referenceAt(q, available, true) : c >= 0x80 ? utf8At(q, available, true) : literal;
    bool given = true;
    if (found.kind == Sequence::byte) {
      given = give(found.value, nullptr);
    } else if (found.kind == Sequence::separator) {
      given = give(' ', nullptr);
    } else {
      given = give(c, q);
      found.length = 1;
    }
    if (!given) return ShownWords::unsure;
    at += found.length;
  }
  if (inWord) endWord();
  return holds ? ShownWords::holds : ShownWords::lacks;
}
