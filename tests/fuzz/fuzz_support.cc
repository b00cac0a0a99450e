#include "tests/fuzz/fuzz_support.h"

#include <cstdlib>
#include <filesystem>
#include <fstream>

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

}  // namespace kolvofuzz
