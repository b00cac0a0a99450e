// The search criteria: name patterns with stars, the regular-expression switches, the
// size and date bounds, how each property reads and writes, and its saved form.
#include <gtest/gtest.h>

#include "app/commands/command_exception.h"
#include "app/commands/command_interface.h"
#include "app/commands/command_parent.h"
#include "app/platform/date_text.h"
#include "app/search/search_criteria.h"

namespace {

class SearchCriteriaTest : public ::testing::Test {
 protected:
  void SetUp() override {
    root = qvCreateRoot<QvCommandParent>(commands, "root", std::string("QvCommandParent"));
    criteria = qvCreateChild<QvSearchCriteria>(*root, "criteria");
  }
  void TearDown() override { commands.cleanup(); }
  bool admits(std::string_view name, double size = 100, double time = 3.9e9, std::string folder = "/docs") {
    return criteria->admits(name, size, time, [&folder] { return folder; });
  }

  QvCommandInterface commands;
  std::shared_ptr<QvCommandParent> root;
  std::shared_ptr<QvSearchCriteria> criteria;
};

TEST_F(SearchCriteriaTest, SimpleMatchOfNamesWithStars) {
  struct Case {
    const char* name;
    const char* pattern;
    bool matches;
  };
  for (const Case& c : {Case{"Report.TXT", "report.txt", true}, Case{"report.txt", "report", false},
                        Case{"report.txt", "*.txt", true}, Case{"report.txt", "rep*", true},
                        Case{"report.txt", "*port*", true}, Case{"report.txt", "r*p*t.txt", true},
                        Case{"report.txt", "t*r", false}, Case{"ab", "ab*b", false}, Case{"abb", "ab*b", true},
                        Case{"report.txt", "*", true}, Case{"", "*", true}, Case{"x.doc", "*.txt", false},
                        Case{"a.txt.doc", "*.txt", false}, Case{"aXbXc", "a**c", true}})
    EXPECT_EQ(QvSearchCriteria::isSimpleMatch(c.name, c.pattern), c.matches) << c.name << " / " << c.pattern;
}

TEST_F(SearchCriteriaTest, DefaultsAdmitEveryFile) {
  EXPECT_TRUE(criteria->hasDefaultValues());
  EXPECT_TRUE(admits("anything.bin", 0, 0));
  criteria->setValue("fileName", "*.txt");
  EXPECT_FALSE(criteria->hasDefaultValues());
  criteria->setValue("fileName", "*");
  EXPECT_TRUE(criteria->hasDefaultValues());
}

TEST_F(SearchCriteriaTest, SizeAndDateBoundsIncludeTheirValue) {
  criteria->setValue("minSize", "100");
  criteria->setValue("maxSize", "200");
  EXPECT_FALSE(admits("a", 99));
  EXPECT_TRUE(admits("a", 100));
  EXPECT_TRUE(admits("a", 200));
  EXPECT_FALSE(admits("a", 201));
  // Bounds of 2 GiB and more: a file of 4 GiB or more is recorded as 4,294,967,295 bytes.
  criteria->setValue("minSize", "3000000000");
  criteria->setValue("maxSize", "5000000000");
  EXPECT_FALSE(admits("a", 2999999999.0));
  EXPECT_TRUE(admits("a", 3000000000.0));
  EXPECT_TRUE(admits("a", 4294967295.0));
  EXPECT_EQ(criteria->getValue("minSize"), "3000000000");
  EXPECT_EQ(criteria->getValue("maxSize"), "5000000000");
  criteria->setValue("minSize", "0");
  criteria->setValue("maxSize", "2147483648");
  EXPECT_TRUE(admits("a", 2147483648.0));
  EXPECT_FALSE(admits("a", 2147483649.0));
  criteria->clear();
  criteria->setValue("onOrAfterSeconds", "1000");
  criteria->setValue("onOrBeforeSeconds", "2000");
  EXPECT_FALSE(admits("a", 1, 999));
  EXPECT_TRUE(admits("a", 1, 1000));
  EXPECT_TRUE(admits("a", 1, 2000));
  EXPECT_FALSE(admits("a", 1, 2001));
}

TEST_F(SearchCriteriaTest, NamePatternsAndRegularExpressions) {
  criteria->setValue("fileName", "*.txt");
  EXPECT_TRUE(admits("notes.txt"));
  EXPECT_FALSE(admits("notes.md"));
  // "*.txt" is no regular expression: the switch is refused with the reason.
  EXPECT_THROW(criteria->setValue("fileNameRegex", "TRUE"), QvCommandException);
  EXPECT_EQ(criteria->getValue("fileNameRegex"), "False");
  criteria->setValue("fileName", "^n.*s\\.");
  criteria->setValue("fileNameRegex", "TRUE");
  EXPECT_EQ(criteria->getValue("fileNameRegex"), "True");
  // While the expression is on, a new pattern becomes the expression.
  EXPECT_THROW(criteria->setValue("fileName", "*.md"), QvCommandException);
  criteria->setValue("fileName", "^n.*s\\.");
  EXPECT_TRUE(admits("notes.md"));
  EXPECT_FALSE(admits("a-notes.md"));
  criteria->setValue("fileNameRegex", "no");
  EXPECT_EQ(criteria->getValue("fileNameRegex"), "False");

  criteria->clear();
  criteria->setValue("folderName", "*/sub");
  EXPECT_TRUE(admits("x", 1, 1, "/docs/sub"));
  EXPECT_FALSE(admits("x", 1, 1, "/docs/sub/deeper"));
  criteria->setValue("folderName", "sub$|/sub/");
  criteria->setValue("folderNameRegex", "true");
  EXPECT_TRUE(admits("x", 1, 1, "/docs/sub/deeper"));
}

TEST_F(SearchCriteriaTest, PropertiesReadBackAsWritten) {
  EXPECT_EQ(criteria->getValue("onOrAfter"), " ");
  EXPECT_EQ(criteria->getValue("nearCount"), "8");
  EXPECT_EQ(criteria->getValue("maxResults"), "1000");
  EXPECT_EQ(criteria->getValue("maxBufferSize"), "10000000");
  EXPECT_EQ(criteria->getValue("includeParent"), "True");
  criteria->setValue("onOrAfter", "2026-03-04");
  double seconds = *qvParseDate("2026-03-04");
  EXPECT_EQ(criteria->mOnOrAfter, seconds);
  EXPECT_EQ(criteria->getValue("onOrAfter"), "2026-03-04");
  // An unreadable date leaves the old one; an empty text removes the bound.
  criteria->setValue("onOrAfter", "next tuesday");
  EXPECT_EQ(criteria->mOnOrAfter, seconds);
  criteria->setValue("onOrAfter", "");
  EXPECT_EQ(criteria->mOnOrAfter, 0);
  criteria->setValue("includeParent", "nope");
  EXPECT_EQ(criteria->getValue("includeParent"), "False");
  criteria->setValue("tokenRegex", "True");
  EXPECT_EQ(criteria->getValue("tokenregex"), "True");
  criteria->setValue("NearCount", "3");
  EXPECT_EQ(criteria->mNearCount, 3);
  QvResults answer;
  criteria->performCommand("clear", "", answer);
  EXPECT_EQ(answer, QvResults{"criteria cleared"});
  EXPECT_EQ(criteria->mNearCount, 8);
  EXPECT_EQ(criteria->mTokenRegEx, nullptr);
  EXPECT_EQ(criteria->getValue("includeParent"), "True");
}

TEST_F(SearchCriteriaTest, GetinfoAndXmlListEveryCriterionInOrder) {
  const std::vector<std::string> names = {"fileName",         "fileNameRegex",  "folderName",      "folderNameRegex",
                                          "includeParent",    "maxBufferSize",  "maxResults",      "maxSize",
                                          "minSize",          "nearCount",      "onOrAfter",       "onOrAfterSeconds",
                                          "onOrBefore",       "onOrBeforeSeconds", "tokenRegex"};
  std::string info = criteria->getInfo("properties");
  std::vector<std::string> records = qvSplit(info, '\n');
  ASSERT_EQ(records.size(), 2 + names.size() + 1) << info;  // the text ends with a line feed
  EXPECT_EQ(records[0], "S\tclassname\tClass Name\t\t0\tQvSearchCriteria");
  EXPECT_EQ(records[2], "S\tfileName\tFile name\t\t1\t*");
  EXPECT_EQ(records[12], "S\tonOrAfter\tOn or after\t\t1\t ");
  for (std::size_t i = 0; i < names.size(); ++i) EXPECT_EQ(qvSplit(records[2 + i], '\t').at(1), names[i]);

  QvResults lines;
  criteria->setValue("maxSize", "5");
  criteria->xmlBody(lines);
  ASSERT_EQ(lines.size(), names.size());
  EXPECT_EQ(lines[0], "<fileName>*</fileName>");
  EXPECT_EQ(lines[7], "<maxSize>5</maxSize>");
  for (std::size_t i = 0; i < names.size(); ++i) EXPECT_EQ(lines[i].rfind("<" + names[i] + ">", 0), 0u) << lines[i];
}

}  // namespace
