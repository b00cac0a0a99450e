#include "bench/bench_tree.h"

#include <sys/time.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <stdexcept>
#include <utility>

namespace kolvobench {

namespace {

constexpr int filesPerFolder = 100;
constexpr int vocabularySize = 500000;

void setOld(const std::string& path) {
  struct timeval times[2] = {{1500000000, 0}, {1500000000, 0}};
  utimes(path.c_str(), times);
}

// Planting draws on its own numbers, so the random text is the same with or without it.
std::uint64_t mix(std::uint64_t x) {
  x += 0x9e3779b97f4a7c15ULL;
  x = (x ^ (x >> 30)) * 0xbf58476d1ce4e5b9ULL;
  x = (x ^ (x >> 27)) * 0x94d049bb133111ebULL;
  return x ^ (x >> 31);
}

std::uint64_t hashOf(std::uint32_t seed, int file, int salt) {
  return mix(mix((static_cast<std::uint64_t>(seed) << 32) ^ static_cast<std::uint32_t>(file)) + salt);
}

// Puts the snippet after the word at a position chosen by where, between two words.
void insertBetweenWords(std::string& text, std::uint64_t where, const std::string& snippet) {
  std::size_t at = text.empty() ? 0 : text.find_first_of(" \n", where % text.size());
  if (at == std::string::npos) at = text.size();
  text.insert(at, " " + snippet);
}

}  // namespace

class BenchTree::Corpus {
 public:
  explicit Corpus(std::uint32_t seed) : random(seed) {
    const char* letters = "etaoinshrdlcumwfgypbvkjxqz";
    double total = 0;
    for (int i = 0; i < vocabularySize; ++i) {
      std::string word;
      int length = 3 + static_cast<int>(random() % 8);
      for (int j = 0, n = i; j < length; ++j, n /= 7) word += letters[(n + random()) % 26];
      words.push_back(word);
      total += 1.0 / (i + 1);
      cumulative.push_back(total);
    }
    for (double& c : cumulative) c /= total;
  }
  const std::string& pick() {
    double x = std::uniform_real_distribution<double>(0, 1)(random);
    return words[std::lower_bound(cumulative.begin(), cumulative.end(), x) - cumulative.begin()];
  }
  std::string text(std::size_t bytes) {
    std::string out;
    while (out.size() < bytes) {
      out += pick();
      out += (random() % 12 == 0) ? "\n" : " ";
    }
    return out;
  }
  // The first vocabulary word that would blur a planted word's files, or none.
  std::string clashWithPlanted() const {
    for (const std::string& word : words) {
      if (word.rfind(PlantedWords::prefix, 0) == 0) return word;
      for (const char* planted : {PlantedWords::rare, PlantedWords::commonA, PlantedWords::commonB,
                                  PlantedWords::pairFirst, PlantedWords::pairSecond})
        if (word == planted) return word;
    }
    return std::string();
  }

  std::mt19937 random;

