// Mail indexing: a 500 MB mailbox of 50,000 messages, a tenth of them with one base64
// text attachment of about 20 KB, indexed by a walk of its folder through the "mbox"
// analyzer (and a tenth of that, run first, for a quick look). Reports MB/s by the
// clock and by CPU time, entries/s, the peak resident memory and the cache's size.
#include <benchmark/benchmark.h>
#include <sys/resource.h>

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "bench/engine_build.h"
#include "bench/table_bench_support.h"
#include "bench/zipf_words.h"
#include "engine/index/kolvo_index.h"
#include "tests/support/mailbox_writer.h"

namespace fs = std::filesystem;

namespace {

// 10 KB a message on average, the attachments included.
constexpr uint64_t bytesPerMessage = 10000;
constexpr int attachmentEvery = 10;
constexpr size_t attachmentBytes = 20000;
constexpr int vocabularySize = 50000;
constexpr unsigned wordSeed = 2004;

// About `bytes` bytes of the generator's words in lines of about 70 characters.
std::string wordText(kolvobench::ZipfWords& words, size_t bytes) {
  std::string out;
  out.reserve(bytes + 80);
  size_t lineStart = 0;
  while (out.size() < bytes) {
    out += words.next();
    if (out.size() - lineStart > 70) {
      out += '\n';
      lineStart = out.size();
    } else {
      out += ' ';
    }
  }
  out += '\n';
  return out;
}

// Writes the mailbox message by message; the whole never sits in memory.
void writeMailbox(const std::string& path, int messageCount) {
  const uint64_t mailboxBytes = bytesPerMessage * static_cast<uint64_t>(messageCount);
  kolvobench::ZipfWords words(vocabularySize, wordSeed);
  std::ofstream out(path, std::ios::binary);
  uint64_t written = 0;
  for (int i = 0; i < messageCount; ++i) {
    bool withAttachment = i % attachmentEvery == 0;
    uint64_t left = mailboxBytes > written ? mailboxBytes - written : 0;
    size_t body = static_cast<size_t>(left / static_cast<uint64_t>(messageCount - i));
    if (withAttachment) body = body > attachmentBytes * 4 / 3 + 500 ? body - attachmentBytes * 4 / 3 - 500 : 500;
    else body = body > 300 ? body - 300 : 100;
    std::vector<kolvotest::MailAttachment> attachments;
    if (withAttachment) attachments.push_back({"notes" + std::to_string(i) + ".txt", wordText(words, attachmentBytes)});
    // A message every 37 seconds from 1 March on: no two share a sender and a second,
    // so each is an entry of its own.
    int at = i * 37;
    std::string date = "Mon, " + std::to_string(1 + at / 86400) + " Mar 2004 " + std::to_string(at / 3600 % 24) + ":" +
                       std::to_string(at / 60 % 60) + ":" + std::to_string(at % 60) + " +0000";
    std::string from = "Sender " + std::to_string(i % 997) + " <s" + std::to_string(i % 997) + "@example.org>";
    kolvotest::MailboxWriter writer;
    const std::string& text = writer.add(kolvotest::mailFrom(from, date, wordText(words, body), attachments)).text();
    out << text;
    written += text.size();
  }
}

uint64_t folderBytes(const std::string& folder) {
  uint64_t total = 0;
  for (const auto& file : fs::directory_iterator(folder)) total += file.file_size();
  return total;
}

// User and system time of the process so far; the machine may be shared.
double cpuSeconds() {
  struct rusage usage {};
  getrusage(RUSAGE_SELF, &usage);
  auto seconds = [](const timeval& t) { return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_usec) / 1e6; };
  return seconds(usage.ru_utime) + seconds(usage.ru_stime);
}

void BM_IndexMailbox(benchmark::State& state) {
  kolvobench::ScratchDir scratch;
  std::string root = scratch.slashed() + "mail";
  std::string at = scratch.slashed() + "index/";
  std::string cache = at + "cache";
  fs::create_directories(root);
  fs::create_directories(cache);
  std::string mailbox = root + "/inbox.mbox";
  writeMailbox(mailbox, static_cast<int>(state.range(0)));
  double mailboxMB = static_cast<double>(fs::file_size(mailbox)) / 1e6;

  for (auto _ : state) {
    state.PauseTiming();
    for (const auto& file : fs::directory_iterator(cache)) fs::remove(file.path());
    CKolvoIndex* index = kCreateNewIndex(1, at.c_str());
    kolvobench::configureEngineIndex(index, {{"*.mbox", "mbox"}, {"*.txt", "generic"}}, cache);
    kidxEmptyIndex(index);
    kidxNewFileLinks(index);
    kulong folder = kfsAddFile(kidxGetFiles(index), root.c_str());
    state.ResumeTiming();

    auto start = std::chrono::steady_clock::now();
    double cpuStart = cpuSeconds();
    kidxIndexDirectory(index, root.c_str(), folder);
    double indexing = kolvobench::secondsSince(start);
    double indexingCpu = cpuSeconds() - cpuStart;
    start = std::chrono::steady_clock::now();
    kidxCompressLinks(index);
    double compressing = kolvobench::secondsSince(start);

    state.PauseTiming();
    double entries = static_cast<double>(index->filesIndexed);
    state.counters["index_s"] = indexing;
    state.counters["compress_s"] = compressing;
    state.counters["MB/s"] = mailboxMB / indexing;
    state.counters["MB/cpu_s"] = mailboxMB / indexingCpu;
    state.counters["entries"] = entries;
    state.counters["entries/s"] = entries / indexing;
    state.counters["cache_MB"] = static_cast<double>(folderBytes(cache)) / 1e6;
    state.counters["cache_files"] = static_cast<double>(std::distance(fs::directory_iterator(cache), fs::directory_iterator()));
    // Showing the mailbox's last entry, whose record lies at the end of the cache.
    CFileStorage& files = *index->files;
    uint32_t last = 0;
    for (uint32_t f = files.getFirst(); f; f = files.getNext(f))
      if (files.getParent(f) != 0 && files.getParent(f) != folder) last = f;
    start = std::chrono::steady_clock::now();
    std::string shown = index->extractToTempFile(mailbox.c_str(), files.getText(last), last);
    state.counters["show_last_ms"] = kolvobench::secondsSince(start) * 1000;
    if (shown.empty()) state.SkipWithError("the last entry could not be shown");
    else fs::remove(shown);
    kidxClearIndex(index);
    state.ResumeTiming();
  }
  state.counters["mailbox_MB"] = mailboxMB;
  state.counters["peak_RSS_MiB"] = kolvobench::peakResidentMiB();
}

}  // namespace

BENCHMARK(BM_IndexMailbox)->Arg(5000)->Arg(50000)->Unit(benchmark::kSecond)->Iterations(1)->UseRealTime();
BENCHMARK_MAIN();
