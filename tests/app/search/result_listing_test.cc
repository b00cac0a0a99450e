// The listing of a built tree, line by line against the files themselves: names with
// odd characters, deep folders, times before 1970 and before 1904, an empty file, a
// zip member (whose folder is the archive), a file deleted since the build; and the
// same files described one at a time.
#include <gtest/gtest.h>
#include <fcntl.h>
#include <sys/stat.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <map>
#include <optional>
#include <set>

#include "app/commands/command_interface.h"
#include "app/commands/text_tools.h"
#include "app/index/kolvo_index.h"
#include "app/index/kolvo_lib.h"
#include "tests/support/archive_writers.h"
#include "tests/support/temp_dir.h"

namespace fs = std::filesystem;

namespace {

// Seconds between 1904-01-01 and 1970-01-01.
constexpr long long kUnixEpochSince1904 = 2082844800;

struct Planted {
  std::string path;  // below docs/
  std::string text;
  std::optional<long long> unixTime;
  int rank = 0;      // occurrences of "zebra" less one
};

class ResultListingTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    QvKolvoLib::loadLibrary(KOLVO_LIBRARY_PATH);
    QvKolvoLib::registerThrowCallback();
  }
  void SetUp() override { setenv("KOLVODIR", (temp.path() / "kolvo").c_str(), 1); }
  void TearDown() override {
    commands.cleanup();
    index.reset();
    unsetenv("KOLVODIR");
  }
  QvResults run(const std::string& line) {
    QvResults results;
    commands.processCommand(line, results);
    return results;
  }
  // The line a file of docs/ must be listed with, its key left out.
  std::string expectedLine(const std::string& relative, int rank) {
    fs::path full = docs() / relative;
    struct stat status {};
    EXPECT_EQ(lstat(full.c_str(), &status), 0) << full;
    return full.filename().string() + "\t" + full.parent_path().string() + "/\t" + std::to_string(rank) + "\t" +
           std::to_string(status.st_mtime + kUnixEpochSince1904) + "\t" + std::to_string(status.st_size);
  }
  fs::path docs() const { return temp.path() / "docs"; }
  // An index of docs/: its text files and its zip archives.
  void buildDocs() {
    index = QvKolvoIndex::create("default", commands);
    run("addroot " + docs().string());
    run("addinclude *.txt");
    run("addinclude *.zip zip");
    run("build");
  }
  // The listed lines by name, each split into its text before the key and the key.
  std::map<std::string, std::pair<std::string, std::string>> listedByName() {
    QvResults listed = run("listresults");
    EXPECT_EQ(listed.front(), "<RESULTS>");
    EXPECT_EQ(listed.back(), "</RESULTS>");
    std::map<std::string, std::pair<std::string, std::string>> byName;
    for (std::size_t i = 1; i + 1 < listed.size(); ++i) {
      std::size_t lastTab = listed[i].rfind('\t');
      std::string name(listed[i].substr(0, listed[i].find('\t')));
      byName[name] = {std::string(listed[i].substr(0, lastTab)), std::string(listed[i].substr(lastTab + 1))};
      // Each line is what the result's own description gives.
      EXPECT_EQ(run("getvalue result." + std::to_string(i - 1)), QvResults{listed[i]});
    }
    return byName;
  }

  kolvotest::TempDir temp;
  QvCommandInterface commands;
  std::shared_ptr<QvKolvoIndex> index;
};

TEST_F(ResultListingTest, ListedLinesAreTheFilesAsTheyWereBuilt) {
  const std::vector<Planted> planted = {
      {"plain.txt", "zebra", std::nullopt},
      {"with space & semi;colon.txt", "zebra", std::nullopt},
      {"na\xC3\xAFve-\xC3\xBC.txt", "zebra", std::nullopt},
      {"quote\"s 'and' %1% back\\slash.txt", "zebra", std::nullopt},
      {"a/b/c/d/e/f/g/h/i/j/deep.txt", "zebra zebra", std::nullopt, 1},
      {"a/b/sibling.txt", "zebra", std::nullopt},
      {"x/b/same-folder-name.txt", "zebra", std::nullopt},
      {"old1950.txt", "zebra", -631152000LL},
      {"old1902.txt", "zebra", -2145916800LL},
      {"epoch.txt", "zebra", 0LL},
      {"future2037.txt", "zebra", 2114380800LL},
      {"gone.txt", "zebra zebra zebra", std::nullopt, 2},
  };
  for (const Planted& file : planted) {
    temp.write("docs/" + file.path, file.text + "\n");
    if (file.unixTime) {
      struct timespec times[2] = {{static_cast<time_t>(*file.unixTime), 0}, {static_cast<time_t>(*file.unixTime), 0}};
      ASSERT_EQ(utimensat(AT_FDCWD, (docs() / file.path).c_str(), times, 0), 0) << file.path;
    }
  }
  temp.write("docs/empty.txt", "");
  std::map<std::string, std::string> expected;
  for (const Planted& file : planted)
    expected[fs::path(file.path).filename().string()] = expectedLine(file.path, file.rank);
  kolvotest::ZipEntry member{"inner.txt", "zebra inside"};
  kolvotest::writeZip((docs() / "pack.zip").string(), {member});
  expected["inner.txt"] = "inner.txt\t" + (docs() / "pack.zip").string() + "/\t0\t" +
                          std::to_string(kolvotest::zipEntrySeconds(member) + kUnixEpochSince1904) + "\t12";

  buildDocs();
  // Deleted since the build, a file is still listed as the index knows it.
  fs::remove(docs() / "gone.txt");
  EXPECT_EQ(run("find zebra").back(), "Found 13 Occurrences: 16");
  auto listed = listedByName();
  ASSERT_EQ(listed.size(), expected.size());
  std::map<std::string, bool> keys;
  for (const auto& [name, line] : expected) {
    ASSERT_EQ(listed.count(name), 1u) << name;
    EXPECT_EQ(listed[name].first, line) << name;
    EXPECT_TRUE(qvIsLocalKey(listed[name].second)) << name;
    keys[listed[name].second] = true;
  }
  EXPECT_EQ(keys.size(), expected.size());  // one key a file
  EXPECT_EQ(listed["old1902.txt"].first.substr(listed["old1902.txt"].first.size() - 12), "\t-63072000\t6");

  // A search of every file finds the empty one; JSON says the same.
  run("/criteria setvalue fileName empty.txt");
  run("find *");
  listed = listedByName();
  ASSERT_EQ(listed.size(), 1u);
  EXPECT_EQ(run("listresults").at(1), expectedLine("empty.txt", 0) + "\t" + listed["empty.txt"].second);
  std::string json(run("listresults -j").at(0));
  EXPECT_NE(json.find("\"name\":\"empty.txt\""), std::string::npos) << json;
  EXPECT_NE(json.find("\"size\":0,"), std::string::npos) << json;
}

