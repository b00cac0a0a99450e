#include "app/commands/text_tools.h"

#include <algorithm>
#include <cctype>

namespace {

bool isBlank(char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r'; }

unsigned char lowered(char c) { return static_cast<unsigned char>(std::tolower(static_cast<unsigned char>(c))); }

int compareCaseless(std::string_view a, std::string_view b) {
  std::size_t common = std::min(a.size(), b.size());
  for (std::size_t i = 0; i < common; ++i) {
    unsigned char x = lowered(a[i]), y = lowered(b[i]);
    if (x != y) return x < y ? -1 : 1;
  }
  if (a.size() == b.size()) return 0;
  return a.size() < b.size() ? -1 : 1;
}

}  // namespace

std::string qvTrimLeft(std::string_view text) {
  std::size_t start = 0;
  while (start < text.size() && isBlank(text[start])) ++start;
  return std::string(text.substr(start));
}

std::string qvTrimRight(std::string_view text) {
  std::size_t end = text.size();
  while (end > 0 && isBlank(text[end - 1])) --end;
  return std::string(text.substr(0, end));
}

std::string qvTrim(std::string_view text) { return qvTrimLeft(qvTrimRight(text)); }

std::string qvLower(std::string_view text) {
  std::string lower(text);
  for (char& c : lower) c = static_cast<char>(lowered(c));
  return lower;
}

bool qvEqualsCaseless(std::string_view a, std::string_view b) { return compareCaseless(a, b) == 0; }

bool qvStartsWith(std::string_view text, std::string_view prefix) { return text.substr(0, prefix.size()) == prefix; }

bool qvEndsWith(std::string_view text, std::string_view suffix) {
  return text.size() >= suffix.size() && text.substr(text.size() - suffix.size()) == suffix;
}

std::vector<std::string> qvSplit(std::string_view text, char separator) {
  std::vector<std::string> pieces;
  std::size_t at = 0;
  for (;;) {
    std::size_t next = text.find(separator, at);
    pieces.emplace_back(text.substr(at, next == std::string_view::npos ? std::string_view::npos : next - at));
    if (next == std::string_view::npos) return pieces;
    at = next + 1;
  }
}

bool QvCaseless::operator()(const std::string& a, const std::string& b) const {
  int order = compareCaseless(a, b);
  return order != 0 ? order < 0 : a < b;
}

bool QvCaselessKey::operator()(const std::string& a, const std::string& b) const {
  return compareCaseless(a, b) < 0;
}

std::string qvXmlEscapeText(std::string_view text) {
  std::string escaped;
  escaped.reserve(text.size());
  for (char c : text) {
    switch (c) {
      case '&': escaped += "&amp;"; break;
      case '<': escaped += "&lt;"; break;
      case '>': escaped += "&gt;"; break;
      case '\r': escaped += "&#13;"; break;
      default: escaped += c;
    }
  }
  return escaped;
}

std::string qvXmlEscapeAttribute(std::string_view text) {
  std::string escaped;
  escaped.reserve(text.size());
  for (char c : text) {
    switch (c) {
      case '"': escaped += "&quot;"; break;
      case '\t': escaped += "&#9;"; break;
      case '\n': escaped += "&#10;"; break;
      default: escaped += qvXmlEscapeText(std::string_view(&c, 1));
    }
  }
  return escaped;
}

std::string qvToLatin1(std::string_view text) {
  std::string out;
  for (std::size_t i = 0; i < text.size(); ++i) {
    unsigned char c = static_cast<unsigned char>(text[i]);
    if ((c == 0xC2 || c == 0xC3) && i + 1 < text.size() && (static_cast<unsigned char>(text[i + 1]) & 0xC0) == 0x80) {
      out += static_cast<char>(((c & 0x03) << 6) | (static_cast<unsigned char>(text[i + 1]) & 0x3F));
      ++i;
    } else {
      out += static_cast<char>(c);
    }
  }
  return out;
}

std::string qvLatin1ToUtf8(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  for (char ch : text) {
    auto c = static_cast<unsigned char>(ch);
    if (c < 0x80) {
      out += ch;
    } else {
      out += static_cast<char>(0xC0 | (c >> 6));
      out += static_cast<char>(0x80 | (c & 0x3F));
    }
  }
  return out;
}

bool qvIsValidUtf8(std::string_view text) {
  std::size_t i = 0;
  while (i < text.size()) {
    auto c = static_cast<unsigned char>(text[i]);
    std::size_t extra = 0;
    unsigned char low = 0x80, high = 0xBF;  // the range of the second byte
    if (c < 0x80) {
      extra = 0;
    } else if (c >= 0xC2 && c <= 0xDF) {
      extra = 1;
    } else if (c >= 0xE0 && c <= 0xEF) {
      extra = 2;
      if (c == 0xE0) low = 0xA0;
      if (c == 0xED) high = 0x9F;  // no surrogates
    } else if (c >= 0xF0 && c <= 0xF4) {
      extra = 3;
      if (c == 0xF0) low = 0x90;
      if (c == 0xF4) high = 0x8F;
    } else {
      return false;
    }
    if (text.size() - i <= extra) return false;
    for (std::size_t k = 1; k <= extra; ++k) {
      auto next = static_cast<unsigned char>(text[i + k]);
      if (k == 1 ? (next < low || next > high) : (next & 0xC0) != 0x80) return false;
    }
    i += extra + 1;
  }
  return true;
}

std::string qvXmlValueElement(std::string_view name, std::string_view value) {
  std::string tag(name);
  if (qvIsValidUtf8(value)) return "<" + tag + ">" + qvXmlEscapeText(value) + "</" + tag + ">";
  return "<" + tag + " encoding=\"latin1\">" + qvXmlEscapeText(qvLatin1ToUtf8(value)) + "</" + tag + ">";
}
