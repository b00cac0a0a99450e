#include "tests/support/base64_writer.h"

namespace kolvotest {

std::string base64Encode(std::string_view bytes, size_t lineLength, std::string_view lineEnd) {
  static constexpr char letters[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
  std::string plain;
  for (size_t at = 0; at < bytes.size(); at += 3) {
    unsigned value = static_cast<unsigned char>(bytes[at]) << 16;
    size_t got = bytes.size() - at < 3 ? bytes.size() - at : 3;
    if (got > 1) value |= static_cast<unsigned char>(bytes[at + 1]) << 8;
    if (got > 2) value |= static_cast<unsigned char>(bytes[at + 2]);
    plain += letters[(value >> 18) & 63];
    plain += letters[(value >> 12) & 63];
    plain += got > 1 ? letters[(value >> 6) & 63] : '=';
    plain += got > 2 ? letters[value & 63] : '=';
  }
  std::string lines;
  for (size_t at = 0; at < plain.size(); at += lineLength) {
    lines += plain.substr(at, lineLength);
    lines += lineEnd;
  }
  return lines;
}

}  // namespace kolvotest
