#include "tests/engine/index/index_fixture.h"

#include <filesystem>

namespace kolvotest {

std::vector<uint32_t> filesOfWord(const CKolvoIndex& index, uint32_t word, std::vector<uint8_t>* ranks) {
  std::vector<uint32_t> files;
  const unsigned char* data = index.words->getData(word);
  if (!data) return files;
  files.push_back(kolvo::WordData::currentFile(data));
  if (ranks) ranks->push_back(static_cast<uint8_t>(kolvo::WordData::currentCount(data)));
  uint32_t cursor = kolvo::WordData::chainHead(data);
  while (cursor) {
    uint8_t rank;
    for (uint32_t file = index.fileLinks->getFile(cursor, rank); file; file = index.fileLinks->getFile(cursor, rank)) {
      files.push_back(file);
      if (ranks) ranks->push_back(rank);
    }
    uint32_t next = index.fileLinks->getNextList(cursor);
    if (next >= cursor) break;  // damage: never loop
    cursor = next;
  }
  return files;
}

std::vector<uint32_t> filesOfWord(const CKolvoIndex& index, const char* word) {
  uint32_t number = index.words->lookup(word);
  return number ? filesOfWord(index, number) : std::vector<uint32_t>();
}

std::string pathOf(const CKolvoIndex& index, uint32_t file) {
  uint32_t parent = index.files->getParent(file);
  std::string name = index.files->getText(file);
  return parent ? std::string(index.files->getText(parent)) + "/" + name : name;
}

std::set<std::string> livePaths(const CKolvoIndex& index) {
  std::set<std::string> paths;
  for (uint32_t entry = index.files->getFirst(); entry; entry = index.files->getNext(entry)) {
    if (index.files->isObsolete(entry)) continue;
    uint32_t parent = index.files->getParent(entry);
    if (parent && index.files->isObsolete(parent)) continue;
    paths.insert(pathOf(index, entry));
  }
  return paths;
}

std::map<std::string, std::set<std::string>> liveWordFiles(const CKolvoIndex& index) {
  std::map<std::string, std::set<std::string>> all;
  for (uint32_t word = index.words->getFirst(); word; word = index.words->getNext(word)) {
    std::set<std::string> paths;
    for (uint32_t file : filesOfWord(index, word)) {
      if (index.files->isObsolete(file)) continue;
      uint32_t parent = index.files->getParent(file);
      if (parent && index.files->isObsolete(parent)) continue;
      paths.insert(pathOf(index, file));
    }
    if (!paths.empty()) all[index.words->getText(word)] = paths;
  }
  return all;
}

IndexFixture::IndexFixture() = default;

WordsOfLetters* IndexFixture::registerAnalyzer(const std::string& name) {
  auto owned = std::make_unique<WordsOfLetters>(index.get());
  WordsOfLetters* raw = owned.get();
  index->analyzerMap[name] = std::move(owned);
  return raw;
}

void IndexFixture::startBuild(const char* pattern) {
  includePattern = pattern;
  index = std::make_unique<CKolvoIndex>(true, store.slashed());
  for (int c = 'a'; c <= 'z'; ++c) index->setValidCharMask(c, true);
  analyzer = registerAnalyzer();
  index->setIncludeCount(1);
  index->setIncludePattern(0, pattern, "generic");
  if (!excludePattern.empty()) {
    index->setExcludeCount(1);
    index->setExcludePattern(0, excludePattern.c_str());
  }
  index->emptyIndex();
  index->newFileLinks();
}

void IndexFixture::buildTree(const std::string& root) {
  startBuild(includePattern.c_str());
  uint32_t entry = index->files->addFile(root.c_str());
  index->indexDirectory(root.c_str(), entry);
  index->compressLinks();
  index->storeStorage(store.slashed());
}

void IndexFixture::updateTree(int32_t timeBase) {
  reopenAndStore(timeBase, [](CKolvoIndex& i, const std::vector<std::string>&) { i.prune(); }, {});
}

void IndexFixture::updatePaths(int32_t timeBase, const std::vector<std::string>& paths) {
  reopenAndStore(timeBase, [](CKolvoIndex& i, const std::vector<std::string>& named) { i.updatePaths(named); }, paths);
}

void IndexFixture::reopenAndStore(int32_t timeBase, void (*work)(CKolvoIndex&, const std::vector<std::string>&),
                                  const std::vector<std::string>& paths) {
  index.reset();
  index = std::make_unique<CKolvoIndex>(false, store.slashed());
  for (int c = 'a'; c <= 'z'; ++c) index->setValidCharMask(c, true);
  analyzer = registerAnalyzer();
  index->setIncludeCount(1);
  index->setIncludePattern(0, includePattern.c_str(), "generic");
  if (!excludePattern.empty()) {
    index->setExcludeCount(1);
    index->setExcludePattern(0, excludePattern.c_str());
  }
  index->timeBase = timeBase;
  index->updateStatusThreads = statusThreads;
  index->batchedStatuses = batchedStatuses;
  work(*index, paths);
  index->compressLinks();
  index->storeStorage(store.slashed());
}

}  // namespace kolvotest
