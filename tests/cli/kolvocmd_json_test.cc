// Results as JSON Lines from listresults -j and from the command line (-j), read back
// by Python's json module and compared field by field with the plain listing.
#include <gtest/gtest.h>

#include <cstdlib>
#include <ctime>
#include <filesystem>

#include "tests/cli/kolvocmd_runner.h"

using kolvotest::KolvocmdRun;
using kolvotest::KolvocmdRunner;
using kolvotest::fieldsOf;
using Lines = std::vector<std::string>;

namespace {

std::string isoOf(const std::string& secondsSince1904) {
  std::time_t unix = static_cast<std::time_t>(std::stoll(secondsSince1904) - 2082844800LL);
  std::tm utc{};
  gmtime_r(&unix, &utc);
  char text[32];
  std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%SZ", &utc);
  return text;
}

class KolvocmdJsonTest : public ::testing::Test {
 protected:
  void SetUp() override {
    runner.folder().write("docs/fox.txt", "The quick brown fox.\nThe fox sleeps, fox.\n");
    runner.folder().write("docs/sub/dog.txt", "A lazy dog and a brown fox.\n");
    runner.folder().write("docs/say \"hi\" \\ there.txt", "fox\n");
  }
  // Each JSON line parsed by Python and written back as TAB-separated fields: name,
  // folder, rank, seconds, size, key, path, time, and whether the object has a referral.
  std::vector<Lines> parsed(const std::string& jsonLines) {
    runner.folder().write("json/in", jsonLines);
    std::string script =
        "import json,sys\n"
        "for line in open(sys.argv[1], encoding='utf-8'):\n"
        "    o = json.loads(line)\n"
        "    assert isinstance(o['rank'], int) and isinstance(o['size'], int)\n"
        "    print('\\t'.join(str(o[k]) for k in ('name','folder','rank','seconds','size','key','path','time'))"
        " + '\\t' + str('referral' in o))\n";
    runner.folder().write("json/read.py", script);
    std::string base = runner.folder().path().string() + "/json/";
    std::string command = "python3 '" + base + "read.py' '" + base + "in' >'" + base + "out' 2>&1";
    EXPECT_EQ(std::system(command.c_str()), 0) << runner.folder().read("json/out");
    std::vector<Lines> rows;
    for (const std::string& line : kolvotest::lines(runner.folder().read("json/out"))) rows.push_back(fieldsOf(line));
    return rows;
  }

  KolvocmdRunner runner;
};

TEST_F(KolvocmdJsonTest, ListresultsAsJsonLinesMatchesThePlainListing) {
  KolvocmdRun run = runner.run("addroot " + runner.documents() + "\naddinclude *.txt\nbuild\nfind fox\n"
                               "listresults\nlistresults -j\nlistresults -J 1\n");
  ASSERT_EQ(run.status, 0) << run.err;
  auto answers = run.answers();
  ASSERT_GE(answers.size(), 8u) << run.out;
  const Lines& plain = answers[5];
  ASSERT_EQ(plain.size(), 5u) << run.out;  // the frame and three files
  std::string json;
  for (const std::string& line : answers[6]) json += line + "\n";
  std::vector<Lines> rows = parsed(json);
  ASSERT_EQ(rows.size(), 3u) << json;
  for (std::size_t i = 0; i < rows.size(); ++i) {
    Lines listed = fieldsOf(plain[i + 1]);  // name, folder, rank, seconds, size, key
    ASSERT_EQ(listed.size(), 6u);
    ASSERT_EQ(rows[i].size(), 9u);
    for (std::size_t field = 0; field < 6; ++field) EXPECT_EQ(rows[i][field], listed[field]) << "field " << field;
    EXPECT_EQ(rows[i][6], listed[1] + listed[0]);
    EXPECT_EQ(rows[i][7], isoOf(listed[3]));
    EXPECT_EQ(rows[i][8], "False");
  }
  // The option takes a count like the plain listing, and any case.
  ASSERT_EQ(answers[7].size(), 1u);
  EXPECT_EQ(answers[7][0].rfind("{\"path\":", 0), 0u) << answers[7][0];
}

TEST_F(KolvocmdJsonTest, CommandLineSearchPrintsOnlyJsonLines) {
  ASSERT_EQ(runner.run("new docs\naddroot " + runner.documents() + "\naddinclude *.txt\nbuild\n").status, 0);
  KolvocmdRun run = runner.run("", {"docs", "-j", "lazy | sleeps"});
  EXPECT_EQ(run.status, 0) << run.err;
  std::vector<Lines> rows = parsed(run.out);
  ASSERT_EQ(rows.size(), 2u) << run.out;
  Lines names{rows[0][0], rows[1][0]};
  std::sort(names.begin(), names.end());
  EXPECT_EQ(names, (Lines{"dog.txt", "fox.txt"}));
  // No prompt follows: the run ends after the search.
  EXPECT_EQ(run.out.find("> "), std::string::npos);
}

TEST_F(KolvocmdJsonTest, ThePhraseOfTheCommandLineIsOneSearchAndNothingElse) {
  ASSERT_EQ(runner.run("new docs\naddroot " + runner.documents() + "\naddinclude *.txt\nbuild\n").status, 0);
  // A semicolon or a line end must not start a command of its own.
  std::string touched = (runner.folder().path() / "touched").string();
  for (const std::string& phrase : {"lazy; system touch " + touched, "lazy\nsystem touch " + touched}) {
    // (The phrase may be refused as a search: a folder name with digits is no word.)
    runner.run("", {"docs", "-j", phrase});
    EXPECT_FALSE(std::filesystem::exists(touched)) << phrase;
  }
  // The same command typed at the prompt does run: the check above can tell.
  runner.run("system touch " + touched + "\n");
  EXPECT_TRUE(std::filesystem::exists(touched));
}

}  // namespace
