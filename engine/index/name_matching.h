// The wildcard matchers: name patterns (include and exclude patterns, kFileNameMatch),
// search terms against stored words, and folder filters. Used by the directory walk,
// the analyzer registry and the index's search entries; pure functions of their
// arguments and of the case-folding table.
#pragma once

namespace kolvo {

// Whether text fits the first term of a name pattern: '*' any run, '?' any one
// character (at the end of the text also none), an optional leading '^' negating the
// term; bytes compared case-folded. A term followed by an operator ('|', '&', '^')
// need only match a beginning of the text; the last term must use it all.
bool termMatch(const char* text, const char* pattern);

// Whether text fits a whole name pattern: terms joined by '|' (or), '&' (and) and '^'
// (and not), evaluated strictly from left to right with no precedence.
bool fileNameMatch(const char* text, const char* pattern);

// Whether a stored word fits a search term, byte for byte. '*' and '?' are wildcards
// unless the index declares them word characters (a set entry in either 256-byte mask;
// a null mask declares nothing), and then literals. A '?' at the word's end may stand
// for nothing.
bool wordMatch(const char* word, const char* pattern, const unsigned char* validCharMask,
               const unsigned char* validTrailingMask);

// Whether directory can lie at or below the folder named by the pattern's directory
// part (up to its last '/' or '\'); the pattern's file-name part is never tested. Pass
// the directory with a trailing separator when files directly inside it are meant.
bool dirMatch(const char* directory, const char* pattern);

}  // namespace kolvo
