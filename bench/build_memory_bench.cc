// Where the memory of a build goes: one build of the generated tree of 100,000 text
// files (about 400 MB) through the engine, with a thread sampling the resident set all
// along. It prints the peak of each step (walk, link compression, store) split into the
// heap and each mapped table, and the sizes of the in-memory structures at the walk's
// end. A folder given as the first argument keeps the tree between runs; a count given
// as the second sets the threads of the link fill.
#include <malloc.h>
#include <sys/resource.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cctype>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "bench/bench_tree.h"
#include "bench/engine_build.h"
#include "bench/table_bench_support.h"
#include "engine/index/kolvo_index.h"
#include "include/kolvolib.h"

namespace {

constexpr int fileCount = 100000;
constexpr double mib = 1024.0 * 1024.0;

// The resident set as the kernel splits it: anonymous memory (the heap, thread stacks)
// and file pages (the mapped tables, the program's code).
struct Resident {
  double total = 0, anon = 0, file = 0;
};

Resident residentNow() {
  Resident now;
  std::ifstream status("/proc/self/status");
  std::string line;
  auto field = [&](const char* name, double& into) {
    if (line.rfind(name, 0) == 0) into = std::stod(line.substr(std::strlen(name))) / 1024.0;
  };
  while (std::getline(status, line)) {
    field("VmRSS:", now.total);
    field("RssAnon:", now.anon);
    field("RssFile:", now.file);
  }
  return now;
}

// The resident MiB of each mapping of a file in folder, by the file's name.
std::map<std::string, double> mappedTables(const std::string& folder) {
  std::map<std::string, double> tables;
  std::ifstream smaps("/proc/self/smaps");
  std::string line, current;
  while (std::getline(smaps, line)) {
    size_t at = line.find(folder);
    if (at != std::string::npos) {
      current = line.substr(at + folder.size());
      continue;
    }
    if (line.rfind("Rss:", 0) == 0) {
      if (!current.empty()) tables[current] += std::stod(line.substr(4)) / 1024.0;
      continue;
    }
    // Another mapping starts with its address range.
    if (!line.empty() && std::isxdigit(static_cast<unsigned char>(line[0])) && line.find('-') < 17 &&
        line.find(':') > line.find(' '))
      current.clear();
  }
  return tables;
}

// The peak of one step, with what made it up when it was reached.
struct Peak {
  Resident resident;
  double heapInUse = 0;  // what malloc has handed out and not had back
  std::map<std::string, double> tables;
};

class Sampler {
 public:
  explicit Sampler(std::string folder) : indexFolder(std::move(folder)), thread([this] { run(); }) {}
  ~Sampler() {
    stopping = true;
    thread.join();
  }
  void startStep(const std::string& name) {
    std::lock_guard<std::mutex> hold(lock);
    step = name;
    order.push_back(name);
  }
  std::map<std::string, Peak> peaks() {
    std::lock_guard<std::mutex> hold(lock);
    return byStep;
  }
  std::vector<std::string> steps() {
    std::lock_guard<std::mutex> hold(lock);
    return order;
  }

