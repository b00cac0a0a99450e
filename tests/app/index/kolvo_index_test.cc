// The index object's parts that need no engine: paths under the kolvo directory, the
// character classes, the property rules, the XML body, and the directory helpers.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>

#include "app/commands/command_exception.h"
#include "app/commands/command_interface.h"
#include "app/index/kolvo_index.h"
#include "tests/support/temp_dir.h"

namespace fs = std::filesystem;

namespace {

class KolvoIndexTest : public ::testing::Test {
 protected:
  void SetUp() override {
    const char* old = std::getenv("KOLVODIR");
    if (old) savedKolvoDir = old;
    hadKolvoDir = old != nullptr;
    setenv("KOLVODIR", (temp.path() / "kolvo").c_str(), 1);
    fs::create_directories(temp.path() / "kolvo");
    index = QvKolvoIndex::create("default", commands);
  }
  void TearDown() override {
    commands.cleanup();
    index.reset();
    if (hadKolvoDir) {
      setenv("KOLVODIR", savedKolvoDir.c_str(), 1);
    } else {
      unsetenv("KOLVODIR");
    }
  }
  std::string kolvo() const { return (temp.path() / "kolvo").string(); }

  kolvotest::TempDir temp;
  QvCommandInterface commands;
  std::shared_ptr<QvKolvoIndex> index;
  std::string savedKolvoDir;
  bool hadKolvoDir = false;
};

TEST_F(KolvoIndexTest, PathsLieUnderTheKolvoDirectory) {
  EXPECT_EQ(QvKolvoIndex::getKolvoDirectory(), kolvo());
  EXPECT_EQ(index->basePath(), kolvo() + "/indexes/default/");
  EXPECT_EQ(index->indexPath(), kolvo() + "/indexes/default/build_0/");
  setenv("KOLVODIR", "", 1);
  const char* home = std::getenv("HOME");
  if (home) {
    EXPECT_EQ(QvKolvoIndex::getKolvoDirectory(), std::string(home) + "/.kolvo");
  }
}

TEST_F(KolvoIndexTest, BuildNumberIsTheWholeFile) {
  struct Case {
    const char* contents;
    int number;
  };
  for (const Case& c : {Case{"7", 7}, Case{"12\n", 12}, Case{"", 0}, Case{"x1", 0}, Case{"3 4", 0}}) {
    std::string base = temp.slashed() + "b/";
    fs::create_directories(base);
    std::ofstream(base + "current_build", std::ios::binary | std::ios::trunc) << c.contents;
    EXPECT_EQ(QvKolvoIndex::getBuildNumber(base), c.number) << c.contents;
  }
  EXPECT_EQ(QvKolvoIndex::getBuildNumber(temp.slashed() + "missing/"), 0);
}

TEST_F(KolvoIndexTest, CharacterClasses) {
  struct Case {
    const char* property;
    const char* value;
    const char* anywhere;
    const char* trailing;
    unsigned char in;
    bool validAnywhere, validTrailing;
  };
  const Case cases[] = {
      {"numberHandling", "0", "a-zA-Z", "a-zA-Z", '5', false, false},
      {"numberHandling", "1", "a-zA-Z", "a-zA-Z\\d", '5', false, true},
      {"numberHandling", "2", "a-zA-Z\\d", "a-zA-Z\\d", '5', true, true},
      {"addedChars", "_", "a-zA-Z\\x5F", "a-zA-Z\\x5F", '_', true, true},
      {"addedTrailingChars", "-", "a-zA-Z", "a-zA-Z\\x2D", '-', false, true},
      {"internationalChar", "1", "a-zA-Z\\xC0-\\xFF", "a-zA-Z\\xC0-\\xFF", 0xE9, true, true},
      {"internationalChar", "2", "a-zA-Z\\xE6\\xF8\\xE5\\xC6\\xD8\\xC5", "a-zA-Z\\xE6\\xF8\\xE5\\xC6\\xD8\\xC5", 0xF8,
       true, true},
      {"internationalChar", "16", "a-zA-Z\\xDF\\xE4\\xF6\\xFC\\xC4\\xD6\\xDC", "a-zA-Z\\xDF\\xE4\\xF6\\xFC\\xC4\\xD6\\xDC",
       0xE9, false, false},
  };
  for (const Case& c : cases) {
    index->clear("default");
    index->setValue(c.property, c.value);
    index->setCharacterMasks();
    EXPECT_EQ(index->validAnywhereStr(), c.anywhere) << c.property << "=" << c.value;
    EXPECT_EQ(index->validTrailingStr(), c.trailing) << c.property << "=" << c.value;
    EXPECT_EQ(index->validAnywhere()[c.in], c.validAnywhere) << c.property << "=" << c.value;
    EXPECT_EQ(index->validTrailing()[c.in], c.validTrailing) << c.property << "=" << c.value;
  }
  EXPECT_EQ(QvKolvoIndex::addedLanguageCharacters(2 | 64), "\xE6\xF8\xE5\xC6\xD8\xC5\xE5\xE4\xF6\xC5\xC4\xD6");
}

TEST_F(KolvoIndexTest, SettingsThatChangeWordsResetTheTimeBase) {
  struct Case {
    const char* property;
    const char* value;
    bool resets;
  };
  for (const Case& c : {Case{"minWordLength", "4", true}, Case{"maxWordLength", "20", true},
                        Case{"wordWrap", "80", false}, Case{"useRanking", "false", true},
                        Case{"useRanking", "TRUE", false}, Case{"hideTags", "false", false},
                        Case{"addedChars", "", false}, Case{"addedChars", "#", true},
                        Case{"rootDirectory", "/r", true}, Case{"doZipped", "true", false}}) {
    index->clear("default");
    index->setValue("timeBase", "3900000000");
    index->setValue(c.property, c.value);
    EXPECT_EQ(index->timeBase() == 0, c.resets) << c.property << "=" << c.value;
  }
  index->setValue("hideTags", "TRUE");
  EXPECT_EQ(index->getValue("hideTags"), "true");
  index->setValue("addedChars", "\xC3\xA9");  // UTF-8 e acute is stored as Latin-1
  EXPECT_EQ(index->getValue("addedChars"), "\xE9");
}

TEST_F(KolvoIndexTest, XmlBodyPutsTheTimeBaseAfterTheLists) {
  QvResults out;
  index->performCommand("addroot", "\"/a b\"\t/c", out);
  index->performCommand("addexclude", "*.tmp", out);
  index->performCommand("addinclude", "*.txt generic", out);
  index->setValue("timeBase", "3900000001");
  QvResults body;
  index->xmlBody(body);
  // The children come first: the criteria (15 properties) and the empty referrals.
  const std::size_t children = 17 + 2;
  ASSERT_EQ(body.size(), children + 18u + 4u + 1u);
  EXPECT_EQ(body[0], "<QvSearchCriteria childnamed=\"criteria\">");
  EXPECT_EQ(body[16], "</QvSearchCriteria>");
  EXPECT_EQ(body[17], "<QvReferrals childnamed=\"referrals\">");
  EXPECT_EQ(body[18], "</QvReferrals>");
  EXPECT_EQ(body[children + 0], "<addedChars></addedChars>");
  EXPECT_EQ(body[children + 17], "<wordWrap>120</wordWrap>");
  EXPECT_EQ(body[children + 18], "<rootDirectory>/a b</rootDirectory>");
  EXPECT_EQ(body[children + 19], "<rootDirectory>/c</rootDirectory>");
  EXPECT_EQ(body[children + 20], "<excludePattern>*.tmp</excludePattern>");
  EXPECT_EQ(body[children + 21], "<includePattern>*.txt generic</includePattern>");
  EXPECT_EQ(body[children + 22], "<timeBase>3900000001</timeBase>");
}

TEST_F(KolvoIndexTest, ListsTakeQuotedAndTabbedEntriesOnce) {
  QvResults out;
  index->performCommand("addroot", "\"/x y\" \"/z\"", out);
  index->performCommand("addroot", "/Z", out);
  index->performCommand("addroot", "/p\t/q\n/r", out);
  QvResults roots;
  index->performCommand("showroots", "", roots);
  EXPECT_EQ(roots, (QvResults{"/x y", "/z", "/p", "/q", "/r"}));
  index->performCommand("clearRoots", "", out);
  EXPECT_EQ(out.back(), "Root paths cleared");
  roots.clear();
  index->performCommand("showroots", "", roots);
  EXPECT_TRUE(roots.empty());
}

TEST_F(KolvoIndexTest, MakeDirectoriesRefusesFiles) {
  std::string file = temp.write("plain", "x");
  EXPECT_THROW(QvKolvoIndex::makeDirectoriesTo(file), QvCommandException);
  try {
    QvKolvoIndex::makeDirectoriesTo(file + "/below");
    FAIL();
  } catch (const QvCommandException& error) {
    EXPECT_EQ(error.message(), "Cannot make directory " + file + " as it already exists and is not a directory");
  }
  QvKolvoIndex::makeDirectoriesTo(temp.slashed() + "a/b/c");
  EXPECT_TRUE(fs::is_directory(temp.path() / "a/b/c"));
}

TEST_F(KolvoIndexTest, CopyDirectoryTreeCopiesEverythingIntact) {
  std::string big(3 * 1024 * 1024 + 17, '\0');
  for (std::size_t i = 0; i < big.size(); ++i) big[i] = static_cast<char>(i * 131 + i / 7);
  temp.write("from/big", big);
  temp.write("from/sub/small", "small");
  fs::create_directories(temp.path() / "to");
  QvKolvoIndex::copyDirectoryTree(temp.slashed() + "from", temp.slashed() + "to");
  EXPECT_EQ(temp.read("to/big"), big);
  EXPECT_EQ(temp.read("to/sub/small"), "small");
  try {
    QvKolvoIndex::copyDirectoryTree(temp.slashed() + "nothing", temp.slashed() + "to");
    FAIL();
  } catch (const QvCommandException& error) {
    EXPECT_EQ(error.message(), "Could not copy from " + temp.slashed() + "nothing to " + temp.slashed() + "to.");
  }
}

TEST_F(KolvoIndexTest, CommandsNeedingTheEngineIndexSayNoneIsOpen) {
  QvResults out;
  EXPECT_FALSE(index->hasEngineIndex());
  EXPECT_THROW(index->performCommand("wordcount", "", out), QvNilObjectException);
  index->performCommand("test", "", out);
  EXPECT_EQ(out.back(), "no test defined");
}

}  // namespace
