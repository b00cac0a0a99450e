// Writing an answer to the program's standard output: all of its pieces in one call,
// and a pipe enlarged first for a long answer, so that the reader at its other end is
// woken a few times rather than once every 64 KB. kolvocmd prints every answer this way.
#pragma once

#include <cstddef>
#include <string_view>
#include <vector>

namespace kolvo::limits {

// A pipe on standard output is enlarged to at most this, and only for an answer longer
// than a pipe's usual size; the system may allow less, which is then kept.
inline constexpr std::size_t outputPipeBytes = std::size_t{1} << 20;
inline constexpr std::size_t outputPipeUsualBytes = std::size_t{64} << 10;

}  // namespace kolvo::limits

// Writes the pieces in order to file descriptor out, retrying what a signal or a full
// non-blocking pipe interrupts. Answers false when the output is closed or fails.
bool qvWriteOutput(int out, const std::vector<std::string_view>& pieces);
