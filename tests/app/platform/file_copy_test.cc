// The copy of a build's tables and the durable replacement of the small files that name
// the current build: contents, permissions, and what a refusal leaves behind.
#include <sys/stat.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

#include <gtest/gtest.h>

#include "app/platform/file_copy.h"
#include "tests/support/temp_dir.h"

namespace {

namespace fs = std::filesystem;

std::string contents(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream text;
  text << in.rdbuf();
  return text.str();
}

unsigned permissions(const fs::path& path) {
  struct stat status {};
  return stat(path.c_str(), &status) == 0 ? status.st_mode & 07777 : 0;
}

TEST(FileCopyTest, ACopyHoldsTheSameBytesAndPermissions) {
  kolvotest::TempDir dir;
  std::string bytes(300000, '\0');
  for (size_t i = 0; i < bytes.size(); ++i) bytes[i] = static_cast<char>(i * 7 % 251);
  std::ofstream(dir.path() / "from", std::ios::binary) << bytes;
  fs::permissions(dir.path() / "from", fs::perms::owner_read | fs::perms::owner_write);
  std::ofstream(dir.path() / "to") << "older and longer text than nothing";
  ASSERT_TRUE(qvCopyFileContents((dir.path() / "from").string(), (dir.path() / "to").string()));
  EXPECT_EQ(contents(dir.path() / "to"), bytes);
  EXPECT_EQ(permissions(dir.path() / "to"), 0600u);
  EXPECT_FALSE(qvCopyFileContents((dir.path() / "missing").string(), (dir.path() / "other").string()));
}

TEST(FileCopyTest, AReplacementIsWholeOrNothing) {
  struct Case {
    const char* what;
    const char* before;       // nullptr: no file there yet
    bool blockTemporary;      // a folder where the temporary file would go
    unsigned mode;
    bool replaced;
  };
  const Case cases[] = {
      {"new file", nullptr, false, 0644, true},
      {"replaced file, private", "41", false, 0600, true},
      {"temporary place taken", "41", true, 0644, false},
  };
  for (const Case& test : cases) {
    SCOPED_TRACE(test.what);
    kolvotest::TempDir dir;
    const fs::path path = dir.path() / "current_build";
    if (test.before) std::ofstream(path) << test.before;
    if (test.blockTemporary) fs::create_directory(dir.path() / "current_build.new");
    EXPECT_EQ(qvReplaceFileDurably(path.string(), "42", test.mode), test.replaced);
    if (test.replaced) {
      EXPECT_EQ(contents(path), "42");
      EXPECT_EQ(permissions(path), test.mode);
      EXPECT_FALSE(fs::exists(dir.path() / "current_build.new"));
    } else {
      EXPECT_EQ(contents(path), test.before);
    }
  }
  // A folder that is not there: refused, and nothing made.
  kolvotest::TempDir dir;
  EXPECT_FALSE(qvReplaceFileDurably((dir.path() / "gone/current_build").string(), "42", 0644));
  EXPECT_FALSE(fs::exists(dir.path() / "gone"));
}

}  // namespace