TEST_F(ResultListingTest, AListingAfterAChangeOfTheTableShowsTheTableAsItIsNow) {
  temp.write("docs/kept.txt", "zebra\n");
  temp.write("docs/gone.txt", "zebra\n");
  buildDocs();
  EXPECT_EQ(run("find zebra").back(), "Found 2 Occurrences: 2");
  QvResults first = run("listresults");
  EXPECT_EQ(run("listresults"), first);
  ASSERT_EQ(first.size(), 4u);
  auto naming = [](const QvResults& lines, const std::string& name) {
    return std::count_if(lines.begin(), lines.end(), [&](std::string_view line) { return line.substr(0, name.size()) == name; });
  };
  EXPECT_EQ(naming(first, "gone.txt"), 1);
  fs::remove(docs() / "gone.txt");
  run("update");
  // An update leaves no results to list, and a new search only the file still there.
  EXPECT_EQ(run("listresults"), (QvResults{"<RESULTS>", "</RESULTS>"}));
  EXPECT_EQ(run("find zebra").back(), "Found 1 Occurrences: 1");
  QvResults after = run("listresults");
  ASSERT_EQ(after.size(), 3u);
  // The same description; the update may have given the file another number (the key).
  std::string_view keptBefore = first[1].substr(0, 4) == "kept" ? first[1] : first[2];
  EXPECT_EQ(after[1].substr(0, after[1].rfind('\t')), keptBefore.substr(0, keptBefore.rfind('\t')));
}

TEST_F(ResultListingTest, EachQueryListsItsFilesAsTheyAreDescribed) {
  temp.write("docs/one.txt", "aardvark harbour lantern quilla\n");
  temp.write("docs/two words & more.txt", "harbour quillb quillc\n");
  temp.write("docs/deep/a/b/c/d/three.txt", "lantern quellx zymurgy\n");
  temp.write("docs/four.txt", "harbour harbour lantern\n");
  temp.write("docs/gone.txt", "harbour quilld\n");
  kolvotest::writeZip((docs() / "pack.zip").string(), {kolvotest::ZipEntry{"inner.txt", "harbour quillz lantern"}});
  buildDocs();
  fs::remove(docs() / "gone.txt");
  using Names = std::set<std::string>;
  // Every file, the archive and its member too; folders are no results.
  const Names every = {"one.txt", "two words & more.txt", "three.txt", "four.txt", "gone.txt", "pack.zip", "inner.txt"};
  struct Case {
    const char* query;
    Names names;
  } cases[] = {
      {"harbour", {"one.txt", "two words & more.txt", "four.txt", "gone.txt", "inner.txt"}},
      {"harbour lantern", {"one.txt", "four.txt", "inner.txt"}},
      {"lantern & harbour", {"one.txt", "four.txt", "inner.txt"}},
      {"quill*", {"one.txt", "two words & more.txt", "gone.txt", "inner.txt"}},
      {"q*ll?", {"one.txt", "two words & more.txt", "three.txt", "gone.txt", "inner.txt"}},
      {"qu?llz", {"inner.txt"}},
      {"lantern quill*", {"one.txt", "inner.txt"}},
      {"aard*", {"one.txt"}},
      {"zymurg*", {"three.txt"}},
      {"zz*", {}},
      {"*", every},
      {"harbour | zymurgy", {"one.txt", "two words & more.txt", "three.txt", "four.txt", "gone.txt", "inner.txt"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.query);
    QvResults found = run(std::string("find ") + c.query);
    ASSERT_FALSE(found.empty());
    EXPECT_EQ(found.back().rfind("Found " + std::to_string(c.names.size()) + " ", 0), 0u) << found.back();
    auto listed = listedByName();
    Names names;
    for (const auto& entry : listed) names.insert(entry.first);
    EXPECT_EQ(names, c.names);
  }
}

}  // namespace
