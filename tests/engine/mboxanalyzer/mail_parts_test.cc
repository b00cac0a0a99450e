// The pieces of the mail analyzer on their own: dates, entry names, attachment
// extensions, base64 decoding and the cache budget, each from a table.
#include <gtest/gtest.h>

#include <ctime>
#include <string>
#include <vector>

#include "engine/mboxanalyzer/base64_decoder.h"
#include "engine/mboxanalyzer/cache_budget.h"
#include "engine/mboxanalyzer/mbox_analyzer.h"
#include "tests/support/base64_writer.h"
#include "tests/support/mailbox_writer.h"

namespace {

using kolvotest::localTime;

TEST(MailDates, TableOfLayouts) {
  struct Case {
    const char* text;
    std::time_t expected;
  };
  const std::vector<Case> cases = {
      {"Mon, 5 Jan 2004 10:11:12 +0100", localTime(2004, 1, 5, 10, 11, 12)},
      {"  Mon, 05 Jan 2004 10:11:12 GMT", localTime(2004, 1, 5, 10, 11, 12)},
      {"5 Jan 2004 10:11:12", localTime(2004, 1, 5, 10, 11, 12)},
      {"Wed Jan  5 10:11:12 2004", localTime(2004, 1, 5, 10, 11, 12)},
      {"Jan 5 10:11:12 2004", localTime(2004, 1, 5, 10, 11, 12)},
      {"Tue, 20 Jul 2004 23:59:01 -0700", localTime(2004, 7, 20, 23, 59, 1)},
      {"Fri, 3 Dec 1999 08:00 +0000", localTime(1999, 12, 3, 8, 0, 0)},
      {"Sat, 1 Mar 03 01:02:03", localTime(2003, 3, 1, 1, 2, 3)},
      {"Sat, 1 Mar 2003", localTime(2003, 3, 1, 0, 0, 0)},
      {"Mon, 5 Foo 2004 10:11:12", 0},  // a month not recognised
      {"Mon, 5 jan 2004 10:11:12", 0},  // month names are case-sensitive
      {"Mon, 5 Jan", 0},                // no year
      {"", 0},
      {"garbage", 0},
  };
  for (const Case& test : cases) {
    SCOPED_TRACE(test.text);
    EXPECT_EQ(CMBoxAnalyzer::parseAsctime(test.text), test.expected);
  }
}

TEST(MailNames, TableOfSendersAndNumbers) {
  std::time_t time = localTime(2004, 1, 5, 10, 11, 12);
  struct Case {
    std::string from;
    const char* extension;
    int number;
    std::string expected;
  };
  const std::vector<Case> cases = {
      {"Ann Example <ann@example.org>", "txt", 0, "ann@example.org 2004-01-05 10:11:12-0.txt"},
      {"   <ann@example.org> (Ann)", "pdf", 1, "ann@example.org 2004-01-05 10:11:12-1.pdf"},
      {"bob@example.org", "doc", 2, "bob@example.org 2004-01-05 10:11:12-2.doc"},
      {"bob@example.org\r\nDate: x", "txt", 0, "bob@example.org 2004-01-05 10:11:12-0.txt"},
      {"Broken <", "txt", 0, "Broken < 2004-01-05 10:11:12-0.txt"},
      {"Empty <> here", "txt", 0, "Empty <> here 2004-01-05 10:11:12-0.txt"},
      {"<unclosed@example.org", "txt", 0, "unclosed@example.org 2004-01-05 10:11:12-0.txt"},
      {"", "txt", 3, " 2004-01-05 10:11:12-3.txt"},
      {"tab\tin\x01name", "txt", 0, "tab in name 2004-01-05 10:11:12-0.txt"},
  };
  for (const Case& test : cases) {
    SCOPED_TRACE(test.from);
    EXPECT_EQ(CMBoxAnalyzer::makeFileName(test.from, time, test.extension, test.number), test.expected);
  }
}

TEST(MailNames, ALongSenderIsCutSoTheNameFitsItsBuffer) {
  std::string sender(1000, 's');
  for (const char* extension : {"txt", "abcdefghijklmnopqrs"}) {
    std::string name = CMBoxAnalyzer::makeFileName(sender, 0, extension, 12);
    EXPECT_LT(name.size(), static_cast<size_t>(CMBoxAnalyzer::entryNameSize));
    EXPECT_EQ(name.substr(name.size() - std::string(extension).size() - 4), std::string("-12.") + extension);
  }
}

TEST(MailNames, OnlyPlainExtensionsAreTaken) {
  struct Case {
    const char* fileName;
    const char* extension;
  };
  const std::vector<Case> cases = {
      {"report.pdf", "pdf"},
      {"archive.tar.GZ", "GZ"},
      {"a.abcdefghijklmnopqrs", "abcdefghijklmnopqrs"},  // 19 characters
      {"a.abcdefghijklmnopqrst", ""},                    // 20
      {"noextension", ""},
      {"trailingdot.", ""},
      {"../../.bashrc", "bashrc"},  // the extension alone never holds a '/'
      {"x.$(touch PWNED)", ""},
      {"x.t/xt", ""},
      {"x.t xt", ""},
      {"x.t\xE9xt", ""},
  };
  for (const Case& test : cases) {
    SCOPED_TRACE(test.fileName);
    EXPECT_EQ(CMBoxAnalyzer::attachmentExtension(test.fileName), test.extension);
  }
}

TEST(MailBase64, TableOfEncodings) {
  struct Case {
    const char* name;
    std::string encoded;
    std::string decoded;
  };
  std::string binary;
  for (int c = 0; c < 256; ++c) binary += static_cast<char>(c);
  const std::vector<Case> cases = {
      {"whole groups", "SGVsbG8h\n", "Hello!"},
      {"one padded byte", "QQ==\n", "A"},
      {"two padded bytes", "QUI=\n", "AB"},
      {"every byte value", kolvotest::base64Encode(binary), binary},
      {"CR LF lines", kolvotest::base64Encode("some longer text over lines", 8, "\r\n"), "some longer text over lines"},
      {"empty lines before the data are skipped", "\n\r\nSGVsbG8h\n", "Hello!"},
      {"an empty line ends the data", "SGVs\n\nbG8h\n", "Hel"},
      {"a CR LF empty line ends the data", "SGVs\r\n\r\nbG8h\r\n", "Hel"},
      {"bytes outside the alphabet are skipped", "SG*V s\tbG8h", "Hello!"},
  };
  for (const Case& test : cases) {
    SCOPED_TRACE(test.name);
    // Whole, and a byte at a time: the pieces a line reader hands over do not matter.
    std::string whole;
    CBase64Decoder once;
    once.decode(test.encoded.data(), test.encoded.size(), whole);
    once.finish(whole);
    EXPECT_EQ(whole, test.decoded);
    std::string bytewise;
    CBase64Decoder pieces;
    for (char c : test.encoded) pieces.decode(&c, 1, bytewise);
    pieces.finish(bytewise);
    EXPECT_EQ(bytewise, test.decoded);
  }
}

TEST(MailCacheBudget, EachFileAndTheWholeContainerAreBounded) {
  CCacheBudget budget(10, 25);
  budget.startEntry();
  EXPECT_EQ(budget.take(4), 4u);
  EXPECT_EQ(budget.take(8), 6u);  // the file's bound
  EXPECT_EQ(budget.take(1), 0u);
  budget.startEntry();
  EXPECT_TRUE(budget.hasRoom());
  EXPECT_EQ(budget.take(10), 10u);
  budget.startEntry();
  EXPECT_EQ(budget.take(10), 5u);  // the container's bound
  budget.startEntry();
  EXPECT_FALSE(budget.hasRoom());
  EXPECT_EQ(budget.take(1), 0u);
  EXPECT_EQ(budget.leftForContainer(), 0u);
}

}  // namespace
