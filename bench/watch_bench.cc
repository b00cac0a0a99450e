// The watch over the generated tree (100,000 files unless KOLVO_WATCH_BENCH_FILES says
// otherwise): the time from a file's change to its update line and to its words being
// found by a search, median and 95th percentile over a number of changes made one at a
// time (KOLVO_WATCH_BENCH_CHANGES, 100), with the watch's quiet period
// (KOLVO_WATCH_BENCH_QUIET_MS, 2000); the memory the watch holds while idle; and, in the
// same run, the engine's path update of one changed file against its full update, step
// by step. KOLVO_WATCH_BENCH_KEPT names a tree kept between runs (the million files in
// /var/tmp/kolvo-bench) that the index takes as a second root and that is only read:
// the changes are made in the generated tree, the cost of each update is the index's.
// KOLVO_WATCH_BENCH_DIR names a folder that keeps the generated tree and its index for
// the next run, which then starts from them instead of building again; with
// KOLVO_WATCH_BENCH_CHANGES=0 the run measures the engine's updates only.
#include <poll.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "app/platform/file_copy.h"
#include "bench/bench_tree.h"
#include "bench/engine_build.h"
#include "bench/table_bench_support.h"
#include "include/kolvolib.h"

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

namespace {

constexpr double macOffset = 2082844800.0;

int fromEnvironment(const char* name, int fallback) {
  const char* value = std::getenv(name);
  return value && *value ? std::atoi(value) : fallback;
}

double percentile(std::vector<double> values, double share) {
  if (values.empty()) return 0;
  std::sort(values.begin(), values.end());
  size_t at = static_cast<size_t>(share * static_cast<double>(values.size() - 1) + 0.5);
  return values[std::min(at, values.size() - 1)];
}

// A field of /proc/<pid>/status in MiB ("VmRSS:", "VmHWM:").
double statusMiB(pid_t pid, const std::string& field) {
  std::ifstream status("/proc/" + std::to_string(pid) + "/status");
  std::string line;
  while (std::getline(status, line))
    if (line.rfind(field, 0) == 0) return std::stod(line.substr(field.size())) / 1024.0;
  return 0;
}

// User and system seconds a process has used so far.
double cpuSeconds(pid_t pid) {
  std::ifstream stat("/proc/" + std::to_string(pid) + "/stat");
  std::string text((std::istreambuf_iterator<char>(stat)), std::istreambuf_iterator<char>());
  size_t close = text.rfind(')');
  if (close == std::string::npos) return 0;
  std::vector<std::string> fields;
  std::string field;
  for (size_t i = close + 2; i <= text.size(); ++i) {
    if (i == text.size() || text[i] == ' ') {
      fields.push_back(field);
      field.clear();
    } else {
      field += text[i];
    }
  }
  // utime and stime are the 14th and 15th fields, the 12th and 13th after the name.
  if (fields.size() < 13) return 0;
  return (std::stod(fields[11]) + std::stod(fields[12])) / static_cast<double>(sysconf(_SC_CLK_TCK));
}

// "kolvocmd bench -r settings -w", its output read line by line.
class WatchProcess {
 public:
  WatchProcess(const std::string& kolvo, const std::string& home, const std::string& settings) {
    int ends[2];
    if (pipe(ends) != 0) throw std::runtime_error("pipe");
    pid = fork();
    if (pid == 0) {
      dup2(ends[1], 1);
      dup2(ends[1], 2);
      setenv("KOLVODIR", kolvo.c_str(), 1);
      setenv("HOME", home.c_str(), 1);
      execl(KOLVOCMD_PATH, KOLVOCMD_PATH, "bench", "-r", settings.c_str(), "-w", static_cast<char*>(nullptr));
      _exit(127);
    }
    close(ends[1]);
    output = ends[0];
  }
  ~WatchProcess() {
    if (pid > 0) {
      kill(pid, SIGKILL);
      waitpid(pid, nullptr, 0);
    }
    close(output);
  }
  // The next line holding text; raises after timeoutSeconds.
  std::string waitFor(const std::string& text, int timeoutSeconds) {
    Clock::time_point deadline = Clock::now() + std::chrono::seconds(timeoutSeconds);
    for (;;) {
      for (size_t end; (end = pending.find('\n')) != std::string::npos;) {
        std::string line = pending.substr(0, end);
        pending.erase(0, end + 1);
        if (line.find(text) != std::string::npos) return line;
        if (line.rfind("WARNING", 0) == 0 || line.rfind("ERROR", 0) == 0) std::fprintf(stderr, "%s\n", line.c_str());
      }
      auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
      pollfd ready{output, POLLIN, 0};
      if (left <= 0 || poll(&ready, 1, static_cast<int>(left)) <= 0) throw std::runtime_error("no line with " + text);
      char buffer[4096];
      ssize_t got = read(output, buffer, sizeof buffer);
      if (got <= 0) throw std::runtime_error("the watch ended");
      pending.append(buffer, static_cast<size_t>(got));
    }
  }
  int stop() {
    kill(pid, SIGTERM);
    int status = 0;
    waitpid(pid, &status, 0);
    pid = -1;
    return status;
  }
  pid_t pid = -1;

