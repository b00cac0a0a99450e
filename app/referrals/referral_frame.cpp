#include "app/referrals/referral_frame.h"

#include <array>
#include <vector>

#include "app/index/kolvo_lib.h"
#include "app/referrals/referral_limits.h"

namespace {

constexpr char kAlphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
constexpr std::size_t kLineLength = 76;
// kEncipher puts its salt in front of the enciphered bytes.
constexpr std::size_t kSaltBytes = 10;

int base64Value(char c) {
  if (c >= 'A' && c <= 'Z') return c - 'A';
  if (c >= 'a' && c <= 'z') return c - 'a' + 26;
  if (c >= '0' && c <= '9') return c - '0' + 52;
  if (c == '+') return 62;
  if (c == '/') return 63;
  return -1;
}

int hexValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  return -1;
}

std::string upperHex(std::size_t value) {
  static constexpr char digits[] = "0123456789ABCDEF";
  std::string text;
  do {
    text.insert(text.begin(), digits[value % 16]);
    value /= 16;
  } while (value != 0);
  return text;
}

}  // namespace

std::string qvBase64Encode(std::string_view bytes) {
  std::size_t symbols = (bytes.size() + 2) / 3 * 4;
  std::string lines;
  lines.reserve(symbols + symbols / kLineLength);
  std::size_t onLine = 0;
  auto put = [&](char c) {
    if (onLine == kLineLength) {
      lines += '\n';
      onLine = 0;
    }
    lines += c;
    ++onLine;
  };
  for (std::size_t i = 0; i < bytes.size(); i += 3) {
    std::size_t left = bytes.size() - i;
    unsigned value = static_cast<unsigned char>(bytes[i]) << 16;
    if (left > 1) value |= static_cast<unsigned char>(bytes[i + 1]) << 8;
    if (left > 2) value |= static_cast<unsigned char>(bytes[i + 2]);
    put(kAlphabet[(value >> 18) & 63]);
    put(kAlphabet[(value >> 12) & 63]);
    put(left > 1 ? kAlphabet[(value >> 6) & 63] : '=');
    put(left > 2 ? kAlphabet[value & 63] : '=');
  }
  return lines;
}

std::optional<std::string> qvBase64Decode(std::string_view text) {
  // One table lookup a character: an answer of a referral can be many megabytes.
  static const std::array<signed char, 256> values = [] {
    std::array<signed char, 256> table{};
    for (int c = 0; c < 256; ++c) table[static_cast<std::size_t>(c)] = static_cast<signed char>(base64Value(static_cast<char>(c)));
    return table;
  }();
  std::string bytes(text.size() / 4 * 3 + 3, '\0');
  std::size_t out = 0;
  unsigned value = 0;
  int bits = 0, padding = 0;
  std::size_t symbols = 0;
  for (char c : text) {
    if (c == '\n' || c == '\r') continue;
    ++symbols;
    if (c == '=') {
      ++padding;
      continue;
    }
    int digit = values[static_cast<unsigned char>(c)];
    if (digit < 0 || padding != 0) return std::nullopt;  // nothing may follow the padding
    value = (value << 6) | static_cast<unsigned>(digit);
    bits += 6;
    if (bits >= 8) {
      bits -= 8;
      bytes[out++] = static_cast<char>((value >> bits) & 0xFF);
    }
  }
  if (symbols % 4 != 0 || padding > 2) return std::nullopt;
  bytes.resize(out);
  return bytes;
}

std::string qvEncipherToBase64(std::string_view text) {
  static const auto encipher = klib(kEncipher);
  std::vector<unsigned char> out(text.size() + kSaltBytes);
  encipher(reinterpret_cast<const unsigned char*>(text.data()), static_cast<int>(text.size()), out.data());
  return qvBase64Encode(std::string_view(reinterpret_cast<const char*>(out.data()), out.size()));
}

std::optional<std::string> qvDecipherFromBase64(std::string_view base64) {
  static const auto decipher = klib(kDecipher);
  auto bytes = qvBase64Decode(base64);
  if (!bytes || bytes->size() < kSaltBytes) return std::nullopt;
  std::vector<unsigned char> out(bytes->size());
  decipher(reinterpret_cast<const unsigned char*>(bytes->data()), static_cast<int>(bytes->size()), out.data());
  return std::string(reinterpret_cast<const char*>(out.data()), bytes->size() - kSaltBytes);
}

std::string qvFrameBody(std::string_view base64) {
  std::string length = upperHex(base64.size());
  return upperHex(length.size()) + length + std::string(base64);
}

std::string qvFrameMessage(std::string_view text) { return qvFrameBody(qvEncipherToBase64(text)); }

QvFrameReader::Result QvFrameReader::next(std::string& message) {
  if (buffer.empty()) return Result::incomplete;
  int digits = hexValue(buffer[0]);
  if (digits <= 0) return Result::broken;
  std::size_t length = 0;
  for (int i = 1; i <= digits; ++i) {
    if (static_cast<std::size_t>(i) >= buffer.size()) return Result::incomplete;
    int digit = hexValue(buffer[static_cast<std::size_t>(i)]);
    if (digit < 0) return Result::broken;
    length = length * 16 + static_cast<std::size_t>(digit);
    // Checked digit by digit, so that no count of digits can overflow.
    if (length > kolvo::limits::referralFrameBytes) return Result::broken;
  }
  std::size_t header = 1 + static_cast<std::size_t>(digits);
  if (buffer.size() - header < length) return Result::incomplete;
  auto text = qvDecipherFromBase64(std::string_view(buffer).substr(header, length));
  if (!text) return Result::broken;
  buffer.erase(0, header + length);
  message = std::move(*text);
  return Result::message;
}
