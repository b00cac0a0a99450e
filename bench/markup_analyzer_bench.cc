// The HTML and RTF analyzers against the generic one: 100 MB of generated web pages
// (tags with attributes, entities, UTF-8 letters; a Zipf vocabulary) and 100 MB of
// generated RTF (control words inside words, escapes, skipped groups), each indexed
// through its markup analyzer and, in the same run, the same bytes through the generic
// analyzer. The markup analyzers should keep at least 60% of the generic MB/s.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "bench/table_bench_support.h"
#include "bench/zipf_words.h"
#include "engine/analyzers/file_analyzer.h"
#include "engine/analyzers/html_analyzer.h"
#include "engine/analyzers/rtf_analyzer.h"
#include "engine/index/kolvo_index.h"

namespace {

constexpr size_t textBytes = 100u * 1000 * 1000;
constexpr int vocabularySize = 200000;

const std::string& htmlCorpus() {
  static const std::string text = [] {
    kolvobench::ZipfWords words(vocabularySize, 11);
    std::string out;
    out.reserve(textBytes + 256);
    const char* openers[] = {"<p>", "<p class=\"body\">", "<li>", "<td align=\"left\">", "<a href=\"page.html\">",
                             "<b>", "<span style=\"color: red\">"};
    const char* closers[] = {"</p>\n", "</p>\n", "</li>\n", "</td>", "</a> ", "</b> ", "</span> "};
    while (out.size() < textBytes) {
      unsigned tag = words.roll(7);
      out += openers[tag];
      for (unsigned n = 4 + words.roll(12); n > 0; --n) {
        std::string word = words.next();
        switch (words.roll(40)) {
          case 0: word += "\xC3\xA9"; break;             // é in UTF-8
          case 1: word.insert(1, "&eacute;"); break;     // é as an entity
          case 2: word += "&#233;"; break;                // é as a reference
          case 3: word = "\xD0\xBC\xD0\xB8\xD1\x80"; break;  // a Cyrillic word
          case 4: word += " &amp;"; break;
          default: break;
        }
        out += word;
        out += n > 1 ? (words.roll(8) == 0 ? ", " : " ") : "";
      }
      out += closers[tag];
    }
    out.resize(textBytes);
    return out;
  }();
  return text;
}

const std::string& rtfCorpus() {
  static const std::string text = [] {
    kolvobench::ZipfWords words(vocabularySize, 11);
    std::string out = "{\\rtf1\\ansi\\ansicpg1252\\deff0{\\fonttbl{\\f0\\froman Times New Roman;}}\n";
    out.reserve(textBytes + 256);
    while (out.size() < textBytes) {
      out += "\\pard\\plain\\s0\\f0\\fs24 ";
      for (unsigned n = 6 + words.roll(20); n > 0; --n) {
        std::string word = words.next();
        switch (words.roll(30)) {
          case 0: word.insert(1, "\\b "); word += "\\b0"; break;  // bold inside a word
          case 1: word += "\\'e9"; break;                         // an escaped letter
          case 2: word = "{\\i " + word + "}"; break;
          case 3: word += "\\u1084\\'ec"; break;                  // a Unicode letter and its stand-in
          default: break;
        }
        out += word;
        out += n > 1 ? " " : "";
      }
      out += words.roll(10) == 0 ? "{\\pict\\pngblip 89504e470d0a1a0a0000000d49484452}\\par\n" : "\\par\n";
    }
    out.resize(textBytes);
    return out;
  }();
  return text;
}

void setLetters(CKolvoIndex& index) {
  for (int c = 'a'; c <= 'z'; ++c) index.setValidCharMask(c, true);
  for (int c = 'A'; c <= 'Z'; ++c) index.setValidCharMask(c, true);
  for (int c = 0xC0; c <= 0xFF; ++c) index.setValidCharMask(c, true);
  index.setValidTrailingMask('\'', true);
}

// Indexes one corpus through one analyzer in chunks, as the read loop hands them: the
// pending word goes ahead of the next chunk's bytes.
template <class Analyzer>
void indexCorpus(benchmark::State& state, const std::string& text) {
  for (auto _ : state) {
    state.PauseTiming();
    auto dir = std::make_unique<kolvobench::ScratchDir>();
    auto owned = std::make_unique<CKolvoIndex>(true, dir->slashed());
    CKolvoIndex& index = *owned;
    setLetters(index);
    index.emptyIndex();
    index.newFileLinks();
    Analyzer analyzer(&index);
    std::vector<char> buffer(CFileAnalyzer::chunkCapacity + 1);
    state.ResumeTiming();
    size_t carry = 0;
    uint32_t fileId = 1;
    for (size_t at = 0; at < text.size();) {
      size_t take = std::min(CFileAnalyzer::chunkCapacity - carry, text.size() - at);
      std::memcpy(buffer.data() + carry, text.data() + at, take);
      index.pendingText.clear();
      analyzer.indexBuffer(buffer.data(), static_cast<uint32_t>(carry + take), fileId, at == 0);
      at += take;
      // A new file every 64 chunks, so the links move on as in a real build.
      if (at % (64 * size_t{CFileAnalyzer::chunkCapacity}) < take) ++fileId;
      carry = index.pendingText.size();
      std::memcpy(buffer.data(), index.pendingText.data(), carry);
    }
    state.PauseTiming();
    state.counters["distinct"] = index.wordsIndexed;
    owned.reset();
    dir.reset();
    state.ResumeTiming();
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * text.size()));
}

void BM_HtmlThroughHtml(benchmark::State& state) { indexCorpus<CHtmlAnalyzer>(state, htmlCorpus()); }
void BM_HtmlThroughGeneric(benchmark::State& state) { indexCorpus<CFileAnalyzer>(state, htmlCorpus()); }
void BM_RtfThroughRtf(benchmark::State& state) { indexCorpus<CRtfAnalyzer>(state, rtfCorpus()); }
void BM_RtfThroughGeneric(benchmark::State& state) { indexCorpus<CFileAnalyzer>(state, rtfCorpus()); }

}  // namespace

BENCHMARK(BM_HtmlThroughHtml)->Unit(benchmark::kMillisecond)->Iterations(2);
BENCHMARK(BM_HtmlThroughGeneric)->Unit(benchmark::kMillisecond)->Iterations(2);
BENCHMARK(BM_RtfThroughRtf)->Unit(benchmark::kMillisecond)->Iterations(2);
BENCHMARK(BM_RtfThroughGeneric)->Unit(benchmark::kMillisecond)->Iterations(2);
BENCHMARK_MAIN();
