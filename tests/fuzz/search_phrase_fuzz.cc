// The search-phrase parser with criteria, over an index of a small tree built once:
// the lines before the last are criteria ("name=value"), the last is the phrase that
// "find" takes; then "listresults" shows what was found.
#include <cstdlib>
#include <memory>
#include <string>

#include "app/commands/command_exception.h"
#include "app/commands/command_interface.h"
#include "app/commands/text_tools.h"
#include "app/index/kolvo_index.h"
#include "app/search/search_criteria.h"
#include "tests/fuzz/fuzz_support.h"

namespace {

struct Searched {
  Searched() { kolvofuzz::buildSmallIndex(commands); }
  QvCommandInterface commands;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static Searched index;
  auto root = std::dynamic_pointer_cast<QvKolvoIndex>(index.commands.root());
  if (!root) return 0;
  std::vector<std::string> lines = qvSplit(std::string(reinterpret_cast<const char*>(data), size), '\n');
  std::string phrase = lines.empty() ? std::string() : lines.back();
  QvResults results;
  try {
    for (size_t i = 0; i + 1 < lines.size(); ++i) {
      size_t equals = lines[i].find('=');
      if (equals != std::string::npos) root->criteria().setValue(lines[i].substr(0, equals), lines[i].substr(equals + 1));
    }
    root->performCommand("find", phrase, results);
    root->performCommand("listresults", "", results);
  } catch (const QvCommandException&) {
  }
  root->criteria().clear();
  return 0;
}
