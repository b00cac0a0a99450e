#include "tests/engine/analyzers/markup_test_support.h"

#include "engine/kolvolib/lower_case_table.h"

namespace kolvotest {

void useLatinLetters(CKolvoIndex& index) {
  for (int c = 0xC0; c <= 0xFF; ++c)
    if (c != 0xD7 && c != 0xF7) index.setValidCharMask(c, true);
  for (int c = 0x21; c < 0x7F; ++c)
    if ((c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9')) index.setValidViewableMask(c, true);
  for (int c = 0xA1; c <= 0xFF; ++c) index.setValidViewableMask(c, true);
  for (int c : {'{', '}', '<', '>', '&', '-', '=', ';', '/', '.', ',', '\\'}) index.setNonAlphaCharMask(c, true);
}

std::set<std::string> folded(std::initializer_list<std::string> words) {
  std::set<std::string> out;
  for (const std::string& word : words) {
    std::string lower;
    for (char c : word) lower += static_cast<char>(kolvo::lowerCase(static_cast<unsigned char>(c)));
    out.insert(lower);
  }
  return out;
}

}  // namespace kolvotest
