// The wildcard matchers at the scale of a build: every include pattern against a
// million file paths, and the patterns whose plain recursion would be exponential.
#include <chrono>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include <benchmark/benchmark.h>

#include "engine/index/name_matching.h"

namespace {

constexpr std::size_t pathCount = 1000000;

const char* const includePatterns[] = {
    "*.txt", "*.htm|*.html", "*.c|*.h|*.cpp", "*.pdf", "*.zip|*.jar",
    "*.tar", "*.gz&^*.tar.gz", "*.mbox|*.mbx", "readme*", "*.rtf",
};

// A million NUL-terminated paths in one block: folders from a small vocabulary, 1 to 6
// deep, and file names with the extensions a home directory holds.
struct Paths {
  std::string block;
  std::vector<std::size_t> starts;

  Paths() {
    const char* const folders[] = {"home", "user", "Documents", "src", "project", "build", "Mail",
                                   "notes", "archive", "2024", "photos", "lib", "include", "tmp"};
    const char* const stems[] = {"readme", "main", "index", "report", "letter", "Makefile", "data",
                                 "chapter1", "inbox", "config", "notes-final", "x"};
    const char* const extensions[] = {".txt", ".html", ".c", ".h", ".cpp", ".pdf", ".zip", ".tar.gz",
                                      ".gz", ".jpg", ".png", ".o", ".mbox", ".rtf", "", ".md"};
    std::mt19937 random(1);
    auto pick = [&](auto& list) {
      return list[std::uniform_int_distribution<std::size_t>(0, std::size(list) - 1)(random)];
    };
    starts.reserve(pathCount);
    for (std::size_t n = 0; n < pathCount; ++n) {
      starts.push_back(block.size());
      int depth = std::uniform_int_distribution<int>(1, 6)(random);
      for (int d = 0; d < depth; ++d) {
        block += '/';
        block += pick(folders);
      }
      block += '/';
      block += pick(stems);
      block += std::to_string(n % 100);
      block += pick(extensions);
      block += '\0';
    }
  }
  const char* operator[](std::size_t n) const { return block.data() + starts[n]; }
};

const Paths& paths() {
  static const Paths generated;
  return generated;
}

void IncludePatternsOverAMillionPaths(benchmark::State& state) {
  const Paths& all = paths();
  std::size_t matched = 0;
  double seconds = 0;
  for (auto _ : state) {
    auto start = std::chrono::steady_clock::now();
    for (std::size_t n = 0; n < pathCount; ++n)
      for (const char* pattern : includePatterns) matched += kolvo::fileNameMatch(all[n], pattern) ? 1 : 0;
    benchmark::DoNotOptimize(matched);
    seconds += std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  }
  double paths = static_cast<double>(state.iterations() * pathCount);
  state.counters["matches_per_path"] = static_cast<double>(matched) / paths;
  state.SetLabel(std::to_string(static_cast<int>(seconds * 1e9 / paths + 0.5)) + " ns per path (10 patterns)");
}
BENCHMARK(IncludePatternsOverAMillionPaths)->Unit(benchmark::kMillisecond);

std::string hundredCharacterPattern() {
  std::string pattern;
  for (int k = 0; k < 49; ++k) pattern += "*a";
  return pattern + "*b";
}

// state.range(0): 0 for '*a*a*a*a*a*a*b', 1 for the 100-character pattern; against
// 10,000 a's, which no match can use up, so every path is tried.
void PathologicalTerm(benchmark::State& state) {
  std::string pattern = state.range(0) == 0 ? "*a*a*a*a*a*a*b" : hundredCharacterPattern();
  std::string text(10000, 'a');
  for (auto _ : state) benchmark::DoNotOptimize(kolvo::termMatch(text.c_str(), pattern.c_str()));
  state.SetLabel(std::to_string(pattern.size()) + "-character pattern, 10000-character text");
}
BENCHMARK(PathologicalTerm)->Arg(0)->Arg(1)->Unit(benchmark::kMicrosecond);

void PathologicalWord(benchmark::State& state) {
  std::string pattern = state.range(0) == 0 ? "*a*a*a*a*a*a*b" : hundredCharacterPattern();
  std::string word(10000, 'a');
  for (auto _ : state) benchmark::DoNotOptimize(kolvo::wordMatch(word.c_str(), pattern.c_str(), nullptr, nullptr));
  state.SetLabel(std::to_string(pattern.size()) + "-character pattern, 10000-character word");
}
BENCHMARK(PathologicalWord)->Arg(0)->Arg(1)->Unit(benchmark::kMicrosecond);

}  // namespace

BENCHMARK_MAIN();
