// Word splitting and indexing: 200 MB of English-like text (a Zipf-distributed
// vocabulary of 500,000 words) in 65535-byte chunks as the read loop takes them, each
// chunk a new file, through indexBuffer into the word table and the temporary link
// table; and a floor pass that only splits the words and hashes each one.
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
#include "engine/index/kolvo_index.h"
#include "engine/kolvolib/lower_case_table.h"
#include "engine/storage/table_hash.h"

namespace {

constexpr size_t textBytes = 200u * 1000 * 1000;
constexpr int vocabularySize = 500000;
constexpr uint32_t chunk = CFileAnalyzer::chunkCapacity;

const std::string& corpus() {
  static const std::string text = [] {
    kolvobench::ZipfWords words(vocabularySize, 7, 10);
    std::string out;
    out.reserve(textBytes + 64);
    const char* separators[] = {" ", " ", " ", " ", " ", ", ", ". ", "\n"};
    while (out.size() < textBytes) {
      out += words.next();
      out += separators[words.roll(8)];
    }
    out.resize(textBytes);
    return out;
  }();
  return text;
}

void setLetters(CKolvoIndex& index) {
  for (int c = 'a'; c <= 'z'; ++c) index.setValidCharMask(c, true);
  for (int c = 'A'; c <= 'Z'; ++c) index.setValidCharMask(c, true);
  index.setValidTrailingMask('\'', true);
}

// Feeds the text through consume in chunks, carrying the unfinished word as the read
// loop does; consume returns the pending word's length.
template <typename Consume>
void inChunks(const std::string& text, std::vector<char>& buffer, Consume&& consume) {
  uint32_t carry = 0;
  uint32_t fileId = 1;
  for (size_t at = 0; at < text.size();) {
    size_t take = std::min<size_t>(chunk - carry, text.size() - at);
    std::memcpy(buffer.data() + carry, text.data() + at, take);
    at += take;
    carry = consume(buffer.data(), static_cast<uint32_t>(carry + take), ++fileId);
  }
}

void BM_IndexBuffer(benchmark::State& state) {
  const std::string& text = corpus();
  uint64_t words = 0;
  for (auto _ : state) {
    state.PauseTiming();
    auto dir = std::make_unique<kolvobench::ScratchDir>();
    auto owned = std::make_unique<CKolvoIndex>(true, dir->slashed());
    CKolvoIndex& index = *owned;
    setLetters(index);
    index.emptyIndex();
    index.newFileLinks();
    CFileAnalyzer analyzer(&index);
    std::vector<char> buffer(chunk + 1);
    state.ResumeTiming();
    inChunks(text, buffer, [&](char* data, uint32_t length, uint32_t fileId) {
      index.pendingText.clear();
      words += analyzer.indexBuffer(data, length, fileId, false);
      std::memcpy(data, index.pendingText.data(), index.pendingText.size());
      return static_cast<uint32_t>(index.pendingText.size());
    });
    state.PauseTiming();
    state.counters["distinct"] = index.wordsIndexed;
    owned.reset();
    dir.reset();
    state.ResumeTiming();
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * text.size()));
  state.counters["words/s"] = benchmark::Counter(static_cast<double>(words), benchmark::Counter::kIsRate);
}

// The same splitting and folding, with only the table's hash of each word.
void BM_SplitAndHashFloor(benchmark::State& state) {
  const std::string& text = corpus();
  kolvobench::ScratchDir dir;
  CKolvoIndex index(true, dir.slashed());
  setLetters(index);
  const unsigned char* valid = index.validCharMask.data();
  const unsigned char* trailing = index.validTrailingMask.data();
  const unsigned char* folded = kolvo::lowerCaseTable().data();
  std::vector<char> buffer(chunk + 1);
  uint64_t words = 0;
  uint32_t sink = 0;
  for (auto _ : state) {
    inChunks(text, buffer, [&](char* data, uint32_t length, uint32_t) {
      char* write = data;
      char* start = data;
      for (uint32_t at = 0; at < length; ++at) {
        auto c = static_cast<unsigned char>(data[at]);
        if (valid[c] || (write != start && trailing[c])) {
          *write++ = static_cast<char>(folded[c]);
        } else {
          if (write != start) {
            size_t size = static_cast<size_t>(write - start);
            if (size >= 3 && size <= 17) {
              *write = '\0';
              sink += kolvo::textHash(start);
              ++words;
            }
          }
          start = write = data + at + 1;
        }
      }
      auto pending = static_cast<uint32_t>(write - start);
      std::memmove(data, start, pending);
      return pending;
    });
  }
  benchmark::DoNotOptimize(sink);
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * text.size()));
  state.counters["words/s"] = benchmark::Counter(static_cast<double>(words), benchmark::Counter::kIsRate);
}

}  // namespace

BENCHMARK(BM_IndexBuffer)->Unit(benchmark::kMillisecond)->Iterations(2);
BENCHMARK(BM_SplitAndHashFloor)->Unit(benchmark::kMillisecond)->Iterations(2);
BENCHMARK_MAIN();
