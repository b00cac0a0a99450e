// What the walk, compression and update tests share: a new index in a temporary folder
// with a simple word analyzer registered as "generic", and readers of a word's files.
#pragma once

#include <fstream>
#include <map>
#include <memory>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "engine/analyzers/file_analyzer.h"
#include "engine/index/kolvo_index.h"
#include "engine/index/word_data.h"
#include "tests/support/temp_dir.h"

namespace kolvotest {

// Indexes the lower-case letter runs of a file, and remembers which files it read. A
// file whose name ends in ".box" is a container instead: each line is a member named by
// its first word and holding the rest, and a member whose name ends in "box" holds one
// member of its own with the same words, as an archive inside an archive.
class WordsOfLetters : public CFileAnalyzer {
 public:
  explicit WordsOfLetters(CKolvoIndex* owner) : CFileAnalyzer(owner) {}
  bool indexFile(const char* path, uint32_t fileId) override {
    read.push_back(path);
    std::ifstream in(path, std::ios::binary);
    if (!in) return false;
    std::stringstream text;
    text << in.rdbuf();
    std::string name = path;
    if (name.size() > 4 && name.compare(name.size() - 4, 4, ".box") == 0) {
      for (std::string line; std::getline(text, line);) {
        std::istringstream fields(line);
        std::string member, rest;
        if (!(fields >> member)) continue;
        std::getline(fields, rest);
        uint32_t entry = index->recordFile(member.c_str(), fileId, 0, static_cast<uint32_t>(rest.size()));
        indexWords(rest, entry);
        if (member.size() > 3 && member.compare(member.size() - 3, 3, "box") == 0)
          indexWords(rest, index->recordFile("inner", entry, 0, static_cast<uint32_t>(rest.size())));
      }
    } else {
      indexWords(text.str(), fileId);
    }
    ++index->contentsIndexed;
    return true;
  }
  std::vector<std::string> read;

 private:
  void indexWords(const std::string& text, uint32_t fileId) {
    std::string word;
    for (char c : text + " ") {
      if (c >= 'a' && c <= 'z') {
        word += c;
      } else if (!word.empty()) {
        index->indexWord(word.c_str(), fileId);
        word.clear();
      }
    }
  }
};

// A word's files as the C interface reads them: currentFile, then the blocks.
std::vector<uint32_t> filesOfWord(const CKolvoIndex& index, uint32_t word, std::vector<uint8_t>* ranks = nullptr);
std::vector<uint32_t> filesOfWord(const CKolvoIndex& index, const char* word);
// The full path of a file entry (its folder's name, '/', its own).
std::string pathOf(const CKolvoIndex& index, uint32_t file);
// The paths of every live entry: folders by their path, files under live folders.
std::set<std::string> livePaths(const CKolvoIndex& index);
// Every word with the paths of the live files it is in.
std::map<std::string, std::set<std::string>> liveWordFiles(const CKolvoIndex& index);

class IndexFixture {
 public:
  IndexFixture();
  // Creates the index for a build: new, analyzers, include pattern, empty, new links.
  void startBuild(const char* includePattern = "*");
  // Builds root entirely, as a build does, and stores the index.
  void buildTree(const std::string& root);
  // Reopens the stored index and updates it since its time base, then stores it.
  void updateTree(int32_t timeBase);
  // The same, updating the named paths only.
  void updatePaths(int32_t timeBase, const std::vector<std::string>& paths);
  // Registers a fresh analyzer under name.
  WordsOfLetters* registerAnalyzer(const std::string& name = "generic");

  TempDir tree;
  TempDir store;
  std::unique_ptr<CKolvoIndex> index;
  WordsOfLetters* analyzer = nullptr;
  std::string includePattern = "*";
  std::string excludePattern;  // none when empty
  // Threads the update takes statuses on besides its own.
  unsigned statusThreads = kolvo::limits::updateStatusThreads;
  // Whether the update asks its statuses many to a system call.
  bool batchedStatuses = true;

 private:
  // Reopens the stored index as an update does, runs work, and stores it.
  void reopenAndStore(int32_t timeBase, void (*work)(CKolvoIndex&, const std::vector<std::string>&),
                      const std::vector<std::string>& paths);
};

}  // namespace kolvotest
