// What the analyzer and word-indexing tests share: a new index in a temporary kolvo
// directory, ready to take words, with letters and digits as word characters, and
// readers of what ended up in its tables.
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <set>
#include <string>
#include <tuple>
#include <vector>

#include "engine/analyzers/file_analyzer.h"
#include "engine/index/kolvo_index.h"
#include "tests/support/chunk_text.h"
#include "tests/support/temp_dir.h"

namespace kolvotest {

struct Link {
  uint32_t file;
  std::string word;
  uint8_t rank;
  bool operator==(const Link& other) const = default;
};

class AnalyzerFixture {
 public:
  AnalyzerFixture();
  // The kolvo directory (where "externanalyzers.txt" and "skipfile.txt" live).
  std::string kolvoDirectory() const { return root.slashed() + "kolvo/"; }
  // Writes a file below the temporary folder and returns its path.
  std::string writeFile(const std::string& name, const std::string& contents) const { return root.write(name, contents); }
  // Every word of the word table.
  std::set<std::string> words() const;
  // The links handed to the temporary link table so far, in order.
  std::vector<Link> links() const;

  TempDir root;
  std::unique_ptr<CKolvoIndex> index;
};

// The display text the analyzer makes of bytes filtered in one piece, as if no chunk
// ever ended there.
std::string displayInOnePiece(CFileAnalyzer& analyzer, std::string bytes, int wrapWidth, bool stripMarkup);
// The display text of the file at path, read in chunks.
std::string displayOfFile(CFileAnalyzer& analyzer, const std::string& path, int wrapWidth, bool stripMarkup);

}  // namespace kolvotest
