// Reading a pipe to its end as a busy reader would, a few kilobytes at a time with a
// pause now and then, for the tests of output written faster than it is read.
#pragma once

#include <string>

namespace kolvotest {

// Everything read from in until its end; with pauses, a short sleep every few reads.
std::string readToEnd(int in, bool pauses);

}  // namespace kolvotest
