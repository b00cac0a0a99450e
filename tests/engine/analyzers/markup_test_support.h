// What the HTML and RTF analyzer tests share: an index whose word characters include
// the Latin-1 letters, and the words or display text an analyzer makes of some bytes,
// whole or cut into two chunks as the read loop cuts them.
#pragma once

#include <gtest/gtest.h>

#include <initializer_list>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "engine/analyzers/file_analyzer.h"
#include "engine/index/word_data.h"
#include "engine/storage/text_storage.h"
#include "tests/engine/analyzers/analyzer_fixture.h"

namespace kolvotest {

// Letters and digits are word characters and viewable; so are the Latin-1 letters.
void useLatinLetters(CKolvoIndex& index);

// The words as the index keeps them, folded.
std::set<std::string> folded(std::initializer_list<std::string> words);

template <class Analyzer>
struct MarkupRun {
  MarkupRun() : analyzer(fixture.index.get()) { useLatinLetters(*fixture.index); }

  // The words of a file holding bytes, indexed under fileId.
  std::set<std::string> wordsOfFile(const std::string& bytes, uint32_t fileId = 7) {
    std::string path = fixture.writeFile("input", bytes);
    analyzer.indexFile(path.c_str(), fileId);
    return wordsOf(fileId);
  }
  // The words of bytes handed over in two chunks, cut after the first cut bytes; the
  // second chunk starts with the pending word, as the read loop puts it there, and the
  // input ends after it.
  std::set<std::string> wordsOfTwoChunks(const std::string& bytes, size_t cut, uint32_t fileId) {
    CKolvoIndex& index = *fixture.index;
    std::string first = bytes.substr(0, cut);
    index.pendingText.clear();
    analyzer.indexBuffer(first.data(), static_cast<uint32_t>(first.size()), fileId, true);
    std::string second = index.pendingText + bytes.substr(cut);
    index.pendingText.clear();
    analyzer.indexBuffer(second.data(), static_cast<uint32_t>(second.size()), fileId, false);
    analyzer.finishInput(index.pendingText, true);
    if (!index.pendingText.empty()) index.indexWord(index.pendingText.c_str(), fileId);
    index.pendingText.clear();
    return wordsOf(fileId);
  }
  // The words last indexed under fileId (the file of a word's data is its latest).
  std::set<std::string> wordsOf(uint32_t fileId) const {
    std::set<std::string> found;
    const CTextStorage& words = *fixture.index->words;
    for (uint32_t word = words.getFirst(); word; word = words.getNext(word))
      if (kolvo::WordData::currentFile(words.getData(word)) == fileId) found.insert(words.getText(word));
    return found;
  }
  // The display text of a file holding bytes.
  std::string displayOfFile(const std::string& bytes, bool stripMarkup = true, uint32_t maxBytes = 1 << 20) {
    std::string path = fixture.writeFile("shown", bytes);
    char* text = analyzer.fillDisplayBuffer(path.c_str(), 7, maxBytes, 0, stripMarkup);
    std::string shown(text);
    std::free(text);
    return shown;
  }

  AnalyzerFixture fixture;
  Analyzer analyzer;
};

// Bytes that meet at the end of the first chunk, and what the text shows there.
struct ChunkEndCase {
  const char* name;
  std::string tail, head;  // the end of the first chunk, the start of the second
  std::string shown;
};
// Each case, after start, shows as the same bytes filtered in one piece, and holds
// before + shown.
template <class Analyzer>
void expectChunkEndChangesNothing(const std::vector<ChunkEndCase>& cases, const std::string& start,
                                  const std::string& before) {
  for (const ChunkEndCase& test : cases) {
    SCOPED_TRACE(test.name);
    MarkupRun<Analyzer> run;
    std::string bytes = acrossChunkEnd(test.tail, test.head, start);
    std::string chunked = run.displayOfFile(bytes);
    EXPECT_EQ(chunked, displayInOnePiece(run.analyzer, bytes, 0, true));
    EXPECT_NE(chunked.find(before + test.shown), std::string::npos) << chunked.substr(chunked.size() - 40);
  }
}

// Each text, cut into two chunks after every byte from firstCut on, gives the words it
// gives whole.
template <class Analyzer>
void expectEveryCutReadWhole(const std::vector<std::string>& texts, size_t firstCut = 1) {
  for (const std::string& text : texts) {
    MarkupRun<Analyzer> run;
    std::set<std::string> expected = run.wordsOfFile(text, 1);
    EXPECT_FALSE(expected.empty());
    for (size_t cut = firstCut; cut < text.size(); ++cut) {
      SCOPED_TRACE(text + " cut after " + std::to_string(cut));
      EXPECT_EQ(run.wordsOfTwoChunks(text, cut, static_cast<uint32_t>(cut + 2)), expected);
    }
    EXPECT_EQ(run.fixture.words(), expected);
  }
}

}  // namespace kolvotest
