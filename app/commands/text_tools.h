// Small text helpers of the command language: trimming, comparing without regard to
// case (command words, property names and child names all compare that way), and the
// XML escaping of saved values.
#pragma once

#include <string>
#include <string_view>
#include <vector>

std::string qvTrim(std::string_view text);
std::string qvTrimLeft(std::string_view text);
std::string qvTrimRight(std::string_view text);
std::string qvLower(std::string_view text);
bool qvEqualsCaseless(std::string_view a, std::string_view b);
bool qvStartsWith(std::string_view text, std::string_view prefix);
bool qvEndsWith(std::string_view text, std::string_view suffix);
std::vector<std::string> qvSplit(std::string_view text, char separator);
// The lines appended to text, each ended by a line feed: a command's answers as printed.
// UTF-8 to Windows Latin-1, the index's own character set; what Latin-1 cannot hold,
// and bytes that are no UTF-8, stay as they are.
std::string qvToLatin1(std::string_view text);
// Each byte as the character of that code: Windows Latin-1 text as UTF-8.
std::string qvLatin1ToUtf8(std::string_view text);
bool qvIsValidUtf8(std::string_view text);
// One element holding a value: "<name>" and the escaped value. A value that is no
// UTF-8 (Latin-1 settings, file names in another encoding) is written with the
// attribute encoding="latin1" and its bytes as UTF-8 characters, so that the document
// stays well-formed and the reader gives back the same bytes.
std::string qvXmlValueElement(std::string_view name, std::string_view value);

// Orders names as the program lists them: without regard to case, then by bytes.
struct QvCaseless {
  bool operator()(const std::string& a, const std::string& b) const;
};
// Case-insensitive order only, for keys that must not differ by case alone.
struct QvCaselessKey {
  bool operator()(const std::string& a, const std::string& b) const;
};

// Character data of an element: "&", "<", ">" and CR escaped, so that the reader
// gives back exactly the value that was written.
std::string qvXmlEscapeText(std::string_view text);
// An attribute value in double quotes: also '"' and the blanks XML would normalise.
std::string qvXmlEscapeAttribute(std::string_view text);
