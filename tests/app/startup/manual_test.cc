// The manual pages: groff renders each without a warning, each has the sections a
// reader looks for, and kolvocmd(1) describes every option the program accepts.
#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
#include <sstream>

#include "app/startup/command_line.h"
#include "tests/support/temp_dir.h"

namespace {

std::string pageText(const std::string& page) {
  std::ifstream file(std::string(KOLVO_SOURCE_DIR) + "/doc/" + page);
  std::stringstream text;
  text << file.rdbuf();
  return text.str();
}

TEST(Manual, EveryPageRendersWithoutWarningsAndHasItsSections) {
  struct Page {
    std::string file;
    std::vector<std::string> sections;
  } pages[] = {
      {"kolvocmd.1",
       {"NAME", "SYNOPSIS", "DESCRIPTION", "OPTIONS", "COMMANDS", "SEARCH LANGUAGE", "JSON RESULTS", "FILES",
        "ENVIRONMENT", "EXIT STATUS", "EXAMPLES", "SEE ALSO"}},
      {"kolvolib.3", {"NAME", "SYNOPSIS", "DESCRIPTION", "Conventions", "Callbacks", "Entry families", "EXAMPLE"}},
      {"kolvoserve.1",
       {"NAME", "SYNOPSIS", "DESCRIPTION", "OPTIONS", "FILES", "ENVIRONMENT", "EXIT STATUS", "EXAMPLES", "SEE ALSO"}},
  };
  kolvotest::TempDir folder;
  for (const Page& page : pages) {
    std::string text = pageText(page.file);
    ASSERT_FALSE(text.empty()) << page.file;
    for (const std::string& section : page.sections) {
      bool found = text.find("\n.SH " + section + "\n") != std::string::npos ||
                   text.find("\n.SS " + section + "\n") != std::string::npos;
      EXPECT_TRUE(found) << page.file << ": " << section;
    }
    // -ww: every warning; -z: render without output. Anything on standard error fails.
    std::string errors = (folder.path() / (page.file + ".err")).string();
    std::string command = "groff -t -man -Tutf8 -ww -z '" + std::string(KOLVO_SOURCE_DIR) + "/doc/" + page.file +
                          "' 2>'" + errors + "'";
    EXPECT_EQ(std::system(command.c_str()), 0) << page.file;
    EXPECT_EQ(folder.read(page.file + ".err"), "") << page.file;
  }
}

TEST(Manual, KolvocmdPageDescribesEveryOption) {
  std::string text = pageText("kolvocmd.1");
  for (const QvCommandLineOption& option : kQvCommandLineOptions) {
    // Dashes are written \- in man pages; each option heads an entry of its own.
    std::string name;
    for (char c : std::string(option.name)) name += c == '-' ? std::string("\\-") : std::string(1, c);
    bool listed = text.find("\n.B " + name + "\n") != std::string::npos ||
                  text.find("\n.BI " + name + " ") != std::string::npos;
    EXPECT_TRUE(listed) << option.name;
  }
}

}  // namespace
