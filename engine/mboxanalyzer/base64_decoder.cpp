// Base64 decoding of attachment bodies, one table lookup per input byte.
#include "engine/mboxanalyzer/base64_decoder.h"

#include <array>

namespace {

constexpr unsigned char notInAlphabet = 0xFF;

constexpr std::array<unsigned char, 256> makeAlphabet() {
  std::array<unsigned char, 256> values{};
  for (auto& value : values) value = notInAlphabet;
  const char* letters = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
  for (unsigned char i = 0; i < 64; ++i) values[static_cast<unsigned char>(letters[i])] = i;
  return values;
}

constexpr std::array<unsigned char, 256> alphabet = makeAlphabet();

}  // namespace

void CBase64Decoder::decode(const char* data, size_t length, std::string& out) {
  for (size_t at = 0; at < length && !done; ++at) {
    auto c = static_cast<unsigned char>(data[at]);
    bool emptyLine = (c == '\n' && previous == '\n') || (c == '\r' && (previous == '\n' || previous == '\r'));
    previous = c;
    if (emptyLine && decodedAny) {
      done = true;
      break;
    }
    unsigned char value = alphabet[c];
    if (value == notInAlphabet) continue;
    bits = (bits << 6) | value;
    if (++held == 4) {
      out.push_back(static_cast<char>(bits >> 16));
      out.push_back(static_cast<char>(bits >> 8));
      out.push_back(static_cast<char>(bits));
      bits = 0;
      held = 0;
      decodedAny = true;
    }
  }
}

void CBase64Decoder::finish(std::string& out) {
  // Two characters carry one byte, three carry two; a lone one carries none.
  if (held >= 2) out.push_back(static_cast<char>(bits >> (6 * held - 8)));
  if (held == 3) out.push_back(static_cast<char>(bits >> 2));
  bits = 0;
  held = 0;
}
