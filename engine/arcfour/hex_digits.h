// Bytes as hexadecimal text and back: the text form of enciphered blocks, used by the
// program to store saved passwords in its files (convertToHex, convertFromHex, tohex,
// fromhex).
#pragma once

#include <cstddef>
#include <optional>

namespace kolvo {

// Two upper-case digits, high nibble first; no NUL.
void byteToHex(unsigned char byte, char* twoDigits);

// The byte of two digits of either case; nothing unless both are hexadecimal digits.
// Reads the second character only when the first is a digit, so a one-character text
// is safe.
std::optional<unsigned char> hexToByte(const char* twoDigits);

// Writes 2 * count digits and a NUL.
void bytesToHex(const unsigned char* in, std::size_t count, char* out);

// Decodes up to count bytes. At the first pair that is not two hexadecimal digits
// (the end of the text included) decoding stops, and that byte and every later one of
// out are set to 0. Returns the number of bytes decoded.
std::size_t hexToBytes(const char* hex, std::size_t count, unsigned char* out);

}  // namespace kolvo
