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
  if (done) return;
  // Room for every group the input can complete, written through a pointer and cut to
  // what was written at the end.
  size_t start = out.size();
  out.resize(start + (length / 4 + 1) * 3);
  char* write = out.data() + start;
  for (size_t at = 0; at < length; ++at) {
    auto c = static_cast<unsigned char>(data[at]);
    unsigned char value = alphabet[c];
    if (value != notInAlphabet) {
      previous = c;
      bits = (bits << 6) | value;
      if (++held == 4) {
        write[0] = static_cast<char>(bits >> 16);
        write[1] = static_cast<char>(bits >> 8);
        write[2] = static_cast<char>(bits);
        write += 3;
        bits = 0;
        held = 0;
        decodedAny = true;
      }
      continue;
    }
    bool emptyLine = (c == '\n' && previous == '\n') || (c == '\r' && (previous == '\n' || previous == '\r'));
    previous = c;
    if (emptyLine && decodedAny) {
      done = true;
      break;
    }
  }
  out.resize(static_cast<size_t>(write - out.data()));
}

void CBase64Decoder::finish(std::string& out) {
  // Two characters carry one byte, three carry two; a lone one carries none.
  if (held >= 2) out.push_back(static_cast<char>(bits >> (6 * held - 8)));
  if (held == 3) out.push_back(static_cast<char>(bits >> 2));
  bits = 0;
  held = 0;
}
