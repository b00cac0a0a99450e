// QvCommandException's three constructors and the filling of placeholders.
#include "app/commands/command_exception.h"

#include <gtest/gtest.h>

namespace {

TEST(QvCommandException, MessageAlone) {
  EXPECT_STREQ(QvCommandException("plain %1%").what(), "plain %1%");
}

TEST(QvCommandException, FillsFromAList) {
  struct Case {
    const char* message;
    std::vector<std::string> arguments;
    const char* filled;
  };
  const Case cases[] = {
      {"%1% does not have a child named %2%", {"/.a", "b"}, "/.a does not have a child named b"},
      {"Removed %2% from %1%", {"/", "x"}, "Removed x from /"},
      {"%1% and %1%", {"once"}, "once and %1%"},  // only the first occurrence
      {"%1% %2% %3%", {"a"}, "a %2% %3%"},
      {"none here", {"a", "b"}, "none here"},
      {"%1%%2%", {"x", "y"}, "xy"},
      // Text brought in by an argument is never filled again.
      {"%1% then %2%", {"has %2% inside", "B"}, "has %2% inside then B"},
      {"Building Links %1%%", {"50"}, "Building Links 50%"},
  };
  for (const auto& row : cases) {
    EXPECT_EQ(QvCommandException(row.message, row.arguments).message(), row.filled) << row.message;
  }
}

TEST(QvCommandException, FillsFromATabbedArgumentText) {
  EXPECT_EQ(QvCommandException("Resolving links %1% -  %2%", QvTabbedArguments{"3\t9"}).message(),
            "Resolving links 3 -  9");
  EXPECT_EQ(QvCommandException("keep %1%", QvTabbedArguments{""}).message(), "keep %1%");
  EXPECT_EQ(QvCommandException("[%1%][%2%]", QvTabbedArguments{"a\t"}).message(), "[a][]");
  EXPECT_EQ(qvSplitArguments("a\t\tb"), (std::vector<std::string>{"a", "", "b"}));
  EXPECT_TRUE(qvSplitArguments("").empty());
}

TEST(QvCommandException, TakesNamedMessages) {
  constexpr QvMessage sample{"Test.sample", "Could not tee to file %1%"};
  EXPECT_EQ(QvCommandException(sample, std::vector<std::string>{"x"}).message(), "Could not tee to file x");
  EXPECT_EQ(QvCommandException(sample).message(), "Could not tee to file %1%");
}

}  // namespace
