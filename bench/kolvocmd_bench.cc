// kolvocmd measured from outside, as a user or a script meets it: the real program runs
// as a child with its standard input and output on pipes, in a temporary kolvo
// directory (KOLVODIR and HOME point into the benchmark's scratch folder, so nothing of
// the user's is read or written). Over a generated tree (100,000 files by default) it
// times "build", then "update" after a small share of the files changed, and then
// searches for planted words whose files are known, each repeated, giving p50 and p95;
// last, a search from a cold start, split by what each part of the run adds.
// For comparison the same tree is also built through the C interface with the engine
// linked into this program, as build_update_bench builds it (--no-engine skips that).
//
// Where an answer ends: the console prints "> " before it reads a line, a line feed
// after it, then the command's output. Each command is sent followed by
// "getvalue _kolvobenchanswerend", an object variable set at start to a word no answer
// contains; its value on a line between two prompts closes the command's answer. A
// command's time runs from writing it to the arrival of its answer's last byte, so the
// marker's own work is not counted. A failing command (such as "find" before the
// program has it) prints "ERROR ..."; the answer is shown and the run goes on.
//
// Usage: kolvocmd_bench [--files N] [--repeat N] [--seed N] [--kolvocmd PATH] [--no-engine]
// The program is taken from --kolvocmd, else $KOLVOCMD, else the kolvocmd of the build
// folder this benchmark belongs to.
#include <fcntl.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "bench/bench_tree.h"
#include "bench/engine_build.h"
#include "bench/kolvocmd_session.h"
#include "bench/process_run.h"
#include "app/index/kolvo_index.h"
#include "bench/table_bench_support.h"

