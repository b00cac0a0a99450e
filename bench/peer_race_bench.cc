// kolvo against SQLite FTS5 on the same generated tree, both as whole processes: plain
// text and HTML pages (every fourth file), Zipf words, 100,000 files of about 4 KB by
// default. Each side builds its index (kolvocmd -r with a command file; fts5_driver
// build), answers the same five queries (a rare word, a common word, two common words,
// a quoted phrase, a prefix), and takes an update after 1% of the files changed, a few
// added and as many deleted. Updates run a few times (--runs, default 3), the queries,
// which take milliseconds and so feel every stir of a shared machine, more often
// (--query-runs, default 9), builds once (--build-runs), and the medians compared in one table, wall
// time and CPU time (on a shared machine CPU time is the steadier figure). Both sides must find the same files for every
// query, before and after the updates; any difference is listed.
//
// The FTS5 side (bench/fts5_driver.cc) keeps one row a file, its text stored, letters
// as word characters, and sees HTML pages with their tags stripped and entities
// decoded, as kolvo's display of a page; kolvo also indexes tag names, which no query
// here asks for.
//
// Usage: peer_race_bench [--files N] [--runs N] [--query-runs N] [--build-runs N] [--seed N] [--kolvocmd PATH]
//                        [--driver PATH]
// The programs are taken from the options, else $KOLVOCMD and $FTS5_DRIVER, else from
// the build folder this benchmark belongs to.
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <set>
#include <stdexcept>
#include <string>
#include <vector>

#include "bench/bench_tree.h"
#include "bench/kolvocmd_runs.h"
#include "bench/table_bench_support.h"

namespace {

namespace fs = std::filesystem;
using kolvobench::PlantedQuery;
using kolvobench::ProcessRun;
using kolvobench::Timing;

struct Options {
  int files = 100000;
  int runs = 3;
  int queryRuns = 9;
  int buildRuns = 1;
  std::uint32_t seed = 1234;
  std::string kolvocmd, driver;
};

[[noreturn]] void usage(const std::string& why) {
  std::fprintf(stderr,
               "peer_race_bench: %s\nusage: peer_race_bench [--files N] [--runs N] [--query-runs N] [--build-runs N] "
               "[--seed N] [--kolvocmd PATH] [--driver PATH]\n",
               why.c_str());
  std::exit(2);
}

Options parseOptions(int argc, char** argv) {
  Options options;
  for (int i = 1; i < argc; ++i) {
    std::string name = argv[i];
    if (i + 1 >= argc) usage("no value after " + name);
    std::string value = argv[++i];
    if (name == "--kolvocmd") {
      options.kolvocmd = value;
      continue;
    }
    if (name == "--driver") {
      options.driver = value;
      continue;
    }
    char* end = nullptr;
    long number = std::strtol(value.c_str(), &end, 10);
    if (value.empty() || *end != '\0' || number <= 0 || number > 100000000) usage("not a positive number: " + value);
    if (name == "--files") options.files = static_cast<int>(number);
    else if (name == "--runs") options.runs = static_cast<int>(number);
    else if (name == "--query-runs") options.queryRuns = static_cast<int>(number);
    else if (name == "--build-runs") options.buildRuns = static_cast<int>(number);
    else if (name == "--seed") options.seed = static_cast<std::uint32_t>(number);
    else usage("unknown option " + name);
  }
  if (options.kolvocmd.empty()) options.kolvocmd = kolvobench::programPath("KOLVOCMD", "../kolvocmd", KOLVOCMD_PATH);
  if (options.driver.empty()) options.driver = kolvobench::programPath("FTS5_DRIVER", "fts5_driver", FTS5_DRIVER_PATH);
  return options;
}

// The paths the driver printed before its count.
std::set<std::string> fts5Files(const std::string& output) {
  std::set<std::string> files;
  std::size_t at = 0;
  while (at < output.size()) {
    std::size_t end = std::min(output.find('\n', at), output.size());
    if (end > at && output.compare(at, 6, "Found ") != 0) files.insert(output.substr(at, end - at));
    at = end + 1;
  }
  return files;
}

class Race {
 public:
  Race(const Options& options, const std::string& scratch, kolvobench::BenchTree& tree)
      : options(options), tree(tree), kolvo(options.kolvocmd, scratch + "kolvoside"),
        database(scratch + "fts5/index.db") {
    fs::create_directories(scratch + "fts5");
  }

