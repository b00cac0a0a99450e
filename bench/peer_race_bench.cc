// kolvo against SQLite FTS5 on the same generated tree, both as whole processes: plain
// text and HTML pages (every fourth file), Zipf words, 100,000 files of about 4 KB by
// default. Each side builds its index (kolvocmd -r with a command file; fts5_driver
// build), answers the same five queries (a rare word, a common word, two common words,
// a quoted phrase, a prefix), and takes an update after 1% of the files changed, a few
// added and as many deleted. Builds, updates and queries are each run a few times and
// their medians compared in one table, wall time and CPU time (the machine is shared,
// so CPU time is the steadier figure). Both sides must find the same files for every
// query, before and after the updates; any difference is listed.
//
// The FTS5 side (bench/fts5_driver.cc) keeps one row a file, its text stored, letters
// as word characters, and sees HTML pages with their tags stripped and entities
// decoded, as kolvo's display of a page; kolvo also indexes tag names, which no query
// here asks for.
//
// Usage: peer_race_bench [--files N] [--runs N] [--seed N] [--kolvocmd PATH] [--driver PATH]
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
#include "bench/process_run.h"
#include "bench/table_bench_support.h"

namespace {

namespace fs = std::filesystem;
using kolvobench::ProcessRun;

struct Options {
  int files = 100000;
  int runs = 3;
  std::uint32_t seed = 1234;
  std::string kolvocmd, driver;
};

[[noreturn]] void usage(const std::string& why) {
  std::fprintf(stderr,
               "peer_race_bench: %s\nusage: peer_race_bench [--files N] [--runs N] [--seed N] [--kolvocmd PATH] "
               "[--driver PATH]\n",
               why.c_str());
  std::exit(2);
}

// A program beside the bench folder or in it, else the path the build gave.
std::string programNamed(const char* variable, const fs::path& besideBench, const char* built) {
  if (const char* named = std::getenv(variable); named && *named) return named;
  std::error_code ignored;
  fs::path self = fs::read_symlink("/proc/self/exe", ignored);
  fs::path beside = self.parent_path() / besideBench;
  return !self.empty() && fs::exists(beside) ? beside.lexically_normal().string() : built;
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
    else if (name == "--seed") options.seed = static_cast<std::uint32_t>(number);
    else usage("unknown option " + name);
  }
  if (options.kolvocmd.empty()) options.kolvocmd = programNamed("KOLVOCMD", "../kolvocmd", KOLVOCMD_PATH);
  if (options.driver.empty()) options.driver = programNamed("FTS5_DRIVER", "fts5_driver", FTS5_DRIVER_PATH);
  return options;
}

// The lines of a program's output.
std::vector<std::string> linesOf(const std::string& output) {
  std::vector<std::string> lines;
  std::size_t at = 0;
  while (at < output.size()) {
    std::size_t end = std::min(output.find('\n', at), output.size());
    lines.push_back(output.substr(at, end - at));
    at = end + 1;
  }
  return lines;
}

// Medians of runs of one step.
struct Timing {
  std::vector<double> wall, cpu, peak;
  void add(const ProcessRun& run) {
    wall.push_back(run.wallSeconds);
    cpu.push_back(run.cpuSeconds);
    peak.push_back(run.peakMiB);
  }
  static double median(std::vector<double> values) {
    if (values.empty()) return 0;
    std::sort(values.begin(), values.end());
    std::size_t half = values.size() / 2;
    return values.size() % 2 ? values[half] : (values[half - 1] + values[half]) / 2;
  }
};

struct Query {
  const char* label;
  std::string kolvo;  // the words after "find"
  std::string fts5;   // the FTS5 query
  int planted;        // how many files the tree planted it in
};

