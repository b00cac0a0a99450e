#include "tests/engine/archives/archive_fixture.h"

#include <filesystem>
#include <memory>

#include "engine/index/kolvo_index.h"
#include "engine/kolvolib/error_reporting.h"
#include "tests/engine/index/index_fixture.h"

namespace kolvotest {

bool WholeFileWords::indexFile(const char* path, uint32_t fileId) {
  paths.push_back(path);
  return CFileAnalyzer::indexFile(path, fileId);
}

bool RaisingAnalyzer::indexFile(const char* path, uint32_t /*fileId*/) {
  paths.push_back(path);
  kolvo::throwKolvoError("NoMemory");
}

ArchiveFixture::ArchiveFixture() : validChars(index->validCharMask) {
  registerAnalyzers();
  std::filesystem::create_directories(docs());
}

void ArchiveFixture::registerAnalyzers() {
  index->createAnalyzers();
  auto wholeOwned = std::make_unique<WholeFileWords>(index.get());
  whole = wholeOwned.get();
  index->analyzerMap["whole"] = std::move(wholeOwned);
  auto raisingOwned = std::make_unique<RaisingAnalyzer>(index.get());
  raising = raisingOwned.get();
  index->analyzerMap["raising"] = std::move(raisingOwned);
  const std::vector<std::pair<const char*, const char*>> patterns = {
      {"*.zip", "zip"}, {"*.tar", "tar"},     {"*.gz", "gzip"},       {"*.tgz", "gzip"},
      {"*.doc", "whole"}, {"*.bad", "raising"}, {"*.txt", "generic"}, {"*.html", "html"},
      {"*.rtf", "rtf"},   {"*.pdf", "pdf"},       {"*.mbox", "mbox"},
  };
  index->setIncludeCount(static_cast<int>(patterns.size()));
  for (size_t i = 0; i < patterns.size(); ++i)
    index->setIncludePattern(static_cast<int>(i), patterns[i].first, patterns[i].second);
}

void ArchiveFixture::walk() {
  if (docsId == 0) docsId = index->recordFile(docs().c_str(), 0, 0, 0);
  if (!index->wordLinks) index->newFileLinks();
  index->indexDirectory(docs().c_str(), docsId);
  index->compressLinks();
  gatherWords();
}

void ArchiveFixture::gatherWords() {
  wordsByFile.clear();
  for (uint32_t word = index->words->getFirst(); word; word = index->words->getNext(word))
    for (uint32_t file : filesOfWord(*index, word)) wordsByFile[file].insert(index->words->getText(word));
}

void ArchiveFixture::update(int32_t timeBase) {
  std::string path = index->indexPath;
  std::string temporary = index->temporaryDirectory;
  index->storeStorage(path);
  index = std::make_unique<CKolvoIndex>(false, path);
  index->validCharMask = validChars;
  index->maxPerFileRead = 10'000'000;
  index->temporaryDirectory = temporary;
  registerAnalyzers();
  index->isUpdate = true;
  index->timeBase = timeBase;
  index->prune();
  index->compressLinks();
  gatherWords();
}

std::map<std::string, uint32_t> ArchiveFixture::entries() const {
  std::map<std::string, uint32_t> found;
  const CFileStorage& files = *index->files;
  for (uint32_t f = files.getFirst(); f; f = files.getNext(f)) {
    if (files.isObsolete(f) || f == docsId) continue;
    std::string path = files.getText(f);
    bool below = false;
    for (uint32_t p = files.getParent(f); p; p = files.getParent(p)) {
      if (p == docsId) {
        below = true;
        break;
      }
      path = std::string(files.getText(p)) + "/" + path;
    }
    if (below) found[path] = f;
  }
  return found;
}

uint32_t ArchiveFixture::entry(const std::string& path) const {
  auto all = entries();
  auto found = all.find(path);
  return found == all.end() ? 0 : found->second;
}

std::set<std::string> ArchiveFixture::wordsOf(uint32_t fileId) const {
  auto found = wordsByFile.find(fileId);
  return found == wordsByFile.end() ? std::set<std::string>() : found->second;
}

std::vector<std::string> ArchiveFixture::leftovers() const {
  std::vector<std::string> names;
  std::error_code error;
  for (const auto& item : std::filesystem::directory_iterator(extracted(), error))
    names.push_back(item.path().filename().string());
  return names;
}

}  // namespace kolvotest
