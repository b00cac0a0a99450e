// What the archive tests share: an index with the zip, tar and gzip analyzers and two
// test analyzers behind include patterns, a walk over a folder of archives the tests
// write, and readers of the entries and words that came out.
#pragma once

#include <cstdint>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "engine/analyzers/file_analyzer.h"
#include "engine/index/kolvo_index.h"
#include "tests/engine/analyzers/analyzer_fixture.h"
#include "tests/support/archive_writers.h"
#include "tests/support/engine_errors.h"

namespace kolvotest {

// Wants whole files ("*.doc"): each member reaches it as a temporary file, whose path
// and presence it notes before it indexes the words.
class WholeFileWords : public CFileAnalyzer {
 public:
  using CFileAnalyzer::CFileAnalyzer;
  bool canUseIndexBuffer() override { return false; }
  bool indexFile(const char* path, uint32_t fileId) override;
  std::vector<std::string> paths;
};

// Raises an error on every file it is given ("*.bad").
class RaisingAnalyzer : public CFileAnalyzer {
 public:
  using CFileAnalyzer::CFileAnalyzer;
  bool canUseIndexBuffer() override { return false; }
  bool indexFile(const char* path, uint32_t fileId) override;
  std::vector<std::string> paths;
};

class ArchiveFixture : public AnalyzerFixture {
 public:
  ArchiveFixture();
  // The folder the walk indexes, and the folder of extracted members.
  std::string docs() const { return root.slashed() + "docs"; }
  std::string extracted() const { return index->temporaryDirectory + "/extracted"; }
  // Writes a file below docs.
  std::string put(const std::string& name, const std::string& bytes) const { return root.write("docs/" + name, bytes); }
  // Walks docs as a build does, then gathers the words of each file.
  void walk();
  // Stores the index, opens it again and updates it as kolvocmd's "update" does.
  void update(int32_t timeBase);
  // Each live entry below docs by its path from docs ("a.zip/docs/a.txt").
  std::map<std::string, uint32_t> entries() const;
  uint32_t entry(const std::string& path) const;
  std::set<std::string> wordsOf(uint32_t fileId) const;
  std::set<std::string> wordsOf(const std::string& path) const { return wordsOf(entry(path)); }
  // The files left in the extracted folder.
  std::vector<std::string> leftovers() const;

  // Registers the analyzers and include patterns the tests use.
  void registerAnalyzers();
  void gatherWords();

  EngineErrors errors;
  WholeFileWords* whole = nullptr;
  RaisingAnalyzer* raising = nullptr;
  uint32_t docsId = 0;
  const CKolvoIndex::CharMask validChars;
  std::map<uint32_t, std::set<std::string>> wordsByFile;
};

}  // namespace kolvotest
