// The messages a network referral and the referral server exchange: each text is
// enciphered, Base64-encoded and sent behind its length in hexadecimal. Both sides use
// these routines, so the client and kolvoserve frame and read messages the same way.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

// Base64 with a line feed after every 76 characters.
std::string qvBase64Encode(std::string_view bytes);
// Skips line breaks; nothing for any other character outside the alphabet, or bad padding.
std::optional<std::string> qvBase64Decode(std::string_view text);

// The enciphered form of a text (the engine's kEncipher) as Base64, and back.
std::string qvEncipherToBase64(std::string_view text);
std::optional<std::string> qvDecipherFromBase64(std::string_view base64);

// One whole frame: the count of length digits, the length in upper-case hexadecimal,
// then the Base64 text.
std::string qvFrameMessage(std::string_view text);
// The frame of a text already enciphered and encoded.
std::string qvFrameBody(std::string_view base64);

// Collects what arrives on a connection and hands out one message at a time; what
// follows a frame stays buffered for the next.
class QvFrameReader {
 public:
  enum class Result { incomplete, message, broken };

  void append(const char* data, std::size_t size) { buffer.append(data, size); }
  // A message taken off the buffer, or incomplete (more must arrive), or broken: the
  // length field is no hexadecimal number, announces more than the bound allows, or the
  // text does not decode. A broken connection is to be dropped.
  Result next(std::string& message);
  std::size_t buffered() const { return buffer.size(); }

 private:
  std::string buffer;
};
