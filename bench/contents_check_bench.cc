// The check of a quoted phrase and of a near condition over the files that hold both
// words, on the generated tree of text files and web pages (every fourth file): made as
// the search made it before (a contents object per file with its whole display text,
// then a hit search over it) and as it is made now (each file streamed to its first
// hit, on one thread and on the pool), in the same run over the same files. The three
// must keep the same files. The CPU time per candidate is given apart for text files
// and pages, on one thread, with the markup stripped as the search strips it.
#include <sys/resource.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "bench/bench_tree.h"
#include "bench/engine_build.h"
#include "bench/table_bench_support.h"
#include "include/kolvolib.h"

namespace {

// The process's CPU seconds so far, or only those in user space.
double cpuSeconds(bool userOnly = false) {
  rusage usage{};
  getrusage(RUSAGE_SELF, &usage);
  auto seconds = [](const timeval& t) { return static_cast<double>(t.tv_sec) + t.tv_usec / 1e6; };
  return seconds(usage.ru_utime) + (userOnly ? 0 : seconds(usage.ru_stime));
}

// The files whose text holds word: every file of the table, checked for it.
std::vector<kulong> filesOf(CKolvoIndex* index, const char* word, kulong maxBytes) {
  CFileStorage* table = kidxGetFiles(index);
  std::vector<kulong> all;
  for (kulong file = kfsGetFirst(table); file != 0; file = kfsGetNext(table, file))
    if (kfiGetFileParentID(kfsGetInfo(table, file)) != 0) all.push_back(file);
  std::vector<char> verdicts(all.size());
  kidxCheckContents(index, all.data(), static_cast<kulong>(all.size()), maxBytes, 0, 0, 0, word, 0, verdicts.data());
  std::vector<kulong> holding;
  for (std::size_t i = 0; i < all.size(); ++i)
    if (verdicts[i] == 1) holding.push_back(all[i]);
  return holding;
}

// The search's settings: whole files up to 10 MB, lines wrapped at 120, markup
// stripped, near distance 8.
constexpr kulong maxBytes = 10'000'000;
constexpr int wrapWidth = 120;
constexpr int nearDistance = 8;

struct Timing {
  double wall = 0, cpu = 0, user = 0;
  int kept = 0;
};

template <class Check>
Timing timed(Check&& check) {
  auto start = std::chrono::steady_clock::now();
  double cpuStart = cpuSeconds(), userStart = cpuSeconds(true);
  Timing timing;
  timing.kept = check();
  timing.wall = kolvobench::secondsSince(start);
  timing.cpu = cpuSeconds() - cpuStart;
  timing.user = cpuSeconds(true) - userStart;
  return timing;
}

// The files of a kind among files, by the ending of their names.
std::vector<kulong> namedLike(CKolvoIndex* index, const std::vector<kulong>& files, const std::string& ending) {
  CFileStorage* table = kidxGetFiles(index);
  std::vector<kulong> kept;
  for (kulong file : files) {
    std::string name = kfiGetFileName(kfsGetInfo(table, file));
    if (name.size() >= ending.size() && name.compare(name.size() - ending.size(), ending.size(), ending) == 0)
      kept.push_back(file);
  }
  return kept;
}

}  // namespace

