// File-system items: shell paths, existence, listing, copying, deleting, reading,
// writing and modification times.
#include "app/platform/folder_item.h"

#include <unistd.h>

#include <gtest/gtest.h>

#include "tests/support/temp_dir.h"

namespace {

class QvFolderItemTest : public ::testing::Test {
 protected:
  void SetUp() override {
    previous = std::filesystem::current_path();
    std::filesystem::current_path(temp.path());
  }
  void TearDown() override { std::filesystem::current_path(previous); }

  kolvotest::TempDir temp;
  std::filesystem::path previous;
};

TEST_F(QvFolderItemTest, ShellPathsAreAbsoluteAndNormal) {
  std::string here = std::filesystem::current_path().string();
  EXPECT_EQ(QvFolderItem::fromShellPath("a.txt")->shellPath(), here + "/a.txt");
  EXPECT_EQ(QvFolderItem::fromShellPath("./x/../b")->shellPath(), here + "/b");
  EXPECT_EQ(QvFolderItem::fromShellPath("/tmp/")->shellPath(), "/tmp");
  EXPECT_EQ(QvFolderItem::fromShellPath("/")->shellPath(), "/");
  EXPECT_EQ(QvFolderItem::fromShellPath("my file")->name(), "my file");
  EXPECT_FALSE(QvFolderItem::fromShellPath("").has_value());
  EXPECT_FALSE(QvFolderItem::fromShellPath(std::string("a\0b", 3)).has_value());
}

TEST_F(QvFolderItemTest, WritesReadsListsCopiesAndDeletes) {
  auto folder = *QvFolderItem::fromShellPath("deep/er/folder");
  EXPECT_FALSE(folder.exists());
  EXPECT_FALSE(folder.createDirectory());  // its parents are missing
  EXPECT_TRUE(folder.createDirectories());
  EXPECT_TRUE(folder.isDirectory());
  EXPECT_TRUE(folder.child("b.txt").writeAll("second"));
  EXPECT_TRUE(folder.child("a.txt").writeAll(std::string("fi\0rst", 6)));
  EXPECT_EQ(folder.child("a.txt").length(), 6u);
  EXPECT_EQ(*folder.child("a.txt").readAll(), std::string("fi\0rst", 6));
  EXPECT_EQ(*folder.child("b.txt").readAll(), "second");
  EXPECT_TRUE(folder.child("empty").writeAll(""));
  EXPECT_EQ(*folder.child("empty").readAll(), "");
  EXPECT_FALSE(folder.child("missing").readAll().has_value());
  EXPECT_FALSE(folder.readAll().has_value());  // a folder is not a file

  auto names = folder.children();
  ASSERT_EQ(names.size(), 3u);
  EXPECT_EQ(names[0].name(), "a.txt");
  EXPECT_EQ(names[1].name(), "b.txt");
  EXPECT_EQ(names[2].name(), "empty");
  EXPECT_TRUE(folder.child("a.txt").children().empty());

  EXPECT_TRUE(folder.child("b.txt").copyFileTo(folder.child("a.txt")));
  EXPECT_EQ(*folder.child("a.txt").readAll(), "second");
  EXPECT_FALSE(folder.child("missing").copyFileTo(folder.child("c.txt")));

  EXPECT_FALSE(folder.remove());  // not empty
  EXPECT_TRUE(folder.child("a.txt").remove());
  EXPECT_FALSE(folder.child("a.txt").exists());
  auto top = *QvFolderItem::fromShellPath("deep");
  EXPECT_TRUE(top.removeTree());
  EXPECT_FALSE(top.exists());
  EXPECT_FALSE(folder.child("x").writeAll("no folder"));
}

TEST_F(QvFolderItemTest, ModificationDateCountsFrom1904) {
  auto item = *QvFolderItem::fromShellPath("stamp");
  EXPECT_EQ(item.modificationDate(), 0);
  ASSERT_TRUE(item.writeAll("x"));
  double now = qvSecondsSince1904();
  EXPECT_NEAR(item.modificationDate(), now, 5.0);
  // Some time in 2026 and beyond, counted from 1904.
  EXPECT_GT(now, kSecondsFrom1904To1970 + 1.7e9);
}

}  // namespace
