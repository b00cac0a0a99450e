#include "engine/arcfour/hex_digits.h"

#include <cstring>

#include "include/kolvolib.h"

namespace kolvo {
namespace {

constexpr char digits[] = "0123456789ABCDEF";

int nibble(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  return -1;
}

}  // namespace

void byteToHex(unsigned char byte, char* twoDigits) {
  twoDigits[0] = digits[byte >> 4];
  twoDigits[1] = digits[byte & 0x0F];
}

std::optional<unsigned char> hexToByte(const char* twoDigits) {
  int high = nibble(twoDigits[0]);
  if (high < 0) return std::nullopt;
  int low = nibble(twoDigits[1]);
  if (low < 0) return std::nullopt;
  return static_cast<unsigned char>(high << 4 | low);
}

void bytesToHex(const unsigned char* in, std::size_t count, char* out) {
  for (std::size_t k = 0; k < count; ++k) byteToHex(in[k], out + 2 * k);
  out[2 * count] = '\0';
}

std::size_t hexToBytes(const char* hex, std::size_t count, unsigned char* out) {
  std::size_t decoded = 0;
  for (; decoded < count; ++decoded) {
    std::optional<unsigned char> byte = hexToByte(hex + 2 * decoded);
    if (!byte) break;
    out[decoded] = *byte;
  }
  if (decoded < count) std::memset(out + decoded, 0, count - decoded);
  return decoded;
}

}  // namespace kolvo

// n <= 0, or a null block, writes nothing at all (not even the NUL).
extern "C" KOLVO_EXPORT void convertToHex(int n, const unsigned char* in, char* out) {
  if (n <= 0 || in == nullptr || out == nullptr) return;
  kolvo::bytesToHex(in, static_cast<std::size_t>(n), out);
}

extern "C" KOLVO_EXPORT void convertFromHex(const char* hex, int n, unsigned char* out) {
  if (n <= 0 || out == nullptr) return;
  if (hex == nullptr) {
    std::memset(out, 0, static_cast<std::size_t>(n));
    return;
  }
  kolvo::hexToBytes(hex, static_cast<std::size_t>(n), out);
}

extern "C" KOLVO_EXPORT void tohex(unsigned char byte, char* twoDigits) {
  if (twoDigits != nullptr) kolvo::byteToHex(byte, twoDigits);
}

extern "C" KOLVO_EXPORT unsigned char fromhex(const char* twoDigits) {
  if (twoDigits == nullptr) return 0;
  return kolvo::hexToByte(twoDigits).value_or(0);
}
