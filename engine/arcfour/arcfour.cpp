#include "engine/arcfour/arcfour.h"

#include <string.h>  // explicit_bzero

#include <cstring>

#include "include/kolvolib.h"

CArcfour::CArcfour(const unsigned char* key, std::size_t keyLength) {
  for (int k = 0; k < 256; ++k) state[k] = static_cast<unsigned char>(k);
  if (keyLength == 0) return;
  unsigned char mix = 0;
  for (int k = 0; k < 256; ++k) {
    mix = static_cast<unsigned char>(mix + state[k] + key[k % keyLength]);
    std::swap(state[k], state[mix]);
  }
}

CArcfour::~CArcfour() {
  explicit_bzero(state.data(), state.size());
  explicit_bzero(&i, sizeof i);
  explicit_bzero(&j, sizeof j);
}

void CArcfour::apply(const unsigned char* in, unsigned char* out, std::size_t length) {
  // Worked on in locals: out could point into this object as far as the compiler knows,
  // which would make it store and reload i, j and the state after every byte.
  std::array<unsigned char, 256> s = state;
  unsigned char a = i, b = j;
  for (std::size_t k = 0; k < length; ++k) {
    a = static_cast<unsigned char>(a + 1);
    unsigned char x = s[a];
    b = static_cast<unsigned char>(b + x);
    unsigned char y = s[b];
    s[a] = y;
    s[b] = x;
    out[k] = in[k] ^ s[static_cast<unsigned char>(x + y)];
  }
  state = s;
  i = a;
  j = b;
  explicit_bzero(s.data(), s.size());
}

namespace kolvo {
namespace {

constexpr std::size_t keyConstantLength = 80;

constexpr unsigned char keyConstant[keyConstantLength] = {
    0x78, 0x29, 0x05, 0x24, 0xc2, 0x15, 0x52, 0x4f, 0x58, 0xf3,
    0x58, 0x4b, 0x95, 0xcf, 0x3c, 0xdb, 0x82, 0x2e, 0x08, 0xfd,
    0x05, 0xd2, 0xe6, 0xfd, 0x2e, 0x8f, 0x9f, 0x7a, 0x36, 0xd7,
    0x20, 0xf6, 0x2e, 0xe2, 0x11, 0x2b, 0xbc, 0x38, 0x35, 0x46,
    0x7b, 0xe5, 0x61, 0xfc, 0x63, 0x56, 0xaa, 0x10, 0x7f, 0x49,
    0x4f, 0x7a, 0x62, 0x4d, 0xcf, 0x4b, 0x83, 0x60, 0x72, 0x7b,
    0x32, 0x44, 0x13, 0xaa, 0xe1, 0xb7, 0x7c, 0x24, 0xd3, 0x07,
    0x63, 0x1e, 0x59, 0x91, 0xa9, 0xa0, 0xad, 0xe7, 0xf9, 0xb7,
};

// The fixed salt is never stored whole: it is the XOR of these two halves, read through
// volatile so the compiler cannot fold them into the plain salt.
volatile const unsigned char saltPartA[saltLength] = {0x4c, 0x2f, 0x80, 0x50, 0xaf,
                                                      0x00, 0x69, 0x7d, 0x64, 0x75};
volatile const unsigned char saltPartB[saltLength] = {0x72, 0xb2, 0xac, 0xac, 0x0b,
                                                      0x64, 0x38, 0x23, 0x75, 0xc3};

// The 90-byte key: the key constant followed by a salt. Zeroed when it goes out of
// scope, by a call the optimiser may not drop.
class WorkingKey {
 public:
  explicit WorkingKey(const unsigned char* salt) {
    std::memcpy(bytes, keyConstant, keyConstantLength);
    std::memcpy(bytes + keyConstantLength, salt, saltLength);
  }
  ~WorkingKey() { explicit_bzero(bytes, sizeof bytes); }
  WorkingKey(const WorkingKey&) = delete;
  WorkingKey& operator=(const WorkingKey&) = delete;

  const unsigned char* data() const { return bytes; }
  static constexpr std::size_t size() { return keyConstantLength + saltLength; }

 private:
  unsigned char bytes[keyConstantLength + saltLength];
};

}  // namespace

void encipher(const unsigned char* in, std::size_t length, unsigned char* out) {
  unsigned char salt[saltLength];
  for (std::size_t k = 0; k < saltLength; ++k) salt[k] = saltPartA[k] ^ saltPartB[k];
  {
    WorkingKey key(salt);
    CArcfour cipher(key.data(), key.size());
    std::memcpy(out, salt, saltLength);
    cipher.apply(in, out + saltLength, length);
  }
  explicit_bzero(salt, sizeof salt);
}

void decipher(const unsigned char* in, std::size_t length, unsigned char* out) {
  if (length < saltLength) return;
  // The key is built before out is written, so out may be in itself.
  WorkingKey key(in);
  CArcfour cipher(key.data(), key.size());
  // Each byte is read before any byte at or above it is written.
  cipher.apply(in + saltLength, out, length - saltLength);
}

}  // namespace kolvo

// A negative length, or a null block where bytes are due, writes nothing.
extern "C" KOLVO_EXPORT void kEncipher(const unsigned char* in, int length, unsigned char* out) {
  if (length < 0 || out == nullptr || (length > 0 && in == nullptr)) return;
  kolvo::encipher(in, static_cast<std::size_t>(length), out);
}

extern "C" KOLVO_EXPORT void kDecipher(const unsigned char* in, int length, unsigned char* out) {
  if (length < static_cast<int>(kolvo::saltLength) || in == nullptr || out == nullptr) return;
  kolvo::decipher(in, static_cast<std::size_t>(length), out);
}
