// The lines a command answers with: what is written out is each line and its line end,
// in order, whatever blocks the lines ended up in; and what a script or test reads back
// line by line is what was added.
#include <cstring>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "app/commands/command_results.h"
#include "tests/app/commands/interpreter_fixture.h"

namespace {

using Lines = std::vector<std::string>;

std::string textOf(const QvResults& results) {
  std::string text;
  for (std::string_view piece : results.texts()) {
    // Each piece is also a C string: the console hands it on as one.
    EXPECT_EQ(piece.data()[piece.size()], '\0');
    text += piece;
  }
  return text;
}

std::string expectedText(const Lines& lines) {
  std::string text;
  for (const std::string& line : lines) text += line + "\n";
  return text;
}

Lines numbered(int count, const std::string& prefix) {
  Lines lines;
  for (int i = 0; i < count; ++i) lines.push_back(prefix + std::to_string(i));
  return lines;
}

struct LinesCase {
  const char* what;
  Lines lines;
};

std::vector<LinesCase> lineCases() {
  return {
      {"nothing", {}},
      {"one empty line", {""}},
      {"empty lines between", {"a", "", "", "b", ""}},
      {"a line holding line ends", {"x\ny", "\n", "z"}},
      {"a line longer than any block", {"before", std::string(700 * 1024, 'L'), "after"}},
      {"a hundred thousand lines", numbered(100000, "file\t/some/folder/\t0\t")},
      {"long and short lines mixed", {std::string(300 * 1024, 'a'), "b", std::string(200 * 1024, 'c'), "d"}},
  };
}

TEST(CommandResults, TextIsEachLineWithItsEndInOrder) {
  for (const LinesCase& c : lineCases()) {
    QvResults results;
    for (const std::string& line : c.lines) results.push_back(line);
    EXPECT_EQ(results.size(), c.lines.size()) << c.what;
    EXPECT_EQ(results.empty(), c.lines.empty()) << c.what;
    EXPECT_EQ(results, c.lines) << c.what;
    EXPECT_EQ(results.lines(), c.lines) << c.what;
    EXPECT_EQ(textOf(results), expectedText(c.lines)) << c.what;
    std::string added = "kept ";
    results.appendTextTo(added);
    EXPECT_EQ(added, "kept " + expectedText(c.lines)) << c.what;
    std::string joined = expectedText(c.lines);
    if (!joined.empty()) joined.pop_back();
    EXPECT_EQ(results.joined(), joined) << c.what;
    QvResults copy(results);
    EXPECT_EQ(copy, results) << c.what;
    EXPECT_EQ(textOf(copy), expectedText(c.lines)) << c.what;
  }
}

TEST(CommandResults, AppendedResultsKeepTheOrderOfLines) {
  for (const LinesCase& first : lineCases()) {
    for (const LinesCase& second : lineCases()) {
      QvResults results;
      for (const std::string& line : first.lines) results.push_back(line);
      QvResults more;
      for (const std::string& line : second.lines) more.push_back(line);
      results.append(std::move(more));
      EXPECT_TRUE(more.empty());
      // A line added afterwards comes after all of them.
      results.push_back("last");
      Lines all = first.lines;
      all.insert(all.end(), second.lines.begin(), second.lines.end());
      all.push_back("last");
      ASSERT_EQ(results, all) << first.what << " + " << second.what;
      EXPECT_EQ(textOf(results), expectedText(all)) << first.what << " + " << second.what;
    }
  }
}

TEST(CommandResults, LinesWrittenInPlaceAreKeptToTheirLength) {
  QvResults results;
  results.push_back("head");
  for (int i = 0; i < 20000; ++i) {
    std::string line = "line " + std::to_string(i);
    char* room = results.lineRoom(line.size() + 40);
    std::memcpy(room, line.data(), line.size());
    results.keepLine(line.size());
  }
  ASSERT_EQ(results.size(), 20001u);
  EXPECT_EQ(results[0], "head");
  EXPECT_EQ(results[1], "line 0");
  EXPECT_EQ(results.back(), "line 19999");
  Lines expected{"head"};
  for (int i = 0; i < 20000; ++i) expected.push_back("line " + std::to_string(i));
  EXPECT_EQ(textOf(results), expectedText(expected));
  EXPECT_THROW(results.at(20001), std::out_of_range);
}

using CommandOutput = InterpreterTest;

TEST_F(CommandOutput, TeeCopiesLongAndEndlessOutputByteForByte) {
  run("tee > copy.txt");
  QvResults many = run("system seq 1 100000");
  run("system printf 'no end'");
  run("tee");
  std::string expected = "";
  for (int i = 1; i <= 100000; ++i) expected += std::to_string(i) + "\n";
  // "system" answers an empty line after output that ended with a line end.
  expected += "\nno end\n";
  EXPECT_EQ(fileText("copy.txt"), "\n" + expected);
  EXPECT_EQ(many.size(), 100001u);
}

TEST_F(CommandOutput, AScriptReadsALongAnswerLineByLine) {
  temp.write("count.lua",
             "local lines = processCommandString('system seq 1 50000')\n"
             "print(#lines)\n"
             "print(lines[1] .. ' ' .. lines[50000] .. ' [' .. lines[50001] .. ']')\n"
             "local empty = processCommandString('# nothing')\n"
             "print(#empty)\n"
             "local long = processCommand('echo ' .. string.rep('w', 400000))\n"
             "print(#long[1])\n");
  EXPECT_EQ(run("rbscript count.lua"), (Lines{"50001", "1 50000 []", "0", "400000"}));
}

}  // namespace
