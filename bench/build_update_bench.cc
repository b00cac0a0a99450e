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

}  // namespace

int main() {
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

  std::string buildDir = scratch.slashed() + "build_1/";
  std::filesystem::create_directories(buildDir);
  double buildStarted = static_cast<double>(time(nullptr));
  start = std::chrono::steady_clock::now();
  CKolvoIndex* index = kolvobench::buildEngineIndex(root, buildDir);
  double buildSeconds = kolvobench::secondsSince(start);
  double anon = rssOf("RssAnon:"), mapped = rssOf("RssFile:");
  uint64_t indexBytes = folderBytes(buildDir);
  std::printf("build: %.2f s, %.1f MB/s, %.0f files/s\n", buildSeconds, textBytes / 1e6 / buildSeconds,
              fileCount / buildSeconds);
  std::printf("build: peak RSS %.0f MiB (target <= %.0f MiB, the text); at its end heap %.0f MiB, mapped %.0f MiB\n",
              kolvobench::peakResidentMiB(), textBytes / 1048576.0, anon, mapped);
  std::printf("build: index %.1f MB, %.1f%% of the text\n", indexBytes / 1e6, 100.0 * indexBytes / textBytes);
  kidxClearIndex(index);

  // 1% touched with new text, 100 added, 100 deleted.
  tree.change();
  // Neither the build's index nor the changed files are still being written out.
  sync();
  uint64_t linksBefore = std::filesystem::file_size(buildDir + "links");

  start = std::chrono::steady_clock::now();
  index = kCreateNewIndex(0, buildDir.c_str());
  kolvobench::configureEngineIndex(index);
  kidxSetTimeBase(index, buildStarted - 1 + macOffset);
  kidxPrune(index);
  kidxCompressLinks(index);
  kidxStoreStorage(index, buildDir.c_str());
  double updateSeconds = kolvobench::secondsSince(start);
  uint64_t linksAfter = std::filesystem::file_size(buildDir + "links");
  std::printf("update: %.2f s, %.1f%% of the build (target <= 5%%)\n", updateSeconds,
              100.0 * updateSeconds / buildSeconds);
  std::printf("update: links file %.1f MB -> %.1f MB, grew %.2f%% (target <= 5%%)\n", linksBefore / 1e6,
              linksAfter / 1e6, 100.0 * (linksAfter - linksBefore) / linksBefore);

  std::string freshDir = scratch.slashed() + "fresh/";
  std::filesystem::create_directories(freshDir);
  CKolvoIndex* fresh = kolvobench::buildEngineIndex(root, freshDir);
  bool same = wordFiles(index) == wordFiles(fresh);
  std::printf("update: every word's live files %s a fresh build's\n", same ? "equal" : "DIFFER FROM");
  kidxClearIndex(fresh);
  kidxClearIndex(index);
  return same ? 0 : 1;
}
