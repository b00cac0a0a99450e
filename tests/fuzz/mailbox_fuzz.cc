// The mailbox analyzer: the input is a mailbox, indexed by a real walk of a folder
// holding it; every message and attachment that comes of it is shown.
#include "tests/fuzz/engine_index.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  kolvofuzz::EngineIndex::shared().buildAndShow("input.mbox", std::string_view(reinterpret_cast<const char*>(data), size));
  return 0;
}
