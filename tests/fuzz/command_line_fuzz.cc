// The interpreter's splitting of a command string into command lines, and of each line
// into its terms (quoted or bare), as every input of kolvocmd meets it.
#include <string>

#include "app/commands/command_interface.h"
#include "tests/fuzz/fuzz_support.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::string text(reinterpret_cast<const char*>(data), size);
  for (const std::string& line : QvCommandInterface::splitCommandString(text)) {
    std::string rest = line;
    // Each step takes one term off; a step that takes nothing would be a fault.
    for (size_t steps = 0; !rest.empty(); ++steps) {
      if (steps > line.size()) __builtin_trap();
      rest = QvCommandInterface::getNextTerm(rest).second;
    }
  }
  return 0;
}
