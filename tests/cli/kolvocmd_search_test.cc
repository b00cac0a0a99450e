// End-to-end searches: kolvocmd builds an index of a small tree, then its find,
// listresults, filecontents and criteria answers are compared line by line.
#include <gtest/gtest.h>

#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <set>

#include "tests/cli/kolvocmd_runner.h"
#include "tests/support/slow_reader.h"

namespace fs = std::filesystem;
using kolvotest::KolvocmdRun;
using kolvotest::KolvocmdRunner;
using kolvotest::fieldsOf;
using Lines = std::vector<std::string>;

namespace {

class KolvocmdSearchTest : public ::testing::Test {
 protected:
  void SetUp() override {
    runner.folder().write("kolvo/skipfile.txt", "the\n");
    runner.folder().write("docs/fox.txt", "The quick brown fox jumps over the lazy dog.\nThe fox sleeps.\n");
    runner.folder().write("docs/sub/dog.txt", "A lazy dog and a brown cat.\nLater a quick fox.\n");
    runner.folder().write("docs/note.md", "brown paper\n");
  }
  // The answers of the commands after a build: answers[0] is the first command's.
  std::vector<Lines> afterBuild(const std::string& commands) {
    return runner.answersAfter("addroot " + runner.documents() + "\naddinclude *.txt\naddinclude *.md\nbuild\n",
                               commands);
  }
  std::string size(const std::string& name) const {
    return std::to_string(fs::file_size(runner.folder().path() / "docs" / name));
  }

