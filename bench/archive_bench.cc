// Archives against folders: 10,000 generated text files (about 100 MB of words) are
// indexed once as a folder and once packed into one .tar.gz, each build in a child
// process of its own, so that each reports its own time and peak memory. The archive's
// build also reports the most disk its temporary files took at once.
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>
#include <zlib.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <random>
#include <string>
#include <vector>

#include "bench/engine_build.h"
#include "bench/table_bench_support.h"
#include "engine/index/kolvo_index.h"
#include "include/kolvolib.h"

namespace {

constexpr int fileCount = 10000;
constexpr int filesPerFolder = 100;
constexpr size_t fileBytes = 10000;
constexpr int vocabularySize = 20000;
constexpr size_t tarBlock = 512;

// Words of three to ten letters; the text draws them log-uniformly by rank, so a few
// are very common and most are rare, as in real text.
std::vector<std::string> makeVocabulary(std::mt19937& random) {
  std::vector<std::string> words;
  std::uniform_int_distribution<int> length(3, 10), letter('a', 'z');
  for (int i = 0; i < vocabularySize; ++i) {
    std::string word;
    for (int n = length(random); n > 0; --n) word += static_cast<char>(letter(random));
    words.push_back(word);
  }
  return words;
}

std::string makeText(std::mt19937& random, const std::vector<std::string>& words) {
  std::uniform_real_distribution<double> rank(0.0, 1.0);
  std::string text;
  int column = 0;
  while (text.size() < fileBytes) {
    size_t at = static_cast<size_t>(std::pow(static_cast<double>(words.size()), rank(random))) - 1;
    text += words[std::min(at, words.size() - 1)];
    text += ++column % 12 == 0 ? '\n' : ' ';
  }
  return text;
}

// A ustar header for a regular file.
std::string tarHeader(const std::string& name, size_t size) {
  std::string header(tarBlock, '\0');
  std::memcpy(header.data(), name.data(), std::min<size_t>(name.size(), 100));
  std::snprintf(header.data() + 100, 8, "%07o", 0644);
  std::snprintf(header.data() + 108, 8, "%07o", 0);
  std::snprintf(header.data() + 116, 8, "%07o", 0);
  std::snprintf(header.data() + 124, 12, "%011zo", size);
  std::snprintf(header.data() + 136, 12, "%011o", 1'500'000'000);
  header[156] = '0';
  std::memcpy(header.data() + 257, "ustar\0" "00", 8);
  std::memset(header.data() + 148, ' ', 8);
  unsigned sum = 0;
  for (unsigned char c : header) sum += c;
  std::snprintf(header.data() + 148, 8, "%06o", sum);
  return header;
}

// Writes the files below root and the same files as one .tar.gz at archive; the text's
// size, and the size of the tar archive inside the .tar.gz in tarBytes.
uint64_t makeCorpus(const std::string& root, const std::string& archive, uint64_t& tarBytes) {
  std::mt19937 random(4321);
  std::vector<std::string> words = makeVocabulary(random);
  gzFile packed = gzopen(archive.c_str(), "wb6");
  uint64_t total = 0;
  for (int i = 0; i < fileCount; ++i) {
    std::string name = "f" + std::to_string(i / filesPerFolder) + "/doc" + std::to_string(i) + ".txt";
    std::string text = makeText(random, words);
    std::filesystem::create_directories(std::filesystem::path(root + "/" + name).parent_path());
    std::ofstream(root + "/" + name, std::ios::binary).write(text.data(), static_cast<std::streamsize>(text.size()));
    std::string entry = tarHeader(name, text.size()) + text;
    entry.resize((entry.size() + tarBlock - 1) / tarBlock * tarBlock, '\0');
    gzwrite(packed, entry.data(), static_cast<unsigned>(entry.size()));
    total += text.size();
    tarBytes += entry.size();
  }
  std::string end(2 * tarBlock, '\0');
  gzwrite(packed, end.data(), static_cast<unsigned>(end.size()));
  tarBytes += end.size();
  gzclose(packed);
  return total;
}

void readAll(const std::string& folder) {
  std::vector<char> buffer(1 << 16);
  for (const auto& item : std::filesystem::recursive_directory_iterator(folder)) {
    if (!item.is_regular_file()) continue;
    std::ifstream in(item.path(), std::ios::binary);
    while (in.read(buffer.data(), static_cast<std::streamsize>(buffer.size()))) {
    }
  }
}

void onError(const char* code, const char* detail) { std::fprintf(stderr, "engine: %s %s\n", code, detail); }

struct RunResult {
  double seconds = 0;
  double extractedPeakMiB = 0;
  unsigned contents = 0;
  double peakRssMiB = 0;
  double cpuSeconds = 0;
};

// Builds an index of root in a child process; the child's time, contents read and
// temporary-file peak, and its peak resident memory.
RunResult buildInChild(const std::string& root, const std::string& at) {
  int pipeEnds[2];
  if (pipe(pipeEnds) != 0) return {};
  pid_t child = fork();
  if (child == 0) {
    close(pipeEnds[0]);
    kSetThrowCallBack(onError);
    kSetWarningCallBack(onError);
    std::filesystem::create_directories(at + "cache");
    auto start = std::chrono::steady_clock::now();
    CKolvoIndex* index = kolvobench::buildEngineIndex(root, at, {{"*.gz", "gzip"}, {"*.tar", "tar"}, {"*.txt", "generic"}},
                                                      at + "cache");
    RunResult result;
    result.seconds = kolvobench::secondsSince(start);
    result.extractedPeakMiB = static_cast<double>(index->members.extractedPeak) / 1048576.0;
    result.contents = static_cast<unsigned>(kidxGetContentsIndexed(index));
    kidxClearIndex(index);
    ssize_t written = write(pipeEnds[1], &result, sizeof result);
    _exit(written == static_cast<ssize_t>(sizeof result) ? 0 : 1);
  }
  close(pipeEnds[1]);
  RunResult result;
  ssize_t got = read(pipeEnds[0], &result, sizeof result);
  close(pipeEnds[0]);
  int status = 0;
  struct rusage usage {};
  wait4(child, &status, 0, &usage);
  if (got != static_cast<ssize_t>(sizeof result)) return {};
  result.peakRssMiB = static_cast<double>(usage.ru_maxrss) / 1024.0;
  auto seconds = [](const timeval& t) { return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_usec) / 1e6; };
  result.cpuSeconds = seconds(usage.ru_utime) + seconds(usage.ru_stime);
  return result;
}

}  // namespace

