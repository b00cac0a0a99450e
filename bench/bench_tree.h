// A generated tree of text files for the build, update and search benchmarks: Zipf-
// distributed random words, 100 files a folder, made the same way from the same seed,
// with a few planted words whose files are known so that searches can be checked.
#pragma once

#include <cstdint>
#include <memory>
#include <random>
#include <string>
#include <vector>

namespace kolvobench {

// The planted words. The random vocabulary holds none of them and no word beginning
// with the prefix (the tree refuses to start otherwise), so their files are exactly the
// ones the tree planted them in.
struct PlantedWords {
  // In five files (fewer when the tree is smaller).
  static constexpr const char* rare = "xylograph";
  // Each in about half the files, independently, so both stand in about a quarter.
  static constexpr const char* commonA = "harbour";
  static constexpr const char* commonB = "lantern";
  // A quarter of the files hold one word of the prefix and three more letters (up to
  // 2,000 distinct words).
  static constexpr const char* prefix = "quill";
  // A fifth of the files hold both: adjacent in a quarter of those, the second two words
  // after the first in another quarter, six words after in another, and before the first
  // in the last.
  static constexpr const char* pairFirst = "silver";
  static constexpr const char* pairSecond = "morning";
};

// How many live files hold each planted word or combination.
struct PlantedCounts {
  int rare = 0, commonA = 0, commonB = 0, commonBoth = 0;
  int prefixed = 0, prefixWords = 0;
  int pairBoth = 0, pairAdjacent = 0, pairWithinThree = 0;
};

class BenchTree {
 public:
  BenchTree(std::string root, int fileCount, std::uint32_t seed = 1234);
  ~BenchTree();
  BenchTree(const BenchTree&) = delete;
  BenchTree& operator=(const BenchTree&) = delete;

  // Writes every folder and file, all with a time stamp of 2017, so that anything changed
  // later is newer than any build.
  void generate();
  // Reads every file once, so that a build finds the tree in the page cache.
  void warm() const;
  // The change an update has to pick up: every hundredth file gets new text (with the
  // same planted words), and one file in a thousand is added and as many deleted.
  void change();

  const std::string& root() const { return mRoot; }
  int fileCount() const { return mFileCount; }
  std::uint64_t textBytes() const { return mTextBytes; }
  int changedFiles() const { return mChanged; }
  int addedFiles() const { return mAdded; }
  int deletedFiles() const { return mDeleted; }
  std::string fileName(int i) const;
  PlantedCounts planted() const;

 private:
  class Corpus;
  struct Plants;

  Plants plantsOf(int file) const;
  std::string textOf(int file, std::size_t bytes);
  std::string folderOf(int folder) const;

  std::string mRoot;
  int mFileCount;
  std::uint32_t mSeed;
  std::unique_ptr<Corpus> mCorpus;
  std::vector<int> mRareFiles;
  std::vector<bool> mLive;
  std::uint64_t mTextBytes = 0;
  int mChanged = 0, mAdded = 0, mDeleted = 0;
};

}  // namespace kolvobench
