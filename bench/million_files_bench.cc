// How kolvocmd scales with the count of files: builds, updates and searches over
// 100,000 and over 1,000,000 small files (about 1 KB each, 1,000 a folder, 100 folders
// a part), kolvocmd run as a whole process for each step. Reported side by side: the
// build's time, files a second, peak memory and index size, the update after 1% of the
// files changed (and 0.1% added and deleted), an update with nothing changed, and the
// five searches of the race.
//
// How to run it:
//   million_files_bench                  100,000 files only (what "make bench" runs)
//   KOLVO_BENCH_MILLION=1 million_files_bench, or million_files_bench --million
//                                        100,000 and 1,000,000 files
//   options: --runs N (updates, default 3), --query-runs N (searches, default 9: they take
//            milliseconds and feel every stir of a shared machine), --build-runs N (default 1),
//            --kolvocmd PATH (else $KOLVOCMD, else the build's own),
//            --small N and --large N in place of 100,000 and 1,000,000
// The trees are written once and kept between runs below $KOLVO_BENCH_DATA (default
// /var/tmp/kolvo-bench), in "small-<count>" with a stamp file beside it; a tree whose
// stamp is missing or differs is written again. The million takes a few minutes to
// write and about 4 GB of disk. Updates change the tree; it is put back afterwards, and
// a run that stops halfway leaves no stamp, so the next one writes the tree again.
#include <stdlib.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <stdexcept>
#include <string>
#include <vector>

#include "bench/bench_tree.h"
#include "bench/kolvocmd_runs.h"
#include "bench/table_bench_support.h"

