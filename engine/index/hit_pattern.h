// A hit pattern of the file-contents search split into terms and near operators, and
// the match of one token against one term. Used by the display text's hit search and
// by the check that streams a file's words looking for a first hit.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace kolvo {

// A pattern split into terms and near operators. Level 0 is the whole pattern; level
// o + 1 is what follows operator o, starting with its partner term.
struct HitPattern {
  struct Term {
    std::string text;
    bool skipped = false;  // written with a leading '+'
    bool partner = false;  // the first term after a near operator
    int nearOp = -1;       // the operator that follows the term, if any
    size_t unique = 0;     // index into distinctTexts
  };
  struct Op {
    uint32_t distance = 0;  // 0: no limit
    int partner = -1;
  };

  std::vector<Term> terms;
  std::vector<Op> ops;
  std::vector<std::string> distinctTexts;

  HitPattern(std::string_view pattern, const std::array<unsigned char, 256>& tokenPart, int nearDistance);
};

// Whether the token of tokenSize bytes at token (its first byte already known to start
// a word) matches the lower-cased term: the term must cover the whole token, '?' stands
// for one character or nothing at the token's end, '*' for any run; a wildcard that is
// itself a word character is literal.
bool termCoversToken(const char* token, size_t tokenSize, std::string_view term,
                     const std::array<unsigned char, 256>& tokenPart);

}  // namespace kolvo
