// The PDF analyzer over 200 generated PDFs of 40 pages each (a page: 50 lines of
// Zipf-distributed words, each line placed by Td and shown by Tj, one Flate stream per
// page): indexing them, extracting their text alone, and the floor, zlib's bare inflate
// of the same streams held in memory. Compare wall times on an idle machine; CPU times
// are the whole process's where a second thread works.
#include <benchmark/benchmark.h>
#include <zlib.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <fstream>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "bench/table_bench_support.h"
#include "engine/analyzers/file_analyzer.h"
#include "engine/index/kolvo_index.h"
#include "engine/pdfanalyzer/pdf_analyzer.h"
#include "tests/support/pdf_writer.h"

namespace {

constexpr int fileCount = 200;
constexpr int pagesPerFile = 40;
constexpr int linesPerPage = 50;
constexpr int vocabularySize = 50000;

struct Corpus {
  kolvobench::ScratchDir dir;
  std::vector<std::string> paths;
  std::vector<std::string> streams;  // every page's compressed content
  size_t pdfBytes = 0;
  size_t inflatedBytes = 0;
  size_t textBytes = 0;  // what the pages show, one line break after each line
};

// Words of one to four syllables; the rank decides nothing about the spelling.
std::vector<std::string> vocabulary(std::mt19937& random) {
  static const char* const syllables[] = {"ka", "ro", "mi", "ten", "su", "lo", "ver", "an", "di", "pre",
                                          "ob", "stra", "e", "qui", "ne", "mor", "tu", "gal", "is", "for"};
  std::vector<std::string> words;
  words.reserve(vocabularySize);
  for (int i = 0; i < vocabularySize; ++i) {
    std::string word;
    for (int count = 1 + static_cast<int>(random() % 4); count > 0; --count) word += syllables[random() % 20];
    words.push_back(std::move(word));
  }
  return words;
}

const Corpus& theCorpus() {
  static const std::unique_ptr<Corpus> made = [] {
    auto corpus = std::make_unique<Corpus>();
    std::mt19937 random(11);
    std::vector<std::string> words = vocabulary(random);
    std::vector<double> cumulative(vocabularySize);
    double sum = 0;
    for (int i = 0; i < vocabularySize; ++i) cumulative[i] = sum += 1.0 / (i + 1);
    std::uniform_real_distribution<double> uniform(0, sum);
    auto pick = [&]() -> const std::string& {
      size_t at = std::lower_bound(cumulative.begin(), cumulative.end(), uniform(random)) - cumulative.begin();
      return words[std::min<size_t>(at, vocabularySize - 1)];
    };
    for (int file = 0; file < fileCount; ++file) {
      kolvotest::PdfWriter pdf;
      for (int page = 0; page < pagesPerFile; ++page) {
        std::string content = "BT\n/F1 11 Tf\n72 740 Td\n";
        for (int row = 0; row < linesPerPage; ++row) {
          std::string line;
          for (int count = 8 + static_cast<int>(random() % 5); count > 0; --count) line += pick() + " ";
          line.pop_back();
          content += "0 -14 Td\n(" + line + ") Tj\n";
          corpus->textBytes += line.size() + 1;  // each line ends with a line break
        }
        content += "ET\n";
        corpus->inflatedBytes += content.size();
        corpus->streams.push_back(kolvotest::deflated(content));
        pdf.rawFlatePage(corpus->streams.back());
      }
      std::string bytes = pdf.bytes();
      std::string path = corpus->dir.slashed() + "doc" + std::to_string(file) + ".pdf";
      std::ofstream(path, std::ios::binary).write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
      corpus->pdfBytes += bytes.size();
      corpus->paths.push_back(path);
    }
    return corpus;
  }();
  return *made;
}

double threadCpuSeconds() {
  timespec now{};
  clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
  return static_cast<double>(now.tv_sec) + static_cast<double>(now.tv_nsec) / 1e9;
}

std::unique_ptr<CKolvoIndex> newIndex(const kolvobench::ScratchDir& dir) {
  auto index = std::make_unique<CKolvoIndex>(true, dir.slashed());
  for (int c = 'a'; c <= 'z'; ++c) index->setValidCharMask(c, true);
  for (int c = 'A'; c <= 'Z'; ++c) index->setValidCharMask(c, true);
  index->maxPerFileRead = 1u << 30;
  index->emptyIndex();
  index->newFileLinks();
  return index;
}

void countRates(benchmark::State& state, const Corpus& corpus, size_t text) {
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * corpus.pdfBytes));
  state.counters["text_MB/s"] =
      benchmark::Counter(static_cast<double>(state.iterations() * text) / 1e6, benchmark::Counter::kIsRate);
  state.counters["pdf_MB"] = static_cast<double>(corpus.pdfBytes) / 1e6;
}

