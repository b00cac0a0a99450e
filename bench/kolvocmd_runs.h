// kolvocmd run as a whole process for each step, as a script or a user at a shell runs
// it: "kolvocmd -r FILE" with a command file, in a kolvo directory of its own. The race
// against SQLite FTS5 and the million-file benchmark time builds, updates and searches
// this way, over a generated tree whose planted words give each search's answer.
#pragma once

#include <cstdint>
#include <filesystem>
#include <set>
#include <string>
#include <vector>

#include "bench/bench_tree.h"
#include "bench/process_run.h"

namespace kolvobench {

// The path of a program: $variable when set, else besideBench taken from the folder of
// this benchmark program when it is there, else built (the path the build gave).
std::string programPath(const char* variable, const std::filesystem::path& besideBench, const char* built);

// Wall time, CPU time and peak memory of repeated runs of one step, and their medians.
struct Timing {
  std::vector<double> wall, cpu, peak;
  // Answers the run, so that a step can be timed where it is taken.
  ProcessRun add(ProcessRun run);
  static double median(std::vector<double> values);
  double wallMedian() const { return median(wall); }
  double cpuMedian() const { return median(cpu); }
  double peakMedian() const { return median(peak); }
};

// The five searches of the benchmarks, each with the files the tree planted it in. The
// words are those of "find" and, written the same, of an FTS5 query.
struct PlantedQuery {
  const char* label;
  std::string words;
  int planted;
};
std::vector<PlantedQuery> plantedQueries(const BenchTree& tree);

class KolvocmdRuns {
 public:
  // Makes the kolvo directory, a home and the command files below folder; an empty
  // skip file makes every word count.
  KolvocmdRuns(std::string program, const std::string& folder);

  // Writes commands to a file and runs "kolvocmd -r" on it; raises std::runtime_error
  // when the program fails, or when expected is given and not in its output.
  ProcessRun run(const std::string& commands, const std::string& expected = "");
  // A fresh build of root with the given include lines ("*.txt", "*.html html").
  ProcessRun build(const std::string& root, const std::vector<std::string>& includes);
  ProcessRun update();
  // Opens the index, searches and lists every file found.
  ProcessRun find(const std::string& words);
  // The paths a find listed.
  static std::set<std::string> foundFiles(const std::string& output);
  // The bytes of the current build of the index.
  std::uint64_t indexBytes() const;

 private:
  std::string program, kolvoDirectory, home, commandFile;
};

}  // namespace kolvobench
