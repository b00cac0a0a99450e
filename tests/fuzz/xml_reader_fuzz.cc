// The object tree's XML reader over a fresh index object: the saved "index" document of
// a build, as "open" reads it back.
#include <cstdlib>
#include <filesystem>
#include <string_view>

#include "app/commands/command_exception.h"
#include "app/commands/command_interface.h"
#include "app/commands/xml_reader.h"
#include "app/index/kolvo_index.h"
#include "tests/fuzz/fuzz_support.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static const bool ready = [] {
    kolvofuzz::bindEngine();
    std::string kolvo = kolvofuzz::scratch() + "kolvo";
    std::filesystem::create_directories(kolvo);
    setenv("KOLVODIR", kolvo.c_str(), 1);
    return true;
  }();
  (void)ready;
  QvCommandInterface commands;
  try {
    auto root = QvKolvoIndex::create("default", commands);
    QvxmlReader(root).parse(std::string_view(reinterpret_cast<const char*>(data), size));
    QvResults lines;
    root->xmlBody(lines);  // what was read can be written again
  } catch (const QvCommandException&) {
  }
  commands.cleanup();
  return 0;
}