std::vector<Query> queriesOf(const kolvobench::BenchTree& tree) {
  using kolvobench::PlantedWords;
  kolvobench::PlantedCounts counts = tree.planted();
  std::string a = PlantedWords::commonA, b = PlantedWords::commonB;
  std::string phrase = std::string("\"") + PlantedWords::pairFirst + " " + PlantedWords::pairSecond + "\"";
  std::string prefix = std::string(PlantedWords::prefix) + "*";
  return {{"rare word", PlantedWords::rare, PlantedWords::rare, counts.rare},
          {"common word", a, a, counts.commonA},
          {"AND", a + " " + b, a + " " + b, counts.commonBoth},
          {"phrase", phrase, phrase, counts.pairAdjacent},
          {"prefix", prefix, prefix, counts.prefixed}};
}

class Race {
 public:
  Race(const Options& options, const std::string& scratch, kolvobench::BenchTree& tree)
      : options(options), tree(tree), kolvoDirectory(scratch + "kolvo"), home(scratch + "home"),
        commands(scratch + "commands/"), database(scratch + "fts5/index.db") {
    for (const std::string& folder : {kolvoDirectory, home, commands, scratch + "fts5"}) fs::create_directories(folder);
    // An empty skip file: every word counts, as in FTS5, and no skip file of the user's is read.
    std::ofstream(kolvoDirectory + "/skipfile.txt");
    writeCommands("build", "addinclude *.txt\naddinclude *.html html\naddroot " + tree.root() + "\nbuild\n");
    writeCommands("update", "open default\nupdate\n");
  }

  ProcessRun kolvo(const std::string& commandFile) {
    ProcessRun run = kolvobench::runProcess({options.kolvocmd, "-r", commands + commandFile},
                                            {"KOLVODIR=" + kolvoDirectory, "HOME=" + home}, home);
    if (run.status != 0) throw std::runtime_error("kolvocmd ended with status " + std::to_string(run.status));
    return run;
  }
  ProcessRun fts5(const std::string& step, const std::string& argument) {
    ProcessRun run = kolvobench::runProcess({options.driver, step, database, argument});
    if (run.status != 0) throw std::runtime_error("fts5_driver ended with status " + std::to_string(run.status));
    return run;
  }
  void writeCommands(const std::string& name, const std::string& text) { std::ofstream(commands + name) << text; }

  // Runs step (build or update) on both sides and times it.
  void runBoth(const std::string& step, int run, Timing& kolvoTiming, Timing& fts5Timing) {
    ProcessRun done = kolvo(step);
    expect(done, step + " completed", "kolvocmd " + step);
    kolvoTiming.add(done);
    fts5Timing.add(fts5(step, tree.root()));
    std::printf("%s %d: kolvo %.2f s (cpu %.2f), FTS5 %.2f s (cpu %.2f)\n", step.c_str(), run + 1, done.wallSeconds,
                done.cpuSeconds, fts5Timing.wall.back(), fts5Timing.cpu.back());
    std::fflush(stdout);
  }

  void build() {
    for (int run = 0; run < options.runs; ++run) {
      fs::remove_all(kolvoDirectory + "/indexes");
      runBoth("build", run, kolvoBuild, fts5Build);
    }
    kolvoIndexBytes = kolvobench::folderBytes(currentBuild());
    fts5IndexBytes = fs::file_size(database);
  }