// Display text of every file: scan, inflate and interpret, no word table.
void BM_ExtractPdfText(benchmark::State& state) {
  const Corpus& corpus = theCorpus();
  kolvobench::ScratchDir dir;
  auto index = newIndex(dir);
  CPdfAnalyzer analyzer(index.get());
  size_t text = 0;
  for (auto _ : state) {
    text = 0;
    for (const std::string& path : corpus.paths) {
      char* shown = analyzer.fillDisplayBuffer(path.c_str(), 1, 1u << 24, 0, false);
      text += std::strlen(shown);
      std::free(shown);
    }
  }
  countRates(state, corpus, text);
  // A check on the extraction: every line of every page comes out whole.
  state.counters["text_as_written"] = text == corpus.textBytes ? 1 : 0;
}

// Each iteration indexes every file into a new index with an Analyzer, set up by prepare.
template <class Analyzer>
void indexEach(benchmark::State& state, const std::vector<std::string>& paths,
               void (*prepare)(Analyzer&) = nullptr) {
  double ownCpu = 0;
  for (auto _ : state) {
    state.PauseTiming();
    auto dir = std::make_unique<kolvobench::ScratchDir>();
    auto index = newIndex(*dir);
    Analyzer analyzer(index.get());
    if (prepare) prepare(analyzer);
    state.ResumeTiming();
    double started = threadCpuSeconds();
    uint32_t fileId = 1;
    for (const std::string& path : paths) analyzer.indexFile(path.c_str(), ++fileId);
    ownCpu += threadCpuSeconds() - started;
    state.PauseTiming();
    state.counters["distinct"] = index->wordsIndexed;
    index.reset();
    dir.reset();
    state.ResumeTiming();
  }
  // The CPU time of the thread that indexes the words; the rest of the process's is the
  // extracting thread's. On two idle cores the wall time is about the larger of the two.
  state.counters["words_thread_cpu_ms"] = 1e3 * ownCpu / static_cast<double>(state.iterations());
}

// The same files indexed: extraction plus word splitting and tables. The streams are
// extracted on a second thread, so the CPU time is the whole process's.
void BM_IndexPdfs(benchmark::State& state) {
  const Corpus& corpus = theCorpus();
  indexEach<CPdfAnalyzer>(state, corpus.paths);
  countRates(state, corpus, corpus.textBytes);
}

// The same on one thread: extraction and words one after the other.
void BM_IndexPdfsOneThread(benchmark::State& state) {
  const Corpus& corpus = theCorpus();
  indexEach<CPdfAnalyzer>(state, corpus.paths, [](CPdfAnalyzer& analyzer) { analyzer.readAhead = false; });
  countRates(state, corpus, corpus.textBytes);
}

// For comparison: the same text, as the PDFs show it, indexed from plain text files by
// the generic analyzer. What the PDF indexing costs beyond this is the PDF's own work.
void BM_IndexSameTextFromTextFiles(benchmark::State& state) {
  const Corpus& corpus = theCorpus();
  kolvobench::ScratchDir texts;
  std::vector<std::string> paths;
  {
    kolvobench::ScratchDir dir;
    auto index = newIndex(dir);
    CPdfAnalyzer analyzer(index.get());
    for (const std::string& path : corpus.paths) {
      std::unique_ptr<char, void (*)(void*)> shown(analyzer.fillDisplayBuffer(path.c_str(), 1, 1u << 24, 0, false),
                                                   std::free);
      paths.push_back(texts.slashed() + std::to_string(paths.size()) + ".txt");
      std::ofstream(paths.back(), std::ios::binary).write(shown.get(), static_cast<std::streamsize>(std::strlen(shown.get())));
    }
  }
  indexEach<CFileAnalyzer>(state, paths);
  countRates(state, corpus, corpus.textBytes);
}

// The floor: zlib inflating the same streams from memory into one buffer.
void BM_BareInflateFloor(benchmark::State& state) {
  const Corpus& corpus = theCorpus();
  std::vector<unsigned char> out(1u << 20);
  size_t inflated = 0;
  for (auto _ : state) {
    inflated = 0;
    for (const std::string& stream : corpus.streams) {
      z_stream zs{};
      inflateInit(&zs);
      zs.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(stream.data()));
      zs.avail_in = static_cast<uInt>(stream.size());
      zs.next_out = out.data();
      zs.avail_out = static_cast<uInt>(out.size());
      inflate(&zs, Z_FINISH);
      inflated += zs.total_out;
      inflateEnd(&zs);
    }
    benchmark::DoNotOptimize(out.data());
  }
  countRates(state, corpus, inflated);
  state.counters["inflated_MB/s"] = state.counters["text_MB/s"];
  state.counters.erase("text_MB/s");
}

}  // namespace

BENCHMARK(BM_BareInflateFloor)->Unit(benchmark::kMillisecond)->MinTime(1.0);
BENCHMARK(BM_ExtractPdfText)->Unit(benchmark::kMillisecond)->MinTime(1.0);
BENCHMARK(BM_IndexPdfs)->Unit(benchmark::kMillisecond)->Iterations(3)->MeasureProcessCPUTime();
BENCHMARK(BM_IndexPdfsOneThread)->Unit(benchmark::kMillisecond)->Iterations(3)->MeasureProcessCPUTime();
BENCHMARK(BM_IndexSameTextFromTextFiles)->Unit(benchmark::kMillisecond)->Iterations(3);
BENCHMARK_MAIN();