 private:
  void run() {
    while (!stopping) {
      Resident now = residentNow();
      std::unique_lock<std::mutex> hold(lock);
      Peak& peak = byStep[step];
      // The breakdown is costly: only a peak a little above the last one takes it.
      if (now.total > peak.resident.total + 0.5) {
        std::string name = step;
        hold.unlock();
        struct mallinfo2 heap = mallinfo2();
        auto tables = mappedTables(indexFolder);
        hold.lock();
        Peak& same = byStep[name];
        same.resident = now;
        same.heapInUse = static_cast<double>(heap.uordblks + heap.hblkhd) / mib;
        same.tables = std::move(tables);
      }
      hold.unlock();
      std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
  }

  std::string indexFolder;
  std::mutex lock;
  std::string step = "start";
  std::vector<std::string> order{"start"};
  std::map<std::string, Peak> byStep;
  std::atomic<bool> stopping{false};
  std::thread thread;
};

double cpuSeconds() {
  struct rusage usage {};
  getrusage(RUSAGE_SELF, &usage);
  return static_cast<double>(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
         static_cast<double>(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

void onError(const char* code, const char* detail) { std::fprintf(stderr, "engine: %s %s\n", code, detail); }

}  // namespace

int main(int argc, char** argv) {
  kSetThrowCallBack(onError);
  kSetWarningCallBack(onError);
  kolvobench::ScratchDir scratch;
  std::string root = argc > 1 ? std::string(argv[1]) : scratch.slashed() + "tree";
  kolvobench::BenchTree tree(root, fileCount);
  // A kept tree is whole once its mark is written, after the last file.
  std::string mark = root + "/.complete";
  if (!std::filesystem::exists(mark)) {
    std::filesystem::remove_all(root);
    tree.generate();
    std::ofstream(mark) << "made\n";
    sync();
  }
  tree.warm();

  // What the benchmark itself holds (the tree's vocabulary) before the engine starts.
  double ownHeap = static_cast<double>(mallinfo2().uordblks + mallinfo2().hblkhd) / mib;
  std::string at = scratch.slashed() + "build/";
  std::filesystem::create_directories(at);
  Sampler sampler(at);
  auto started = std::chrono::steady_clock::now();
  double cpuStarted = cpuSeconds();

  CKolvoIndex* index = kCreateNewIndex(1, at.c_str());
  kolvobench::configureEngineIndex(index);
  // A second argument sets the threads of the link fill, to weigh them against one.
  if (argc > 2) index->linkFillThreads = static_cast<unsigned>(std::stoul(argv[2]));
  kidxEmptyIndex(index);
  kidxNewFileLinks(index);
  kulong entry = kfsAddFile(kidxGetFiles(index), root.c_str());
  sampler.startStep("walk");
  kidxIndexDirectory(index, root.c_str(), entry);
  double walkSeconds = kolvobench::secondsSince(started);
  double walkCpu = cpuSeconds() - cpuStarted;
  size_t accelerator = index->words->acceleratorBytes();
  uint32_t wordCount = index->words->getEntryCount();
  sampler.startStep("compress");
  kidxCompressLinks(index);
  double compressSeconds = kolvobench::secondsSince(started) - walkSeconds;
  double compressCpu = cpuSeconds() - cpuStarted - walkCpu;
  sampler.startStep("store");
  kidxStoreStorage(index, at.c_str());
  double buildSeconds = kolvobench::secondsSince(started);
  double buildCpu = cpuSeconds() - cpuStarted;
  sampler.startStep("end");
  std::this_thread::sleep_for(std::chrono::milliseconds(20));

  std::printf("build: %.2f s (walk %.2f s), %.2f s of CPU (walk %.2f s); %u words, %u files\n", buildSeconds,
              walkSeconds, buildCpu, walkCpu, wordCount, index->filesIndexed);
  std::printf("link compression: %.2f s, %.2f s of CPU, fill on %u threads\n", compressSeconds, compressCpu,
              index->linkFillThreads);
  std::printf("build: peak RSS %.0f MiB (target <= 128 MiB)\n", kolvobench::peakResidentMiB());
  std::printf("before the build: heap in use %.1f MiB (the benchmark's own)\n", ownHeap);
  std::printf("at the walk's end: word accelerator %.1f MiB\n", accelerator / mib);
  auto peaks = sampler.peaks();
  for (const std::string& step : sampler.steps()) {
    const Peak& peak = peaks[step];
    std::printf("%-9s peak %6.1f MiB: anon %6.1f, file %6.1f, heap in use %6.1f;", step.c_str(),
                peak.resident.total, peak.resident.anon, peak.resident.file, peak.heapInUse);
    for (auto& [table, resident] : peak.tables) std::printf(" %s %.1f", table.c_str(), resident);
    std::printf("\n");
  }
  kidxClearIndex(index);
  return 0;
}
