// Reading the file name parameters of MIME part headers (plain, extended and continued).
#include "engine/mboxanalyzer/mime_file_name.h"

#include <algorithm>

#include "engine/index/resource_limits.h"

namespace {

char lowered(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; }
bool isDigit(char c) { return c >= '0' && c <= '9'; }
bool isWordByte(char c) { return isDigit(c) || (lowered(c) >= 'a' && lowered(c) <= 'z') || c == '-' || c == '_'; }
bool isLineEnd(char c) { return c == '\n' || c == '\r' || c == '\0'; }

int hexValue(char c) {
  if (isDigit(c)) return c - '0';
  c = lowered(c);
  return c >= 'a' && c <= 'f' ? c - 'a' + 10 : -1;
}

// A parameter's value at `at`: a quoted string (with backslash escapes) up to its closing
// quote or the line end, or a token up to ';', a blank or the line end.
std::string valueAt(std::string_view line, size_t at) {
  while (at < line.size() && (line[at] == ' ' || line[at] == '\t')) ++at;
  std::string value;
  if (at < line.size() && line[at] == '"') {
    for (++at; at < line.size() && line[at] != '"' && !isLineEnd(line[at]); ++at) {
      if (line[at] == '\\' && at + 1 < line.size() && !isLineEnd(line[at + 1])) ++at;
      value += line[at];
    }
  } else {
    for (; at < line.size() && line[at] != ';' && line[at] != ' ' && line[at] != '\t' && !isLineEnd(line[at]); ++at)
      value += line[at];
  }
  if (value.size() > kolvo::limits::mailFileNameBytes) value.resize(kolvo::limits::mailFileNameBytes);
  return value;
}

std::string percentDecoded(std::string_view text) {
  std::string out;
  for (size_t at = 0; at < text.size(); ++at) {
    int high = text[at] == '%' && at + 2 < text.size() ? hexValue(text[at + 1]) : -1;
    int low = high >= 0 ? hexValue(text[at + 2]) : -1;
    if (low >= 0) {
      out += static_cast<char>(high * 16 + low);
      at += 2;
    } else {
      out += text[at];
    }
  }
  return out;
}

// An extended value without its leading charset'language' part.
std::string_view withoutCharset(std::string_view value) {
  size_t first = value.find('\'');
  size_t second = first == std::string_view::npos ? first : value.find('\'', first + 1);
  return second == std::string_view::npos ? value : value.substr(second + 1);
}

}  // namespace

void CMimeFileName::take(std::string_view line) {
  static constexpr std::string_view key = "filename";
  for (size_t at = 0; at + key.size() < line.size(); ++at) {
    if (lowered(line[at]) != 'f' || (at > 0 && isWordByte(line[at - 1]))) continue;
    bool matches = true;
    for (size_t i = 0; i < key.size() && matches; ++i) matches = lowered(line[at + i]) == key[i];
    if (!matches) continue;
    size_t after = at + key.size();
    if (line[after] == '=') {
      if (!plain) plain = valueAt(line, after + 1);
      continue;
    }
    if (line[after] != '*') continue;
    ++after;
    if (after < line.size() && line[after] == '=') {
      if (!extended) extended = percentDecoded(withoutCharset(valueAt(line, after + 1)));
      continue;
    }
    // A numbered section: "*N=" as it stands, "*N*=" percent-encoded.
    unsigned section = 0;
    size_t digits = after;
    while (digits < line.size() && isDigit(line[digits]) && digits - after < 4)
      section = section * 10 + static_cast<unsigned>(line[digits++] - '0');
    if (digits == after) continue;
    bool encoded = digits < line.size() && line[digits] == '*';
    size_t equals = digits + (encoded ? 1 : 0);
    if (equals >= line.size() || line[equals] != '=') continue;
    std::string value = valueAt(line, equals + 1);
    if (encoded) value = percentDecoded(section == 0 ? withoutCharset(value) : std::string_view(value));
    keepSection(section, std::move(value));
  }
}

void CMimeFileName::keepSection(unsigned section, std::string value) {
  if (sections.size() >= kolvo::limits::mailFileNameSections || sections.count(section)) return;
  sections.emplace(section, std::move(value));
}

std::optional<std::string> CMimeFileName::name() const {
  if (extended) return extended;
  if (sections.count(0)) {
    std::string joined;
    unsigned next = 0;
    for (auto at = sections.begin(); at != sections.end() && at->first == next; ++at, ++next) {
      joined += at->second;
      if (joined.size() > kolvo::limits::mailFileNameBytes) break;
    }
    joined.resize(std::min(joined.size(), kolvo::limits::mailFileNameBytes));
    return joined;
  }
  return plain;
}

void CMimeFileName::reset() {
  plain.reset();
  extended.reset();
  sections.clear();
}
