// The analyzer registry: built-in names, the grammar of "externanalyzers.txt", the
// choice of an analyzer by name, the matchers' C entries, and an index made through
// the C interface from a few files.
#include <gtest/gtest.h>

#include <filesystem>
#include <set>
#include <string>
#include <vector>

#include "engine/analyzers/dos_oem_analyzer.h"
#include "engine/analyzers/external_analyzer.h"
#include "engine/analyzers/file_analyzer.h"
#include "engine/analyzers/html_analyzer.h"
#include "engine/analyzers/mac_roman_analyzer.h"
#include "engine/analyzers/rtf_analyzer.h"
#include "engine/index/kolvo_index.h"
#include "engine/kolvolib/error_reporting.h"
#include "engine/mboxanalyzer/mbox_analyzer.h"
#include "include/kolvolib.h"
#include "tests/engine/analyzers/analyzer_fixture.h"

namespace {

using kolvotest::AnalyzerFixture;

std::vector<std::string> told;
void collect(const char* code, const char* detail) { told.push_back(std::string(code) + "|" + detail); }

class RegistryTest : public ::testing::Test {
 protected:
  void SetUp() override {
    told.clear();
    kSetWarningCallBack(collect);
    kSetThrowCallBack(collect);
  }
  void TearDown() override {
    kSetWarningCallBack(nullptr);
    kSetThrowCallBack(nullptr);
  }
  CKolvoIndex& index() { return *fixture.index; }
  std::vector<std::string> names() {
    std::vector<std::string> found;
    for (const auto& [name, analyzer] : index().analyzerMap) found.push_back(name);
    return found;
  }
  AnalyzerFixture fixture;
};

TEST_F(RegistryTest, BuiltInAnalyzers) {
  index().createAnalyzers();
  EXPECT_EQ(typeid(*index().analyzerMap["generic"]), typeid(CFileAnalyzer));
  EXPECT_NE(dynamic_cast<CMacRomanAnalyzer*>(index().analyzerMap["macroman"].get()), nullptr);
  EXPECT_NE(dynamic_cast<CDosOemAnalyzer*>(index().analyzerMap["dosoem"].get()), nullptr);
  EXPECT_NE(dynamic_cast<CHtmlAnalyzer*>(index().analyzerMap["html"].get()), nullptr);
  EXPECT_NE(dynamic_cast<CRtfAnalyzer*>(index().analyzerMap["rtf"].get()), nullptr);
  EXPECT_NE(dynamic_cast<CMBoxAnalyzer*>(index().analyzerMap["mbox"].get()), nullptr);
  index().clearAnalyzers();
  EXPECT_TRUE(index().analyzerMap.empty());
}

struct Entry {
  std::string name;
  std::string command;  // as run for the input "I" and the output "O"
  std::string outputSuffix;
  bool operator==(const Entry&) const = default;
};

struct GrammarCase {
  const char* name;
  std::string text;
  std::vector<Entry> entries;
  std::vector<std::string> warnings;
};

TEST_F(RegistryTest, ExternalAnalyzersFileGrammar) {
  const std::vector<GrammarCase> cases = {
      {"three value lines", "ps\ntxt\nconv %i %o\n", {{"ps", "conv 'I' 'O'", "/1.txt"}}, {}},
      {"comments, empty lines and trailing blanks",
       "# converters\nps # postscript\n\n  txt\t \n#x\nconv %i %o  \t\n",
       {{"ps", "conv 'I' 'O'", "/1.  txt"}}, {}},
      {"CR LF", "ps\r\ntxt\r\nconv %i %o\r\n", {{"ps", "conv 'I' 'O'", "/1.txt"}}, {}},
      {"lone CR", "ps\rtxt\rconv %o %i\r", {{"ps", "conv 'O' 'I'", "/1.txt"}}, {}},
      {"a last line without a break is not taken", "ps\ntxt\nconv %i %o", {}, {}},
      {"a fourth line waits for two more", "ps\ntxt\nconv %i %o\nother\n", {{"ps", "conv 'I' 'O'", "/1.txt"}}, {}},
      {"a command with one placeholder is refused", "one\ntxt\nconv %i\ntwo\n...\nc %i %o\n",
       {{"two", "c 'I' 'O'", "/1"}}, {"ExternalAnalyzerRefused|one"}},
      {"a later entry replaces a built-in", "generic\ntxt\nconv %i>%o\n", {{"generic", "conv 'I'>'O'", "/1.txt"}},
       {}},
  };
  for (const GrammarCase& test : cases) {
    SCOPED_TRACE(test.name);
    told.clear();
    fixture.writeFile("kolvo/externanalyzers.txt", test.text);
    index().createAnalyzers();
    std::vector<Entry> entries;
    for (const auto& [name, analyzer] : index().analyzerMap) {
      auto* external = dynamic_cast<CExternalAnalyzer*>(analyzer.get());
      if (!external) continue;
      std::string suffix = external->makeTemporaryPath("/d/x", 1).substr(index().temporaryDirectory.size());
      entries.push_back({name, external->commandFor("I", "O"), suffix});
    }
    EXPECT_EQ(entries, test.entries);
    EXPECT_EQ(told, test.warnings);
    EXPECT_TRUE(index().analyzerMap.count("macroman"));
  }
}

TEST_F(RegistryTest, FileSizeLimit) {
  std::string entry = "ps\ntxt\nconv %i %o\n";
  std::string fits = entry + std::string(65534 - entry.size() - 1, '#') + "\n";
  ASSERT_EQ(fits.size(), 65534u);
  std::string path = fixture.writeFile("kolvo/externanalyzers.txt", fits);
  index().createAnalyzers();
  EXPECT_TRUE(index().analyzerMap.count("ps"));
  EXPECT_TRUE(told.empty());
  fixture.writeFile("kolvo/externanalyzers.txt", fits + "#");
  EXPECT_THROW(index().createAnalyzers(), kolvo::AbortToken);
  EXPECT_EQ(told, (std::vector<std::string>{"externalAnalyzersFileTooBig|" + path}));
}

TEST_F(RegistryTest, AnalyzerThatMatches) {
  index().createAnalyzers();
  EXPECT_EQ(index().analyzerThatMatches("x.c"), nullptr);
  index().setIncludeCount(3);
  index().setIncludePattern(0, "*.c|*.h", "generic");
  index().setIncludePattern(1, "*.h", "macroman");
  index().setIncludePattern(2, "^*.txt", "dosoem");
  CFileAnalyzer* generic = index().analyzerMap["generic"].get();
  EXPECT_EQ(index().analyzerThatMatches("x.h"), generic);
  EXPECT_EQ(index().analyzerThatMatches("X.C"), generic);
  EXPECT_EQ(index().analyzerThatMatches("a.doc"), index().analyzerMap["dosoem"].get());
  EXPECT_EQ(index().analyzerThatMatches("a.txt"), nullptr);
}

// A container analyzer that records where it was asked to extract to.
class Container : public CFileAnalyzer {
 public:
  using CFileAnalyzer::CFileAnalyzer;
  bool extractToTempFile(const char*, const char*, const char* destination, uint32_t) override {
    asked.push_back(destination);
    return answer;
  }
  std::vector<std::string> asked;
  bool answer = true;
};

TEST_F(RegistryTest, ExtractToTempFile) {
  index().createAnalyzers();
  auto owned = std::make_unique<Container>(&index());
  Container* container = owned.get();
  index().analyzerMap["box"] = std::move(owned);
  EXPECT_EQ(index().extractToTempFile("/d/a.box", "m.txt", 3), "");
  index().setIncludeCount(2);
  index().setIncludePattern(0, "*.box", "box");
  index().setIncludePattern(1, "*", "generic");
  std::string tmp = index().temporaryDirectory;
  EXPECT_EQ(index().extractToTempFile("/d/a.box", "dir/m.tar.gz", 3), tmp + "/tmp3.gz");
  EXPECT_EQ(index().extractToTempFile("/d/a.box", "README", 4), tmp + "/tmp4.README");
  container->answer = false;
  EXPECT_EQ(index().extractToTempFile("/d/a.box", "m.txt", 5), "");
  EXPECT_EQ(container->asked, (std::vector<std::string>{tmp + "/tmp3.gz", tmp + "/tmp4.README", tmp + "/tmp5.txt"}));
  // The generic analyzer holds no members.
  EXPECT_EQ(index().extractToTempFile("/d/a.zip", "m.txt", 6), "");
}

TEST(MatchingEntries, WordsAndFolders) {
  AnalyzerFixture fixture;
  CKolvoIndex* index = fixture.index.get();
  struct Case {
    const char* text;
    const char* pattern;
    bool word;
    kbool expected;
  };
  const std::vector<Case> cases = {
      {"abc", "a*c", true, 1}, {"abc", "ABC", true, 0}, {"abc", "????", true, 1}, {"abc", "a*?", true, 0},
      {"/a/b/", "/a/c", false, 1}, {"/a/b/", "/a/c/d", false, 0}, {"/a/b/", "*.txt", false, 1},
      {"/a/b", "/a/b/*.txt", false, 0},
  };
  for (const Case& test : cases) {
    SCOPED_TRACE(std::string(test.text) + " " + test.pattern);
    kbool got = test.word ? kidxDoesWordMatch(index, test.text, test.pattern) : kidxDirMatch(index, test.text, test.pattern);
    EXPECT_EQ(got, test.expected);
  }
  index->setValidCharMask('*', true);
  EXPECT_EQ(kidxDoesWordMatch(index, "abc", "a*c"), 0);
  EXPECT_EQ(kidxDoesWordMatch(index, "a*c", "a*c"), 1);
  EXPECT_EQ(kidxDoesWordMatch(nullptr, "abc", "abc"), 0);
  EXPECT_EQ(kidxDoesWordMatch(index, nullptr, "abc"), 0);
  EXPECT_EQ(kidxDirMatch(index, "/a/", nullptr), 0);
}

TEST(CInterfaceIndex, FewFilesWithIncludePatterns) {
  kolvotest::TempDir root;
  std::string indexPath = root.slashed() + "kolvo/indexes/Idx/build_1/";
  std::filesystem::create_directories(indexPath);
  root.write("kolvo/skipfile.txt", "the,and,\n");
  CKolvoIndex* index = kCreateNewIndex(1, indexPath.c_str());
  ASSERT_NE(index, nullptr);
  for (int c = 'a'; c <= 'z'; ++c) kidxSetValidCharMask(index, c, 1);
  for (int c = 'A'; c <= 'Z'; ++c) kidxSetValidCharMask(index, c, 1);
  kidxSetMaxPerFileRead(index, 1000);
  kidxSetMaxWordLength(index, 8);
  kidxCreateAnalyzers(index);
  kidxIndexExclusions(index);
  kidxSetIncludeCount(index, 2);
  kidxSetIncludePattern(index, 0, "*.txt", "generic");
  kidxSetIncludePattern(index, 1, "*.mac", "macroman");
  kidxEmptyIndex(index);
  kidxNewFileLinks(index);

  const std::vector<std::pair<std::string, std::string>> files = {
      {"one.txt", "The river and the Sea"},
      {"two.mac", "c\xCEur river"},
      {"three.log", "ignored words"},
      {"four.txt", "ninechars eightchr ok " + std::string(10, 'w')},
  };
  uint32_t fileId = 100;
  for (const auto& [name, text] : files) {
    std::string path = root.write(name, text);
    CFileAnalyzer* analyzer = index->analyzerThatMatches(path.c_str());
    if (analyzer) {
      EXPECT_TRUE(analyzer->indexFile(path.c_str(), ++fileId));
    }
  }
  kidxIndexWord(index, "extra", 200);

  std::set<std::string> words;
  CTextStorage* table = kidxGetWords(index);
  for (kulong word = ktsGetFirst(table); word; word = ktsGetNext(table, word)) words.insert(ktsGetText(table, word));
  // "ninechars" is one letter over the limit and still passes; 0xCE is not a word
  // character, so the Mac Roman file gives "ur" (too short) and "river".
  EXPECT_EQ(words, (std::set<std::string>{"river", "sea", "ninechars", "eightchr", "extra"}));
  EXPECT_EQ(kidxGetContentsIndexed(index), 3u);
  kidxClearIndex(index);
}

}  // namespace
