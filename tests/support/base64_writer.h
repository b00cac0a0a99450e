// Base64 encoding for tests that write mail attachments: the bytes in lines of a given
// length, each ended by a line end.
#pragma once

#include <string>
#include <string_view>

namespace kolvotest {

std::string base64Encode(std::string_view bytes, size_t lineLength = 76, std::string_view lineEnd = "\n");

}  // namespace kolvotest
