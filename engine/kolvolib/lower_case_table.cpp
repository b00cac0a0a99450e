#include "engine/kolvolib/lower_case_table.h"

#include "include/kolvolib.h"

namespace {

constexpr std::array<unsigned char, 256> buildTable() {
  std::array<unsigned char, 256> table{};
  for (int c = 0; c < 256; ++c) table[c] = static_cast<unsigned char>(c);
  // 0x7F folds to NUL, so hashing stops there as at the end of a text.
  table[0x7F] = 0x00;
  for (int c = 'A'; c <= 'Z'; ++c) table[c] = static_cast<unsigned char>(c + 0x20);
  // Latin-1 capitals; 0xC0 and 0xDF stay, and 0xD7 folds to 0xF7 like its neighbours.
  for (int c = 0xC1; c <= 0xDE; ++c) table[c] = static_cast<unsigned char>(c + 0x20);
  for (int c = 0x8A; c <= 0x8F; ++c) table[c] = static_cast<unsigned char>(c + 0x10);
  table[0xA3] = 0xB3;
  table[0xA5] = 0xB9;
  table[0xAF] = 0xBF;
  return table;
}

}  // namespace

namespace kolvo {

std::array<unsigned char, 256> lowerCaseBytes = buildTable();

void mapLowerCaseChars() { lowerCaseBytes = buildTable(); }

}  // namespace kolvo

extern "C" KOLVO_EXPORT void mapLowerCaseChars() { kolvo::mapLowerCaseChars(); }
