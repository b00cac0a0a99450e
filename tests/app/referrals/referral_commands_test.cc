// What a referral sends: every value is read back unchanged by the interpreter on the
// other side, and the check of kolvoserve lets through only the commands a referral
// sends, however the text hides others.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "app/commands/command_exception.h"
#include "app/commands/command_interface.h"
#include "app/referrals/referral_commands.h"

namespace {

bool mayOpenDocs(const std::string& name) { return name == "docs" || name == "mail"; }

TEST(ReferralCommandsTest, ValuesComeBackUnchangedThroughTheInterpreter) {
  const std::vector<std::string> values = {
      "fox",          "a;system touch x", "a;;b",   ";",         ";;;", "trailing_",   "two__", "_",
      "\"quoted\" ; x", "a & (b | c)",      "é;ü_",   "x; y _",    "# not a comment", "fox;",
  };
  for (const std::string& value : values) {
    std::string text = "open docs\nfind " + qvReferralValue(value) + "\nlistresults 10";
    std::vector<std::string> lines = QvCommandInterface::splitCommandString(text);
    ASSERT_EQ(lines.size(), 3u) << value;
    auto [word, rest] = QvCommandInterface::getNextTerm(lines[1]);
    EXPECT_EQ(word, "find");
    EXPECT_EQ(rest, value);
    EXPECT_EQ(lines[2], "listresults 10");
    // The same value alone on a line, as a console reads it.
    lines = QvCommandInterface::splitCommandString("find " + qvReferralValue(value));
    ASSERT_EQ(lines.size(), 1u) << value;
    EXPECT_EQ(QvCommandInterface::getNextTerm(lines[0]).second, value);
  }
  for (const char* broken : {"a\nsystem x", "a\r", "\n"}) EXPECT_THROW(qvReferralValue(broken), QvCommandException);
}

TEST(ReferralCommandsTest, IndexNamesThatCannotBeSentAreKnown) {
  for (const char* good : {"docs", "my-index.2", "ü", "v1.0"}) EXPECT_TRUE(qvIsSendableIndexName(good)) << good;
  for (const char* bad : {"", "a b", "a;b", "\"a", "a'", "a\tb", "a\n", "../x", "a/b", ".."})
    EXPECT_FALSE(qvIsSendableIndexName(bad)) << bad;
}

TEST(ReferralCommandsTest, OnlyTheCommandsOfAReferralPass) {
  struct Case {
    std::string text;
    bool passes;
  };
  const std::vector<Case> cases = {
      {"open docs\n/criteria clear\n/criteria setvalue fileName *.txt\n/criteria setValue maxResults 10\n"
       "/criteria setvalue tokenRegEx true\nfind fox;;system x\nlistresults 100",
       true},
      {"open mail\nsetvalue outline True\n/criteria clear\nsetsearchphrase fox\nfilecontents 12", true},
      {"OPEN docs\nFIND fox\n# a comment\n\n/CRITERIA SETVALUE nearcount 3", true},
      {"open other\nfind fox", false},
      {"open docs other", false},
      {"open \"docs\"", true},
      {"find fox;system touch /tmp/x", false},
      {"find fox; system touch /tmp/x", false},
      {"find fox_\nsystem touch /tmp/x", true},  // the continuation makes it part of the phrase
      {"find fox__\nsystem touch /tmp/x", false},
      {"system touch /tmp/x", false},
      {"read /etc/passwd", false},
      {"tee /tmp/out", false},
      {"recordto /tmp/out", false},
      {"rbscript /tmp/s.lua", false},
      {"build", false},
      {"deleteIndex docs", false},
      {"saveas docs2", false},
      {"setvalue includePattern *", false},
      {"setvalue outline", true},
      {"/criteria setvalue includePattern *", false},
      {"/criteria rm x", false},
      {"/criteria clear now", false},
      {"/ system x", false},
      {". find fox", false},
      {"/referrals create QvLocalReferral x", false},
      {"\"system\" x", false},
      {"'find' fox", true},
  };
  for (const Case& c : cases) {
    auto refused = qvRefusedReferralCommand(c.text, mayOpenDocs);
    EXPECT_EQ(!refused.has_value(), c.passes) << c.text << " refused at " << refused.value_or("");
  }
}

}  // namespace
