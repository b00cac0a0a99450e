#include "tests/fuzz/engine_index.h"

#include <algorithm>
#include <filesystem>

#include "engine/index/file_contents.h"
#include "engine/kolvolib/error_reporting.h"
#include "tests/fuzz/fuzz_support.h"

namespace kolvofuzz {

namespace {

void quiet(const char*, const char*) {}

// Inputs that share one index before it is made anew.
constexpr int sharedInputs = 256;

// Entries shown after a walk: a sound seed has a handful; a fuzzed archive may claim
// thousands, each extracted anew.
constexpr int shownEntries = 64;
constexpr uint32_t shownBytes = 1 << 20;

const std::pair<const char*, const char*> includes[] = {
    {"*.zip", "zip"},   {"*.tar", "tar"}, {"*.gz", "gzip"}, {"*.tgz", "gzip"},  {"*.mbox", "mbox"},
    {"*.html", "html"}, {"*.rtf", "rtf"}, {"*.pdf", "pdf"}, {"*.txt", "generic"}, {"*", "generic"},
};

}  // namespace

EngineIndex::EngineIndex() {
  static int made = 0;
  kSetThrowCallBack(quiet);
  kSetWarningCallBack(quiet);
  folder = scratch() + "engine-" + std::to_string(++made) + "/";
  std::string path = folder + "kolvo/indexes/Fuzz/build_1/";
  std::filesystem::create_directories(path);
  std::filesystem::create_directories(folder + "docs");
  std::filesystem::create_directories(folder + "tmp");
  index = std::make_unique<CKolvoIndex>(true, path);
  for (int c = 0; c < 256; ++c) {
    bool letter = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') ||
                  (c >= 0xC0 && c != 0xD7 && c != 0xF7);
    index->setValidCharMask(c, letter);
    index->setValidViewableMask(c, letter || c >= 0xA1);
  }
  for (int c : {'-', '.', '\'', '_'}) index->setValidTrailingMask(c, true);
  for (int c : {'{', '}', '<', '>', '&', '-', '=', ';', '/', '.', ',', '\\'}) index->setNonAlphaCharMask(c, true);
  index->maxPerFileRead = 10'000'000;
  index->walkReadsAhead = false;
  index->temporaryDirectory = folder + "tmp";
  index->emptyIndex();
  index->newFileLinks();
}

EngineIndex& EngineIndex::shared() {
  // Never destroyed: the engine's own statics (the mapping registry) may be gone by the
  // time the process ends; the scratch folder still goes with its files.
  static EngineIndex* current = nullptr;
  static int used = 0;
  if (!current || ++used % sharedInputs == 0) {
    delete current;
    current = new EngineIndex();
  }
  return *current;
}

EngineIndex::~EngineIndex() {
  index.reset();
  std::error_code ignored;
  std::filesystem::remove_all(folder, ignored);
}

void EngineIndex::buildAndShow(const std::string& name, std::string_view bytes) {
  std::string walked = folder + "walk-" + std::to_string(++walks);
  std::filesystem::create_directories(walked);
  writeFile(walked + "/" + name, bytes);
  uint32_t walkedId = 0;
  try {
    index->createAnalyzers();
    index->setIncludeCount(static_cast<int>(std::size(includes)));
    for (size_t i = 0; i < std::size(includes); ++i)
      index->setIncludePattern(static_cast<int>(i), includes[i].first, includes[i].second);
    walkedId = index->recordFile(walked.c_str(), 0, 0, 0);
    if (!index->wordLinks) index->newFileLinks();
    index->indexDirectory(walked.c_str(), walkedId);
    index->compressLinks();
  } catch (const kolvo::AbortToken&) {
  }
  const CFileStorage& files = *index->files;
  auto below = [&](uint32_t file) {
    for (int up = 0; file != 0 && up < kolvo::limits::fileAncestors; ++up, file = files.getParent(file))
      if (files.getParent(file) == walkedId) return true;
    return false;
  };
  int shown = 0;
  for (uint32_t file = files.getFirst(); walkedId != 0 && file != 0 && shown < shownEntries; file = files.getNext(file)) {
    if (files.isObsolete(file) || !below(file)) continue;
    ++shown;
    try {
      CFileContents contents(index.get(), file, shownBytes, 72, true, 8);
      contents.convertToOutline("a*");
    } catch (const kolvo::AbortToken&) {
    }
  }
  std::error_code ignored;
  std::filesystem::remove_all(walked, ignored);
}

size_t ChunkedBytes::read(char* buffer, size_t size) {
  size_t cut = cuts[turn++ % 3];
  size_t take = std::min({size, text.size() - position, cut == 0 ? size : cut});
  std::copy_n(text.data() + position, take, buffer);
  position += take;
  return take;
}

}  // namespace kolvofuzz
