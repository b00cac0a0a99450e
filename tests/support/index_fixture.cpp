#include "tests/support/index_fixture.h"

#include <cstdlib>

#include "app/index/kolvo_lib.h"

namespace kolvotest {

void IndexFixture::SetUpTestSuite() { loadEngine(KOLVO_LIBRARY_PATH); }

void IndexFixture::loadEngine(const std::string& path) {
  QvKolvoLib::loadLibrary(path);
  QvKolvoLib::registerThrowCallback();
}

void IndexFixture::openIndex(const std::string& skipWords) {
  setenv("KOLVODIR", (temp.path() / "kolvo").c_str(), 1);
  temp.write("kolvo/skipfile.txt", skipWords);
  index = QvKolvoIndex::create("default", commands);
}

void IndexFixture::TearDown() {
  commands.cleanup();
  index.reset();
  unsetenv("KOLVODIR");
}

void IndexFixture::buildDocs(const std::string& include) {
  QvResults results;
  commands.processCommand("addroot " + docs(), results);
  commands.processCommand("addinclude " + include, results);
  commands.processCommand("build", results);
}

}  // namespace kolvotest
