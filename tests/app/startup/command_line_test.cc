// kolvocmd's command line: the option table the argument walk uses, and --help and
// --version as the program prints them.
#include <gtest/gtest.h>

#include <cstdio>
#include <memory>
#include <set>

#include "app/startup/command_line.h"

namespace {

std::string outputOf(const std::string& arguments) {
  std::string command = "env -u LD_LIBRARY_PATH '" + std::string(KOLVOCMD_PATH) + "' " + arguments + " </dev/null";
  std::unique_ptr<FILE, int (*)(FILE*)> pipe(popen(command.c_str(), "r"), pclose);
  std::string text;
  char buffer[4096];
  while (pipe && fgets(buffer, sizeof buffer, pipe.get())) text += buffer;
  return text;
}

TEST(CommandLine, OptionsAreFoundAsTheWalkComparesThem) {
  struct Case {
    const char* argument;
    const char* option;  // null: no option
  } cases[] = {
      {"-b", "-b"},     {"-B", "-b"},           {"-u", "-u"},       {"-r", "-r"},     {"-j", "-j"},
      {"-J", "-j"},     {"-bu", nullptr},       {"-", nullptr},     {"b", nullptr},   {"--help", "--help"},
      {"--version", "--version"}, {"--HELP", nullptr}, {"--helpme", nullptr}, {"", nullptr},
  };
  for (const Case& c : cases) {
    const QvCommandLineOption* found = qvFindOption(c.argument);
    if (c.option) {
      ASSERT_NE(found, nullptr) << c.argument;
      EXPECT_STREQ(found->name, c.option) << c.argument;
    } else {
      EXPECT_EQ(found, nullptr) << c.argument;
    }
  }
}

TEST(CommandLine, HelpListsExactlyTheOptionsOfTheTable) {
  std::string help = outputOf("--help");
  ASSERT_EQ(help.rfind("Usage: kolvocmd", 0), 0u) << help;
  std::set<std::string> listed;
  std::size_t at = 0;
  while ((at = help.find("\n  -", at)) != std::string::npos) {
    at += 3;
    listed.insert(help.substr(at, help.find_first_of(" \n", at) - at));
  }
  std::set<std::string> table;
  for (const QvCommandLineOption& option : kQvCommandLineOptions) {
    table.insert(option.name);
    if (option.operand) {
      EXPECT_NE(help.find(std::string(option.name) + " " + option.operand), std::string::npos) << option.name;
    }
    EXPECT_NE(help.find(option.help.english), std::string::npos) << option.name;
  }
  EXPECT_EQ(listed, table);
  // Two examples, one of them the JSON search.
  EXPECT_NE(help.find("kolvocmd notes -u"), std::string::npos);
  EXPECT_NE(help.find("kolvocmd notes -j"), std::string::npos);
  // Help ends the program before any index is touched, wherever it stands.
  EXPECT_EQ(outputOf("-b --help"), help);
}

TEST(CommandLine, VersionNamesTheProgramAndTheLoadedEngine) {
  std::string version = outputOf("--version");
  EXPECT_EQ(version.rfind("kolvocmd " KOLVO_VERSION "\nkolvolib " KOLVO_VERSION " (", 0), 0u) << version;
  EXPECT_NE(version.find("kolvolib.so)"), std::string::npos) << version;
}

}  // namespace
