// Build and update through the C interface over a generated tree of 100,000 text files
// (about 400 MB of Zipf-distributed words, 100 files a folder): throughput, memory and
// index size of the build; the update after 1% of the files change, 100 are added and
// 100 deleted, against the build; and the updated index checked against a fresh build.
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <cmath>
#include <cstring>
#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "bench/bench_tree.h"
#include "bench/engine_build.h"
#include "bench/table_bench_support.h"
#include "include/kolvolib.h"

namespace {

constexpr int fileCount = 100000;
constexpr double macOffset = 2082844800.0;

double rssOf(const char* field) {
  std::ifstream status("/proc/self/status");
  std::string line;
  while (std::getline(status, line))
    if (line.rfind(field, 0) == 0) return std::stod(line.substr(std::string(field).size())) / 1024.0;
  return 0;
}

uint64_t folderBytes(const std::string& folder) {
  uint64_t total = 0;
  for (auto& entry : std::filesystem::directory_iterator(folder)) total += entry.file_size();
  return total;
}

// Every word with the paths of its live files.
std::map<std::string, std::set<std::string>> wordFiles(CKolvoIndex* index) {
  std::map<std::string, std::set<std::string>> all;
  CTextStorage* words = kidxGetWords(index);
  CFileStorage* files = kidxGetFiles(index);
  CFileLinks* links = kidxGetLinks(index);
  auto pathOf = [&](kulong file) -> std::string {
    KolvoFileInfo* info = kfsGetInfo(files, file);
    const char* name = kfiGetFileName(info);
    if (!name || static_cast<unsigned char>(name[0]) == 0xFF) return "";
    kulong parent = kfiGetFileParentID(info);
    const char* folder = parent ? kfiGetFileName(kfsGetInfo(files, parent)) : "";
    return std::string(folder) + "/" + name;
  };
  for (kulong word = ktsGetFirst(words); word; word = ktsGetNext(words, word)) {
    auto* data = static_cast<const unsigned char*>(ktsGetData(words, word));
    kulong current, head;
    std::memcpy(&current, data, 4);
    std::memcpy(&head, data + 8, 4);
    std::set<std::string>& paths = all[ktsGetText(words, word)];
    if (std::string p = pathOf(current); !p.empty()) paths.insert(p);
    kulong cursor[2] = {head, 0};
    while (cursor[0]) {
      while (kulong file = kflGetFile(links, cursor))
        if (std::string p = pathOf(file); !p.empty()) paths.insert(p);
      cursor[0] = kflGetNextList(links, cursor[0]);
    }
    if (paths.empty()) all.erase(ktsGetText(words, word));
  }
  return all;
}

void onError(const char* code, const char* detail) { std::fprintf(stderr, "engine error %s %s\n", code, detail); }


double median(std::vector<double> values) {
  std::sort(values.begin(), values.end());
  return values[values.size() / 2];
}

std::string listed(const std::vector<double>& values) {
  std::string text;
  for (double value : values) {
    char figure[32];
    std::snprintf(figure, sizeof figure, "%s%.2f", text.empty() ? "" : ", ", value);
    text += figure;
  }
  return text;
}

// One update of the index in at, timed step by step: open, prune, compress, store.
struct UpdateTimes {
  double open = 0, prune = 0, compress = 0, store = 0;
  double total() const { return open + prune + compress + store; }
};

UpdateTimes updateIndex(const std::string& at, double buildStarted) {
  UpdateTimes times;
  auto start = std::chrono::steady_clock::now();
  CKolvoIndex* index = kCreateNewIndex(0, at.c_str());
  kolvobench::configureEngineIndex(index);
  kidxSetTimeBase(index, buildStarted - 1 + macOffset);
  times.open = kolvobench::secondsSince(start);
  start = std::chrono::steady_clock::now();
  kidxPrune(index);
  times.prune = kolvobench::secondsSince(start);
  start = std::chrono::steady_clock::now();
  kidxCompressLinks(index);
  times.compress = kolvobench::secondsSince(start);
  start = std::chrono::steady_clock::now();
  kidxStoreStorage(index, at.c_str());
  times.store = kolvobench::secondsSince(start);
  kidxClearIndex(index);
  return times;
}

}  // namespace