 private:
  int output = -1;
  std::string pending;
};

// A word no file holds: letters only, one per change.
std::string markWord(int i) {
  std::string word = "zqwatch";
  for (int k = 0; k < 4; ++k, i /= 26) word += static_cast<char>('a' + i % 26);
  return word;
}

// The seconds an update line gives ("... in 0.123 seconds").
double lineSeconds(const std::string& line) {
  size_t in = line.rfind(" in ");
  return in == std::string::npos ? 0 : std::atof(line.c_str() + in + 4);
}

double cpuOfSelf() {
  struct rusage self {};
  getrusage(RUSAGE_SELF, &self);
  return static_cast<double>(self.ru_utime.tv_sec + self.ru_stime.tv_sec) +
         static_cast<double>(self.ru_utime.tv_usec + self.ru_stime.tv_usec) / 1e6;
}

// The steps of one update; cpu is the CPU time to the stored build.
struct EngineUpdate {
  double start = 0, open = 0, pass = 0, compress = 0, store = 0, remove = 0, cpu = 0;
  // Until the new build is the index: the removal of the build before comes after,
  // where watch does it once it has told the update, and nobody waits for it.
  double total() const { return start + open + pass + compress + store; }
};

// One update through the engine, as kolvocmd makes it: a new build at "at" started from
// the one at "from" (the links linked, the rest copied as kolvocmd copies them), the named path only or the full
// update since timeBase, link compression, store, and the build removed again as the
// previous build is after an update.
EngineUpdate engineUpdate(const std::string& from, const std::string& at, const std::string* path, double timeBase) {
  fs::remove_all(at);
  EngineUpdate times;
  double cpu = cpuOfSelf();
  Clock::time_point step = Clock::now();
  fs::create_directories(at);
  for (const fs::directory_entry& entry : fs::directory_iterator(from)) {
    fs::path target = fs::path(at) / entry.path().filename();
    if (entry.path().filename() == "links")
      fs::create_hard_link(entry.path(), target);
    else if (entry.is_regular_file())
      qvCopyFileContents(entry.path().string(), target.string());
    else
      fs::copy(entry.path(), target, fs::copy_options::recursive);
  }
  times.start = kolvobench::secondsSince(step);
  step = Clock::now();
  CKolvoIndex* index = kCreateNewIndex(0, at.c_str());
  kolvobench::configureEngineIndex(index);
  kidxSetTimeBase(index, timeBase + macOffset);
  times.open = kolvobench::secondsSince(step);
  step = Clock::now();
  if (path) {
    const char* paths[] = {path->c_str()};
    kidxUpdatePaths(index, paths, 1);
  } else {
    kidxPrune(index);
  }
  times.pass = kolvobench::secondsSince(step);
  step = Clock::now();
  kidxCompressLinks(index);
  times.compress = kolvobench::secondsSince(step);
  step = Clock::now();
  kidxStoreStorage(index, at.c_str());
  kidxClearIndex(index);
  times.store = kolvobench::secondsSince(step);
  times.cpu = cpuOfSelf() - cpu;
  step = Clock::now();
  fs::remove_all(at);
  times.remove = kolvobench::secondsSince(step);
  return times;
}

// One run of kolvocmd with the arguments and the input given; what it printed.
std::string runKolvocmd(const std::string& kolvo, const std::string& home, const std::string& arguments,
                        const std::string& input) {
  std::ofstream(home + "/input") << input;
  std::string command = "cd '" + home + "' && KOLVODIR='" + kolvo + "' HOME='" + home + "' '" KOLVOCMD_PATH "' " +
                        arguments + " <input >output 2>&1";
  if (std::system(command.c_str()) != 0) std::fprintf(stderr, "kolvocmd %s failed\n", arguments.c_str());
  std::ifstream output(home + "/output");
  return std::string((std::istreambuf_iterator<char>(output)), std::istreambuf_iterator<char>());
}

// The watch over the index: its idle memory and CPU, then changes made one at a time,
// each waited for until a new kolvocmd finds its word.
void watchChanges(const kolvobench::BenchTree& tree, const std::string& kolvo, const std::string& home, int changes,
                  int quietMs) {
  const int fileCount = tree.fileCount();
  WatchProcess watch(kolvo, home, home + "/settings");
  std::string started = watch.waitFor("watching ", 600);
  std::string first = watch.waitFor("full update (start)", 600);
  std::printf("%s\n%s\n", started.c_str(), first.c_str());
  // Idle: the watch waits for events only.
  std::this_thread::sleep_for(std::chrono::seconds(3));
  double idleCpuBefore = cpuSeconds(watch.pid);
  std::this_thread::sleep_for(std::chrono::seconds(5));
  double idleCpu = cpuSeconds(watch.pid) - idleCpuBefore;
  std::printf("idle watch: resident %.1f MiB (peak so far %.1f MiB), CPU %.3f s over 5 s idle\n",
              statusMiB(watch.pid, "VmRSS:"), statusMiB(watch.pid, "VmHWM:"), idleCpu);

  std::vector<double> toLine, toFound, updates;
  double cpuBefore = cpuSeconds(watch.pid);
  Clock::time_point changesBegan = Clock::now();
  for (int i = 0; i < changes; ++i) {
    std::string word = markWord(i);
    std::string file = tree.fileName(static_cast<int>((i * 7919LL + 17) % fileCount));
    Clock::time_point changed = Clock::now();
    std::ofstream(file, std::ios::binary | std::ios::trunc) << "a watched change " << word << "\n";
    std::string line = watch.waitFor(file, 120);
    toLine.push_back(kolvobench::secondsSince(changed));
    updates.push_back(lineSeconds(line));
    // A search as a user makes it: a new kolvocmd that opens the index.
    std::string found = runKolvocmd(kolvo, home, "bench -j " + word, "");
    toFound.push_back(kolvobench::secondsSince(changed));
    if (found.find(file) == std::string::npos)
      std::fprintf(stderr, "change %d: %s not found: %s\n", i, word.c_str(), found.c_str());
  }
  double watchCpu = cpuSeconds(watch.pid) - cpuBefore;
  double changesWall = kolvobench::secondsSince(changesBegan);
  std::printf("%d changes, one at a time, quiet period %d ms:\n", changes, quietMs);
  std::printf("  change to update line:  median %.3f s, p95 %.3f s\n", percentile(toLine, 0.5),
              percentile(toLine, 0.95));
  std::printf("  change to found by a new kolvocmd -j: median %.3f s, p95 %.3f s\n", percentile(toFound, 0.5),
              percentile(toFound, 0.95));
  std::printf("  the update itself (copy of the build, path update, store): median %.3f s, p95 %.3f s\n",
              percentile(updates, 0.5), percentile(updates, 0.95));
  std::printf("  watch CPU %.2f s over %.1f s wall; watch peak resident %.1f MiB\n", watchCpu, changesWall,
              statusMiB(watch.pid, "VmHWM:"));
  watch.stop();
}

void onError(const char* code, const char* detail) { std::fprintf(stderr, "engine: %s %s\n", code, detail); }

}  // namespace

