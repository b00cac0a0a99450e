// Zip, tar and gzip archives and their members, nested: the input after its first byte
// is a file of the kind that byte chooses, indexed by a real walk of a folder holding it,
// and every entry that comes of it is shown, extracted level by level.
#include <string>

#include "tests/fuzz/engine_index.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static const char* const names[] = {"input.zip", "input.tar", "input.gz", "input.tgz"};
  kolvofuzz::InputBytes input(data, size);
  const char* name = names[input.take() % 4];
  kolvofuzz::EngineIndex::shared().buildAndShow(name, input.rest());
  return 0;
}
