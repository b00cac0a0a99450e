// The pieces of the mail analyzer on their own: dates, entry names, attachment
// extensions, base64 decoding and the cache budget, each from a table.
#include <gtest/gtest.h>

#include <ctime>
#include <optional>
#include <string>
#include <vector>

#include "engine/index/resource_limits.h"
#include "engine/mboxanalyzer/base64_decoder.h"
#include "engine/mboxanalyzer/cache_budget.h"
#include "engine/mboxanalyzer/mbox_analyzer.h"
#include "engine/mboxanalyzer/mime_file_name.h"
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
    int sameSecond = 0;
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
      {"<ann@example.org>", "txt", 0, "ann@example.org 2004-01-05 10:11:12 (2)-0.txt", 1},
      {"<ann@example.org>", "pdf", 2, "ann@example.org 2004-01-05 10:11:12 (12)-2.pdf", 11},
  };
  for (const Case& test : cases) {
    SCOPED_TRACE(test.from);
    EXPECT_EQ(CMBoxAnalyzer::makeFileName(test.from, time, test.extension, test.number, test.sameSecond),
              test.expected);
  }
}

TEST(MailNames, ALongSenderIsCutSoTheNameFitsItsBuffer) {
  std::string sender(1000, 's');
  for (const char* extension : {"txt", "abcdefghijklmnopqrs"}) {
    std::string name = CMBoxAnalyzer::makeFileName(sender, 0, extension, 12);
    EXPECT_LT(name.size(), static_cast<size_t>(CMBoxAnalyzer::entryNameSize));
    EXPECT_EQ(name.substr(name.size() - std::string(extension).size() - 4), std::string("-12.") + extension);
    std::string repeated = CMBoxAnalyzer::makeFileName(sender, 0, extension, 12, 99);
    EXPECT_LT(repeated.size(), static_cast<size_t>(CMBoxAnalyzer::entryNameSize));
    EXPECT_NE(repeated.find(" (100)-12."), std::string::npos);
  }
}

TEST(MailFileNames, TableOfParameterLines) {
  struct Case {
    std::vector<std::string> lines;
    std::optional<std::string> expected;
  };
  const std::vector<Case> cases = {
      {{"Content-Disposition: attachment; filename=\"a b.txt\""}, "a b.txt"},
      {{"Content-Disposition: attachment; filename=plain.txt; size=3"}, "plain.txt"},
      {{"Content-Type: text/plain; name=\"n.txt\""}, std::nullopt},
      {{"X-Header: myfilename=trap.txt"}, std::nullopt},
      {{"Content-Disposition: attachment; FILENAME=\"loud.TXT\""}, "loud.TXT"},
      {{"Content-Disposition: attachment; filename=\"q\\\"uote.txt\""}, "q\"uote.txt"},
      {{"Content-Disposition: attachment; filename=\"first.txt\"", " filename=\"second.txt\""}, "first.txt"},
      {{"Content-Disposition: attachment; filename*=UTF-8''na%C3%AFve%20file.txt"}, "na\xC3\xAFve file.txt"},
      {{"Content-Disposition: attachment; filename*=us-ascii'en'bad%zz%4.txt"}, "bad%zz%4.txt"},
      {{"Content-Disposition: attachment; filename*=no-quotes.txt"}, "no-quotes.txt"},
      {{"Content-Disposition: attachment; filename=\"old.pdf\"; filename*=UTF-8''new.txt"}, "new.txt"},
      {{"Content-Disposition: attachment;", " filename*1*=%2Etxt;", " filename*0*=UTF-8''two"}, "two.txt"},
      {{"Content-Disposition: attachment; filename*0=\"a\"; filename*1=\"b\"; filename*3=\"d\""}, "ab"},
      {{"Content-Disposition: attachment; filename*1=\"b.txt\"; filename=\"fallback.txt\""}, "fallback.txt"},
      {{"Content-Disposition: attachment; filename*0*=utf-8''%41; filename*1*=%42.txt"}, "AB.txt"},
  };
  for (const Case& test : cases) {
    SCOPED_TRACE(test.lines.front());
    CMimeFileName name;
    for (const std::string& line : test.lines) name.take(line + "\n");
    EXPECT_EQ(name.name(), test.expected);
    name.reset();
    EXPECT_EQ(name.name(), std::nullopt);
  }
  // A name given in more sections, or at more length, than a header can need is cut.
  CMimeFileName huge;
  for (int section = 0; section < 200; ++section)
    huge.take("filename*" + std::to_string(section) + "=\"" + std::string(100, 'x') + "\"");
  ASSERT_TRUE(huge.name());
  EXPECT_LE(huge.name()->size(), kolvo::limits::mailFileNameBytes);
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