  void build() {
    for (int run = 0; run < options.buildRuns; ++run)
      report("build", run, kolvoBuild.add(kolvo.build(tree.root(), {"*.txt", "*.html html"})), fts5Build,
             fts5("build", tree.root()));
    kolvoIndexBytes = kolvo.indexBytes();
    fts5IndexBytes = fs::file_size(database);
  }

  // Times every query when timed; answers whether both sides found the planted files.
  bool query(bool timed) {
    std::vector<PlantedQuery> queries = kolvobench::plantedQueries(tree);
    if (timed) {
      kolvoQueries.assign(queries.size(), {});
      fts5Queries.assign(queries.size(), {});
    }
    bool same = true;
    for (int run = 0; run < (timed ? options.queryRuns : 1); ++run) {
      for (std::size_t q = 0; q < queries.size(); ++q) {
        ProcessRun kolvoRun = kolvo.find(queries[q].words);
        ProcessRun fts5Run = fts5("query", queries[q].words);
        if (timed) {
          kolvoQueries[q].add(kolvoRun);
          fts5Queries[q].add(fts5Run);
        }
        if (run == 0) same = compare(queries[q], kolvoRun.output, fts5Run.output) && same;
      }
    }
    return same;
  }

  void update() {
    for (int run = 0; run < options.runs; ++run) {
      kolvobench::waitForNextSecond();
      tree.change();
      // The changed files are written out before either side reads them.
      sync();
      report("update", run, kolvoUpdate.add(kolvo.update()), fts5Update, fts5("update", tree.root()));
    }
  }

  void printTable() const {
    std::vector<PlantedQuery> queries = kolvobench::plantedQueries(tree);
    auto cell = [](double value, const char* unit) {
      char text[32];
      std::snprintf(text, sizeof text, "%.*f %s", value < 100 ? 2 : 1, value, unit);
      return std::string(text);
    };
    auto row = [&](const char* label, double fts5, double kolvo, const char* unit, const std::string& more) {
      std::printf("%-18s %14s %14s %10.2fx %s\n", label, cell(fts5, unit).c_str(), cell(kolvo, unit).c_str(),
                  fts5 / kolvo, more.c_str());
    };
    auto timed = [&](const char* label, const Timing& fts5, const Timing& kolvo, double scale, const char* unit) {
      double fc = fts5.cpuMedian() * scale, kc = kolvo.cpuMedian() * scale;
      row(label, fts5.wallMedian() * scale, kolvo.wallMedian() * scale, unit,
          "   CPU " + cell(fc, unit) + " / " + cell(kc, unit) + ", " + cell(fc / kc, "x"));
    };
    std::printf("\n%-18s %14s %14s %11s %s\n", "", "SQLite FTS5", "kolvo", "FTS5/kolvo", "  CPU FTS5 / kolvo");
    timed("build", fts5Build, kolvoBuild, 1, "s");
    row("index size", fts5IndexBytes / 1e6, kolvoIndexBytes / 1e6, "MB", "");
    row("peak RSS of build", fts5Build.peakMedian(), kolvoBuild.peakMedian(), "MiB", "");
    timed("update after 1%", fts5Update, kolvoUpdate, 1, "s");
    for (std::size_t q = 0; q < queries.size(); ++q)
      timed(queries[q].label, fts5Queries[q], kolvoQueries[q], 1000, "ms");
    std::printf("(above 1x kolvo is ahead; medians of %d builds, %d updates and %d runs of each query; each query a "
                "whole process that opens the index and prints every file found)\n",
                options.buildRuns, options.runs, options.queryRuns);
  }