namespace {

namespace fs = std::filesystem;

struct Options {
  int files = 100000;
  int repeat = 20;
  std::uint32_t seed = 1234;
  std::string program;
  bool engine = true;
};

[[noreturn]] void usage(const char* why) {
  std::fprintf(stderr, "kolvocmd_bench: %s\nusage: kolvocmd_bench [--files N] [--repeat N] [--seed N] [--kolvocmd PATH] "
               "[--no-engine]\n",
               why);
  std::exit(2);
}

Options parseOptions(int argc, char** argv) {
  Options options;
  for (int i = 1; i < argc; ++i) {
    std::string name = argv[i];
    if (name == "--no-engine") {
      options.engine = false;
      continue;
    }
    if (i + 1 >= argc) usage(("no value after " + name).c_str());
    std::string value = argv[++i];
    char* end = nullptr;
    long number = std::strtol(value.c_str(), &end, 10);
    bool numeric = !value.empty() && *end == '\0' && number > 0 && number <= 100000000;
    if (name == "--kolvocmd") {
      options.program = value;
    } else if (!numeric) {
      usage(("not a positive number: " + value).c_str());
    } else if (name == "--files") {
      options.files = static_cast<int>(number);
    } else if (name == "--repeat") {
      options.repeat = static_cast<int>(number);
    } else if (name == "--seed") {
      options.seed = static_cast<std::uint32_t>(number);
    } else {
      usage(("unknown option " + name).c_str());
    }
  }
  if (options.program.empty()) {
    if (const char* named = std::getenv("KOLVOCMD"); named && *named) options.program = named;
  }
  if (options.program.empty()) {
    // The benchmark sits in <build>/bench, the program in <build>.
    std::error_code ignored;
    fs::path self = fs::read_symlink("/proc/self/exe", ignored);
    fs::path beside = self.parent_path().parent_path() / "kolvocmd";
    options.program = !self.empty() && fs::exists(beside) ? beside.string() : KOLVOCMD_PATH;
  }
  return options;
}

std::string lastLine(const std::string& text) {
  std::string trimmed = text.substr(0, text.find_last_not_of("\n") + 1);
  return trimmed.substr(trimmed.rfind('\n') == std::string::npos ? 0 : trimmed.rfind('\n') + 1);
}

// The "Found ..." line of a search, or the first line of whatever came instead.
std::string resultLine(const std::string& text) {
  std::size_t found = text.rfind("Found ");
  if (found != std::string::npos && (found == 0 || text[found - 1] == '\n'))
    return text.substr(found, text.find('\n', found) - found);
  std::size_t start = text.find_first_not_of("\n");
  if (start == std::string::npos) return "(no output)";
  std::string line = text.substr(start, text.find('\n', start) - start);
  return line.size() > 160 ? line.substr(0, 160) + "..." : line;
}

// The answer must end with the line that says the command completed; else the run stops.
void expectCompleted(const kolvobench::KolvocmdSession::Answer& answer, const char* what) {
  if (lastLine(answer.text).find(std::string(what) + " completed") != std::string::npos) return;
  throw std::runtime_error(std::string(what) + " failed; kolvocmd answered:\n" + answer.text);
}

double percentile(std::vector<double> values, double share) {
  std::sort(values.begin(), values.end());
  std::size_t rank = static_cast<std::size_t>(std::ceil(share * values.size()));
  return values[std::clamp<std::size_t>(rank, 1, values.size()) - 1];
}

struct Query {
  const char* label;
  std::string command;
  double targetMs;  // 0: no target, reported only
  int expected;     // files that hold it
};

void runQueries(kolvobench::KolvocmdSession& session, const kolvobench::BenchTree& tree, int repeat) {
  using kolvobench::PlantedWords;
  kolvobench::PlantedCounts counts = tree.planted();
  std::string a = PlantedWords::commonA, b = PlantedWords::commonB;
  std::string first = PlantedWords::pairFirst, second = PlantedWords::pairSecond;
  std::vector<Query> queries = {
      {"rare word", std::string("find ") + PlantedWords::rare, 2, counts.rare},
      {"common word", "find " + a, 40, counts.commonA},
      {"two common words", "find " + a + " " + b, 60, counts.commonBoth},
      {"prefix wildcard", std::string("find ") + PlantedWords::prefix + "*", 150, counts.prefixed},
      {"quoted phrase", "find \"" + first + " " + second + "\"", 0, counts.pairAdjacent},
      {"proximity", "find " + first + "<3 " + second, 0, counts.pairWithinThree},
  };
  std::printf("search: %d runs each; %d files hold both words of the pair, %d words begin with \"%s\"\n", repeat,
              counts.pairBoth, counts.prefixWords, PlantedWords::prefix);
  for (const Query& query : queries) {
    std::vector<double> times;
    std::string answer;
    for (int run = 0; run < repeat; ++run) {
      kolvobench::KolvocmdSession::Answer got = session.run(query.command);
      times.push_back(got.seconds * 1000);
      if (run == 0) answer = got.text;
    }
    double p50 = percentile(times, 0.5), p95 = percentile(times, 0.95);
    std::string line = resultLine(answer);
    bool searched = line.rfind("Found ", 0) == 0;
    std::string target = "(no target)";
    if (query.targetMs > 0) {
      target = "(target p50 < " + std::to_string(static_cast<int>(query.targetMs)) + " ms: " +
               (!searched ? "not judged, no search ran" : p50 < query.targetMs ? "met" : "MISSED") + ")";
    }
    std::printf("search %-17s %-32s p50 %8.2f ms  p95 %8.2f ms  first %8.2f ms  %s\n", query.label,
                query.command.c_str(), p50, p95, times.front(), target.c_str());
    std::string check;
    if (searched) check = std::atoi(line.c_str() + 6) == query.expected ? ", the answer agrees" : ", the answer DIFFERS";
    std::printf("       answer: %s  [files holding it: %d%s]\n", line.c_str(), query.expected, check.c_str());
  }
}

// One whole run of the program, its output thrown away: wall and CPU seconds.
struct ProcessTime {
  double wall = 0, cpu = 0;
};

ProcessTime runProcess(const std::string& program, const std::vector<std::string>& arguments,
                       const std::string& kolvoDirectory, const std::string& home, const std::string& work) {
  std::vector<std::string> command{program};
  command.insert(command.end(), arguments.begin(), arguments.end());
  kolvobench::ProcessRun run = kolvobench::runProcess(command, {"KOLVODIR=" + kolvoDirectory, "HOME=" + home}, work);
  if (run.status != 0)
    throw std::runtime_error("kolvocmd " + (arguments.empty() ? std::string() : arguments.front()) + " failed");
  return {run.wallSeconds, run.cpuSeconds};
}

// A cold start as a script meets it: "kolvocmd -r" of a file that opens the index and
// searches one rare word, a new process each time. Runs that stop earlier split its
// time: the program, its libraries and the engine library loaded (--version, which asks
// the engine its version), the command interpreter and the default index object set up
// (an empty command file), the index opened, and the search and the end of the process.
void coldStart(const std::string& program, const std::string& kolvoDirectory, const std::string& home,
               const std::string& work, int repeat) {
  const std::string empty = work + "/cold_empty.cmd", open = work + "/cold_open.cmd", find = work + "/cold_find.cmd";
  std::ofstream(empty) << "";
  std::ofstream(open) << "open default\n";
  std::ofstream(find) << "open default\nfind " << kolvobench::PlantedWords::rare << "\n";
  struct Step {
    const char* label;
    std::vector<std::string> arguments;
  };
  const Step steps[] = {
      {"process start and the libraries (--version)", {"--version"}},
      {"+ interpreter and default index object (-r empty)", {"-r", empty}},
      {"+ index open (-r open)", {"-r", open}},
      {"+ one rare-word search (-r open, find)", {"-r", find}},
  };
  std::printf("cold start: kolvocmd -r with \"open default\" and \"find %s\", medians of %d runs, each step "
              "adding to the one before:\n",
              kolvobench::PlantedWords::rare, repeat);
  // What starting any process costs through this harness, for reference: the steps
  // below include it.
  {
    std::vector<double> walls, cpus;
    for (int run = 0; run < repeat; ++run) {
      kolvobench::ProcessRun took = kolvobench::runProcess({"/bin/true"});
      walls.push_back(took.wallSeconds * 1000);
      cpus.push_back(took.cpuSeconds * 1000);
    }
    std::printf("  %-52s wall %6.2f ms           CPU %6.2f ms\n", "(a process that does nothing: /bin/true)",
                percentile(walls, 0.5), percentile(cpus, 0.5));
  }
  ProcessTime before;
  for (const Step& step : steps) {
    std::vector<double> walls, cpus;
    for (int run = 0; run < repeat; ++run) {
      ProcessTime took = runProcess(program, step.arguments, kolvoDirectory, home, work);
      walls.push_back(took.wall * 1000);
      cpus.push_back(took.cpu * 1000);
    }
    ProcessTime median{percentile(walls, 0.5), percentile(cpus, 0.5)};
    std::printf("  %-52s wall %6.2f ms (+%6.2f)  CPU %6.2f ms (+%6.2f)\n", step.label, median.wall,
                median.wall - before.wall, median.cpu, median.cpu - before.cpu);
    before = median;
  }
  std::printf("cold start: the whole run %.2f ms by the clock, %.2f ms of CPU (target 10 ms: %s)\n", before.wall,
              before.cpu, before.wall <= 10 ? "met" : "MISSED");
}

int benchmark(const Options& options) {
  kolvobench::ScratchDir scratch;
  if (scratch.slashed() == "/") throw std::runtime_error("cannot make a temporary folder");
  std::string kolvoDirectory = scratch.slashed() + "kolvo", home = scratch.slashed() + "home",
              work = scratch.slashed() + "work";
  for (const std::string& folder : {kolvoDirectory, home, work}) fs::create_directories(folder);
  // An empty skip file, so that every word counts and no skip file of the user's is found.
  std::ofstream(kolvoDirectory + "/skipfile.txt");

  kolvobench::BenchTree tree(scratch.slashed() + "tree", options.files, options.seed);
  auto start = std::chrono::steady_clock::now();
  tree.generate();
  std::printf("tree: %d files, %.1f MB of text, made in %.1f s (seed %u)\n", tree.fileCount(),
              tree.textBytes() / 1e6, kolvobench::secondsSince(start), options.seed);
  // The fresh tree's pages are written out first, so that the writing does not slow
  // whichever build comes first.
  sync();
  tree.warm();
  std::printf("program: %s\n", options.program.c_str());

  kolvobench::KolvocmdSession session(options.program, kolvoDirectory, home, work);
  session.run("addinclude *.txt");
  session.run("addroot \"" + tree.root() + "\"");
  kolvobench::KolvocmdSession::Answer built = session.run("build");
  expectCompleted(built, "build");
  double buildPeak = session.peakResidentMiB();
  std::uint64_t indexBytes = kolvobench::folderBytes(kolvoDirectory + "/indexes");
  std::printf("build: %.2f s, %.1f MB/s, %.0f files/s; kolvocmd says \"%s\"\n", built.seconds,
              tree.textBytes() / 1e6 / built.seconds, tree.fileCount() / built.seconds, lastLine(built.text).c_str());
  std::printf("build: peak RSS of kolvocmd %.0f MiB (text %.0f MiB); index %.1f MB, %.1f%% of the text\n", buildPeak,
              tree.textBytes() / 1048576.0, indexBytes / 1e6, 100.0 * indexBytes / tree.textBytes());
  if (options.engine) {
    std::string at = scratch.slashed() + "engine_build/";
    fs::create_directories(at);
    start = std::chrono::steady_clock::now();
    kidxClearIndex(kolvobench::buildEngineIndex(tree.root(), at));
    double engineSeconds = kolvobench::secondsSince(start);
    std::printf("build: the engine driven directly (as build_update_bench) %.2f s; kolvocmd took %.2f times as long\n",
                engineSeconds, built.seconds / engineSeconds);
    fs::remove_all(at);
  }

  kolvobench::waitForNextSecond();
  tree.change();
  kolvobench::KolvocmdSession::Answer updated = session.run("update");
  expectCompleted(updated, "update");
  double share = 100.0 * updated.seconds / built.seconds;
  std::printf("update: %d files changed, %d added, %d deleted: %.2f s, %.1f%% of the build; kolvocmd says \"%s\"\n",
              tree.changedFiles(), tree.addedFiles(), tree.deletedFiles(), updated.seconds, share,
              lastLine(updated.text).c_str());
  std::printf("update: peak RSS of kolvocmd so far %.0f MiB\n", session.peakResidentMiB());
  // An update first copies the current build to the next number with the program's
  // own copy routine; the same routine copies the build the update made, timed alone.
  std::string base = kolvoDirectory + "/indexes/default/";
  std::string current;
  std::ifstream(base + "current_build") >> current;
  std::string probe = scratch.slashed() + "copyprobe";
  fs::create_directories(probe);
  auto copyStart = std::chrono::steady_clock::now();
  QvKolvoIndex::copyDirectoryTree(base + "build_" + current, probe);
  double copySeconds = kolvobench::secondsSince(copyStart);
  double copyShare = 100.0 * copySeconds / updated.seconds;
  std::printf("update: copying the previous build (%.1f MB) takes %.2f s, %.1f%% of the update (target < 20%%: %s)\n",
              static_cast<double>(kolvobench::folderBytes(probe)) / 1e6, copySeconds, copyShare, copyShare < 20 ? "met" : "MISSED");
  fs::remove_all(probe);

  runQueries(session, tree, options.repeat);

  int status = session.finish();
  coldStart(options.program, kolvoDirectory, home, work, options.repeat);
  struct rusage children {};
  getrusage(RUSAGE_CHILDREN, &children);
  std::printf("kolvocmd ended with status %d; its peak RSS by getrusage %.0f MiB\n", status,
              children.ru_maxrss / 1024.0);
  return status == 0 ? 0 : 1;
}

void onEngineError(const char* code, const char* detail) {
  std::fprintf(stderr, "engine error %s %s\n", code, detail);
}

}  // namespace

int main(int argc, char** argv) {
  Options options = parseOptions(argc, argv);
  kSetThrowCallBack(onEngineError);
  kSetWarningCallBack(onEngineError);
  try {
    return benchmark(options);
  } catch (const std::exception& error) {
    std::fflush(stdout);
    std::fprintf(stderr, "kolvocmd_bench: %s\n", error.what());
    return 1;
  }
}
