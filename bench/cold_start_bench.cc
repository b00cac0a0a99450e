// What opening a stored index costs before its first answer, step by step: the tables
// read from "hash" and mapped, the first word lookup, the walk over that word's files,
// and the first name lookup, which builds the file table's accelerator. The index is
// one of the generated tree, built once; each round opens it afresh.
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "bench/bench_tree.h"
#include "bench/engine_build.h"
#include "bench/table_bench_support.h"
#include "engine/index/word_data.h"
#include "engine/storage/file_links.h"
#include "engine/storage/file_storage.h"
#include "engine/storage/text_storage.h"
#include "include/kolvolib.h"

namespace {

using Clock = std::chrono::steady_clock;
double msSince(Clock::time_point& mark) {
  auto now = Clock::now();
  double ms = std::chrono::duration<double, std::milli>(now - mark).count();
  mark = now;
  return ms;
}

// How many files the word is in: its last file and those of its link blocks.
uint32_t filesOf(const CTextStorage& words, CFileLinks& links, uint32_t word) {
  const unsigned char* data = words.getData(word);
  if (!data) return 0;
  uint32_t count = kolvo::WordData::currentFile(data) != 0 ? 1 : 0;
  for (uint32_t cursor = kolvo::WordData::chainHead(data); cursor != 0;) {
    uint8_t rank = 0;
    while (links.getFile(cursor, rank) != 0) ++count;
    uint32_t next = links.getNextList(cursor);
    if (next >= cursor) break;
    cursor = next;
  }
  return count;
}

}  // namespace

int main(int argc, char** argv) {
  int fileCount = argc > 1 ? std::atoi(argv[1]) : 20'000;
  constexpr int rounds = 7;
  kolvobench::GeneratedIndex generated(fileCount);
  const std::string& at = generated.at;
  const kolvobench::BenchTree& tree = generated.tree;
  std::printf("index of %d files: hash %.1f MB\n", fileCount, std::filesystem::file_size(at + "hash") / 1e6);

  const char* steps[] = {"files", "words", "skipped", "links", "open in all", "rare word", "its files", "name"};
  constexpr size_t stepCount = sizeof steps / sizeof *steps;
  std::vector<std::vector<double>> times(stepCount);
  for (int round = 0; round < rounds; ++round) {
    auto mark = Clock::now();
    auto opened = mark;
    std::unique_ptr<std::FILE, int (*)(std::FILE*)> hash(std::fopen((at + "hash").c_str(), "rb"), std::fclose);
    auto files = std::make_unique<CFileStorage>(at + "files", hash.get());
    times[0].push_back(msSince(mark));
    auto words = std::make_unique<CTextStorage>(at + "words", hash.get());
    times[1].push_back(msSince(mark));
    auto skipped = std::make_unique<CTextStorage>(at + "skipped", hash.get());
    times[2].push_back(msSince(mark));
    auto links = std::make_unique<CFileLinks>(at + "links", hash.get());
    times[3].push_back(msSince(mark));
    times[4].push_back(std::chrono::duration<double, std::milli>(mark - opened).count());
    uint32_t word = words->lookup(kolvobench::PlantedWords::rare);
    times[5].push_back(msSince(mark));
    uint32_t holding = word != 0 ? filesOf(*words, *links, word) : 0;
    times[6].push_back(msSince(mark));
    uint32_t folder = files->getFirst();
    uint32_t found = files->lookupFile(tree.fileName(fileCount / 2).c_str(), folder);
    times[7].push_back(msSince(mark));
    if (word == 0 || holding == 0) std::printf("the rare word was not found\n");
    (void)found;
  }
  if (std::getenv("KOLVO_BENCH_ROUNDS"))
    for (int round = 0; round < rounds; ++round) {
      for (size_t s = 0; s < stepCount; ++s) std::printf(" %.2f", times[s][round]);
      std::printf("\n");
    }
  std::printf("open and first answers, median of %d rounds (ms):", rounds);
  for (size_t s = 0; s < stepCount; ++s) {
    std::sort(times[s].begin(), times[s].end());
    std::printf(" %s %.2f%s", steps[s], times[s][rounds / 2], s + 1 < stepCount ? "," : "\n");
  }
  return 0;
}
