// Random changes to a tree for the update tests: creations, deletions, modifications and
// moves of files and folders, files replaced by folders and back, and symbolic links, each
// telling the paths a watcher of the tree would name.
#pragma once

#include <cstdint>
#include <random>
#include <string>
#include <vector>

namespace kolvotest {

// Every entry of the tree, links included, set to the time when: what changes afterwards
// is newer than a time base past it.
void ageTree(const std::string& root, int32_t when);

class TreeChanger {
 public:
  TreeChanger(std::string root, std::string outside, unsigned seed)
      : root(std::move(root)), outside(std::move(outside)), random(seed) {}

  // A few words of a small vocabulary.
  std::string text();
  void write(const std::string& path, const std::string& contents);
  // Writes files numbered from 0, some in subfolders.
  void populate(int files);
  // One random change; the paths it names. The serial makes new names unique.
  std::vector<std::string> change(int serial);

 private:
  size_t pick(size_t n) { return std::uniform_int_distribution<size_t>(0, n - 1)(random); }
  std::string randomRelative(int i);

  std::string root, outside;
  std::mt19937 random;
};

}  // namespace kolvotest