int main() {
  kolvobench::ScratchDir scratch;
  std::string tree = scratch.slashed() + "tree";
  std::string packedFolder = scratch.slashed() + "packed";
  std::filesystem::create_directories(packedFolder);
  auto start = std::chrono::steady_clock::now();
  uint64_t tarBytes = 0;
  uint64_t textBytes = makeCorpus(tree, packedFolder + "/corpus.tar.gz", tarBytes);
  uint64_t packedBytes = std::filesystem::file_size(packedFolder + "/corpus.tar.gz");
  std::printf("corpus: %d files, %.1f MB of text, %.1f MB packed as .tar.gz, made in %.1f s\n", fileCount,
              textBytes / 1e6, packedBytes / 1e6, kolvobench::secondsSince(start));
  sync();
  readAll(tree);
  readAll(packedFolder);

  // Two rounds, alternating, so neither side always runs on a colder machine; the
  // better time of each counts.
  RunResult folder, archive;
  for (int round = 1; round <= 2; ++round) {
    std::string at = scratch.slashed() + "index_folder_" + std::to_string(round) + "/";
    RunResult f = buildInChild(tree, at);
    std::filesystem::remove_all(at);
    at = scratch.slashed() + "index_archive_" + std::to_string(round) + "/";
    RunResult a = buildInChild(packedFolder, at);
    // Nothing may be left in the cache once the build is done.
    size_t left = 0;
    for (const auto& item : std::filesystem::recursive_directory_iterator(at + "cache"))
      left += item.is_regular_file() ? 1 : 0;
    std::filesystem::remove_all(at);
    std::printf("round %d: folder %.2f s, CPU %.2f s (%u files read); archive %.2f s, CPU %.2f s (%u files read); "
                "%zu temporary files left\n",
                round, f.seconds, f.cpuSeconds, f.contents, a.seconds, a.cpuSeconds, a.contents, left);
    if (round == 1 || f.seconds < folder.seconds) folder = f;
    if (round == 1 || a.seconds < archive.seconds) archive = a;
  }
  double largestMemberMiB = static_cast<double>(tarBytes) / 1048576.0;
  std::printf("folder:  %.2f s (CPU %.2f s), %.1f MB/s, peak RSS %.0f MiB\n", folder.seconds, folder.cpuSeconds,
              textBytes / 1e6 / folder.seconds, folder.peakRssMiB);
  std::printf("archive: %.2f s (CPU %.2f s), %.1f MB/s, peak RSS %.0f MiB\n", archive.seconds, archive.cpuSeconds,
              textBytes / 1e6 / archive.seconds, archive.peakRssMiB);
  std::printf("archive/folder: %.2f in time, %.2f in CPU (target <= 1.5)\n", archive.seconds / folder.seconds,
              archive.cpuSeconds / folder.cpuSeconds);
  std::printf("temporary files: at most %.1f MiB at once; the largest member (the .tar) is %.1f MiB "
              "(target <= largest member + 1 MiB)\n",
              archive.extractedPeakMiB, largestMemberMiB);
  return 0;
}
