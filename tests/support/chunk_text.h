// Texts whose bytes meet a given way at the end of the engine's first read chunk, for the
// tests of the display text, the contents check and the search at that boundary.
#pragma once

#include <cstddef>
#include <string>

namespace kolvotest {

// The bytes of every read loop's chunk.
constexpr std::size_t readChunkBytes = 65535;

// Bytes whose first chunk ends with tail and whose second begins with head: start, lines
// of short words up to the tail, then the tail, the head and a last line.
std::string acrossChunkEnd(const std::string& tail, const std::string& head, const std::string& start = "");

}  // namespace kolvotest
