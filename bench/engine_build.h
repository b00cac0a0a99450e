// A build of a tree through the C interface with the engine linked directly, as the
// build-and-update benchmark makes it; the kolvocmd benchmark repeats it to compare.
#pragma once

#include <string>

#include "include/kolvolib.h"

namespace kolvobench {

// Letters as word characters, whole files read, "*.txt" through the generic analyzer.
void configureEngineIndex(CKolvoIndex* index);
// Builds an index of root in the folder at (which must exist) and stores it there.
CKolvoIndex* buildEngineIndex(const std::string& root, const std::string& at);

}  // namespace kolvobench
