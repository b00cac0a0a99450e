// External analyzers: the converter's command line, its output path, and how a failing,
// silent or hanging converter leaves the build going.
#include "engine/analyzers/external_analyzer.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "include/kolvolib.h"
#include "tests/engine/analyzers/analyzer_fixture.h"

namespace {

using kolvotest::AnalyzerFixture;

std::vector<std::string> warnings;
void collectWarning(const char* code, const char* detail) { warnings.push_back(std::string(code) + "|" + detail); }

class ExternalAnalyzerTest : public ::testing::Test {
 protected:
  void SetUp() override {
    index().createAnalyzers();
    index().setIncludeCount(1);
    index().setIncludePattern(0, "*.txt", "generic");
    warnings.clear();
    kSetWarningCallBack(collectWarning);
  }
  void TearDown() override { kSetWarningCallBack(nullptr); }
  CKolvoIndex& index() { return *fixture.index; }

  AnalyzerFixture fixture;
};

TEST_F(ExternalAnalyzerTest, ConvertedOutputIsIndexedAndKeptForDisplay) {
  CExternalAnalyzer analyzer(&index(), "txt", "cp %i %o");
  std::string input = fixture.writeFile("doc.ps", "hello converted world");
  ASSERT_TRUE(analyzer.indexFile(input.c_str(), 5));
  EXPECT_EQ(fixture.words(), (std::set<std::string>{"hello", "converted", "world"}));
  EXPECT_TRUE(std::filesystem::exists(index().temporaryDirectory + "/5.txt"));
  for (int c = 'a'; c <= 'z'; ++c) index().setValidViewableMask(c, true);
  char* text = analyzer.fillDisplayBuffer(input.c_str(), 5, 100, 0, false);
  EXPECT_STREQ(text, "hello converted world");
  std::free(text);
  EXPECT_TRUE(warnings.empty());
}

TEST_F(ExternalAnalyzerTest, OutputNoPatternMatchesNeverRunsTheConverter) {
  std::string marker = fixture.root.slashed() + "ran";
  CExternalAnalyzer analyzer(&index(), "out", "touch '" + marker + "'; cp %i %o");
  std::string input = fixture.writeFile("doc.ps", "words here");
  EXPECT_FALSE(analyzer.indexFile(input.c_str(), 5));
  EXPECT_FALSE(std::filesystem::exists(marker));
}

TEST_F(ExternalAnalyzerTest, FailingSilentAndHangingConverters) {
  struct Case {
    const char* name;
    std::string command;
    bool warns;
  };
  const std::vector<Case> cases = {
      {"fails", "cp %i %o; exit 3", true},
      {"writes nothing", "true %i %o", false},
      {"hangs", "cp %i %o; sleep 30", true},
  };
  for (const Case& test : cases) {
    SCOPED_TRACE(test.name);
    warnings.clear();
    CExternalAnalyzer analyzer(&index(), "txt", test.command);
    analyzer.timeLimitSeconds = 0.3;
    std::string input = fixture.writeFile("doc.ps", "never indexed");
    auto started = std::chrono::steady_clock::now();
    EXPECT_FALSE(analyzer.indexFile(input.c_str(), 9));
    EXPECT_LT(std::chrono::steady_clock::now() - started, std::chrono::seconds(10));
    EXPECT_TRUE(fixture.words().empty());
    EXPECT_FALSE(std::filesystem::exists(index().temporaryDirectory + "/9.txt"));
    if (test.warns) EXPECT_EQ(warnings, (std::vector<std::string>{"ConverterFailed|" + input}));
    else EXPECT_TRUE(warnings.empty());
    char* text = analyzer.fillDisplayBuffer(input.c_str(), 9, 100, 0, false);
    EXPECT_STREQ(text, "");
    std::free(text);
  }
}

TEST_F(ExternalAnalyzerTest, MemoryLimitStopsTheConverter) {
  CExternalAnalyzer analyzer(&index(), "txt", "cp %i %o");
  analyzer.memoryLimitBytes = 64 * 1024;
  std::string input = fixture.writeFile("doc.ps", "never indexed");
  EXPECT_FALSE(analyzer.indexFile(input.c_str(), 9));
  EXPECT_EQ(warnings, (std::vector<std::string>{"ConverterFailed|" + input}));
}

TEST_F(ExternalAnalyzerTest, ShellMetacharactersInNamesRunNothing) {
  std::string root = fixture.root.slashed();
  for (const char* name : {"$(touch PWNED).ps", "a; touch PWNED; b.ps", "it's `touch PWNED`.ps"}) {
    SCOPED_TRACE(name);
    CExternalAnalyzer analyzer(&index(), "txt", "cd '" + root + "' && cp %i %o");
    std::string input = fixture.writeFile(name, "quoted safely");
    fixture.index->emptyIndex();
    fixture.index->newFileLinks();
    ASSERT_TRUE(analyzer.indexFile(input.c_str(), 4));
    EXPECT_EQ(fixture.words(), (std::set<std::string>{"quoted", "safely"}));
    EXPECT_FALSE(std::filesystem::exists(root + "PWNED"));
  }
}

TEST_F(ExternalAnalyzerTest, CommandLineOrderAndQuoting) {
  EXPECT_EQ(CExternalAnalyzer(&index(), "txt", "conv %i %o -q").commandFor("/in x", "/out"),
            "conv '/in x' '/out' -q");
  EXPECT_EQ(CExternalAnalyzer(&index(), "txt", "conv -o %o %i").commandFor("/in", "/out"), "conv -o '/out' '/in'");
  EXPECT_EQ(CExternalAnalyzer(&index(), "txt", "a%ib%oc%id").commandFor("I", "O"), "a'I'b'O'c%id");
  EXPECT_EQ(CExternalAnalyzer::shellQuoted("it's"), "'it'\\''s'");
  EXPECT_EQ(CExternalAnalyzer::countPlaceholders("conv %i"), 1);
  EXPECT_EQ(CExternalAnalyzer::countPlaceholders("conv %x %o %i"), 2);
}

TEST_F(ExternalAnalyzerTest, TemporaryPaths) {
  struct Case {
    const char* extension;
    const char* input;
    const char* suffix;
  };
  const std::vector<Case> cases = {
      {"txt", "/d/a.ps", "/12.txt"},
      {"...", "/d/report.txt.gz", "/12.txt"},
      {"...", "/d/a.b.c.gz", "/12.b.c"},
      {"...", "/d.x.y/a.gz", "/12"},
      {"...", "/d/plain", "/12"},
  };
  for (const Case& test : cases) {
    SCOPED_TRACE(test.input);
    CExternalAnalyzer analyzer(&index(), test.extension, "c %i %o");
    EXPECT_EQ(analyzer.makeTemporaryPath(test.input, 12), index().temporaryDirectory + test.suffix);
  }
}

}  // namespace
