// "rbscript": Lua scripts that print, drive the interpreter, and fail to compile or
// at run time.
#include "app/commands/script.h"

#include <gtest/gtest.h>

#include "tests/app/commands/interpreter_fixture.h"

namespace {

using Lines = std::vector<std::string>;
using Script = InterpreterTest;

TEST_F(Script, PrintGivesResultLines) {
  temp.write("hello.lua", "print('hello')\nprint('a', 1, nil, true)\nprint()\nfor i = 1, 2 do print(i * 10) end\n");
  EXPECT_EQ(run("rbscript hello.lua"), (Lines{"hello", "a\t1\tnil\ttrue", "", "10", "20"}));
}

TEST_F(Script, ScriptsDriveTheInterpreter) {
  temp.write("drive.lua",
             "local lines = processCommand('create QvCommandParent box')\n"
             "print(#lines, lines[1])\n"
             "processCommandString('/.box setvalue _n 7;/.box create QvCommandObject leaf')\n"
             "for _, name in ipairs(processCommand('/.box ls')) do print('child ' .. name) end\n"
             "print(processCommand('/.box getvalue _n')[1])\n"
             "local ok, message = pcall(processCommand, 'nosuch')\n"
             "print(ok, message)\n");
  EXPECT_EQ(run("rbscript drive.lua"), (Lines{"1\tcreated child box of class QvCommandParent in /", "child leaf", "7",
                                              "false\tI don't understand the command nosuch"}));
  EXPECT_EQ(run("/.box getvalue _n"), (Lines{"7"}));
}

TEST_F(Script, CompileErrorsGiveNumberAndLine) {
  temp.write("broken.lua", "print('fine')\n\nlocal x = = 3\n");
  QvResults lines = run("rbscript broken.lua");
  ASSERT_EQ(lines.size(), 2u);
  EXPECT_EQ(lines[0], "Error number " + std::to_string(QvScript::compileErrorNumber()) + " on Line 3");
  EXPECT_NE(lines[1].find("unexpected symbol near '='"), std::string::npos) << lines[1];
  EXPECT_EQ(lines[1].find("rbscript:"), std::string::npos) << lines[1];
}

TEST_F(Script, RunTimeErrorsGiveNumberLineAndMessage) {
  struct Case {
    const char* source;
    int line;
    const char* message;
  };
  const Case cases[] = {
      {"print('before')\nlocal t = nil\nprint(t.field)\n", 3, "attempt to index a nil value (local 't')"},
      {"\n\nerror('plain failure')\n", 3, "plain failure"},
      {"local function f()\n  error({})\nend\nf()\n", 2, "(error object is a table value)"},
      {"\nprocessCommand('nosuch')\n", 2, "I don't understand the command nosuch"},
  };
  for (const auto& row : cases) {
    temp.write("fails.lua", row.source);
    QvResults lines = run("rbscript fails.lua");
    ASSERT_GE(lines.size(), 2u) << row.source;
    EXPECT_EQ(lines[lines.size() - 2],
              "Error number " + std::to_string(QvScript::runErrorNumber()) + " on Line " + std::to_string(row.line))
        << row.source;
    EXPECT_EQ(lines.back(), row.message) << row.source;
  }
}

TEST_F(Script, OutputBeforeAnErrorStaysAndLaterLinesRun) {
  temp.write("half.lua", "print('first')\nerror('stop')\nprint('never')\n");
  QvResults lines = run("rbscript half.lua\necho after");
  EXPECT_EQ(lines, (Lines{"first", "Error number 2 on Line 2", "stop", "after"}));
}

TEST_F(Script, MissingScriptIsAnError) {
  EXPECT_EQ(failure("rbscript nowhere.lua"), "Cannot open the file at path nowhere.lua");
}

TEST_F(Script, ScriptsMayRunScripts) {
  temp.write("inner.lua", "print('inner')\n");
  temp.write("outer.lua", "for _, l in ipairs(processCommand('rbscript inner.lua')) do print('got ' .. l) end\n");
  EXPECT_EQ(run("rbscript outer.lua"), (Lines{"got inner"}));
}

}  // namespace
