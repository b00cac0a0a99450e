// End-to-end mail: kolvocmd builds an index of a folder holding a mailbox; every
// message and attachment is found by its words, named by sender and date, and shown
// by filecontents from its cache file.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "tests/cli/kolvocmd_runner.h"
#include "tests/support/mailbox_writer.h"

namespace fs = std::filesystem;
using kolvotest::KolvocmdRun;
using kolvotest::KolvocmdRunner;
using kolvotest::MailboxWriter;
using kolvotest::mailFrom;
using Lines = std::vector<std::string>;

namespace {

// The name and folder fields of each result line between <RESULTS> and </RESULTS>.
Lines resultNames(const Lines& answer) {
  Lines names;
  for (const std::string& line : answer) {
    if (line.empty() || line[0] == '<') continue;
    size_t tab = line.find('\t');
    size_t second = line.find('\t', tab + 1);
    names.push_back(line.substr(0, second));
  }
  std::sort(names.begin(), names.end());
  return names;
}

std::string keyOf(const std::string& resultLine) { return resultLine.substr(resultLine.rfind('\t') + 1); }

class KolvocmdMailTest : public ::testing::Test {
 protected:
  void SetUp() override {
    runner.folder().write("kolvo/skipfile.txt", "the\n");
    std::string box = MailboxWriter()
                          .add(mailFrom("Ann Example <ann@example.org>", "Mon, 5 Jan 2004 10:11:12 +0100",
                                    "Our meeting about the lighthouse is on Friday."))
                          .add(mailFrom("bob@example.org", "Tue Jan  6 01:02:03 2004", "See the notes about the harbour.",
                                    {{"notes.txt", "The lighthouse keeper counts seagulls."},
                                     {"map.pdf", "%PDF-1.4 not indexed here"},
                                     {"more.txt", "Seagulls nest near the harbour wall."}}))
                          .text();
    runner.folder().write("docs/inbox.mbox", box);
    folder = runner.documents() + "/inbox.mbox/";
  }
  std::vector<Lines> afterBuild(const std::string& commands) {
    const std::string setup =
        "addroot " + runner.documents() + "\naddinclude *.mbox mbox\naddinclude *.txt\nbuild\n";
    KolvocmdRun run = runner.run(setup + commands);
    EXPECT_EQ(run.status, 0) << run.err;
    // What comes before the first prompt, then the answers of the four setup commands.
    const size_t skipped = 5;
    std::vector<Lines> answers = run.answers();
    if (answers.size() < skipped) {
      ADD_FAILURE() << run.out;
      return {};
    }
    return std::vector<Lines>(answers.begin() + skipped, answers.end());
  }

  KolvocmdRunner runner;
  std::string folder;
  const std::string ann = "ann@example.org 2004-01-05 10:11:12-0.txt";
  const std::string bob = "bob@example.org 2004-01-06 01:02:03";
};

TEST_F(KolvocmdMailTest, MessagesAndAttachmentsAreFoundByTheirWords) {
  auto answers = afterBuild("find lighthouse\nlistresults\nfind seagulls\nlistresults\nfind harbour\nlistresults\n"
                            "find indexed\n");
  ASSERT_GE(answers.size(), 7u);
  EXPECT_EQ(answers[0], Lines{"Found 2 Occurrences: 2"});
  EXPECT_EQ(resultNames(answers[1]), (Lines{ann + "\t" + folder, bob + "-1.txt\t" + folder}));
  EXPECT_EQ(answers[2], Lines{"Found 2 Occurrences: 2"});
  // Attachments are numbered 1, 2, 3; the PDF, which no pattern takes, keeps its number.
  EXPECT_EQ(resultNames(answers[3]), (Lines{bob + "-1.txt\t" + folder, bob + "-3.txt\t" + folder}));
  EXPECT_EQ(resultNames(answers[5]), (Lines{bob + "-0.txt\t" + folder, bob + "-3.txt\t" + folder}));
  EXPECT_EQ(answers[6], Lines{"Found 0 Occurrences: 0"});
}

TEST_F(KolvocmdMailTest, FilecontentsShowsAnAttachmentAndFailsCleanlyWithoutTheMailboxCache) {
  auto answers = afterBuild("find keeper\nlistresults\n");
  ASSERT_GE(answers.size(), 2u);
  ASSERT_EQ(answers[1].size(), 3u);
  std::string key = keyOf(answers[1][1]);
  answers = afterBuild("find keeper\nfilecontents " + key + "\n");
  ASSERT_GE(answers.size(), 2u);
  EXPECT_EQ(answers[1], (Lines{"{{SPLIT}}16:6\t{{SPLIT}}The lighthouse keeper counts seagulls.{{SPLIT}}"}));

  // The cache of the build that is current now.
  fs::path cache = fs::path(runner.kolvoDirectory()) / "indexes" / "default" / "build_2" / "cache";
  // The mailbox's cache file, which holds every message and attachment of it.
  std::vector<fs::path> caches;
  for (const auto& file : fs::directory_iterator(cache))
    if (file.path().filename().string().find("-mail.cache") != std::string::npos) caches.push_back(file.path());
  ASSERT_EQ(caches.size(), 1u);
  fs::remove(caches.front());
  KolvocmdRun shown = runner.run("open default\nfind keeper\nfilecontents " + key + "\nfind lighthouse\n");
  EXPECT_EQ(shown.status, 0);
  auto after = shown.answers();
  ASSERT_GE(after.size(), 5u) << shown.out;
  ASSERT_FALSE(after[3].empty());
  EXPECT_EQ(after[3][0].rfind("ERROR ", 0), 0u) << after[3][0];
  // The program goes on as before.
  EXPECT_EQ(after[4], Lines{"Found 2 Occurrences: 2"});
}

}  // namespace
