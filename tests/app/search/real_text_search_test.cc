// Over the project's sample documents (real prose), every word a reader can see in a
// text file is found by a search for it in exactly the files that hold it, under the
// default settings: words are runs of letters, at least 3 and at most 32 long.
#include <gtest/gtest.h>

#include <cctype>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <set>

#include "app/commands/command_exception.h"
#include "app/commands/command_interface.h"
#include "app/index/kolvo_index.h"
#include "tests/support/index_fixture.h"

namespace fs = std::filesystem;

namespace {

using Files = std::set<std::string>;

// The words of a text as the default settings see them, each file's path once.
void collectWords(const fs::path& file, std::map<std::string, Files>& words) {
  std::ifstream in(file, std::ios::binary);
  std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  std::string word;
  auto finish = [&] {
    if (word.size() >= 3 && word.size() <= 32) words[word].insert(file.string());
    word.clear();
  };
  for (char c : text) {
    if ((c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z')) {
      word += static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    } else {
      finish();
    }
  }
  finish();
}

using RealTextSearchTest = kolvotest::IndexFixture;

TEST_F(RealTextSearchTest, EverySingleWordSearchFindsExactlyTheFilesHoldingIt) {
  fs::copy(fs::path(KOLVO_SOURCE_DIR) / "samples", docs(), fs::copy_options::recursive);

  std::map<std::string, Files> expected;
  for (const auto& entry : fs::recursive_directory_iterator(docs()))
    if (entry.is_regular_file() && entry.path().extension() == ".txt") collectWords(entry.path(), expected);
  ASSERT_GT(expected.size(), 300u) << "the samples hold too few words to say much";

  buildDocs();

  std::size_t checked = 0;
  for (const auto& [word, files] : expected) {
    QvKolvoResults results(index.get());
    index->find(word, results);
    Files found;
    for (kulong file : results.localFiles()) {
      QvKolvoResult result = index->describeFile(file);
      found.insert(result.mParentPath + result.mFileName);
    }
    EXPECT_EQ(found, files) << word;
    if (found != files && ++checked > 20) break;  // enough to see what goes wrong
  }
}

}  // namespace
