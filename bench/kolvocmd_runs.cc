#include "bench/kolvocmd_runs.h"

#include <algorithm>
#include <cstdlib>
#include <fstream>
#include <stdexcept>

#include "bench/table_bench_support.h"

namespace kolvobench {

namespace fs = std::filesystem;

std::string programPath(const char* variable, const fs::path& besideBench, const char* built) {
  if (const char* named = std::getenv(variable); named && *named) return named;
  std::error_code ignored;
  fs::path self = fs::read_symlink("/proc/self/exe", ignored);
  fs::path beside = self.parent_path() / besideBench;
  return !self.empty() && fs::exists(beside) ? beside.lexically_normal().string() : built;
}

ProcessRun Timing::add(ProcessRun run) {
  wall.push_back(run.wallSeconds);
  cpu.push_back(run.cpuSeconds);
  peak.push_back(run.peakMiB);
  return run;
}

double Timing::median(std::vector<double> values) {
  if (values.empty()) return 0;
  std::sort(values.begin(), values.end());
  std::size_t half = values.size() / 2;
  return values.size() % 2 ? values[half] : (values[half - 1] + values[half]) / 2;
}

std::vector<PlantedQuery> plantedQueries(const BenchTree& tree) {
  PlantedCounts counts = tree.planted();
  std::string a = PlantedWords::commonA, b = PlantedWords::commonB;
  return {{"rare word", PlantedWords::rare, counts.rare},
          {"common word", a, counts.commonA},
          {"AND", a + " " + b, counts.commonBoth},
          {"phrase", std::string("\"") + PlantedWords::pairFirst + " " + PlantedWords::pairSecond + "\"",
           counts.pairAdjacent},
          {"prefix", std::string(PlantedWords::prefix) + "*", counts.prefixed}};
}

KolvocmdRuns::KolvocmdRuns(std::string program, const std::string& folder)
    : program(std::move(program)), kolvoDirectory(folder + "/kolvo"), home(folder + "/home"),
      commandFile(folder + "/commands") {
  fs::create_directories(kolvoDirectory);
  fs::create_directories(home);
  std::ofstream(kolvoDirectory + "/skipfile.txt");
}

ProcessRun KolvocmdRuns::run(const std::string& commands, const std::string& expected) {
  std::ofstream(commandFile) << commands;
  ProcessRun done = runProcess({program, "-r", commandFile}, {"KOLVODIR=" + kolvoDirectory, "HOME=" + home}, home);
  if (done.status != 0 || (!expected.empty() && done.output.find(expected) == std::string::npos))
    throw std::runtime_error("kolvocmd failed (status " + std::to_string(done.status) + ") on:\n" + commands +
                             "it printed:\n" + done.output);
  return done;
}

ProcessRun KolvocmdRuns::build(const std::string& root, const std::vector<std::string>& includes) {
  fs::remove_all(kolvoDirectory + "/indexes");
  std::string commands;
  for (const std::string& include : includes) commands += "addinclude " + include + "\n";
  return run(commands + "addroot " + root + "\nbuild\n", "build completed");
}

ProcessRun KolvocmdRuns::update() { return run("open default\nupdate\n", "update completed"); }

ProcessRun KolvocmdRuns::find(const std::string& words) {
  return run("open default\nfind " + words + "\nlistresults\n", "Found ");
}

std::set<std::string> KolvocmdRuns::foundFiles(const std::string& output) {
  std::set<std::string> files;
  bool inResults = false;
  std::size_t at = 0;
  while (at < output.size()) {
    std::size_t end = std::min(output.find('\n', at), output.size());
    std::string line = output.substr(at, end - at);
    at = end + 1;
    if (line == "<RESULTS>") {
      inResults = true;
    } else if (line == "</RESULTS>") {
      inResults = false;
    } else if (inResults) {
      // Each result line holds the name, a tab and the folder, then more.
      std::size_t tab = line.find('\t'), next = line.find('\t', tab + 1);
      if (tab != std::string::npos) files.insert(line.substr(tab + 1, next - tab - 1) + line.substr(0, tab));
    }
  }
  return files;
}

std::uint64_t KolvocmdRuns::indexBytes() const {
  std::string base = kolvoDirectory + "/indexes/default/", number;
  std::ifstream(base + "current_build") >> number;
  return folderBytes(base + "build_" + number);
}

}  // namespace kolvobench
