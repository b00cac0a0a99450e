// The interpreter: command strings, terms, paths, the default word, undo and redo,
// recording, "tee", "read", "system" and the failures that end a command string.
#include "app/commands/command_interface.h"

#include <gtest/gtest.h>

#include "tests/app/commands/interpreter_fixture.h"

namespace {

using Lines = std::vector<std::string>;

TEST(GetNextTerm, SplitsFromTable) {
  struct Case {
    const char* text;
    const char* term;
    const char* rest;
  };
  const Case cases[] = {
      {"cd /.a", "cd", "/.a"},
      {"  ls   ", "ls", ""},
      {"", "", ""},
      {"   ", "", ""},
      {"\"/.my index\" ls -l", "/.my index", "ls -l"},
      {"'/.my index' ls", "/.my index", "ls"},
      {"\"/.my index", "/.my index", ""},  // no closing quote: the rest of the line
      {"\" padded \"rest", "padded", "rest"},
      {"'it\"s' x", "it\"s", "x"},
      {"a\tb c", "a\tb", "c"},  // only a blank separates
      {"\"\" ls", "", "ls"},
  };
  for (const auto& row : cases) {
    auto [term, rest] = QvCommandInterface::getNextTerm(row.text);
    EXPECT_EQ(term, row.term) << row.text;
    EXPECT_EQ(rest, row.rest) << row.text;
  }
}

using CommandString = InterpreterTest;

TEST_F(CommandString, BlankAndCommentLinesDoNothing) {
  EXPECT_TRUE(run("").empty());
  EXPECT_TRUE(run("    ").empty());
  EXPECT_TRUE(run("# echo nothing").empty());
  EXPECT_TRUE(run("   # indented comment").empty());
  EXPECT_EQ(run("echo a\n\n   \n# c\necho b"), (Lines{"a", "b"}));
  EXPECT_EQ(root->seen, (Lines{"a", "b"}));
}

TEST_F(CommandString, SemicolonsSeparateAndDoubledOnesAreLiteral) {
  EXPECT_EQ(run("echo x;echo y"), (Lines{"x", "y"}));
  EXPECT_EQ(run("echo a;;b"), (Lines{"a;b"}));
  EXPECT_EQ(run("echo a ; echo b"), (Lines{"a", "b"}));
  // The matches do not overlap: one character between two semicolons is consumed,
  // so the second semicolon of "x;y;z" separates nothing.
  EXPECT_EQ(failure("echo x;y;z"), "I don't understand the command y;z");
  EXPECT_EQ(root->seen.back(), "x");
  EXPECT_EQ(run("cd .;echo y;echo z").back(), "z");
}

TEST_F(CommandString, UnderscoreContinuesALine) {
  EXPECT_EQ(run("echo one_\ntwo"), (Lines{"one\ntwo"}));
  EXPECT_EQ(run("echo one_\n  two_\nthree"), (Lines{"one\n  two\nthree"}));
  EXPECT_EQ(run("echo one__\necho two"), (Lines{"one_", "two"}));
  EXPECT_EQ(run("echo last_"), (Lines{"last_"}));
}

TEST_F(CommandString, AFailingLineEndsTheString) {
  EXPECT_EQ(failure("echo a\nnosuch\necho b"), "I don't understand the command nosuch");
  EXPECT_EQ(root->seen, (Lines{"a"}));
}

using Paths = InterpreterTest;

TEST_F(Paths, SlashAndDotListWithTheDefaultWord) {
  run("create QvCommandParent box\ncreate QvCommandObject item\n/.box create QvCommandObject inner");
  EXPECT_EQ(run("/"), (Lines{"box", "item"}));
  EXPECT_EQ(run("."), (Lines{"box", "item"}));
  EXPECT_EQ(run("/.box"), (Lines{"inner"}));
  run("cd /.box");
  EXPECT_EQ(run("."), (Lines{"inner"}));
  EXPECT_EQ(run("^"), (Lines{"box", "item"}));
  EXPECT_EQ(run("^.item getvalue name"), (Lines{"item"}));
  EXPECT_EQ(run("/..box..inner getvalue classname"), (Lines{"QvCommandObject"}));
  // Names past a leaf are skipped: the leaf itself answers.
  EXPECT_EQ(run("/.item.deeper getvalue name"), (Lines{"item"}));
}

TEST_F(Paths, PathsThatNameNothingAreCommandWords) {
  EXPECT_EQ(failure("/nosuch ls"), "I don't understand the command /nosuch");
  EXPECT_EQ(failure("^ ls"), "I don't understand the command ^");
  EXPECT_EQ(commands.getObjectFromPath("^"), nullptr);
  EXPECT_EQ(commands.getObjectFromPath("x"), nullptr);
  EXPECT_EQ(commands.getObjectFromPath("/"), root);
}

TEST_F(Paths, QuotedPathsKeepTheirBlanks) {
  run("create QvCommandParent \"my index\"");
  EXPECT_EQ(run("ls"), (Lines{"my index"}));
  EXPECT_EQ(run("\"/.my index\" create QvCommandObject leaf"), (Lines{"created child leaf of class QvCommandObject in /.my index"}));
  EXPECT_EQ(run("cd \"/.my index\""), (Lines{"changed default to \"/.my index\""}));
  EXPECT_EQ(commands.defaultObject()->getPath(), "/.my index");
  EXPECT_EQ(run("ls"), (Lines{"leaf"}));
  EXPECT_EQ(run("'/.my index.leaf' getvalue name"), (Lines{"leaf"}));
  // An undo record names the object with a blank in its path as one term.
  run("setvalue _v 1\nundo");
  EXPECT_EQ(run("getvalue _v"), (Lines{""}));
  run("undo");  // the cd
  EXPECT_EQ(commands.defaultObject(), root);
}

TEST_F(Paths, CdChangesTheDefaultAndFailsForNothing) {
  run("create QvCommandParent box");
  EXPECT_EQ(run("cd /.box"), (Lines{"changed default to /.box"}));
  EXPECT_EQ(commands.defaultObject()->getPath(), "/.box");
  EXPECT_EQ(failure("cd /.nothing"), "Can't change the default to /.nothing");
  EXPECT_EQ(commands.defaultObject()->getPath(), "/.box");
  run("undo");
  EXPECT_EQ(commands.defaultObject(), root);
  run("redo");
  EXPECT_EQ(commands.defaultObject()->getPath(), "/.box");
}

TEST_F(Paths, RemovingTheDefaultObjectMovesTheDefaultUp) {
  run("create QvCommandParent box\n/.box create QvCommandParent inner\ncd /.box.inner");
  run("/ rm box");
  EXPECT_EQ(commands.defaultObject(), root);
  EXPECT_EQ(run("ls"), Lines{});
}

using Undo = InterpreterTest;

TEST_F(Undo, SetValueTwiceThenUndoAndRedo) {
  EXPECT_EQ(run("setvalue _x 5"), (Lines{"_x = 5"}));
  EXPECT_EQ(run("setvalue _x 5"), (Lines{"Value unchanged"}));
  EXPECT_EQ(commands.undoCount(), 1u);
  run("undo");
  EXPECT_EQ(run("getvalue _x"), (Lines{""}));
  run("redo");
  EXPECT_EQ(run("getvalue _x"), (Lines{"5"}));
  EXPECT_EQ(run("redo"), (Lines{"There is nothing to redo"}));
  run("undo");
  EXPECT_EQ(run("undo"), (Lines{"There is nothing to undo"}));
}

TEST_F(Undo, FiveHundredRecordsAtMost) {
  for (int i = 1; i <= 501; ++i) run("setvalue _n " + std::to_string(i));
  EXPECT_EQ(commands.undoCount(), 500u);
  for (int i = 0; i < 500; ++i) {
    QvResults lines = run("undo");
    ASSERT_EQ(lines.size(), 1u);
    ASSERT_NE(lines[0], "There is nothing to undo") << "undo " << i;
  }
  // The record of the first action is gone: its value stays.
  EXPECT_EQ(run("getvalue _n"), (Lines{"1"}));
  EXPECT_EQ(run("undo"), (Lines{"There is nothing to undo"}));
  EXPECT_EQ(commands.redoCount(), 500u);
}

TEST_F(Undo, AFreshActionEmptiesRedo) {
  run("setvalue _a 1\nsetvalue _a 2\nundo");
  EXPECT_EQ(commands.redoCount(), 1u);
  run("setvalue _b 3");
  EXPECT_EQ(commands.redoCount(), 0u);
  EXPECT_EQ(run("redo"), (Lines{"There is nothing to redo"}));
  EXPECT_EQ(run("getvalue _a"), (Lines{"1"}));
}

TEST_F(Undo, RedoKeepsTheRestOfRedo) {
  run("setvalue _a 1\nsetvalue _a 2\nsetvalue _a 3\nundo\nundo");
  EXPECT_EQ(commands.redoCount(), 2u);
  run("redo");
  EXPECT_EQ(commands.redoCount(), 1u);
  EXPECT_EQ(run("getvalue _a"), (Lines{"2"}));
  run("redo");
  EXPECT_EQ(run("getvalue _a"), (Lines{"3"}));
}

TEST_F(Undo, AFailingRecordClearsTheLock) {
  run("create QvCommandObject gone\n/.gone setvalue _v 1\nrm gone");
  EXPECT_EQ(failure("undo"), "I don't understand the command /.gone");
  // Had the lock stayed, this action would land on the redo stack.
  std::size_t before = commands.undoCount();
  run("setvalue _w 1");
  EXPECT_EQ(commands.undoCount(), before + 1);
  EXPECT_EQ(commands.redoCount(), 0u);
}

TEST_F(Undo, CreateAndRenameUndo) {
  run("create QvCommandObject a");
  run("undo");
  EXPECT_EQ(run("ls"), Lines{});
  run("create QvCommandObject a\nrename a b");
  EXPECT_EQ(run("ls"), (Lines{"b"}));
  run("undo");
  EXPECT_EQ(run("ls"), (Lines{"a"}));
  run("redo");
  EXPECT_EQ(run("ls"), (Lines{"b"}));
}

using Files = InterpreterTest;

TEST_F(Files, TeeCopiesOutput) {
  EXPECT_EQ(run("tee"), (Lines{"Output is not being copied to a file"}));
  EXPECT_EQ(run("tee copy.txt"), (Lines{""}));
  run("echo one\necho two");
  EXPECT_EQ(failure("tee copy.txt"),
            "The file copy.txt already exists use tee > to overwrite or tee >> to append");
  // The failed tee closed the copy: this line goes nowhere.
  run("echo lost");
  EXPECT_EQ(fileText("copy.txt"), "\none\ntwo\n");
  run("tee >> copy.txt\necho three\ntee");
  EXPECT_EQ(fileText("copy.txt"), "\none\ntwo\n\nthree\n");
  run("tee > copy.txt\necho fresh\ntee");
  EXPECT_EQ(fileText("copy.txt"), "\nfresh\n");
  EXPECT_EQ(failure("tee >no/such/folder/x"), "Could not tee to file >no/such/folder/x");
}

TEST_F(Files, RecordingAppendsCommandLines) {
  EXPECT_EQ(run("stoprecording"), Lines{});
  QvResults started = run("recordto rec.txt");
  ASSERT_EQ(started.size(), 1u);
  EXPECT_EQ(started[0], "All commands are being appended to " + (temp.path() / "rec.txt").string());
  run("echo a\n# not recorded\n   \necho b");
  EXPECT_EQ(run("stoprecording"), (Lines{"Recording Stopped"}));
  run("echo after");
  EXPECT_EQ(fileText("rec.txt"), "echo a\necho b\nstoprecording\n");
  EXPECT_EQ(failure("recordto"), "This appears to be an invalid path: ");
  EXPECT_EQ(failure("recordto no/such/dir/rec.txt"), "Cannot open the file at path no/such/dir/rec.txt");
}

TEST_F(Files, ReadRunsACommandFile) {
  temp.write("cmds.txt", "echo from file\n# comment\necho second;echo third\n");
  EXPECT_EQ(run("read cmds.txt"), (Lines{"from file", "second", "third"}));
  temp.write("my cmds.txt", "echo spaced");
  EXPECT_EQ(run("read my cmds.txt"), (Lines{"spaced"}));
  EXPECT_EQ(run("read \"my cmds.txt\""), (Lines{"spaced"}));
  EXPECT_EQ(failure("read missing.txt"), "Cannot open the file at path missing.txt");
  EXPECT_EQ(failure("read ."), "Cannot open the file at path .");
  temp.write("bad.txt", "echo 1\nnosuch\necho 2");
  EXPECT_EQ(failure("read bad.txt"), "I don't understand the command nosuch");
}

TEST_F(Files, SaveWritesTheDocument) {
  run("setvalue _note hello");
  EXPECT_EQ(run("save tree.xml"), (Lines{"root saved in tree.xml"}));
  EXPECT_EQ(fileText("tree.xml"),
            "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<QvXmlDocument>\n<QvNewRoot name=\"root\" path=\"/\"/>\n"
            "<_note>hello</_note>\n</QvXmlDocument>");
  EXPECT_EQ(failure("save no/such/dir/tree.xml"), "Cannot open the file at path no/such/dir/tree.xml");
}

TEST_F(Files, SystemReadsOutputAndReportsTheStatus) {
  EXPECT_EQ(run("system echo hi"), (Lines{"hi", ""}));
  EXPECT_EQ(run("system printf 'a  \\nb'"), (Lines{"a", "b"}));
  EXPECT_EQ(run("system exit 3"), (Lines{"Error code: 3"}));
  QvResults many = run("system seq 1 100000");
  ASSERT_EQ(many.size(), 100001u);
  EXPECT_EQ(many[99999], "100000");
}

using BaseCommands = InterpreterTest;

TEST_F(BaseCommands, WordsIgnoreCase) {
  EXPECT_EQ(run("SETVALUE _x 1"), (Lines{"_x = 1"}));
  EXPECT_EQ(run("GetValue _X"), (Lines{"1"}));
  EXPECT_EQ(run("TEST"), (Lines{"No test defined"}));
  EXPECT_EQ(failure("frobnicate now"), "I don't understand the command frobnicate");
}

TEST_F(BaseCommands, RenameToGoesThroughTheParent) {
  run("create QvCommandObject a\n/.a renameto b");
  EXPECT_EQ(run("ls"), (Lines{"b"}));
  EXPECT_EQ(failure("renameto x"), "/ has no parent");
}

TEST_F(BaseCommands, CleanupReleasesTheTree) {
  run("create QvCommandParent box\n/.box create QvCommandObject leaf\nsetvalue _v 1");
  std::weak_ptr<QvCommandObject> leaf = commands.getObjectFromPath("/.box.leaf");
  commands.cleanup();
  root.reset();
  EXPECT_TRUE(leaf.expired());
  EXPECT_EQ(commands.root(), nullptr);
  EXPECT_EQ(commands.undoCount(), 0u);
  EXPECT_EQ(failure("ls"), "I don't understand the command ls");
}

}  // namespace