namespace {

namespace fs = std::filesystem;
using kolvobench::PlantedQuery;
using kolvobench::Timing;

struct Options {
  bool million = false;
  int small = 100000, large = 1000000;
  int runs = 3;
  int queryRuns = 9;
  int buildRuns = 1;
  std::string kolvocmd;
};

[[noreturn]] void usage(const std::string& why) {
  std::fprintf(stderr,
               "million_files_bench: %s\nusage: million_files_bench [--million] [--runs N] [--query-runs N] "
               "[--build-runs N] [--kolvocmd PATH]\n",
               why.c_str());
  std::exit(2);
}

Options parseOptions(int argc, char** argv) {
  Options options;
  if (const char* million = std::getenv("KOLVO_BENCH_MILLION"); million && *million && std::string(million) != "0")
    options.million = true;
  for (int i = 1; i < argc; ++i) {
    std::string name = argv[i];
    if (name == "--million") {
      options.million = true;
      continue;
    }
    if (i + 1 >= argc) usage("no value after " + name);
    std::string value = argv[++i];
    if (name == "--kolvocmd") {
      options.kolvocmd = value;
      continue;
    }
    char* end = nullptr;
    long number = std::strtol(value.c_str(), &end, 10);
    if (value.empty() || *end != '\0' || number <= 0 || number > 10000000) usage("not a positive count: " + value);
    if (name == "--runs") options.runs = static_cast<int>(number);
    else if (name == "--query-runs") options.queryRuns = static_cast<int>(number);
    else if (name == "--small") options.small = static_cast<int>(number);
    else if (name == "--large") options.large = static_cast<int>(number);
    else if (name == "--build-runs") options.buildRuns = static_cast<int>(number);
    else usage("unknown option " + name);
  }
  if (options.kolvocmd.empty()) options.kolvocmd = kolvobench::programPath("KOLVOCMD", "../kolvocmd", KOLVOCMD_PATH);
  return options;
}

std::string dataFolder() {
  const char* named = std::getenv("KOLVO_BENCH_DATA");
  return named && *named ? named : "/var/tmp/kolvo-bench";
}

// The load average of the last minute, which the wall times depend on: on a shared
// machine the CPU times are the figures to compare.
double loadAverage() {
  double load[1] = {0};
  return getloadavg(load, 1) == 1 ? load[0] : -1;
}

struct Figures {
  int files = 0;
  Timing build, update;
  // An update right after the last one, with nothing changed: the floor of every update,
  // one status per stored entry.
  Timing unchanged;
  std::uint64_t indexBytes = 0;
  std::vector<Timing> queries;
  std::vector<std::size_t> found;
  std::vector<int> planted;
};

Figures measure(const Options& options, int fileCount, const std::vector<PlantedQuery>& queriesOfTree,
                kolvobench::BenchTree& tree, const std::string& scratch) {
  Figures figures;
  figures.files = fileCount;
  kolvobench::KolvocmdRuns kolvo(options.kolvocmd, scratch + "kolvo-" + std::to_string(fileCount));
  for (int run = 0; run < options.buildRuns; ++run) {
    kolvobench::ProcessRun built = figures.build.add(kolvo.build(tree.root(), {"*.txt"}));
    std::printf("%d files: build %.2f s (cpu %.2f), peak RSS %.0f MiB, load %.1f\n", fileCount, built.wallSeconds,
                built.cpuSeconds, built.peakMiB, loadAverage());
    std::fflush(stdout);
  }
  figures.indexBytes = kolvo.indexBytes();
  figures.queries.assign(queriesOfTree.size(), {});
  figures.found.assign(queriesOfTree.size(), 0);
  for (const PlantedQuery& query : queriesOfTree) figures.planted.push_back(query.planted);
  // The build's own writes are on disk before the searches are timed.
  sync();
  for (int run = 0; run < options.queryRuns; ++run) {
    for (std::size_t q = 0; q < queriesOfTree.size(); ++q) {
      kolvobench::ProcessRun answer = figures.queries[q].add(kolvo.find(queriesOfTree[q].words));
      if (run == 0) figures.found[q] = kolvobench::KolvocmdRuns::foundFiles(answer.output).size();
    }
  }
  for (int run = 0; run < options.runs; ++run) {
    kolvobench::waitForNextSecond();
    tree.change();
    sync();
    kolvobench::ProcessRun updated = figures.update.add(kolvo.update());
    std::printf("%d files: update %d (%d changed, %d added, %d deleted so far) %.2f s (cpu %.2f), load %.1f\n",
                fileCount, run + 1, tree.changedFiles(), tree.addedFiles(), tree.deletedFiles(), updated.wallSeconds,
                updated.cpuSeconds, loadAverage());
    std::fflush(stdout);
  }
  // The files changed in the second before an update are taken again by the next one:
  // a first update takes them, and the timed ones after it find nothing to do.
  kolvo.update();
  for (int run = 0; run < options.runs; ++run) {
    kolvobench::ProcessRun updated = figures.unchanged.add(kolvo.update());
    std::printf("%d files: update with nothing changed %.2f s (cpu %.2f), load %.1f\n", fileCount, updated.wallSeconds,
                updated.cpuSeconds, loadAverage());
    std::fflush(stdout);
  }
  tree.restore();
  return figures;
}

void printTable(const std::vector<Figures>& all, const std::vector<PlantedQuery>& queries) {
  std::printf("\n%-20s", "files");
  for (const Figures& figures : all) std::printf(" %16d", figures.files);
  std::printf("%s\n", all.size() > 1 ? "   last/first   target" : "");
  auto row = [&](const char* label, auto value, const char* format, const char* ratioFormat, double (*ratio)(double, double),
                 const char* target) {
    std::printf("%-20s", label);
    for (const Figures& figures : all) std::printf(format, value(figures));
    if (all.size() > 1) {
      std::printf(ratioFormat, ratio(value(all.front()), value(all.back())));
      std::printf("   %s", target);
    }
    std::printf("\n");
  };
  auto grows = [](double first, double last) { return last / first; };
  auto share = [](double first, double last) { return 100.0 * last / first; };
  row("build (s)", [](const Figures& f) { return f.build.wallMedian(); }, " %16.2f", " %10.2fx", grows, "");
  row("build CPU (s)", [](const Figures& f) { return f.build.cpuMedian(); }, " %16.2f", " %10.2fx", grows, "");
  row("files/s", [](const Figures& f) { return f.files / f.build.wallMedian(); }, " %16.0f", " %10.0f%%", share,
      ">= 80%");
  row("files/CPU s", [](const Figures& f) { return f.files / f.build.cpuMedian(); }, " %16.0f", " %10.0f%%", share,
      ">= 80%");
  row("peak RSS (MiB)", [](const Figures& f) { return f.build.peakMedian(); }, " %16.1f", " %10.2fx", grows, "<= 2x");
  row("index (MB)", [](const Figures& f) { return f.indexBytes / 1e6; }, " %16.1f", " %10.2fx", grows, "");
  row("update 1% (s)", [](const Figures& f) { return f.update.wallMedian(); }, " %16.2f", " %10.2fx", grows,
      "<= 1.5 s");
  row("update CPU (s)", [](const Figures& f) { return f.update.cpuMedian(); }, " %16.2f", " %10.2fx", grows, "");
  row("unchanged (s)", [](const Figures& f) { return f.unchanged.wallMedian(); }, " %16.2f", " %10.2fx", grows, "");
  row("unchanged CPU (s)", [](const Figures& f) { return f.unchanged.cpuMedian(); }, " %16.2f", " %10.2fx", grows, "");
  for (std::size_t q = 0; q < queries.size(); ++q) {
    std::string label = std::string(queries[q].label) + " (ms)";
    auto wall = [q](const Figures& f) { return f.queries[q].wallMedian() * 1000; };
    row(label.c_str(), wall, " %16.1f", " %10.2fx", grows, q == 0 ? "<= 1.5x" : "");
    std::string cpuLabel = std::string("  CPU (ms)");
    auto cpu = [q](const Figures& f) { return f.queries[q].cpuMedian() * 1000; };
    row(cpuLabel.c_str(), cpu, " %16.1f", " %10.2fx", grows, "");
    auto found = [q](const Figures& f) { return static_cast<double>(f.found[q]); };
    row("  files found", found, " %16.0f", " %10.2fx", grows, "");
  }
  std::printf("(medians; wall time on a shared machine, CPU time the steadier figure; load now %.1f)\n",
              loadAverage());
}

int benchmark(const Options& options) {
  kolvobench::ScratchDir scratch;
  if (scratch.slashed() == "/") throw std::runtime_error("cannot make a temporary folder");
  std::vector<int> counts = {options.small};
  if (options.million) counts.push_back(options.large);
  else std::printf("1,000,000 files: not run (set KOLVO_BENCH_MILLION=1 or pass --million)\n");
  std::vector<Figures> all;
  std::vector<PlantedQuery> queries;
  for (int count : counts) {
    kolvobench::BenchTree tree(dataFolder() + "/small-" + std::to_string(count), count, 1234,
                               kolvobench::TreeShape::smallFiles());
    auto start = std::chrono::steady_clock::now();
    bool written = tree.generateUnlessStamped();
    std::printf("%d files in %s: %s in %.1f s, %.1f MB of text\n", count, tree.root().c_str(),
                written ? "written" : "kept from an earlier run, read", kolvobench::secondsSince(start),
                tree.textBytes() / 1e6);
    if (written) sync();
    tree.warm();
    queries = kolvobench::plantedQueries(tree);
    for (const PlantedQuery& query : queries) std::printf("  %s: find %s, planted in %d files\n", query.label,
                                                          query.words.c_str(), query.planted);
    all.push_back(measure(options, count, queries, tree, scratch.slashed()));
  }
  printTable(all, queries);
  // Searches run before the updates, on the tree as written, whose planted files are known.
  bool answered = true;
  for (const Figures& figures : all)
    for (std::size_t q = 0; q < queries.size(); ++q) answered = answered && figures.found[q] == static_cast<std::size_t>(figures.planted[q]);
  std::printf("%s\n", answered ? "every search found the files planted for it"
                                : "SOME SEARCH DID NOT FIND the files planted for it");
  return answered ? 0 : 1;
}

}  // namespace

int main(int argc, char** argv) {
  Options options = parseOptions(argc, argv);
  try {
    return benchmark(options);
  } catch (const std::exception& error) {
    std::fflush(stdout);
    std::fprintf(stderr, "million_files_bench: %s\n", error.what());
    return 1;
  }
}
