// CArcfour: the RC4 stream cipher, and the library's enciphering of short secrets
// (kEncipher, kDecipher) with it. The program keeps saved passwords this way; the
// cipher hides them from a casual reader and is no protection against an attacker.
#pragma once

#include <array>
#include <cstddef>

// RC4 as published: the key schedule runs over every key byte and no keystream byte
// is discarded. The state is wiped when the object dies.
class CArcfour {
 public:
  CArcfour(const unsigned char* key, std::size_t keyLength);
  ~CArcfour();
  CArcfour(const CArcfour&) = delete;
  CArcfour& operator=(const CArcfour&) = delete;

  // out[k] = in[k] XOR the next keystream byte; in and out may be the same block.
  void apply(const unsigned char* in, unsigned char* out, std::size_t length);

 private:
  std::array<unsigned char, 256> state;
  unsigned char i = 0;
  unsigned char j = 0;
};

namespace kolvo {

// Every enciphered block starts with this many bytes of salt.
inline constexpr std::size_t saltLength = 10;

// Writes the library's fixed salt to out[0..9] and the length enciphered bytes after
// it: out receives length + saltLength bytes and must not overlap in.
void encipher(const unsigned char* in, std::size_t length, unsigned char* out);
// Reverses encipher: in holds length bytes, salt first; out receives
// length - saltLength bytes (nothing when length is shorter than the salt). out may be
// in itself.
void decipher(const unsigned char* in, std::size_t length, unsigned char* out);

}  // namespace kolvo
