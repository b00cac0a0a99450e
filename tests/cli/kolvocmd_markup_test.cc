// End to end: kolvocmd builds an index of a folder holding web pages (UTF-8 and
// Latin-1) and an RTF letter through the "html" and "rtf" analyzers, then finds their
// visible words and shows their text without markup, down to the last byte.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tests/cli/kolvocmd_runner.h"

using kolvotest::KolvocmdRun;
using kolvotest::KolvocmdRunner;
using Lines = std::vector<std::string>;

namespace {

std::string joined(const Lines& lines) {
  std::string text;
  for (const std::string& line : lines) text += line + "\n";
  return text;
}

class KolvocmdMarkupTest : public ::testing::Test {
 protected:
  void SetUp() override {
    runner.folder().write("docs/page.html",
                          "<html><head><title>Guide</title><style>p { color: red }</style></head>\n"
                          "<body><p>Paragraph about mountains &amp; rivers.</p>\n"
                          "<p>\xD0\x9F\xD1\x80\xD0\xB8\xD0\xB2\xD0\xB5\xD1\x82 interleaved</p>"
                          "<script>var hidden = 1;</script>\n<p>closing</p></body></html>\nfinalword");
    runner.folder().write("docs/old.html", "<p>Old Latin-1 page: s\xE6lg\xE6ttis</p>");
    runner.folder().write("docs/letter.rtf",
                          "{\\rtf1\\ansi\\deff0{\\fonttbl{\\f0\\froman Garamondish;}}"
                          "{\\stylesheet{\\s0 Normalstyle;}}\\pard\\plain H\\b e\\b0 llo reader,\\par "
                          "Sincerely yours\\par}");
  }
  // The answers of the commands after a build: answers[0] is the first command's.
  std::vector<Lines> afterBuild(const std::string& commands, std::string* errors = nullptr) {
    return runner.answersAfter(
        "addroot " + runner.documents() + "\naddinclude *.html html\naddinclude *.rtf rtf\nbuild\n", commands, errors);
  }
  // The text filecontents shows of the one file a search finds.
  std::string contentsOf(const std::string& word) {
    auto answers = afterBuild("find " + word + "\nlistresults 1\n");
    if (answers.size() != 2 || answers[1].size() != 3) {
      ADD_FAILURE() << "no single result for " << word;
      return {};
    }
    std::string key = answers[1][1].substr(answers[1][1].rfind('\t') + 1);
    answers = afterBuild("find " + word + "\nsetvalue outline false\nfilecontents " + key + "\n");
    return answers.size() == 3 ? joined(answers[2]) : std::string();
  }

  KolvocmdRunner runner;
};

TEST_F(KolvocmdMarkupTest, VisibleWordsAreFoundAndMarkupIsNot) {
  std::string output;
  auto answers = afterBuild(
      "find mountains\nfind rivers\nfind interleaved\nfind finalword\nfind hello\nfind sincerely\n"
      "find garamondish\nfind normalstyle\nfind llo\n",
      &output);
  ASSERT_EQ(answers.size(), 9u);
  for (size_t found = 0; found < 6; ++found) EXPECT_EQ(answers[found], Lines{"Found 1 Occurrences: 1"}) << found;
  for (size_t absent = 6; absent < 9; ++absent) EXPECT_EQ(answers[absent], Lines{"Found 0 Occurrences: 0"}) << absent;
  EXPECT_EQ(output.find("could not be found"), std::string::npos);
}

TEST_F(KolvocmdMarkupTest, ContentsShowTheTextWithoutMarkupToTheLastByte) {
  std::string page = contentsOf("mountains");
  EXPECT_NE(page.find("mountains & rivers"), std::string::npos) << page;
  EXPECT_NE(page.find("finalword"), std::string::npos) << page;
  EXPECT_EQ(page.find("<p>"), std::string::npos) << page;
  EXPECT_EQ(page.find("hidden"), std::string::npos) << page;
  EXPECT_EQ(page.find("color"), std::string::npos) << page;

  std::string letter = contentsOf("hello");
  EXPECT_NE(letter.find("Hello reader"), std::string::npos) << letter;
  EXPECT_NE(letter.find("Sincerely yours"), std::string::npos) << letter;
  EXPECT_EQ(letter.find("Garamondish"), std::string::npos) << letter;
  EXPECT_EQ(letter.find("\\par"), std::string::npos) << letter;
}

}  // namespace