// The machine's speed varies from run to run: the build and the update are each run three
// times, and the share compares their medians.
int main() {
  constexpr int rounds = 3;
  kSetThrowCallBack(onError);
  kSetWarningCallBack(onError);
  kolvobench::ScratchDir scratch;
  std::string root = scratch.slashed() + "tree";
  kolvobench::BenchTree tree(root, fileCount);
  auto start = std::chrono::steady_clock::now();
  tree.generate();
  uint64_t textBytes = tree.textBytes();
  std::printf("tree: %d files, %.1f MB of text, made in %.1f s\n", fileCount, textBytes / 1e6,
              kolvobench::secondsSince(start));
  // The tree's own writing reaches the disk first, so the build is not charged for it,
  // and the page cache is warm, as the target asks.
  sync();
  tree.warm();

  std::vector<double> builds;
  double buildStarted = static_cast<double>(time(nullptr));
  std::string buildDir;
  for (int round = 1; round <= rounds; ++round) {
    buildDir = scratch.slashed() + "build_" + std::to_string(round) + "/";
    std::filesystem::create_directories(buildDir);
    start = std::chrono::steady_clock::now();
    CKolvoIndex* index = kolvobench::buildEngineIndex(root, buildDir);
    builds.push_back(kolvobench::secondsSince(start));
    if (round == 1) {
      double anon = rssOf("RssAnon:"), mapped = rssOf("RssFile:");
      std::printf("build: peak RSS %.0f MiB (target <= %.0f MiB, the text); at its end heap %.0f MiB, mapped %.0f MiB\n",
                  kolvobench::peakResidentMiB(), textBytes / 1048576.0, anon, mapped);
      std::printf("build: index %.1f MB, %.1f%% of the text\n", folderBytes(buildDir) / 1e6,
                  100.0 * folderBytes(buildDir) / textBytes);
    }
    kidxClearIndex(index);
    // Each build leaves its index behind; only the last one is updated.
    if (round < rounds) std::filesystem::remove_all(buildDir);
    sync();
  }
  double buildSeconds = median(builds);
  std::printf("build: %.2f s median of %s; %.1f MB/s, %.0f files/s\n", buildSeconds, listed(builds).c_str(),
              textBytes / 1e6 / buildSeconds, fileCount / buildSeconds);

  // 1% touched with new text, 100 added, 100 deleted; each update starts from a copy of
  // the same build.
  tree.change();
  std::vector<std::string> copies;
  for (int round = 1; round <= rounds; ++round) {
    copies.push_back(scratch.slashed() + "update_" + std::to_string(round) + "/");
    std::filesystem::copy(buildDir, copies.back());
  }
  // Neither the copies nor the changed files are still being written out.
  sync();
  uint64_t linksBefore = std::filesystem::file_size(buildDir + "links");

  std::vector<double> updates;
  for (const std::string& copy : copies) {
    UpdateTimes times = updateIndex(copy, buildStarted);
    updates.push_back(times.total());
    std::printf("update: %.3f s (open %.3f, prune %.3f, compress %.3f, store %.3f)\n", times.total(), times.open,
                times.prune, times.compress, times.store);
  }
  double updateSeconds = median(updates);
  uint64_t linksAfter = std::filesystem::file_size(copies.front() + "links");
  std::printf("update: %.2f s median, %.1f%% of the build's median (target <= 5%%)\n", updateSeconds,
              100.0 * updateSeconds / buildSeconds);
  std::printf("update: links file %.1f MB -> %.1f MB, grew %.2f%% (target <= 5%%)\n", linksBefore / 1e6,
              linksAfter / 1e6, 100.0 * (linksAfter - linksBefore) / linksBefore);

  std::string freshDir = scratch.slashed() + "fresh/";
  std::filesystem::create_directories(freshDir);
  CKolvoIndex* fresh = kolvobench::buildEngineIndex(root, freshDir);
  CKolvoIndex* updated = kCreateNewIndex(0, copies.front().c_str());
  bool same = wordFiles(updated) == wordFiles(fresh);
  std::printf("update: every word's live files %s a fresh build's\n", same ? "equal" : "DIFFER FROM");
  kidxClearIndex(fresh);
  kidxClearIndex(updated);
  return same ? 0 : 1;
}
