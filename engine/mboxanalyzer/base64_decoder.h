// CBase64Decoder: decodes the base64 body of a mail attachment piece by piece, as the
// mailbox is read. Bytes outside the alphabet (line ends included) are skipped; an empty
// line after decoded data ends the data. Used by the mail analyzer.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

class CBase64Decoder {
 public:
  // Appends the bytes that data decodes to; once the data has ended, nothing more.
  void decode(const char* data, size_t length, std::string& out);
  // Appends the bytes of an unfinished group of two or three characters, as a group
  // cut short by the data's end still carries them.
  void finish(std::string& out);
  bool ended() const { return done; }

 private:
  uint32_t bits = 0;
  int held = 0;  // characters in bits
  unsigned char previous = '\n';
  bool decodedAny = false;
  bool done = false;
};