  // Times every query; answers whether both sides found the same files each time.
  bool query(bool timed) {
    std::vector<Query> queries = queriesOf(tree);
    if (timed) {
      kolvoQueries.assign(queries.size(), {});
      fts5Queries.assign(queries.size(), {});
    }
    bool same = true;
    for (int run = 0; run < (timed ? options.runs : 1); ++run) {
      for (std::size_t q = 0; q < queries.size(); ++q) {
        writeCommands("query", "open default\nfind " + queries[q].kolvo + "\nlistresults\n");
        ProcessRun kolvoRun = kolvo("query");
        ProcessRun fts5Run = fts5("query", queries[q].fts5);
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
      runBoth("update", run, kolvoUpdate, fts5Update);
    }
  }

  void printTable() const {
    std::vector<Query> queries = queriesOf(tree);
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
      double fc = Timing::median(fts5.cpu) * scale, kc = Timing::median(kolvo.cpu) * scale;
      row(label, Timing::median(fts5.wall) * scale, Timing::median(kolvo.wall) * scale, unit,
          "   CPU " + cell(fc, unit) + " / " + cell(kc, unit) + ", " + cell(fc / kc, "x"));
    };
    std::printf("\n%-18s %14s %14s %11s %s\n", "", "SQLite FTS5", "kolvo", "FTS5/kolvo", "  CPU FTS5 / kolvo");
    timed("build", fts5Build, kolvoBuild, 1, "s");
    row("index size", fts5IndexBytes / 1e6, kolvoIndexBytes / 1e6, "MB", "");
    row("peak RSS of build", Timing::median(fts5Build.peak), Timing::median(kolvoBuild.peak), "MiB", "");
    timed("update after 1%", fts5Update, kolvoUpdate, 1, "s");
    for (std::size_t q = 0; q < queries.size(); ++q)
      timed(queries[q].label, fts5Queries[q], kolvoQueries[q], 1000, "ms");
    std::printf("(above 1x kolvo is ahead; medians of %d runs; each query a whole process that opens the index and "
                "prints every file found)\n",
                options.runs);
  }

 private:
  std::string currentBuild() const {
    std::string base = kolvoDirectory + "/indexes/default/", number;
    std::ifstream(base + "current_build") >> number;
    return base + "build_" + number;
  }

  static void expect(const ProcessRun& run, const std::string& line, const std::string& what) {
    if (run.output.find(line) == std::string::npos)
      throw std::runtime_error(what + " failed; it printed:\n" + run.output);
  }

  // The paths kolvocmd listed: each result line holds the name, a tab and the folder.
  static std::set<std::string> kolvoFiles(const std::string& output) {
    std::set<std::string> files;
    bool inResults = false;
    for (const std::string& line : linesOf(output)) {
      if (line == "<RESULTS>") inResults = true;
      else if (line == "</RESULTS>") inResults = false;
      else if (inResults) {
        std::size_t tab = line.find('\t'), next = line.find('\t', tab + 1);
        if (tab != std::string::npos) files.insert(line.substr(tab + 1, next - tab - 1) + line.substr(0, tab));
      }
    }
    return files;
  }

  static std::set<std::string> fts5Files(const std::string& output) {
    std::set<std::string> files;
    for (const std::string& line : linesOf(output))
      if (!line.empty() && line.rfind("Found ", 0) != 0) files.insert(line);
    return files;
  }

  bool compare(const Query& query, const std::string& kolvoOutput, const std::string& fts5Output) const {
    std::set<std::string> k = kolvoFiles(kolvoOutput), f = fts5Files(fts5Output);
    bool same = k == f;
    std::printf("%-12s kolvo %6zu files, FTS5 %6zu, planted %6d: %s\n", query.label, k.size(), f.size(), query.planted,
                same && static_cast<int>(k.size()) == query.planted ? "the same files"
                : same                                             ? "the same files, NOT the planted count"
                                                                   : "DIFFERENT FILES");
    if (!same) {
      int shown = 0;
      for (const std::string& path : k)
        if (!f.count(path) && shown++ < 5) std::printf("    only kolvo: %s\n", path.c_str());
      shown = 0;
      for (const std::string& path : f)
        if (!k.count(path) && shown++ < 5) std::printf("    only FTS5:  %s\n", path.c_str());
      if (k.empty()) std::printf("    kolvocmd printed:\n%s\n", kolvoOutput.substr(0, 2000).c_str());
    }
    return same && static_cast<int>(k.size()) == query.planted;
  }

  const Options& options;
  kolvobench::BenchTree& tree;
  std::string kolvoDirectory, home, commands, database;
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
