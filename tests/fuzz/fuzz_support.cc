#include "tests/fuzz/fuzz_support.h"

#include <cstdlib>
#include <filesystem>
#include <fstream>

#include "app/commands/command_interface.h"
#include "app/index/kolvo_index.h"
#include "app/index/kolvo_lib.h"

namespace kolvofuzz {

namespace {

struct Scratch {
  Scratch() {
    std::string pattern = (std::filesystem::temp_directory_path() / "kolvo-fuzz-XXXXXX").string();
    if (!mkdtemp(pattern.data())) std::abort();
    path = pattern + "/";
  }
  ~Scratch() {
    std::error_code ignored;
    std::filesystem::remove_all(path, ignored);
  }
  std::string path;
};

}  // namespace

const std::string& scratch() {
  static Scratch folder;
  return folder.path;
}

void writeFile(const std::string& path, std::string_view bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

void bindEngine() {
  static bool bound = false;
  if (bound) return;
  bound = true;
  QvKolvoLib::loadLibrary("");
  QvKolvoLib::registerThrowCallback();
}

void buildSmallIndex(QvCommandInterface& commands) {
  bindEngine();
  const std::string& base = scratch();
  std::filesystem::create_directories(base + "kolvo");
  std::filesystem::create_directories(base + "docs/sub");
  setenv("KOLVODIR", (base + "kolvo").c_str(), 1);
  writeFile(base + "kolvo/skipfile.txt", "the and\n");
  writeFile(base + "docs/fox.txt", "The quick brown fox jumps over the lazy dog.\nThe fox sleeps 42.\n");
  writeFile(base + "docs/dog.txt", "A lazy dog and a brown cat.\nLater a quick fox.\n");
  writeFile(base + "docs/sub/cat.txt", "brown cat naps; quick cats play abc1 version2\n");
  QvKolvoIndex::create("default", commands);
  QvResults ignored;
  commands.processCommand("addroot " + base + "docs", ignored);
  commands.processCommand("addinclude *.txt", ignored);
  commands.processCommand("build", ignored);
}

}  // namespace kolvofuzz
