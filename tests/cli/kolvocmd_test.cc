// End-to-end tests of kolvocmd: the built program runs in a temporary kolvo directory
// with its commands on standard input, and its printed lines are compared.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <functional>

#include "tests/cli/kolvocmd_runner.h"

namespace fs = std::filesystem;
using kolvotest::KolvocmdRun;
using kolvotest::KolvocmdRunner;
using Lines = std::vector<std::string>;

namespace {

class KolvocmdTest : public ::testing::Test {
 protected:
  void SetUp() override {
    runner.folder().write("docs/a.txt", "apple banana apple cherry\n");
    runner.folder().write("docs/sub/b.txt", "banana date\n");
    runner.folder().write("docs/skip.dat", "zebra\n");
  }
  std::string setup() const { return "addroot " + runner.documents() + "\naddinclude *.txt\n"; }
  std::string basePath(const std::string& name = "default") const {
    return runner.kolvoDirectory() + "/indexes/" + name + "/";
  }
  Lines builds(const std::string& name = "default") const {
    Lines names;
    for (const auto& entry : fs::directory_iterator(basePath(name)))
      if (entry.path().filename().string().rfind("build_", 0) == 0) names.push_back(entry.path().filename());
    std::sort(names.begin(), names.end());
    return names;
  }
  std::string currentBuild(const std::string& name = "default") const {
    std::ifstream file(basePath(name) + "current_build", std::ios::binary);
    return std::string((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
  }
  static bool endsWithCompletion(const Lines& answer, const std::string& word) {
    return !answer.empty() && answer.back().rfind(word + " completed in ", 0) == 0 &&
           answer.back().size() > word.size() + 22 && answer.back().substr(answer.back().size() - 8) == " seconds";
  }

  KolvocmdRunner runner;
  const Lines wordCountOfDocs{"apple\t1\t2", "banana\t2\t2", "cherry\t1\t1", "date\t1\t1", "4\t5\t6"};
};

TEST_F(KolvocmdTest, BuildThenWordCount) {
  KolvocmdRun run = runner.run(setup() + "build\nwordcount\nwordcount 3\nwordcount 2\n");
  EXPECT_EQ(run.status, 0);
  auto answers = run.answers();
  ASSERT_EQ(answers.size(), 8u) << run.out;
  EXPECT_EQ(answers[1], Lines{"Added " + runner.documents() + " as root directory"});
  EXPECT_EQ(answers[2], Lines{"Added *.txt to include patterns"});
  EXPECT_TRUE(endsWithCompletion(answers[3], "build")) << run.out;
  EXPECT_NE(std::find(answers[3].begin(), answers[3].end(), "Indexing " + runner.documents()), answers[3].end());
  EXPECT_EQ(answers[4], wordCountOfDocs);
  EXPECT_EQ(answers[5], (Lines{"cherry\t1\t1", "date\t1\t1", "apple\t1\t2", "banana\t2\t2", "4\t5\t6"}));
  EXPECT_EQ(answers[6], (Lines{"apple\t1\t2", "cherry\t1\t1", "date\t1\t1", "banana\t2\t2", "4\t5\t6"}));
  EXPECT_TRUE(answers[7].empty());
}

TEST_F(KolvocmdTest, SecondBuildLeavesOnlyTheNewest) {
  KolvocmdRun run = runner.run(setup() + "build\n");
  EXPECT_EQ(builds(), Lines{"build_1"});
  EXPECT_EQ(currentBuild(), "1");
  run = runner.run(setup() + "build\nwordcount\n");
  EXPECT_EQ(builds(), Lines{"build_2"});
  // The number stands alone, with no line end, and no temporary file is left beside it.
  EXPECT_EQ(currentBuild(), "2");
  EXPECT_FALSE(fs::exists(basePath() + "current_build.new"));
  EXPECT_TRUE(fs::exists(basePath() + "build_2/index"));
  EXPECT_TRUE(fs::exists(basePath() + "build_2/hash"));
  EXPECT_EQ(run.answers()[4], wordCountOfDocs);
}

TEST_F(KolvocmdTest, UpdateOfANeverBuiltIndexIsABuild) {
  KolvocmdRun run = runner.run(setup() + "update\nwordcount\n");
  auto answers = run.answers();
  ASSERT_GE(answers.size(), 5u);
  EXPECT_TRUE(endsWithCompletion(answers[3], "update")) << run.out;
  EXPECT_EQ(answers[4], wordCountOfDocs);
  EXPECT_EQ(builds(), Lines{"build_1"});
}

TEST_F(KolvocmdTest, UpdateFindsChangesAndKeepsCountsOfLiveFiles) {
  runner.run(setup() + "build\nsave\n");
  // A file changed right after the build (in the same second) is taken by the update.
  runner.folder().write("docs/a.txt", "apple grape\n");
  runner.folder().write("docs/c.txt", "grape\n");
  KolvocmdRun run = runner.run("open default\nupdate\nwordcount\n");
  auto answers = run.answers();
  ASSERT_GE(answers.size(), 4u) << run.out;
  EXPECT_EQ(answers[1], Lines{"Opened index default from " + runner.kolvoDirectory() + "/indexes"});
  EXPECT_TRUE(endsWithCompletion(answers[2], "update")) << run.out;
  EXPECT_EQ(answers[3], (Lines{"apple\t1\t1", "banana\t1\t1", "date\t1\t1", "grape\t2\t2", "4\t5\t5"}));
  EXPECT_EQ(builds(), Lines{"build_3"});
}

TEST_F(KolvocmdTest, SaveAndOpenKeepTheSettingsAndTimeBase) {
  KolvocmdRun first = runner.run(setup() + "setvalue minWordLength 4\nbuild\ngetvalue timeBase\nsave\n");
  std::string timeBase = first.answers()[5].at(0);
  EXPECT_GT(std::stod(timeBase), 3.8e9);
  KolvocmdRun second = runner.run("open default\ngetvalue timeBase\ngetvalue minWordLength\nshowroots\nshowincludes\n");
  auto answers = second.answers();
  ASSERT_GE(answers.size(), 6u);
  EXPECT_EQ(answers[2], Lines{timeBase});
  EXPECT_EQ(answers[3], Lines{"4"});
  EXPECT_EQ(answers[4], Lines{runner.documents()});
  EXPECT_EQ(answers[5], Lines{"*.txt"});
}

TEST_F(KolvocmdTest, FailedBuildOrUpdateKeepsThePreviousBuild) {
  runner.run(setup() + "build\nsave\n");
  ASSERT_EQ(currentBuild(), "2");
  // A declarations file this large makes the engine refuse to set up its analyzers.
  runner.folder().write("kolvo/externanalyzers.txt", std::string(70000, '#'));
  KolvocmdRun run = runner.run("open default\nbuild\nwordcount\nupdate\nwordcount\n");
  auto answers = run.answers();
  ASSERT_EQ(answers.size(), 7u) << run.out;
  EXPECT_EQ(answers[2].back().rfind("ERROR externalAnalyzersFileTooBig", 0), 0u) << run.out;
  EXPECT_EQ(answers[3], wordCountOfDocs);
  EXPECT_EQ(answers[4].back().rfind("ERROR externalAnalyzersFileTooBig", 0), 0u) << run.out;
  EXPECT_EQ(answers[5], wordCountOfDocs);
  EXPECT_EQ(currentBuild(), "2");
  EXPECT_EQ(builds(), Lines{"build_2"});
}

TEST_F(KolvocmdTest, ChangedSettingOrRootMakesTheUpdateAFullBuild) {
  std::string indexing = "Indexing " + runner.documents();
  struct Case {
    std::string change;
    bool full;
  };
  for (const Case& c : {Case{"getvalue minWordLength", false}, Case{"setvalue minWordLength 4", true},
                        Case{"addroot " + runner.documents() + "/sub", true}, Case{"addexclude *.dat", true},
                        Case{"setvalue wordWrap 60", false}}) {
    KolvocmdRun run = runner.run(setup() + "build\n" + c.change + "\nupdate\n");
    auto answers = run.answers();
    ASSERT_EQ(answers.size(), 7u) << run.out;
    bool full = std::find(answers[5].begin(), answers[5].end(), indexing) != answers[5].end();
    EXPECT_EQ(full, c.full) << c.change << "\n" << run.out;
    EXPECT_TRUE(endsWithCompletion(answers[5], "update")) << run.out;
  }
}

TEST_F(KolvocmdTest, OpenOfAMissingOrDamagedIndexKeepsTheCurrentOne) {
  runner.folder().write("kolvo/indexes/broken/current_build", "two");
  KolvocmdRun run = runner.run(setup() + "build\nopen missing\nopen broken\nwordcount\n");
  auto answers = run.answers();
  ASSERT_EQ(answers.size(), 8u) << run.out;
  EXPECT_EQ(answers[4], Lines{"Could not open an index at missing"});
  EXPECT_EQ(answers[5], Lines{"Could not read the build number for broken"});
  EXPECT_EQ(answers[6], wordCountOfDocs);
}

TEST_F(KolvocmdTest, QuitInAnyCaseEndsTheLoop) {
  for (std::string quit : {"quit", "QUIT", "Quit"}) {
    KolvocmdRun run = runner.run(quit + "\nfoo\n");
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(run.out, "> \n") << quit;
  }
  KolvocmdRun more = runner.run("quit now\n");
  EXPECT_EQ(more.answers()[1], Lines{"ERROR I don't understand the command quit"});
}

TEST_F(KolvocmdTest, ErrorsAtThePromptLetTheLoopGoOn) {
  KolvocmdRun run = runner.run("foo\n\nwordcount\nopen nothere\ndeleteIndex ../x\ndeleteIndex default\naddroot /a\n");
  EXPECT_EQ(run.status, 0);
  auto answers = run.answers();
  ASSERT_EQ(answers.size(), 9u) << run.out;
  EXPECT_EQ(answers[1], Lines{"ERROR I don't understand the command foo"});
  EXPECT_TRUE(answers[2].empty());
  EXPECT_EQ(answers[3], Lines{"No index has been built or loaded yet"});
  EXPECT_EQ(answers[4], Lines{"Could not open an index at nothere"});
  EXPECT_EQ(answers[5],
            Lines{"ERROR \"../x\" is not a valid index name: it must not be empty nor hold \"/\" or \"..\""});
  EXPECT_EQ(answers[6], Lines{"ERROR You cannot delete the currently open index"});
  EXPECT_EQ(answers[7], Lines{"Added /a as root directory"});
}

TEST_F(KolvocmdTest, DeleteIndexNeverLeavesTheIndexesDirectory) {
  runner.folder().write("kolvo/x/keep.txt", "keep");
  runner.folder().write("kolvo/indexes/y/current_build", "1");
  runner.folder().write("kolvo/indexes/y/build_1/index", "");
  KolvocmdRun run = runner.run("deleteIndex ../x\ndeleteIndex ..\ndeleteIndex y\ndeleteIndex y\n");
  auto answers = run.answers();
  ASSERT_EQ(answers.size(), 6u);
  EXPECT_EQ(answers[1][0].rfind("ERROR \"../x\" is not a valid index name", 0), 0u);
  EXPECT_EQ(answers[2][0].rfind("ERROR \"..\" is not a valid index name", 0), 0u);
  EXPECT_EQ(answers[3], Lines{"Index y deleted"});
  EXPECT_EQ(answers[4], Lines{"Could not delete index y"});
  EXPECT_TRUE(fs::exists(runner.kolvoDirectory() + "/x/keep.txt"));
  EXPECT_FALSE(fs::exists(runner.kolvoDirectory() + "/indexes/y"));
}

TEST_F(KolvocmdTest, NewAndSaveAsRefuseBadNames) {
  KolvocmdRun run = runner.run("new \nnew a/b\nsaveas ..\nnew fresh\nnew fresh\n");
  auto answers = run.answers();
  ASSERT_EQ(answers.size(), 7u) << run.out;
  for (int i : {1, 2, 3}) EXPECT_EQ(answers[i].at(0).rfind("ERROR \"", 0), 0u) << answers[i][0];
  EXPECT_EQ(answers[4], Lines{"Create new index named fresh"});
  // Nothing is written until build or save, so the name is still free.
  EXPECT_EQ(answers[5], Lines{"Create new index named fresh"});
}

TEST_F(KolvocmdTest, NestedRootsAreIndexedOnce) {
  KolvocmdRun run = runner.run(setup() + "addroot " + runner.documents() + "/sub\nshowroots\nbuild\nwordcount\n");
  auto answers = run.answers();
  ASSERT_GE(answers.size(), 7u);
  EXPECT_EQ(answers[4], (Lines{runner.documents(), runner.documents() + "/sub"}));
  EXPECT_EQ(answers[6], wordCountOfDocs);
}

TEST_F(KolvocmdTest, TwoQuotedRootsAreTwo) {
  KolvocmdRun run = runner.run("addroot \"/a b\" \"/c\"\nshowroots\naddroot /d e\nshowroots\n");
  auto answers = run.answers();
  ASSERT_GE(answers.size(), 5u);
  EXPECT_EQ(answers[2], (Lines{"/a b", "/c"}));
  EXPECT_EQ(answers[4], (Lines{"/a b", "/c", "/d e"}));
}

TEST_F(KolvocmdTest, MissingLibraryIsAnErrorOfTheCommand) {
  std::string alone = (runner.folder().path() / "alone").string();
  fs::create_directories(alone);
  fs::copy_file(KOLVOCMD_PATH, alone + "/kolvocmd");
  fs::permissions(alone + "/kolvocmd", fs::perms::owner_all);
  KolvocmdRun run = runner.run("addroot /a\nbuild\n", {}, alone + "/kolvocmd");
  EXPECT_EQ(run.status, 0);
  auto answers = run.answers();
  ASSERT_EQ(answers.size(), 4u) << run.out;
  EXPECT_EQ(answers[1], Lines{"Added /a as root directory"});
  ASSERT_EQ(answers[2].size(), 1u);
  EXPECT_EQ(answers[2][0].rfind("ERROR The engine library kolvolib.so could not be loaded: ", 0), 0u)
      << answers[2][0];
}

TEST_F(KolvocmdTest, OptionsRunInOrder) {
  runner.run("new docs\n" + setup() + "save\n");
  ASSERT_EQ(currentBuild("docs"), "1");
  // A name then -b: open it, build it, and no prompt.
  KolvocmdRun run = runner.run("wordcount\n", {"docs", "-B"});
  EXPECT_EQ(run.status, 0);
  Lines out = kolvotest::lines(run.out);
  ASSERT_FALSE(out.empty());
  EXPECT_EQ(out.front(), "Opened index docs from " + runner.kolvoDirectory() + "/indexes");
  EXPECT_TRUE(endsWithCompletion(out, "build")) << run.out;
  EXPECT_EQ(run.out.find("> "), std::string::npos);
  EXPECT_EQ(currentBuild("docs"), "2");
  // -b -i builds and then prompts; a longer word after a dash is ignored.
  run = runner.run("wordcount\n", {"-o", "docs", "-build", "-u", "-i"});
  auto answers = run.answers();
  ASSERT_EQ(answers.size(), 3u) << run.out;
  EXPECT_TRUE(endsWithCompletion(answers[0], "update")) << run.out;
  EXPECT_EQ(answers[1], wordCountOfDocs);
  EXPECT_EQ(currentBuild("docs"), "3");
}

TEST_F(KolvocmdTest, FailingCommandFileEndsTheRunWithAnError) {
  std::string file = runner.folder().write("commands.txt", "new scripted\nsave\nbogus\nsave\n");
  KolvocmdRun run = runner.run("", {"-r", file});
  EXPECT_NE(run.status, 0);
  EXPECT_EQ(run.err, "ERROR I don't understand the command bogus\n");
  EXPECT_EQ(run.out.find("> "), std::string::npos);
  // The first two lines took effect; the run ended at the third.
  EXPECT_EQ(currentBuild("scripted"), "1");
}

// The answers of the commands before a failing one are shown ahead of its error: on one
// command line, in a file run by "read" and in a file run with -r.
TEST_F(KolvocmdTest, AnswersBeforeAFailureAreShown) {
  std::string file = runner.folder().write("searches.txt", "addroot /one\naddroot /two\nbogus\naddroot /three\n");
  KolvocmdRun run = runner.run("addroot /a;bogus;addroot /b\nread " + file + "\n");
  auto answers = run.answers();
  ASSERT_EQ(answers.size(), 4u) << run.out;
  EXPECT_EQ(answers[1], (Lines{"Added /a as root directory", "ERROR I don't understand the command bogus"}));
  EXPECT_EQ(answers[2], (Lines{"Added /one as root directory", "Added /two as root directory",
                               "ERROR I don't understand the command bogus"}));
  run = runner.run("", {"-r", file});
  EXPECT_NE(run.status, 0);
  EXPECT_EQ(kolvotest::lines(run.out), (Lines{"Added /one as root directory", "Added /two as root directory"}));
  EXPECT_EQ(run.err, "ERROR I don't understand the command bogus\n");
}

// "check" and -c over a sound build, then over each of its tables damaged in turn.
TEST_F(KolvocmdTest, CheckReportsASoundIndexAndEachDamagedTable) {
  runner.folder().write("kolvo/skipfile.txt", "the\nand\n");
  ASSERT_EQ(runner.run(setup() + "build\n").status, 0);
  KolvocmdRun run = runner.run("check\n");
  ASSERT_GE(run.answers().size(), 2u) << run.out;
  EXPECT_EQ(run.answers()[1], Lines{"Index default is sound"});
  run = runner.run("", {"default", "-c"});
  EXPECT_EQ(run.status, 0) << run.out << run.err;
  EXPECT_EQ(kolvotest::lines(run.out).back(), "Index default is sound");

  std::string build = basePath() + "build_" + currentBuild() + "/";
  auto putU32 = [&](const std::string& table, std::streamoff at, uint32_t value) {
    std::fstream file(build + table, std::ios::in | std::ios::out | std::ios::binary);
    const char bytes[4] = {char(value), char(value >> 8), char(value >> 16), char(value >> 24)};
    file.seekp(at);
    file.write(bytes, 4);
  };
  // The first entry of every table lies just past the 16-byte header and the entry's
  // prefix (20 bytes before a file's name or a word, 4 before a skip word).
  const uint32_t secondFile = 16 + 20 + static_cast<uint32_t>(runner.documents().size()) + 1 + 20;
  struct Case {
    const char* table;
    std::function<void()> damage;
    const char* reported;
  };
  const std::vector<Case> cases = {
      {"files", [&] { putU32("files", secondFile - 16, 0x00FFFFF0); }, "files: "},  // its parent
      {"words", [&] { putU32("words", 16, 17); }, "words: "},                       // the first chain link
      {"skipped", [&] { putU32("skipped", 16, 17); }, "skipped: "},
      {"links",
       [&] {
         for (std::streamoff at = 16; at + 4 <= static_cast<std::streamoff>(fs::file_size(build + "links")); at += 4)
           putU32("links", at, 0xFFFFFFFF);
       },
       "links: "},
      // A "hash" cut short keeps the tables from opening at all.
      {"hash", [&] { fs::resize_file(build + "hash", fs::file_size(build + "hash") - 3); }, "Error reading "},
  };
  fs::copy(build, runner.folder().path() / "pristine", fs::copy_options::recursive);
  for (const Case& test : cases) {
    test.damage();
    run = runner.run("", {"-c"});
    EXPECT_EQ(run.status, 1) << test.table << "\n" << run.out << run.err;
    Lines out = kolvotest::lines(run.out);
    ASSERT_FALSE(out.empty()) << test.table;
    EXPECT_EQ(out.back().rfind(test.reported, 0), 0u) << test.table << ": " << run.out;
    // The same damage at the prompt, for the index opened by name.
    if (test.table == std::string("files")) {
      run = runner.run("", {"default", "-c"});
      EXPECT_EQ(run.status, 1);
      EXPECT_EQ(kolvotest::lines(run.out).back().rfind("files: the parent of entry ", 0), 0u) << run.out;
      EXPECT_EQ(runner.run("check\n").answers().at(1).at(0).rfind("files: ", 0), 0u);
    }
    fs::remove_all(build);
    fs::copy(runner.folder().path() / "pristine", build, fs::copy_options::recursive);
  }
  EXPECT_EQ(runner.run("", {"default", "-c"}).status, 0);
}

TEST_F(KolvocmdTest, FailingBuildOfTheCommandLineIsReported) {
  runner.folder().write("kolvo/indexes", "not a directory");
  KolvocmdRun run = runner.run("", {"-b"});
  EXPECT_NE(run.status, 0);
  EXPECT_EQ(run.err.rfind("ERROR Cannot make directory ", 0), 0u) << run.err;
}

TEST_F(KolvocmdTest, StartupScriptRunsFirst) {
  runner.folder().write("kolvo/startup.script", "addroot /from/script\n");
  KolvocmdRun run = runner.run("showroots\n");
  EXPECT_EQ(run.answers()[1], Lines{"/from/script"});
}

TEST_F(KolvocmdTest, HelpAndVersion) {
  KolvocmdRun help = runner.run("", {"--help"});
  EXPECT_EQ(help.status, 0);
  EXPECT_EQ(help.out.rfind("Usage: kolvocmd ", 0), 0u);
  KolvocmdRun version = runner.run("", {"--version"});
  EXPECT_EQ(version.status, 0);
  EXPECT_EQ(version.out.rfind("kolvocmd ", 0), 0u);
  EXPECT_EQ(version.out.back(), '\n');
}

TEST_F(KolvocmdTest, EndOfInputEndsTheRun) {
  KolvocmdRun run = runner.run("");
  EXPECT_EQ(run.status, 0);
  EXPECT_EQ(run.out, "> ");
}

}  // namespace