 private:
  std::vector<std::string> words;
  std::vector<double> cumulative;
};

struct BenchTree::Plants {
  bool rare = false, commonA = false, commonB = false;
  int prefixWord = -1;    // which of the words with the prefix, or none
  int pairPlacing = -1;   // which placing of the pair, or none
};

BenchTree::BenchTree(std::string root, int fileCount, std::uint32_t seed)
    : mRoot(std::move(root)), mFileCount(fileCount), mSeed(seed), mCorpus(std::make_unique<Corpus>(seed)),
      mLive(fileCount, false) {
  if (std::string clash = mCorpus->clashWithPlanted(); !clash.empty())
    throw std::runtime_error("the random vocabulary of seed " + std::to_string(seed) + " holds \"" + clash +
                             "\", which would blur the planted words");
  for (int k = 0; k < 5; ++k) {
    int file = static_cast<int>((2LL * k + 1) * fileCount / 10) + 3;
    if (file < fileCount && std::find(mRareFiles.begin(), mRareFiles.end(), file) == mRareFiles.end())
      mRareFiles.push_back(file);
  }
}

BenchTree::~BenchTree() = default;

BenchTree::Plants BenchTree::plantsOf(int file) const {
  std::uint64_t h = hashOf(mSeed, file, 0);
  Plants plants;
  plants.rare = std::find(mRareFiles.begin(), mRareFiles.end(), file) != mRareFiles.end();
  plants.commonA = (h & 1) != 0;
  plants.commonB = (h & 2) != 0;
  if ((h >> 2) % 4 == 0) plants.prefixWord = static_cast<int>((h >> 4) % 2000);
  if (int placing = static_cast<int>((h >> 16) % 20); placing < 4) plants.pairPlacing = placing;
  return plants;
}

std::string BenchTree::textOf(int file, std::size_t bytes) {
  std::string text = mCorpus->text(bytes);
  Plants plants = plantsOf(file);
  int salt = 1;
  auto plant = [&](const std::string& snippet) { insertBetweenWords(text, hashOf(mSeed, file, salt++), snippet); };
  if (plants.rare) plant(PlantedWords::rare);
  if (plants.commonA) plant(PlantedWords::commonA);
  if (plants.commonB) plant(PlantedWords::commonB);
  if (plants.prefixWord >= 0) {
    int k = plants.prefixWord;
    plant(std::string(PlantedWords::prefix) + static_cast<char>('a' + k % 26) + static_cast<char>('a' + k / 26 % 26) +
          static_cast<char>('a' + k / 676));
  }
  // Last, so that nothing lands between the two words.
  std::string first = PlantedWords::pairFirst, second = PlantedWords::pairSecond;
  switch (plants.pairPlacing) {
    case 0: plant(first + " " + second); break;
    case 1: plant(first + " old " + second); break;
    case 2: plant(first + " old grey road far over " + second); break;
    case 3: plant(second + " " + first); break;
    default: break;
  }
  return text;
}

std::string BenchTree::folderOf(int folder) const { return mRoot + "/d" + std::to_string(folder); }

std::string BenchTree::fileName(int i) const {
  return folderOf(i / filesPerFolder) + "/f" + std::to_string(i) + ".txt";
}

void BenchTree::generate() {
  mTextBytes = 0;
  for (int i = 0; i < mFileCount; ++i) {
    if (i % filesPerFolder == 0) std::filesystem::create_directories(folderOf(i / filesPerFolder));
    std::size_t bytes = 2000 + mCorpus->random() % 4000;
    std::string text = textOf(i, bytes);
    std::ofstream(fileName(i), std::ios::binary) << text;
    setOld(fileName(i));
    mLive[i] = true;
    mTextBytes += text.size();
  }
  for (int d = 0; d * filesPerFolder < mFileCount; ++d) setOld(folderOf(d));
  setOld(mRoot);
}

void BenchTree::warm() const {
  for (int i = 0; i < mFileCount; ++i)
    if (mLive[i]) std::ifstream(fileName(i), std::ios::binary).ignore(1 << 30);
}

void BenchTree::change() {
  int folders = (mFileCount + filesPerFolder - 1) / filesPerFolder;
  int share = std::max(1, mFileCount / 1000);
  for (int i = 0; i < mFileCount; i += 100) {
    if (!mLive[i]) continue;
    std::ofstream(fileName(i), std::ios::binary) << textOf(i, 3000);
    ++mChanged;
  }
  for (int i = 0; i < share; ++i) {
    std::ofstream(folderOf(i * 7 % folders) + "/new" + std::to_string(i) + ".txt") << mCorpus->text(3000);
    ++mAdded;
  }
  for (int i = 0; i < share; ++i) {
    int file = static_cast<int>((i * 997LL + 13) % mFileCount);
    if (!mLive[file]) continue;
    std::filesystem::remove(fileName(file));
    mLive[file] = false;
    ++mDeleted;
  }
}

PlantedCounts BenchTree::planted() const {
  PlantedCounts counts;
  std::vector<bool> prefixWords(2000, false);
  for (int i = 0; i < mFileCount; ++i) {
    if (!mLive[i]) continue;
    Plants plants = plantsOf(i);
    counts.rare += plants.rare;
    counts.commonA += plants.commonA;
    counts.commonB += plants.commonB;
    counts.commonBoth += plants.commonA && plants.commonB;
    if (plants.prefixWord >= 0) {
      ++counts.prefixed;
      if (!prefixWords[plants.prefixWord]) ++counts.prefixWords;
      prefixWords[plants.prefixWord] = true;
    }
    counts.pairBoth += plants.pairPlacing >= 0;
    counts.pairAdjacent += plants.pairPlacing == 0;
    counts.pairWithinThree += plants.pairPlacing == 0 || plants.pairPlacing == 1;
  }
  return counts;
}

}  // namespace kolvobench