  KolvocmdRunner runner;
};

TEST_F(KolvocmdSearchTest, FindAnswersItsCountsAndListresultsItsFiles) {
  auto answers = afterBuild("find brown\nlistresults\nfind the fox\nfind \"lazy dog\" | paper\nfind fox | paper\nlistresults 2\n"
                            "find fox <2 quick\nfind (fox\nlistresults 0\n");
  ASSERT_EQ(answers.size(), 9u);
  EXPECT_EQ(answers[0], Lines{"Found 3 Occurrences: 3"});
  ASSERT_EQ(answers[1].size(), 5u);
  EXPECT_EQ(answers[1][0], "<RESULTS>");
  // All rank 0: ascending keys, which are the order the files entered the table.
  std::vector<std::string> names;
  for (std::size_t i = 1; i < 4; ++i) names.push_back(answers[1][i].substr(0, answers[1][i].find('\t')));
  std::sort(names.begin(), names.end());
  EXPECT_EQ(names, (Lines{"dog.txt", "fox.txt", "note.md"}));
  EXPECT_EQ(answers[1][4], "</RESULTS>");
  EXPECT_EQ(answers[2], Lines{"Found 2 Occurrences: 3 Skipped(  the )"});
  EXPECT_EQ(answers[3], Lines{"Found 3 Occurrences: 5"});
  EXPECT_EQ(answers[4], Lines{"Found 3 Occurrences: 4"});
  ASSERT_EQ(answers[5].size(), 4u);
  std::vector<std::string> best = fieldsOf(answers[5][1]);
  ASSERT_EQ(best.size(), 6u);
  EXPECT_EQ(best[0], "fox.txt");
  EXPECT_EQ(best[1], runner.documents() + "/");
  EXPECT_EQ(best[2], "1");
  EXPECT_EQ(best[4], size("fox.txt"));
  EXPECT_EQ(answers[6], Lines{"Found 0 Occurrences: 0"});
  EXPECT_EQ(answers[7], Lines{"ERROR Parenthesis mismatch in phrase \"(fox\""});
  EXPECT_EQ(answers[8], Lines{"ERROR Zero results requested"});
}

TEST_F(KolvocmdSearchTest, FilecontentsShowsTheHitsOfTheLastSearch) {
  auto answers = afterBuild("find lazy\nlistresults 1\n");
  ASSERT_EQ(answers.size(), 2u);
  ASSERT_EQ(answers[1].size(), 3u);
  std::string key = answers[1][1].substr(answers[1][1].rfind('\t') + 1);
  std::string file = answers[1][1].substr(0, answers[1][1].find('\t'));
  answers = afterBuild("find lazy\nfilecontents " + key + "\nsetvalue outline false\nfilecontents " + key + "\n");
  ASSERT_EQ(answers.size(), 4u);
  if (file == "fox.txt") {
    EXPECT_EQ(answers[1], (Lines{"{{SPLIT}}36:4\t{{SPLIT}}The quick brown fox jumps over the lazy dog.", "{{SPLIT}}"}));
    EXPECT_EQ(answers[3],
              (Lines{"{{SPLIT}}36:4\t{{SPLIT}}The quick brown fox jumps over the lazy dog.", "The fox sleeps.",
                     "{{SPLIT}}"}));
  } else {
    EXPECT_EQ(answers[1], (Lines{"{{SPLIT}}3:4\t{{SPLIT}}A lazy dog and a brown cat.", "{{SPLIT}}"}));
  }
}

TEST_F(KolvocmdSearchTest, CriteriaAreKeptWithTheIndex) {
  auto answers = afterBuild("/criteria setvalue fileName *.md\nfind brown\n/criteria setvalue folderName *sub\n"
                            "/criteria setvalue fileName *\nfind brown\nsave\n");
  ASSERT_EQ(answers.size(), 6u);
  EXPECT_EQ(answers[1], Lines{"Found 1 Occurrences: 1"});
  EXPECT_EQ(answers[4], Lines{"Found 1 Occurrences: 1"});
  KolvocmdRun reopened = runner.run("open default\n/criteria getvalue folderName\nfind brown\n/criteria clear\nfind brown\n");
  auto again = reopened.answers();
  ASSERT_EQ(again.size(), 7u) << reopened.out;
  EXPECT_EQ(again[2], Lines{"*sub"});
  EXPECT_EQ(again[3], Lines{"Found 1 Occurrences: 1"});
  EXPECT_EQ(again[4], Lines{"criteria cleared"});
  EXPECT_EQ(again[5], Lines{"Found 3 Occurrences: 3"});
}

// A fresh process opens the stored index without reading its tables whole: it must
// search, list, look names up (an update finds each unchanged file by its name and
// folder) and update exactly as the process that built it did.
TEST_F(KolvocmdSearchTest, AnIndexOpenedInANewProcessAnswersAndUpdatesAsTheBuiltOne) {
  auto built = afterBuild("find brown\nlistresults\nfind lazy\n");
  ASSERT_EQ(built.size(), 3u);
  KolvocmdRun opened = runner.run("open default\nfind brown\nlistresults\nfind lazy\n");
  auto answers = opened.answers();
  ASSERT_EQ(answers.size(), 6u) << opened.out;
  EXPECT_EQ(answers[2], built[0]);
  EXPECT_EQ(answers[3], built[1]);
  EXPECT_EQ(answers[4], built[2]);

  runner.folder().write("docs/sub/owl.txt", "A brown owl.\n");
  KolvocmdRun updated = runner.run("open default\nupdate\nfind brown\nfind owl\nfind lazy\n");
  auto after = updated.answers();
  ASSERT_EQ(after.size(), 7u) << updated.out;
  EXPECT_EQ(after[3], Lines{"Found 4 Occurrences: 4"});
  EXPECT_EQ(after[4], Lines{"Found 1 Occurrences: 1"});
  EXPECT_EQ(after[5], built[2]);
  KolvocmdRun reopened = runner.run("open default\nfind brown\nfind owl\n");
  auto again = reopened.answers();
  ASSERT_EQ(again.size(), 5u) << reopened.out;
  EXPECT_EQ(again[2], Lines{"Found 4 Occurrences: 4"});
  EXPECT_EQ(again[3], Lines{"Found 1 Occurrences: 1"});
}

// A listing of more than twice what a pipe holds read through one by a reader slower than the
// program: every line arrives whole and in order, as a run into a file prints it, and
// each file once with its description.
TEST_F(KolvocmdSearchTest, ALongListingReachesASlowReaderOfAPipeWholeAndInOrder) {
  const int files = 900;
  std::set<std::string> names;
  for (int i = 0; i < files; ++i) {
    std::string name = "listed file " + std::to_string(i) + " with a name long enough to fill a line " +
                       std::string(static_cast<std::size_t>(i % 90), 'n') + ".txt";
    names.insert(name);
    std::string text = "harbour\n";
    for (int more = 0; more < i % 4; ++more) text += "harbour again\n";
    runner.folder().write("docs/deep/er/folder" + std::to_string(i % 7) + "/" + name, text);
  }
  auto built = afterBuild("find harbour\n");
  ASSERT_EQ(built.size(), 1u);
  runner.folder().write("list.cmd", "open default\nfind harbour\nlistresults\n");
  const std::string script = (runner.folder().path() / "list.cmd").string();
  KolvocmdRun fast = runner.run("", {"-r", script});
  ASSERT_EQ(fast.status, 0) << fast.err;
  ASSERT_GT(fast.out.size(), std::size_t{128} << 10);

  int output = -1;
  int child = runner.start({"-r", script}, &output);
  ASSERT_GT(child, 0);
  std::string slow = kolvotest::readToEnd(output, true);
  close(output);
  int status = 0;
  ASSERT_EQ(waitpid(child, &status, 0), child);
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
  EXPECT_EQ(slow.size(), fast.out.size());
  EXPECT_TRUE(slow == fast.out);

  // Each file once, under its own folder, with its size; best ranked first.
  Lines listed = kolvotest::lines(slow);
  auto start = std::find(listed.begin(), listed.end(), "<RESULTS>");
  ASSERT_NE(start, listed.end());
  std::set<std::string> seen;
  int lastRank = 1 << 30;
  for (auto line = start + 1; line != listed.end() && *line != "</RESULTS>"; ++line) {
    Lines fields = fieldsOf(*line);
    ASSERT_EQ(fields.size(), 6u) << *line;
    EXPECT_TRUE(names.count(fields[0])) << fields[0];
    EXPECT_TRUE(seen.insert(fields[0]).second) << fields[0];
    EXPECT_EQ(fields[4], std::to_string(fs::file_size(fs::path(fields[1]) / fields[0]))) << *line;
    int rank = std::stoi(fields[2]);
    EXPECT_LE(rank, lastRank);
    lastRank = rank;
  }
  EXPECT_EQ(seen.size(), names.size());
}

}  // namespace
