// Word table: 2,000,000 distinct words, each added after a failed lookup as word
// indexing does, then 10,000,000 lookups of present words in random order.
#include <chrono>
#include <cstdio>
#include <random>
#include <string>
#include <vector>

#include "bench/table_bench_support.h"
#include "engine/storage/text_storage.h"

int main() {
  constexpr int wordCount = 2000000;
  constexpr int lookupCount = 10000000;
  kolvobench::ScratchDir dir;
  std::vector<std::string> vocabulary;
  vocabulary.reserve(wordCount);
  std::mt19937 random(42);
  const char letters[] = "etaoinshrdlcumwfgypbvkjxqz";
  for (int i = 0; i < wordCount; ++i) {
    std::string word;
    int length = 4 + static_cast<int>(random() % 9);
    for (int j = 0; j < length; ++j) word += letters[random() % 26];
    word += std::to_string(i);  // distinct
    vocabulary.push_back(std::move(word));
  }
  double before = kolvobench::peakResidentMiB();

  CTextStorage words(dir.slashed() + "words", 131071, 1048575, 16, 40000);
  auto start = std::chrono::steady_clock::now();
  for (const std::string& word : vocabulary)
    if (words.lookup(word.c_str()) == 0) words.addText(word.c_str());
  double addSeconds = kolvobench::secondsSince(start);

  // The queries lie one after another in one block, so the loop reads them in order and
  // the time is the table's own.
  std::string queries;
  std::vector<uint32_t> starts;
  starts.reserve(lookupCount);
  for (int i = 0; i < lookupCount; ++i) {
    starts.push_back(static_cast<uint32_t>(queries.size()));
    queries += vocabulary[random() % wordCount];
    queries += '\0';
  }
  uint64_t checksum = 0;
  start = std::chrono::steady_clock::now();
  for (uint32_t at : starts) checksum += words.lookup(queries.data() + at);
  double lookupSeconds = kolvobench::secondsSince(start);

  std::printf("word table: %d lookup-then-add: %.1f ns/op (%.2f s)\n", wordCount, addSeconds * 1e9 / wordCount,
              addSeconds);
  std::printf("word table: %d lookups of present words: %.1f ns/op (%.2f s; target <= 250 ns)\n", lookupCount,
              lookupSeconds * 1e9 / lookupCount, lookupSeconds);
  std::printf("word table: %u buckets, backing file %.1f MiB, peak RSS %.1f MiB (%.1f MiB before the table)\n",
              words.getBucketCount(), words.used() / 1048576.0, kolvobench::peakResidentMiB(), before);
  std::printf("checksum %llu\n", static_cast<unsigned long long>(checksum));
  return lookupSeconds * 1e9 / lookupCount <= 250 ? 0 : 1;
}