int main() {
  const int fileCount = fromEnvironment("KOLVO_WATCH_BENCH_FILES", 100000);
  const int changes = fromEnvironment("KOLVO_WATCH_BENCH_CHANGES", 100);
  const int quietMs = fromEnvironment("KOLVO_WATCH_BENCH_QUIET_MS", 2000);
  kSetThrowCallBack(onError);
  kSetWarningCallBack(onError);
  kolvobench::ScratchDir scratch;
  const char* keptDir = std::getenv("KOLVO_WATCH_BENCH_DIR");
  const std::string work = keptDir && *keptDir ? std::string(keptDir) + "/" : scratch.slashed();
  const std::string home = work + "home", kolvo = work + "kolvo";
  const std::string root = work + "tree";
  const bool reused = fs::exists(kolvo + "/indexes/bench/current_build") && fs::is_directory(root);
  fs::create_directories(home);
  fs::create_directories(kolvo);
  std::ofstream(kolvo + "/skipfile.txt") << "";
  std::ofstream(home + "/settings") << "setvalue watchQuiet " << quietMs << "\n";
  const char* kept = std::getenv("KOLVO_WATCH_BENCH_KEPT");
  std::string keptRoot = kept && *kept ? kept : "";
  if (!keptRoot.empty() && !fs::is_directory(keptRoot)) {
    std::fprintf(stderr, "no tree at %s\n", keptRoot.c_str());
    return 1;
  }

  kolvobench::BenchTree tree(root, fileCount);
  Clock::time_point start = Clock::now();
  if (reused) {
    std::printf("tree and index kept in %s: no build\n", work.c_str());
  } else {
    tree.generate();
    sync();
    tree.warm();
    std::printf("tree: %d files, %.1f MB of text, made in %.1f s\n", fileCount, tree.textBytes() / 1e6,
                kolvobench::secondsSince(start));
    start = Clock::now();
    std::string roots = "addroot " + root + "\n";
    if (!keptRoot.empty()) roots += "addroot " + keptRoot + "\n";
    runKolvocmd(kolvo, home, "", "new bench\n" + roots + "addinclude *.txt\nbuild\nquit\n");
    std::printf("kolvocmd build%s%s: %.1f s wall\n", keptRoot.empty() ? "" : " with the kept tree ",
                keptRoot.c_str(), kolvobench::secondsSince(start));
  }
  {
    std::string base = kolvo + "/indexes/bench/", build;
    std::ifstream(base + "current_build") >> build;
    std::uintmax_t bytes = 0;
    for (const auto& entry : fs::recursive_directory_iterator(base + "build_" + build))
      if (entry.is_regular_file()) bytes += entry.file_size();
    std::printf("index: %.1f MB\n", static_cast<double>(bytes) / 1e6);
  }

  if (changes > 0) watchChanges(tree, kolvo, home, changes, quietMs);


  // The engine alone, on copies of the last build: one changed file by its path against
  // the full update since just before the change.
  std::string base = kolvo + "/indexes/bench/";
  std::string build;
  std::ifstream(base + "current_build") >> build;
  const std::string from = base + "build_" + build + "/";
  std::vector<EngineUpdate> named, full;
  const int rounds = fromEnvironment("KOLVO_WATCH_BENCH_ROUNDS", 3);
  for (int round = 0; round < rounds; ++round) {
    std::this_thread::sleep_for(std::chrono::milliseconds(1100));
    double before = static_cast<double>(std::time(nullptr)) - 1;
    std::string file = tree.fileName(static_cast<int>((round * 104729LL + 5) % fileCount));
    std::ofstream(file, std::ios::binary | std::ios::trunc) << "an engine change " << markWord(10000 + round) << "\n";
    named.push_back(engineUpdate(from, scratch.slashed() + "named/", &file, before));
    full.push_back(engineUpdate(from, scratch.slashed() + "full/", nullptr, before));
  }
  auto median = [](const std::vector<EngineUpdate>& runs, auto&& value) {
    std::vector<double> values;
    for (const EngineUpdate& run : runs) values.push_back(value(run));
    return percentile(values, 0.5);
  };
  std::printf("engine, one changed file, median of %d (seconds): %10s %10s\n", rounds, "path", "full");
  const std::pair<const char*, double EngineUpdate::*> steps[] = {
      {"new build (link + copy)", &EngineUpdate::start}, {"open", &EngineUpdate::open},
      {"pass", &EngineUpdate::pass},  {"link compression", &EngineUpdate::compress},
      {"store", &EngineUpdate::store}, {"(after) remove a build", &EngineUpdate::remove}};
  for (const auto& [name, step] : steps) {
    auto of = [step](const EngineUpdate& run) { return run.*step; };
    std::printf("  %-24s %10.4f %10.4f\n", name, median(named, of), median(full, of));
  }
  auto whole = [](const EngineUpdate& run) { return run.total(); };
  auto pass = [](const EngineUpdate& run) { return run.pass; };
  double pathMedian = median(named, whole), fullMedian = median(full, whole);
  std::printf("  %-24s %10.4f %10.4f: the path update %.1fx cheaper (pass alone %.1fx)\n", "whole", pathMedian,
              fullMedian, pathMedian > 0 ? fullMedian / pathMedian : 0,
              median(named, pass) > 0 ? median(full, pass) / median(named, pass) : 0);
  auto cpu = [](const EngineUpdate& run) { return run.cpu; };
  std::printf("  whole is the time until the new build is the index; the removal after is not in it\n");
  std::printf("  CPU to the stored build, median: path %.4f s, full %.4f s\n", median(named, cpu), median(full, cpu));
  struct rusage children {};
  getrusage(RUSAGE_CHILDREN, &children);
  std::printf("CPU: this program %.1f s (engine updates, tree), its children %.1f s\n", cpuOfSelf(),
              static_cast<double>(children.ru_utime.tv_sec + children.ru_stime.tv_sec) +
                  static_cast<double>(children.ru_utime.tv_usec + children.ru_stime.tv_usec) / 1e6);
  double load[3] = {0, 0, 0};
  if (getloadavg(load, 3) == 3) std::printf("load average: %.2f %.2f %.2f\n", load[0], load[1], load[2]);
  return 0;
}
