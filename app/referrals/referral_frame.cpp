#include "app/referrals/referral_frame.h"

#include <algorithm>
#include <array>
#include <memory>

#include "app/index/kolvo_lib.h"
#include "app/referrals/referral_limits.h"

namespace {

constexpr char kAlphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
constexpr std::size_t kLineLength = 76;
// The bytes one full line of Base64 holds.
constexpr std::size_t kLineBytes = kLineLength / 4 * 3;
// kEncipher puts its salt in front of the enciphered bytes.
constexpr std::size_t kSaltBytes = 10;

// What each character stands for: its six bits, or one of these.
constexpr signed char kLineBreak = -1, kPadding = -2, kForeign = -3;

constexpr std::array<signed char, 256> kValues = [] {
  std::array<signed char, 256> table{};
  for (auto& value : table) value = kForeign;
  for (int i = 0; i < 64; ++i) table[static_cast<unsigned char>(kAlphabet[i])] = static_cast<signed char>(i);
  table['\n'] = table['\r'] = kLineBreak;
  table['='] = kPadding;
  return table;
}();

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

std::size_t base64Length(std::size_t bytes) {
  std::size_t symbols = (bytes + 2) / 3 * 4;
  return symbols == 0 ? 0 : symbols + (symbols - 1) / kLineLength;
}

// Writes the Base64 of bytes, base64Length(size) characters, to out.
void encodeInto(const unsigned char* bytes, std::size_t size, char* out) {
  for (std::size_t line = 0; line < size; line += kLineBytes) {
    if (line != 0) *out++ = '\n';
    std::size_t end = std::min(size, line + kLineBytes), i = line;
    for (; i + 3 <= end; i += 3) {
      unsigned value = (unsigned{bytes[i]} << 16) | (unsigned{bytes[i + 1]} << 8) | bytes[i + 2];
      out[0] = kAlphabet[value >> 18];
      out[1] = kAlphabet[(value >> 12) & 63];
      out[2] = kAlphabet[(value >> 6) & 63];
      out[3] = kAlphabet[value & 63];
      out += 4;
    }
    if (i < end) {
      bool two = i + 1 < end;
      unsigned value = (unsigned{bytes[i]} << 16) | (two ? unsigned{bytes[i + 1]} << 8 : 0u);
      out[0] = kAlphabet[value >> 18];
      out[1] = kAlphabet[(value >> 12) & 63];
      out[2] = two ? kAlphabet[(value >> 6) & 63] : '=';
      out[3] = '=';
      out += 4;
    }
  }
}

// Decodes text into out, which has room for text.size() / 4 * 3 + 3 bytes (a broken
// text may fill that much before it is found out); answers the count written, or
// nothing for a text that is no Base64.
std::optional<std::size_t> decodeInto(std::string_view text, unsigned char* out) {
  const auto* in = reinterpret_cast<const unsigned char*>(text.data());
  const std::size_t size = text.size();
  std::size_t written = 0, symbols = 0, i = 0;
  unsigned value = 0;
  int bits = 0, padding = 0;
  while (i < size) {
    // Four symbols at once while no line break or padding comes.
    if (bits == 0 && padding == 0) {
      for (; i + 4 <= size; i += 4) {
        int a = kValues[in[i]], b = kValues[in[i + 1]], c = kValues[in[i + 2]], d = kValues[in[i + 3]];
        if ((a | b | c | d) < 0) break;
        unsigned quad = (unsigned(a) << 18) | (unsigned(b) << 12) | (unsigned(c) << 6) | unsigned(d);
        out[written] = static_cast<unsigned char>(quad >> 16);
        out[written + 1] = static_cast<unsigned char>(quad >> 8);
        out[written + 2] = static_cast<unsigned char>(quad);
        written += 3;
        symbols += 4;
      }
      if (i == size) break;
    }
    int digit = kValues[in[i++]];
    if (digit == kLineBreak) continue;
    ++symbols;
    if (digit == kPadding) {
      ++padding;
      continue;
    }
    if (digit < 0 || padding != 0) return std::nullopt;  // nothing may follow the padding
    value = (value << 6) | static_cast<unsigned>(digit);
    bits += 6;
    if (bits >= 8) {
      bits -= 8;
      out[written++] = static_cast<unsigned char>((value >> bits) & 0xFF);
    }
    if (bits == 0) value = 0;
  }
  if (symbols % 4 != 0 || padding > 2) return std::nullopt;
  return written;
}

// The enciphered form of text, salt first, in a block of its own.
std::unique_ptr<unsigned char[]> enciphered(std::string_view text) {
  static const auto encipher = klib(kEncipher);
  auto out = std::make_unique_for_overwrite<unsigned char[]>(text.size() + kSaltBytes);
  encipher(reinterpret_cast<const unsigned char*>(text.data()), static_cast<int>(text.size()), out.get());
  return out;
}

// Deciphers bytes where they stand: the text, without the salt, is left in bytes.
bool decipherInPlace(std::string& bytes) {
  static const auto decipher = klib(kDecipher);
  if (bytes.size() < kSaltBytes) return false;
  auto* data = reinterpret_cast<unsigned char*>(bytes.data());
  decipher(data, static_cast<int>(bytes.size()), data);
  bytes.resize(bytes.size() - kSaltBytes);
  return true;
}

// The frame of base64Size characters of Base64, header first, the Base64 left for the
// caller to write at the offset answered.
std::size_t frameHeader(std::size_t base64Size, std::string& frame) {
  std::string length = upperHex(base64Size);
  frame = upperHex(length.size()) + length;
  std::size_t header = frame.size();
  frame.resize(header + base64Size);
  return header;
}

}  // namespace