int main(int argc, char** argv) {
  int fileCount = argc > 1 ? std::atoi(argv[1]) : 20'000;
  constexpr int rounds = 3;
  kolvobench::ScratchDir scratch;
  kolvobench::BenchTree tree(scratch.slashed() + "tree", fileCount, 1234, kolvobench::TreeShape::textAndHtml());
  tree.generate();
  tree.warm();
  const std::string at = scratch.slashed() + "build/";
  std::filesystem::create_directories(at);
  CKolvoIndex* index = kolvobench::buildEngineIndex(tree.root(), at, {{"*.txt", "generic"}, {"*.html", "html"}});
  std::unique_ptr<CKolvoIndex, void (*)(CKolvoIndex*)> closer(index, [](CKolvoIndex* open) { kidxClearIndex(open); });
  // The display side as the program sets it: letters go on with words and are shown
  // with digits; blanks and punctuation are trimmed.
  for (int c = 1; c < 128; ++c) {
    bool letter = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
    bool punctuation = c == '\t' || (c >= 0x20 && c <= 0x2F) || (c >= 0x3A && c <= 0x40) || (c >= 0x5B && c <= 0x60) ||
                       (c >= 0x7B && c <= 0x7E);
    kidxSetValidTrailingMask(index, c, letter);
    kidxSetValidViewableMask(index, c, letter || (c >= '0' && c <= '9'));
    kidxSetNonAlphaCharMask(index, c, punctuation);
  }

  using kolvobench::PlantedWords;
  std::vector<kulong> first = filesOf(index, PlantedWords::pairFirst, maxBytes);
  std::vector<kulong> second = filesOf(index, PlantedWords::pairSecond, maxBytes);
  std::vector<kulong> both;
  std::set_intersection(first.begin(), first.end(), second.begin(), second.end(), std::back_inserter(both));
  kolvobench::PlantedCounts counts = tree.planted();
  std::printf("tree: %d files, %.1f MB; %zu files hold both words of the pair\n", fileCount, tree.textBytes() / 1e6,
              both.size());

  std::string a = PlantedWords::pairFirst, b = PlantedWords::pairSecond;
  struct Query {
    const char* label;
    std::string pattern;
    int expected;
  };
  const Query queries[] = {
      {"quoted phrase", "( " + a + " <1 " + b + " )", counts.pairAdjacent},
      {"near, 3 words", "( " + a + " <3 " + b + " )", counts.pairWithinThree},
  };
  bool agreed = true;
  for (const Query& query : queries) {
    std::vector<Timing> before, single, pool;
    for (int round = 0; round < rounds; ++round) {
      before.push_back(timed([&] {
        int kept = 0;
        for (kulong file : both) {
          CFileContents* contents = kidxGetFileContents(index, file, maxBytes, wrapWidth, 1, nearDistance);
          if (contents && kfcContainsHit(contents, query.pattern.c_str())) ++kept;
          kfcDeleteContentsObject(contents);
        }
        return kept;
      }));
      for (int threads : {1, 0}) {
        (threads == 1 ? single : pool).push_back(timed([&] {
          std::vector<char> verdicts(both.size());
          kidxCheckContents(index, both.data(), static_cast<kulong>(both.size()), maxBytes, wrapWidth, 1,
                            nearDistance, query.pattern.c_str(), threads, verdicts.data());
          return static_cast<int>(std::count(verdicts.begin(), verdicts.end(), 1));
        }));
      }
    }
    auto best = [](std::vector<Timing> runs) {
      return *std::min_element(runs.begin(), runs.end(), [](const Timing& x, const Timing& y) { return x.wall < y.wall; });
    };
    Timing old = best(before), one = best(single), many = best(pool);
    std::printf("%-14s kept %d (planted %d): contents objects %.0f ms (CPU %.0f); streamed, one thread %.0f ms "
                "(CPU %.0f), pool %.0f ms (CPU %.0f); %.1fx and %.1fx faster, best of %d\n",
                query.label, many.kept, query.expected, old.wall * 1e3, old.cpu * 1e3, one.wall * 1e3, one.cpu * 1e3,
                many.wall * 1e3, many.cpu * 1e3, old.wall / one.wall, old.wall / many.wall, rounds);
    if (old.kept != one.kept || old.kept != many.kept || many.kept != query.expected) {
      std::printf("  DIFFERENT FILES: %d, %d, %d\n", old.kept, one.kept, many.kept);
      agreed = false;
    }
  }
  // The CPU time of a candidate, a text file or a page, streamed on one thread; the
  // best of the rounds.
  const std::string phrase = "( " + a + " <1 " + b + " )";
  for (const char* ending : {".txt", ".html"}) {
    std::vector<kulong> kind = namedLike(index, both, ending);
    if (kind.empty()) continue;
    std::vector<Timing> runs;
    for (int round = 0; round < rounds; ++round) {
      runs.push_back(timed([&] {
        std::vector<char> verdicts(kind.size());
        kidxCheckContents(index, kind.data(), static_cast<kulong>(kind.size()), maxBytes, wrapWidth, 1, nearDistance,
                          phrase.c_str(), 1, verdicts.data());
        return static_cast<int>(std::count(verdicts.begin(), verdicts.end(), 1));
      }));
    }
    Timing best = *std::min_element(runs.begin(), runs.end(), [](const Timing& x, const Timing& y) { return x.cpu < y.cpu; });
    auto perCandidate = [&](double seconds) { return seconds * 1e6 / static_cast<double>(kind.size()); };
    std::printf("%-5s candidates %zu, kept %d: one thread %.1f ms (CPU %.1f), a candidate %.2f us CPU (%.2f user, "
                "%.2f system)\n",
                ending + 1, kind.size(), best.kept, best.wall * 1e3, best.cpu * 1e3, perCandidate(best.cpu),
                perCandidate(best.user), perCandidate(best.cpu - best.user));
  }
  return agreed ? 0 : 1;
}