 private:
  ProcessRun fts5(const std::string& step, const std::string& argument) {
    ProcessRun run = kolvobench::runProcess({options.driver, step, database, argument});
    if (run.status != 0) throw std::runtime_error("fts5_driver ended with status " + std::to_string(run.status));
    return run;
  }

  static void report(const char* step, int run, const ProcessRun& kolvoRun, Timing& fts5Timing,
                     const ProcessRun& fts5Run) {
    fts5Timing.add(fts5Run);
    std::printf("%s %d: kolvo %.2f s (cpu %.2f), FTS5 %.2f s (cpu %.2f)\n", step, run + 1, kolvoRun.wallSeconds,
                kolvoRun.cpuSeconds, fts5Run.wallSeconds, fts5Run.cpuSeconds);
    std::fflush(stdout);
  }

  bool compare(const PlantedQuery& query, const std::string& kolvoOutput, const std::string& fts5Output) const {
    std::set<std::string> k = kolvobench::KolvocmdRuns::foundFiles(kolvoOutput), f = fts5Files(fts5Output);
    bool same = k == f;
    bool planted = static_cast<int>(k.size()) == query.planted;
    std::printf("%-12s kolvo %6zu files, FTS5 %6zu, planted %6d: %s\n", query.label, k.size(), f.size(), query.planted,
                same && planted ? "the same files"
                : same          ? "the same files, NOT the planted count"
                                : "DIFFERENT FILES");
    if (!same) {
      int shown = 0;
      for (const std::string& path : k)
        if (!f.count(path) && shown++ < 5) std::printf("    only kolvo: %s\n", path.c_str());
      shown = 0;
      for (const std::string& path : f)
        if (!k.count(path) && shown++ < 5) std::printf("    only FTS5:  %s\n", path.c_str());
    }
    return same && planted;
  }

  const Options& options;
  kolvobench::BenchTree& tree;
  kolvobench::KolvocmdRuns kolvo;
  std::string database;
  Timing kolvoBuild, fts5Build, kolvoUpdate, fts5Update;
  std::vector<Timing> kolvoQueries, fts5Queries;
  std::uint64_t kolvoIndexBytes = 0, fts5IndexBytes = 0;
};

int race(const Options& options) {
  kolvobench::ScratchDir scratch;
  if (scratch.slashed() == "/") throw std::runtime_error("cannot make a temporary folder");
  kolvobench::BenchTree tree(scratch.slashed() + "tree", options.files, options.seed,
                             kolvobench::TreeShape::textAndHtml());
  auto start = std::chrono::steady_clock::now();
  tree.generate();
  std::printf("tree: %d files (%d HTML), %.1f MB, made in %.1f s; kolvocmd %s, driver %s\n", tree.fileCount(),
              tree.htmlFiles(), tree.textBytes() / 1e6, kolvobench::secondsSince(start), options.kolvocmd.c_str(),
              options.driver.c_str());
  sync();
  tree.warm();

  Race race(options, scratch.slashed(), tree);
  race.build();
  std::printf("the files each side finds:\n");
  bool same = race.query(true);
  race.update();
  std::printf("after the updates:\n");
  same = race.query(false) && same;
  race.printTable();
  std::printf("%s\n", same ? "both sides found the planted files for every query"
                           : "THE SIDES DIFFER for some query (listed above)");
  return same ? 0 : 1;
}

}  // namespace

int main(int argc, char** argv) {
  Options options = parseOptions(argc, argv);
  try {
    return race(options);
  } catch (const std::exception& error) {
    std::fflush(stdout);
    std::fprintf(stderr, "peer_race_bench: %s\n", error.what());
    return 1;
  }
}
