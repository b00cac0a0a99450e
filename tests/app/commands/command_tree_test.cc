// The object tree: paths, properties and user variables, property records, children
// and their commands, and the "xml" representation.
#include "app/commands/command_object.h"

#include <gtest/gtest.h>

#include "app/commands/command_exception.h"
#include "tests/app/commands/interpreter_fixture.h"

namespace {

using Lines = std::vector<std::string>;
using Tree = InterpreterTest;

TEST_F(Tree, PathsJoinNamesWithDots) {
  run("create QvCommandParent box\n/.box create QvCommandParent inner\n/.box.inner create QvCommandObject leaf");
  EXPECT_EQ(root->getPath(), "/");
  EXPECT_EQ(commands.getObjectFromPath("/.box")->getPath(), "/.box");
  auto leaf = commands.getObjectFromPath("/.box.inner.leaf");
  ASSERT_NE(leaf, nullptr);
  EXPECT_EQ(leaf->getPath(), "/.box.inner.leaf");
  EXPECT_EQ(leaf->getRoot(), root);
  EXPECT_EQ(leaf->parent()->name(), "inner");
  // Child names do not depend on case.
  EXPECT_EQ(commands.getObjectFromPath("/.BOX.Inner.LEAF"), leaf);
}

TEST_F(Tree, PropertiesAndVariables) {
  EXPECT_EQ(run("getvalue name"), (Lines{"root"}));
  EXPECT_EQ(run("getvalue ClassName"), (Lines{"QvCommandParent"}));
  EXPECT_EQ(run("getvalue _unset"), (Lines{""}));
  EXPECT_EQ(failure("setvalue foo 1"), "\"/ does not have a property named foo\"");
  EXPECT_EQ(failure("getvalue foo"), "\"/ does not have a property named foo\"");
  EXPECT_EQ(failure("setvalue name other"), "\"/ does not have a property named name\"");
  EXPECT_EQ(run("setvalue _note  hello world "), (Lines{"_note = hello world"}));
  EXPECT_EQ(run("getvalue _NOTE"), (Lines{"hello world"}));
  EXPECT_EQ(run("setvalue _note HELLO WORLD"), (Lines{"Value unchanged"}));  // compared without case
  run("setvalue _note");
  EXPECT_EQ(run("getvalue _note"), (Lines{""}));
  // The last variable gone, nothing of them is saved.
  QvResults body;
  root->xmlBody(body);
  EXPECT_TRUE(body.empty());
}

TEST_F(Tree, PropertyRecords) {
  EXPECT_EQ(run("getinfo properties"),
            (Lines{"S\tclassname\tClass Name\t\t0\tQvCommandParent\nS\tname\tName\t\t0\troot\n"}));
  EXPECT_EQ(run("getinfo classname.description"), (Lines{"The name of the class this object is an instance of"}));
  EXPECT_EQ(run("getinfo nothing"), (Lines{""}));
  EXPECT_EQ(root->propertyInfo("P", "_v", "Value", true), "P\t_v\tValue\t\t1\t\n");
  EXPECT_EQ(root->propertyInfo("H", "heading", "Heading", false), "H\theading\tHeading\t\n");
}

TEST_F(Tree, CreateListAndRemoveChildren) {
  EXPECT_EQ(run("create QvCommandParent box"), (Lines{"created child box of class QvCommandParent in /"}));
  EXPECT_EQ(failure("create QvSomething x"), "Could not create a child named x of class QvSomething in /");
  EXPECT_EQ(failure("create QvCommandObject"), "Could not create a child named  of class QvCommandObject in /");
  run("create QvCommandObject Zed\ncreate QvCommandObject apple\ncreate QvCommandObject beta");
  EXPECT_EQ(run("ls"), (Lines{"apple", "beta", "box", "Zed"}));
  EXPECT_EQ(run("ls ^b"), (Lines{"beta", "box"}));
  EXPECT_EQ(run("ls e"), (Lines{"apple", "beta", "Zed"}));
  EXPECT_EQ(run("ls ^none$"), Lines{});
  EXPECT_NE(failure("ls (unclosed").find("(unclosed"), std::string::npos);
  EXPECT_EQ(run("rm beta"), (Lines{"Removed beta from /"}));
  EXPECT_EQ(failure("rm beta"), "/ does not have a child named beta");
  EXPECT_EQ(failure("/.box rm x"), "/.box does not have a child named x");
  // A child of the same name replaces the old one.
  run("/.box setvalue _mark old\ncreate QvCommandParent box");
  EXPECT_EQ(run("/.box getvalue _mark"), (Lines{""}));
}

TEST_F(Tree, RenameChecksBothNames) {
  run("create QvCommandObject a\ncreate QvCommandObject b");
  EXPECT_EQ(failure("rename a b"), "The name b is already in use");
  EXPECT_EQ(failure("rename zz y"), "/ does not have a child named zz");
  EXPECT_EQ(run("rename a c"), (Lines{"Renamed a to c"}));
  EXPECT_EQ(run("ls"), (Lines{"b", "c"}));
  EXPECT_EQ(run("/.c getvalue name"), (Lines{"c"}));
  EXPECT_EQ(run("rename c C"), (Lines{"Renamed c to C"}));  // a change of case only
  EXPECT_EQ(run("ls"), (Lines{"b", "C"}));
  EXPECT_EQ(run("rename b \"with blank\""), (Lines{"Renamed b to with blank"}));
  run("undo");
  EXPECT_EQ(run("ls"), (Lines{"b", "C"}));
}

TEST_F(Tree, XmlShowsTheSubtree) {
  run("create QvCommandParent box\ncd /.box\ncreate QvCommandObject item\nsetvalue _size <3 & \"big\"");
  run("/.box.item setvalue _tag a<b");
  EXPECT_EQ(run("/.box xml"), (Lines{"<QvCommandParent childnamed=\"box\">",
                                     "<_size>&lt;3 &amp; \"big\"</_size>",
                                     "<QvCommandObject childnamed=\"item\">",
                                     "<_tag>a&lt;b</_tag>",
                                     "</QvCommandObject>",
                                     "</QvCommandParent>"}));
  auto item = commands.getObjectFromPath("/.box.item");
  EXPECT_EQ(item->xmlReference("target", *root), "<reference name=\"target\" path=\"/\"/>\n");
}

TEST_F(Tree, ParentReference) {
  run("create QvCommandParent one\ncreate QvCommandParent two\n/.one create QvCommandObject leaf");
  auto leaf = commands.getObjectFromPath("/.one.leaf");
  leaf->setReference("parent", commands.getObjectFromPath("/.two"));
  EXPECT_EQ(leaf->getPath(), "/.two.leaf");
  EXPECT_THROW(leaf->setReference("sibling", root), QvCommandException);
  EXPECT_THROW(leaf->setReference("parent", leaf), QvCommandException);  // a leaf holds no children
}

TEST_F(Tree, VolumeNameIsAMountPoint) {
  std::string volume = QvCommandObject::GetVolumeName(QvFolderItem(temp.path()));
  EXPECT_FALSE(volume.empty());
  EXPECT_EQ(volume[0], '/');
  EXPECT_EQ(temp.path().string().rfind(volume == "/" ? "/" : volume + "/", 0), 0u);
}

}  // namespace
