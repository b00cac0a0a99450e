#include "tests/engine/analyzers/analyzer_fixture.h"

#include <cstdlib>
#include <filesystem>
#include <memory>
#include <vector>

namespace kolvotest {

AnalyzerFixture::AnalyzerFixture() {
  std::string indexPath = root.slashed() + "kolvo/indexes/Idx/build_1/";
  std::filesystem::create_directories(indexPath);
  index = std::make_unique<CKolvoIndex>(true, indexPath);
  for (int c = 'a'; c <= 'z'; ++c) index->setValidCharMask(c, true);
  for (int c = 'A'; c <= 'Z'; ++c) index->setValidCharMask(c, true);
  for (int c = '0'; c <= '9'; ++c) index->setValidCharMask(c, true);
  index->maxPerFileRead = 10'000'000;
  index->temporaryDirectory = root.slashed() + "tmp";
  std::filesystem::create_directories(index->temporaryDirectory);
  index->emptyIndex();
  index->newFileLinks();
}

std::set<std::string> AnalyzerFixture::words() const {
  std::set<std::string> found;
  for (uint32_t word = index->words->getFirst(); word; word = index->words->getNext(word))
    found.insert(index->words->getText(word));
  return found;
}

std::vector<Link> AnalyzerFixture::links() const {
  std::vector<Link> found;
  for (uint32_t offset = 16, file = index->wordLinks->getFile(offset); file; file = index->wordLinks->getFile(offset)) {
    uint8_t rank = 0;
    for (uint32_t word = index->wordLinks->getWord(offset, rank); word; word = index->wordLinks->getWord(offset, rank))
      found.push_back({file, index->words->getText(word), rank});
  }
  return found;
}

std::string displayInOnePiece(CFileAnalyzer& analyzer, std::string bytes, int wrapWidth, bool stripMarkup) {
  std::vector<char> out(2 * bytes.size() + 2);
  StripState state;
  state.lastChunk = true;
  uint32_t made = analyzer.stripBuffer(bytes.data(), static_cast<uint32_t>(bytes.size()), out.data(),
                                       static_cast<uint32_t>(out.size()), wrapWidth, stripMarkup, true, state);
  return std::string(out.data(), made);
}

std::string displayOfFile(CFileAnalyzer& analyzer, const std::string& path, int wrapWidth, bool stripMarkup) {
  std::unique_ptr<char, void (*)(void*)> text(analyzer.fillDisplayBuffer(path.c_str(), 1, 1U << 24, wrapWidth,
                                                                         stripMarkup),
                                              std::free);
  return text.get();
}

}  // namespace kolvotest
