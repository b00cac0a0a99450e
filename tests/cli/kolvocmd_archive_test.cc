// End-to-end archives: kolvocmd indexes a folder holding a zip, a tar, a tgz and a
// gzipped text, nested two deep, finds every member by its words, lists it with its
// container's path as its folder, and shows its text with filecontents.
#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>

#include "tests/cli/kolvocmd_runner.h"
#include "tests/support/archive_writers.h"

namespace fs = std::filesystem;
using kolvotest::KolvocmdRun;
using kolvotest::KolvocmdRunner;
using kolvotest::TarEntry;
using kolvotest::fieldsOf;
using kolvotest::ZipEntry;
using Lines = std::vector<std::string>;

namespace {

TEST(KolvocmdArchiveTest, MembersNestedTwoDeepAreFoundListedAndShown) {
  KolvocmdRunner runner;
  const std::string docs = runner.documents();
  const std::string scratch = runner.folder().slashed();
  fs::create_directories(docs);
  std::string innerTar = kolvotest::tarArchive({TarEntry{"deep/x.txt", "zebrafish swims"}});
  kolvotest::writeZip(docs + "/a.zip", {ZipEntry{"top.txt", "aardvark digs"},
                                        ZipEntry{"inner.tar.gz", kolvotest::gzipOf(innerTar)}});
  std::string nestedZip = kolvotest::zipArchive({ZipEntry{"y.txt", "quokka smiles"}}, scratch);
  runner.folder().write("docs/b.tar", kolvotest::tarArchive({TarEntry{"plain.txt", "narwhal dives"},
                                                             TarEntry{"nested.zip", nestedZip}}));
  std::string wombatZip = kolvotest::zipArchive({ZipEntry{"z.txt", "wombat sleeps"}}, scratch);
  runner.folder().write("docs/c.tgz", kolvotest::gzipOf(kolvotest::tarArchive({TarEntry{"inner.zip", wombatZip}})));
  runner.folder().write("docs/d.txt.gz", kolvotest::gzipOf("platypus lays eggs"));

  // word, the member's name, its folder below docs
  const struct {
    const char* word;
    const char* name;
    const char* folder;
    const char* text;
  } members[] = {
      {"aardvark", "top.txt", "/a.zip/", "aardvark digs"},
      {"zebrafish", "deep/x.txt", "/a.zip/inner.tar.gz/inner.tar/", "zebrafish swims"},
      {"narwhal", "plain.txt", "/b.tar/", "narwhal dives"},
      {"quokka", "y.txt", "/b.tar/nested.zip/", "quokka smiles"},
      {"wombat", "z.txt", "/c.tgz/c.tar/inner.zip/", "wombat sleeps"},
      {"platypus", "d.txt", "/d.txt.gz/", "platypus lays eggs"},
  };
  std::string commands = "addroot " + docs +
                         "\naddinclude *.zip zip\naddinclude *.tar tar\naddinclude *.gz gzip\n"
                         "addinclude *.tgz gzip\naddinclude *.txt\nbuild\n";
  for (const auto& member : members) commands += std::string("find ") + member.word + "\nlistresults\n";
  KolvocmdRun run = runner.run(commands);
  ASSERT_EQ(run.status, 0) << run.err;
  auto answers = run.answers();
  if (!answers.empty() && answers.back().empty()) answers.pop_back();
  ASSERT_EQ(answers.size(), 8 + 2 * std::size(members)) << run.out;

  std::string showing = "open default\n";
  std::vector<std::string> keys;
  for (size_t i = 0; i < std::size(members); ++i) {
    SCOPED_TRACE(members[i].word);
    const Lines& found = answers[8 + 2 * i];
    EXPECT_EQ(found, Lines{"Found 1 Occurrences: 1"});
    const Lines& listed = answers[9 + 2 * i];
    ASSERT_EQ(listed.size(), 3u);
    Lines fields = fieldsOf(listed[1]);
    ASSERT_GE(fields.size(), 3u);
    EXPECT_EQ(fields[0], members[i].name);
    EXPECT_EQ(fields[1], docs + members[i].folder);
    showing += std::string("find ") + members[i].word + "\nfilecontents " + fields.back() + "\n";
  }
  KolvocmdRun shown = runner.run(showing);
  ASSERT_EQ(shown.status, 0) << shown.err;
  auto texts = shown.answers();
  if (!texts.empty() && texts.back().empty()) texts.pop_back();
  ASSERT_EQ(texts.size(), 2 + 2 * std::size(members)) << shown.out;
  for (size_t i = 0; i < std::size(members); ++i) {
    SCOPED_TRACE(members[i].word);
    const Lines& text = texts[3 + 2 * i];
    // The hit is the first word of the member's one line, which has no line end.
    EXPECT_EQ(text, Lines{"{{SPLIT}}1:" + std::to_string(std::strlen(members[i].word)) + "\t{{SPLIT}}" +
                          members[i].text + "{{SPLIT}}"});
  }
  // No extracted member is left in the build's cache.
  for (const auto& item : fs::recursive_directory_iterator(runner.kolvoDirectory()))
    EXPECT_FALSE(item.is_regular_file() && item.path().string().find("/cache/") != std::string::npos) << item.path();
}

}  // namespace
