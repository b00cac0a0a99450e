// A generated tree of text files for the build, update and search benchmarks: Zipf-
// distributed random words, 100 files a folder, made the same way from the same seed,
// with a few planted words whose files are known so that searches can be checked. Other
// shapes add HTML files, or many small files kept on disk between runs.
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

// How the files of a tree are laid out and what they hold.
struct TreeShape {
  int filesPerFolder = 100;
  // A file's text is minBytes and up to extraBytes more.
  int minBytes = 2000, extraBytes = 4000;
  // Every htmlEvery-th file is an HTML page (".html", tags and entities around the same
  // words); 0 for none.
  int htmlEvery = 0;
  // Folders grouped by this many below "p<N>" folders; 0 puts every folder at the root.
  int foldersPerPart = 0;
  // Each file's text drawn from numbers of its own, so that any file can be written
  // again as it was; otherwise one stream of numbers runs through the whole tree.
  bool textPerFile = false;
  // The rare word's files lie among the first rareSpan files (0: the whole tree), so
  // that a larger tree of the same shape holds it in the same files.
  int rareSpan = 0;

  // Plain text, 100 files a folder, about 4 KB each.
  static TreeShape text() { return {}; }
  // As text(), with every fourth file an HTML page.
  static TreeShape textAndHtml() {
    TreeShape shape;
    shape.htmlEvery = 4;
    return shape;
  }
  // About 1 KB a file, 1,000 files a folder, 100 folders a part.
  static TreeShape smallFiles() {
    TreeShape shape;
    shape.filesPerFolder = 1000;
    shape.minBytes = 700;
    shape.extraBytes = 600;
    shape.foldersPerPart = 100;
    shape.textPerFile = true;
    shape.rareSpan = 100000;
    return shape;
  }
  // Names every field, for the stamp of a tree kept on disk.
  std::string describe() const;
};

class BenchTree {
 public:
  BenchTree(std::string root, int fileCount, std::uint32_t seed = 1234, TreeShape shape = TreeShape::text());
  ~BenchTree();
  BenchTree(const BenchTree&) = delete;
  BenchTree& operator=(const BenchTree&) = delete;

  // Writes every folder and file, all with a time stamp of 2017, so that anything changed
  // later is newer than any build.
  void generate();
  // For a tree kept between runs: generates it unless the stamp beside the root says a
  // tree of this count, seed and shape is complete there. Answers whether it generated.
  bool generateUnlessStamped();
  // Reads every file once, so that a build finds the tree in the page cache.
  void warm() const;
  // The change an update has to pick up: every hundredth file gets new text (with the
  // same planted words), and one file in a thousand is added and as many deleted.
  void change();
  // Undoes change() in a tree whose text is drawn per file: the changed and deleted files
  // get their first text and time back, the added ones go. The stamp of a kept tree is
  // withdrawn while the tree differs from it.
  void restore();

  const std::string& root() const { return mRoot; }
  int fileCount() const { return mFileCount; }
  std::uint64_t textBytes() const { return mTextBytes; }
  int changedFiles() const { return mChanged; }
  int addedFiles() const { return mAdded; }
  int deletedFiles() const { return mDeleted; }
  std::string fileName(int i) const;
  bool isHtml(int i) const { return mShape.htmlEvery > 0 && i % mShape.htmlEvery == mShape.htmlEvery - 1; }
  int htmlFiles() const;
  const TreeShape& shape() const { return mShape; }
  PlantedCounts planted() const;

 private:
  class Corpus;
  struct Plants;

  Plants plantsOf(int file) const;
  // The text of a file in its generation (0 as first written, 1 and on after changes).
  std::string textOf(int file, int generation);
  std::string plantedText(int file, std::string text);
  std::string folderOf(int folder) const;
  int folderCount() const { return (mFileCount + mShape.filesPerFolder - 1) / mShape.filesPerFolder; }
  std::string stampPath() const { return mRoot + ".complete"; }
  std::string stampText() const;
  void writeFile(int file, int generation);
  void setAllFoldersOld() const;
  void writeStamp() const;

  std::string mRoot;
  int mFileCount;
  std::uint32_t mSeed;
  TreeShape mShape;
  std::unique_ptr<Corpus> mCorpus;
  std::vector<int> mRareFiles;
  std::vector<bool> mLive;
  std::uint64_t mTextBytes = 0;
  int mChanged = 0, mAdded = 0, mDeleted = 0;
  int mGeneration = 0;
  bool mKept = false;
  std::vector<int> mChangedFiles, mDeletedFiles;
  std::vector<std::string> mAddedNames;
};

}  // namespace kolvobench
