// The set-up the tests of the program's index object share: the engine loaded, a kolvo
// directory (KOLVODIR) below the test's own folder, and the index "default" in it,
// built over documents the test writes.
#pragma once

#include <memory>
#include <string>

#include <gtest/gtest.h>

#include "app/commands/command_interface.h"
#include "app/index/kolvo_index.h"
#include "tests/support/temp_dir.h"

namespace kolvotest {

class IndexFixture : public ::testing::Test {
 protected:
  // Loads the built engine; a fixture that links the engine in calls loadEngine("").
  static void SetUpTestSuite();
  static void loadEngine(const std::string& path);

  // Points KOLVODIR below the folder, writes the skip file with skipWords and makes the
  // index "default".
  void SetUp() override { openIndex(); }
  void openIndex(const std::string& skipWords = "");
  // Ends the index and its commands, and unsets KOLVODIR.
  void TearDown() override;

  // The documents folder below the test's folder.
  std::string docs() const { return (temp.path() / "docs").string(); }
  // Builds the index over the documents folder, of the files the pattern takes.
  void buildDocs(const std::string& include = "*.txt");
  // Runs a command string on the index's command interface; its output lines.
  QvResults run(const std::string& line) {
    QvResults results;
    commands.processCommandString(line, results);
    return results;
  }
  int currentBuild() const { return QvKolvoIndex::getBuildNumber(index->basePath()); }

  TempDir temp;
  QvCommandInterface commands;
  std::shared_ptr<QvKolvoIndex> index;
};

}  // namespace kolvotest
