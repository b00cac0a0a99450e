// End to end with PDF files: kolvocmd indexes a folder of generated PDFs with the "pdf"
// analyzer, finds each word whole and once, shows each page's lines as lines, and an
// update reads a changed PDF again.
#include <gtest/gtest.h>

#include "tests/cli/kolvocmd_runner.h"
#include "tests/support/pdf_writer.h"

using kolvotest::KolvocmdRun;
using kolvotest::KolvocmdRunner;
using kolvotest::PdfWriter;
using Lines = std::vector<std::string>;

namespace {

TEST(KolvocmdPdfTest, WordsAreFoundWholeAndLinesShownAsLines) {
  KolvocmdRunner runner;
  PdfWriter report;
  report.page("BT /F1 12 Tf 72 700 Td (quarterly revenue) Tj 0 -14 Td (grew strongly) Tj T* (caf\\351 menu) Tj ET")
      .page("BT [(Hel) -120 (lo)] TJ ET");
  PdfWriter manual;
  manual.page("BT 72 700 Td (install the widget) Tj 0 -14 Td (then restart) Tj ET");
  runner.folder().write("docs/report.pdf", report.bytes());
  runner.folder().write("docs/sub/manual.pdf", manual.bytes());

  KolvocmdRun run = runner.run("addroot " + runner.documents() + "\naddinclude *.pdf pdf\nbuild\n" +
                               "find revenue\nfind grew\nfind widget\nfind restart\nfind hel\n"
                               "find revenuegrew\nfind strong\nfind \"then restart\"\n"
                               "find widget\nsetvalue outline false\nlistresults 1\n");
  ASSERT_EQ(run.status, 0) << run.err;
  auto answers = run.answers();
  ASSERT_GE(answers.size(), 15u) << run.out;
  for (const std::string& line : answers[3]) EXPECT_EQ(line.find("AnalyzerNotFound"), std::string::npos) << line;
  for (size_t i : {4, 5, 6, 7, 8}) EXPECT_EQ(answers[i], Lines{"Found 1 Occurrences: 1"}) << i;
  EXPECT_EQ(answers[9], Lines{"Found 0 Occurrences: 0"});   // the words of two lines never run together
  EXPECT_EQ(answers[10], Lines{"Found 0 Occurrences: 0"});  // only whole words are found
  EXPECT_EQ(answers[11], Lines{"Found 1 Occurrences: 2"});  // a phrase across a line break

  ASSERT_EQ(answers[14].size(), 3u) << run.out;
  std::string key = answers[14][1].substr(answers[14][1].rfind('\t') + 1);
  KolvocmdRun shown = runner.run("open default\nfind widget\nsetvalue outline false\nfilecontents " + key + "\n");
  auto view = shown.answers();
  ASSERT_GE(view.size(), 5u) << shown.out;
  EXPECT_EQ(view[4], (Lines{"{{SPLIT}}13:6\t{{SPLIT}}install the widget", "then restart", "{{SPLIT}}"}));

  // An update reads the changed PDF again.
  PdfWriter revised;
  revised.page("BT (recalibrate the gauge) Tj ET");
  runner.folder().write("docs/sub/manual.pdf", revised.bytes());
  KolvocmdRun updated = runner.run("open default\nupdate\nfind recalibrate\nfind widget\nfind revenue\n");
  auto after = updated.answers();
  ASSERT_GE(after.size(), 6u) << updated.out;
  EXPECT_EQ(after[3], Lines{"Found 1 Occurrences: 1"});
  EXPECT_EQ(after[4], Lines{"Found 0 Occurrences: 0"});
  EXPECT_EQ(after[5], Lines{"Found 1 Occurrences: 1"});
}

}  // namespace
