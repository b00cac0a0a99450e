#include "bench/bench_tree.h"

#include <sys/time.h>

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <stdexcept>
#include <utility>

namespace kolvobench {

namespace {

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

// Puts the snippet after the word at a position chosen by where, between two words, at
// or after begin and before the last tail bytes of the text.
void insertBetweenWords(std::string& text, std::uint64_t where, const std::string& snippet, std::size_t begin = 0,
                        std::size_t tail = 0) {
  std::size_t span = text.size() > begin + tail ? text.size() - begin - tail : 0;
  std::size_t at = span == 0 ? text.size() - tail : text.find_first_of(" \n", begin + where % span);
  if (at == std::string::npos) at = text.size();
  text.insert(at, " " + snippet);
}

// The page's markup before and after its text.
constexpr const char* pageBodyOpen = "</title></head>\n<body>\n<p>";
constexpr const char* pageClose = "</p>\n</body></html>\n";

// The words of text as an HTML page: the first three also as its title, a few set in
// bold or emphasis or between entities, line ends turned into paragraphs or breaks.
// Tags hold no blanks, so words planted later at a blank always land in text.
std::string htmlPage(const std::string& text, std::mt19937& random) {
  std::string page = "<html><head><title>";
  std::size_t titleEnd = 0;
  for (int words = 0; words < 3 && titleEnd != std::string::npos; ++words)
    titleEnd = text.find_first_of(" \n", titleEnd + 1);
  page += text.substr(0, std::min(titleEnd, text.size()));
  page += pageBodyOpen;
  std::size_t at = 0;
  while (at < text.size()) {
    std::size_t end = std::min(text.find_first_of(" \n", at), text.size());
    std::string word = text.substr(at, end - at);
    switch (random() % 40) {
      case 0: page += "<b>" + word + "</b>"; break;
      case 1: page += "<em>" + word + "</em>"; break;
      case 2: page += word + " &amp;"; break;
      case 3: page += "&quot;" + word + "&quot;"; break;
      default: page += word; break;
    }
    if (end == text.size()) break;
    if (text[end] == '\n') page += random() % 3 == 0 ? "</p>\n<p>" : "<br>\n";
    else page += ' ';
    at = end + 1;
  }
  return page + pageClose;
}

}  // namespace

std::string TreeShape::describe() const {
  return "filesPerFolder=" + std::to_string(filesPerFolder) + " bytes=" + std::to_string(minBytes) + "+" +
         std::to_string(extraBytes) + " htmlEvery=" + std::to_string(htmlEvery) + " foldersPerPart=" +
         std::to_string(foldersPerPart) + " textPerFile=" + std::to_string(textPerFile) + " rareSpan=" +
         std::to_string(rareSpan);
}

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
  const std::string& pick(std::mt19937& from) {
    double x = std::uniform_real_distribution<double>(0, 1)(from);
    return words[std::lower_bound(cumulative.begin(), cumulative.end(), x) - cumulative.begin()];
  }
  std::string text(std::size_t bytes, std::mt19937& from) {
    std::string out;
    while (out.size() < bytes) {
      out += pick(from);
      out += (from() % 12 == 0) ? "\n" : " ";
    }
    return out;
  }
  std::string text(std::size_t bytes) { return text(bytes, random); }
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

BenchTree::BenchTree(std::string root, int fileCount, std::uint32_t seed, TreeShape shape)
    : mRoot(std::move(root)), mFileCount(fileCount), mSeed(seed), mShape(shape),
      mCorpus(std::make_unique<Corpus>(seed)), mLive(fileCount, false) {
  if (mShape.filesPerFolder <= 0 || mShape.minBytes <= 0 || mShape.extraBytes <= 0 || mShape.htmlEvery < 0 ||
      mShape.foldersPerPart < 0 || mShape.rareSpan < 0)
    throw std::runtime_error("a tree shape needs positive sizes: " + mShape.describe());
  if (std::string clash = mCorpus->clashWithPlanted(); !clash.empty())
    throw std::runtime_error("the random vocabulary of seed " + std::to_string(seed) + " holds \"" + clash +
                             "\", which would blur the planted words");
  int span = mShape.rareSpan > 0 ? std::min(mShape.rareSpan, fileCount) : fileCount;
  for (int k = 0; k < 5; ++k) {
    int file = static_cast<int>((2LL * k + 1) * span / 10) + 3;
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

std::string BenchTree::textOf(int file, int generation) {
  std::mt19937 own(static_cast<std::uint32_t>(hashOf(mSeed, file, 1000 + generation)));
  std::mt19937& random = mShape.textPerFile ? own : mCorpus->random;
  // A changed file of a tree drawn in one stream gets 3,000 bytes, as it always has.
  std::size_t bytes = mShape.textPerFile || generation == 0
                          ? static_cast<std::size_t>(mShape.minBytes) + random() % mShape.extraBytes
                          : 3000;
  std::string text = mCorpus->text(bytes, random);
  if (isHtml(file)) text = htmlPage(text, random);
  return plantedText(file, std::move(text));
}

std::string BenchTree::plantedText(int file, std::string text) {
  Plants plants = plantsOf(file);
  // In a page, words are planted in its body only.
  std::size_t begin = 0, tail = 0;
  if (isHtml(file)) {
    begin = text.find(pageBodyOpen) + std::strlen(pageBodyOpen);
    tail = std::strlen(pageClose);
  }
  int salt = 1;
  auto plant = [&](const std::string& snippet) {
    insertBetweenWords(text, hashOf(mSeed, file, salt++), snippet, begin, tail);
  };
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

std::string BenchTree::folderOf(int folder) const {
  if (mShape.foldersPerPart == 0) return mRoot + "/d" + std::to_string(folder);
  return mRoot + "/p" + std::to_string(folder / mShape.foldersPerPart) + "/d" + std::to_string(folder);
}

std::string BenchTree::fileName(int i) const {
  return folderOf(i / mShape.filesPerFolder) + "/f" + std::to_string(i) + (isHtml(i) ? ".html" : ".txt");
}

int BenchTree::htmlFiles() const {
  int count = 0;
  for (int i = 0; i < mFileCount; ++i) count += mLive[i] && isHtml(i);
  return count;
}

void BenchTree::writeFile(int file, int generation) {
  std::string text = textOf(file, generation);
  std::ofstream(fileName(file), std::ios::binary) << text;
  if (generation == 0) {
    setOld(fileName(file));
    mTextBytes += text.size();
  }
  mLive[file] = true;
}

void BenchTree::setAllFoldersOld() const {
  for (int d = 0; d < folderCount(); ++d) setOld(folderOf(d));
  if (mShape.foldersPerPart > 0)
    for (int p = 0; p * mShape.foldersPerPart < folderCount(); ++p) setOld(mRoot + "/p" + std::to_string(p));
  setOld(mRoot);
}

void BenchTree::generate() {
  mTextBytes = 0;
  for (int i = 0; i < mFileCount; ++i) {
    if (i % mShape.filesPerFolder == 0) std::filesystem::create_directories(folderOf(i / mShape.filesPerFolder));
    writeFile(i, 0);
  }
  setAllFoldersOld();
}

std::string BenchTree::stampText() const {
  return "kolvo bench tree 1: files=" + std::to_string(mFileCount) + " seed=" + std::to_string(mSeed) + " " +
         mShape.describe();
}

bool BenchTree::generateUnlessStamped() {
  mKept = true;
  std::ifstream stamp(stampPath());
  std::string line;
  std::uint64_t bytes = 0;
  if (std::getline(stamp, line) && line == stampText() && stamp >> bytes) {
    mTextBytes = bytes;
    mLive.assign(mFileCount, true);
    return false;
  }
  stamp.close();
  std::filesystem::remove(stampPath());
  std::filesystem::remove_all(mRoot);
  generate();
  writeStamp();
  return true;
}

void BenchTree::writeStamp() const {
  std::ofstream(stampPath()) << stampText() << "\n" << mTextBytes << "\n";
}

void BenchTree::warm() const {
  for (int i = 0; i < mFileCount; ++i)
    if (mLive[i]) std::ifstream(fileName(i), std::ios::binary).ignore(1 << 30);
}

void BenchTree::change() {
  if (mKept) std::filesystem::remove(stampPath());
  ++mGeneration;
  int share = std::max(1, mFileCount / 1000);
  for (int i = 0; i < mFileCount; i += 100) {
    if (!mLive[i]) continue;
    writeFile(i, mGeneration);
    // A file changed before is listed once.
    if (mGeneration == 1 || std::find(mChangedFiles.begin(), mChangedFiles.end(), i) == mChangedFiles.end())
      mChangedFiles.push_back(i);
    ++mChanged;
  }
  for (int i = 0; i < share; ++i) {
    std::string name = folderOf(i * 7 % folderCount()) + "/new" +
                       (mGeneration > 1 ? std::to_string(mGeneration) + "_" : "") + std::to_string(i) + ".txt";
    std::mt19937 own(static_cast<std::uint32_t>(hashOf(mSeed, -1 - i, mGeneration)));
    std::ofstream(name) << (mShape.textPerFile ? mCorpus->text(3000, own) : mCorpus->text(3000));
    mAddedNames.push_back(name);
    ++mAdded;
  }
  for (int i = 0; i < share; ++i) {
    int file = static_cast<int>((i * 997LL + 13LL * mGeneration) % mFileCount);
    if (!mLive[file]) continue;
    std::filesystem::remove(fileName(file));
    mLive[file] = false;
    mDeletedFiles.push_back(file);
    ++mDeleted;
  }
}

void BenchTree::restore() {
  if (!mShape.textPerFile) throw std::runtime_error("only a tree drawn per file can be restored");
  std::uint64_t bytes = mTextBytes;
  for (int file : mChangedFiles)
    if (mLive[file]) writeFile(file, 0);
  for (int file : mDeletedFiles) writeFile(file, 0);
  for (const std::string& name : mAddedNames) std::filesystem::remove(name);
  // The first texts are counted once, when the tree was made.
  mTextBytes = bytes;
  mChangedFiles.clear();
  mDeletedFiles.clear();
  mAddedNames.clear();
  mChanged = mAdded = mDeleted = 0;
  mGeneration = 0;
  setAllFoldersOld();
  if (mKept) writeStamp();
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