std::string qvBase64Encode(std::string_view bytes) {
  std::string text(base64Length(bytes.size()), '\0');
  encodeInto(reinterpret_cast<const unsigned char*>(bytes.data()), bytes.size(), text.data());
  return text;
}

std::optional<std::string> qvBase64Decode(std::string_view text) {
  std::string bytes(text.size() / 4 * 3 + 3, '\0');
  auto written = decodeInto(text, reinterpret_cast<unsigned char*>(bytes.data()));
  if (!written) return std::nullopt;
  bytes.resize(*written);
  return bytes;
}

std::string qvEncipherToBase64(std::string_view text) {
  return qvBase64Encode(std::string_view(reinterpret_cast<const char*>(enciphered(text).get()), text.size() + kSaltBytes));
}

std::optional<std::string> qvDecipherFromBase64(std::string_view base64) {
  auto bytes = qvBase64Decode(base64);
  if (!bytes || !decipherInPlace(*bytes)) return std::nullopt;
  return bytes;
}

std::string qvFrameBody(std::string_view base64) {
  std::string frame;
  std::size_t header = frameHeader(base64.size(), frame);
  std::copy(base64.begin(), base64.end(), frame.begin() + static_cast<std::ptrdiff_t>(header));
  return frame;
}

std::string qvFrameMessage(std::string_view text) {
  // One block for the enciphered bytes and one for the frame, which is encoded in place.
  std::size_t size = text.size() + kSaltBytes;
  auto bytes = enciphered(text);
  std::string frame;
  std::size_t header = frameHeader(base64Length(size), frame);
  encodeInto(bytes.get(), size, frame.data() + header);
  return frame;
}

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
  if (buffer.size() - header < length) {
    // Once half the frame is here, room for the rest is made at once rather than by one
    // more doubling; never more than doubling would take, whatever the header announces.
    if (buffer.size() * 2 >= header + length) buffer.reserve(header + length);
    return Result::incomplete;
  }
  message.resize(length / 4 * 3 + 3);
  auto written = decodeInto(std::string_view(buffer).substr(header, length),
                            reinterpret_cast<unsigned char*>(message.data()));
  if (!written) return Result::broken;
  message.resize(*written);
  if (!decipherInPlace(message)) return Result::broken;
  buffer.erase(0, header + length);
  return Result::message;
}
