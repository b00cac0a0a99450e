// The mail analyzer over whole mailboxes written by the tests: which entries a mailbox
// gives, what each is named, what its cache file holds and which words it is found by.
#include "engine/mboxanalyzer/mbox_analyzer.h"

#include <gtest/gtest.h>

#include <ctime>
#include <filesystem>
#include <fstream>
#include <map>
#include <optional>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "engine/index/file_contents.h"
#include "engine/index/word_data.h"
#include "engine/kolvolib/error_reporting.h"
#include "engine/mboxanalyzer/mail_cache.h"
#include "tests/engine/analyzers/analyzer_fixture.h"
#include "tests/support/base64_writer.h"
#include "tests/support/engine_errors.h"
#include "tests/support/mailbox_writer.h"

namespace fs = std::filesystem;
using kolvotest::AnalyzerFixture;
using kolvotest::MailAttachment;
using kolvotest::MailboxWriter;
using kolvotest::MailMessage;

namespace {

using kolvotest::localTime;

const std::string annPrefix = "ann@example.org 2004-01-05 10:11:12";


std::string readWhole(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream text;
  text << in.rdbuf();
  return text.str();
}

struct Entry {
  uint32_t file = 0;
  int32_t time = 0;
  uint32_t size = 0;
};

// A mailbox indexed as the walk would: the folder and the mailbox recorded, then the
// mailbox handed to the "mbox" analyzer of the registry.
class Mailbox {
 public:
  Mailbox() {
    index().createAnalyzers();
    index().setIncludeCount(2);
    index().setIncludePattern(0, "*.mbox", "mbox");
    index().setIncludePattern(1, "*.txt", "generic");
    analyzer = dynamic_cast<CMBoxAnalyzer*>(index().analyzerMap.at("mbox").get());
    for (int c = 'a'; c <= 'z'; ++c) index().setValidViewableMask(c, true);
    fs::create_directories(fixture.root.path() / "mail");
    folder = index().recordFile((fixture.root.path() / "mail").string().c_str(), 0, 0, 0);
  }
  CKolvoIndex& index() { return *fixture.index; }

  bool indexText(const std::string& text) {
    path = fixture.writeFile("mail/box.mbox", text);
    if (!mailbox) mailbox = index().recordFile("box.mbox", folder, 0, static_cast<uint32_t>(text.size()));
    return analyzer->indexFile(path.c_str(), mailbox);
  }

  // The entries under the mailbox by name.
  std::map<std::string, Entry> entries() {
    std::map<std::string, Entry> found;
    CFileStorage& files = *index().files;
    for (uint32_t f = files.getFirst(); f; f = files.getNext(f))
      if (files.getParent(f) == mailbox && !files.isObsolete(f))
        found[files.getText(f)] = {f, files.getTime(f), files.getSize(f)};
    return found;
  }
  std::set<std::string> names() {
    std::set<std::string> found;
    for (const auto& [name, entry] : entries()) found.insert(name);
    return found;
  }
  // The words indexed under an entry.
  std::set<std::string> wordsOf(const std::string& name) {
    auto all = entries();
    std::set<std::string> found;
    if (!all.count(name)) return found;
    uint32_t file = all[name].file;
    // A word's links so far, and the file it was met in last, which is not linked yet.
    for (const kolvotest::Link& link : fixture.links())
      if (link.file == file) found.insert(link.word);
    const CTextStorage& words = *index().words;
    for (uint32_t word = words.getFirst(); word; word = words.getNext(word))
      if (kolvo::WordData::currentFile(words.getData(word)) == file) found.insert(words.getText(word));
    return found;
  }
  // What the file-contents view gets of an entry: its bytes copied out of the cache.
  std::optional<std::string> cached(const std::string& name) {
    auto all = entries();
    if (!all.count(name)) return std::nullopt;
    std::string copy = (fixture.root.path() / "copied").string();
    if (!analyzer->extractToTempFile(path.c_str(), name.c_str(), copy.c_str(), all[name].file)) return std::nullopt;
    std::string bytes = readWhole(copy);
    fs::remove(copy);
    return bytes;
  }
  std::string cacheOf(const std::string& name) { return cached(name).value_or(std::string()); }
  // The mailbox's cache file.
  std::string cacheFile() const { return kolvo::mailCachePath(fixture.index->temporaryDirectory, mailbox); }

  AnalyzerFixture fixture;
  CMBoxAnalyzer* analyzer = nullptr;
  uint32_t folder = 0;
  uint32_t mailbox = 0;
  std::string path;
};

MailMessage message(const std::string& body, const std::string& from = "Ann Example <ann@example.org>",
                    const std::string& date = "Mon, 5 Jan 2004 10:11:12 +0100") {
  return kolvotest::mailFrom(from, date, body);
}

MailMessage withAttachments(const std::string& body, std::vector<MailAttachment> attachments) {
  return kolvotest::mailFrom("Ann Example <ann@example.org>", "Mon, 5 Jan 2004 10:11:12 +0100", body,
                             std::move(attachments));
}

MailAttachment attached(const std::string& name, const std::string& contents) { return {name, contents}; }

// An attachment whose file name is given by the header lines as they stand.
MailAttachment namedBy(const std::string& nameLines, const std::string& contents) {
  MailAttachment attachment{"unused", contents};
  attachment.nameLines = nameLines;
  return attachment;
}

MailAttachment encodedAs(const std::string& encodingHeader, const std::string& contents) {
  MailAttachment attachment{"e.txt", contents};
  attachment.encodingHeader = encodingHeader;
  return attachment;
}

// Each row: a mailbox, and per entry expected the words it must and must not be found by.
struct Expected {
  std::vector<std::string> mustHave;
  std::vector<std::string> mustNotHave;
};
struct SplitCase {
  const char* name;
  std::string mailbox;
  std::map<std::string, Expected> entries;
};

std::vector<SplitCase> splitCases() {
  MailAttachment unterminated = attached("last.txt", "closing attachment words");
  unterminated.unterminated = true;
  MailAttachment unquoted = attached("plain.txt", "unquoted name words");
  unquoted.quoted = false;
  MailAttachment nameFirst = attached("first.txt", "header order words");
  nameFirst.nameBeforeEncoding = true;
  MailAttachment openAtNext = attached("open.txt", "runaway attachment words");
  openAtNext.unterminated = true;

  return {
      {"three plain messages",
       MailboxWriter()
           .add(message("alpha words"))
           .add(message("bravo words", "Bob <bob@example.org>", "Tue, 6 Jan 2004 01:02:03 +0000"))
           .add(message("charlie words", "Cat <cat@example.org>", "Wed, 7 Jan 2004 23:00:00 -0500"))
           .text(),
       {{annPrefix + "-0.txt", {{"alpha", "words", "ann", "hello"}, {"bravo"}}},
        {"bob@example.org 2004-01-06 01:02:03-0.txt", {{"bravo"}, {"alpha", "charlie"}}},
        {"cat@example.org 2004-01-07 23:00:00-0.txt", {{"charlie"}, {"bravo"}}}}},
      {"attachments are numbered one, two, three",
       MailboxWriter()
           .add(withAttachments("message body", {attached("a.txt", "apple text"), attached("b.txt", "banana text"),
                                                 attached("c.txt", "cherry text")}))
           .text(),
       {{annPrefix + "-0.txt", {{"message", "body"}, {"apple", "banana"}}},
        {annPrefix + "-1.txt", {{"apple"}, {"banana", "message"}}},
        {annPrefix + "-2.txt", {{"banana"}, {"apple", "cherry"}}},
        {annPrefix + "-3.txt", {{"cherry"}, {"banana"}}}}},
      {"an attachment no analyzer takes is numbered but not recorded",
       MailboxWriter()
           .add(withAttachments("body words", {attached("a.pdf", "%PDF-1.4 pdfword"), attached("b.txt", "docword")}))
           .text(),
       {{annPrefix + "-0.txt", {{"body"}, {"pdfword", "docword"}}}, {annPrefix + "-2.txt", {{"docword"}, {}}}}},
      {"an unrecognised month gives the time 0",
       MailboxWriter().add(message("odd words", "Ann <ann@example.org>", "Mon, 5 Foo 2004 10:11:12")).text(),
       {{CMBoxAnalyzer::makeFileName("ann@example.org", 0, "txt", 0), {{"odd"}, {}}}}},
      {"a bare sender address is used to the end of its line",
       MailboxWriter().add(message("bare words", "bare@example.org")).text(),
       {{"bare@example.org 2004-01-05 10:11:12-0.txt", {{"bare"}, {}}}}},
      {"the last attachment of the mailbox is kept",
       MailboxWriter().add(withAttachments("body", {unterminated})).text(),
       {{annPrefix + "-0.txt", {{"body"}, {"closing"}}}, {annPrefix + "-1.txt", {{"closing", "attachment"}, {}}}}},
      {"an attachment open at the next message ends there",
       MailboxWriter()
           .add(withAttachments("first", {openAtNext}))
           .add(message("second message", "Bob <bob@example.org>", "Tue, 6 Jan 2004 01:02:03 +0000"))
           .text(),
       {{annPrefix + "-0.txt", {{"first"}, {"runaway"}}},
        {annPrefix + "-1.txt", {{"runaway"}, {"second", "bob", "subject"}}},
        {"bob@example.org 2004-01-06 01:02:03-0.txt", {{"second", "message", "bob"}, {"runaway"}}}}},
      {"the asctime date layout", MailboxWriter().add(message("old style", "<old@example.org>", "Wed Jan  5 10:11:12 2004")).text(),
       {{"old@example.org 2004-01-05 10:11:12-0.txt", {{"old", "style"}, {}}}}},
      {"a quoted From line stays in its message",
       MailboxWriter()
           .add(message("before\n>From someone else\nafter quoted line"))
           .text(),
       {{annPrefix + "-0.txt", {{"before", "someone", "after", "quoted"}, {}}}}},
      {"CR LF line ends",
       MailboxWriter()
           .lineEnd("\r\n")
           .add(withAttachments("windows body\r\n", {attached("w.txt", "windows attachment")}))
           .add(message("second windows", "Bob <bob@example.org>", "Tue, 6 Jan 2004 01:02:03 +0000"))
           .text(),
       {{annPrefix + "-0.txt", {{"windows", "body"}, {"attachment"}}},
        {annPrefix + "-1.txt", {{"windows", "attachment"}, {"body"}}},
        {"bob@example.org 2004-01-06 01:02:03-0.txt", {{"second"}, {"attachment"}}}}},
      {"a message without a Date header is not recorded",
       MailboxWriter().add(message("undated words", "Ann <ann@example.org>", "")).add(message("dated words")).text(),
       {{annPrefix + "-0.txt", {{"dated"}, {"undated"}}}}},
      {"a message without a From header is not recorded",
       MailboxWriter().add(message("anonymous words", "")).text(), {}},
      {"quoted and unquoted file names",
       MailboxWriter().add(withAttachments("body", {attached("quoted.txt", "quoted name words"), unquoted})).text(),
       {{annPrefix + "-0.txt", {{"body"}, {}}},
        {annPrefix + "-1.txt", {{"quoted"}, {"unquoted"}}},
        {annPrefix + "-2.txt", {{"unquoted"}, {}}}}},
      {"a file name given before the base64 header",
       MailboxWriter().add(withAttachments("body", {nameFirst})).text(),
       {{annPrefix + "-0.txt", {{"body"}, {"header"}}}, {annPrefix + "-1.txt", {{"header", "order"}, {}}}}},
      {"a base64 part without a file name is passed over",
       MailboxWriter()
           .add(message("visible text\n\nContent-Transfer-Encoding: base64\n\n" +
                        kolvotest::base64Encode("hidden words inside") + "\ntrailing text"))
           .text(),
       {{annPrefix + "-0.txt", {{"visible"}, {"hidden", "inside", "trailing"}}}}},
      {"two messages of one sender in one second are told apart",
       MailboxWriter()
           .add(message("first words"))
           .add(withAttachments("second words", {attached("s.txt", "second attachment")}))
           .add(message("third words"))
           .text(),
       {{annPrefix + "-0.txt", {{"first"}, {"second", "third"}}},
        {annPrefix + " (2)-0.txt", {{"second"}, {"first", "third"}}},
        {annPrefix + " (2)-1.txt", {{"attachment"}, {"first"}}},
        {annPrefix + " (3)-0.txt", {{"third"}, {"second"}}}}},
      {"extended and continued file names",
       MailboxWriter()
           .add(withAttachments(
               "body", {namedBy("Content-Disposition: attachment;\n filename*=UTF-8''r%C3%A9sum%C3%A9%2Etxt",
                                "encoded name words"),
                        namedBy("Content-Disposition: attachment;\n filename*0*=UTF-8''rep;\n filename*1*=ort.t;\n"
                                " filename*2=\"xt\"",
                                "continued name words"),
                        namedBy("Content-Disposition: attachment; filename=\"a.pdf\"; filename*=utf-8'en'a.txt",
                                "extended wins words"),
                        namedBy("Content-Disposition: attachment; FileName=\"upper.txt\"", "upper case words"),
                        namedBy("Content-Disposition: attachment; filename*1=\"x.txt\"", "no first section")}))
           .text(),
       {{annPrefix + "-0.txt", {{"body"}, {"encoded"}}},
        {annPrefix + "-1.txt", {{"encoded"}, {"continued"}}},
        {annPrefix + "-2.txt", {{"continued"}, {"encoded"}}},
        {annPrefix + "-3.txt", {{"extended", "wins"}, {}}},
        {annPrefix + "-4.txt", {{"upper"}, {}}}}},
      {"the base64 header in any case and spacing",
       MailboxWriter()
           .add(withAttachments("body", {encodedAs("content-transfer-encoding: BASE64", "lower header words"),
                                         encodedAs("CONTENT-TRANSFER-ENCODING:Base64 ", "upper header words"),
                                         encodedAs("Content-Transfer-Encoding: quoted-printable", "printable")}))
           .text(),
       {{annPrefix + "-0.txt", {{"body"}, {"lower"}}},
        {annPrefix + "-1.txt", {{"lower"}, {"upper"}}},
        {annPrefix + "-2.txt", {{"upper"}, {"lower"}}}}},
      {"header names in any case",
       "From x Mon Jan  5 10:11:12 2004\nFROM: Ann <ann@example.org>\ndate: Mon, 5 Jan 2004 10:11:12\n\nshouted words\n",
       {{annPrefix + "-0.txt", {{"shouted"}, {}}}}},
      {"text before the first message is no message",
       "stray preamble words\n" + MailboxWriter().add(message("real words")).text(),
       {{annPrefix + "-0.txt", {{"real"}, {"stray", "preamble"}}}}},
  };
}

TEST(MailboxSplit, TableOfMailboxes) {
  for (const SplitCase& test : splitCases()) {
    SCOPED_TRACE(test.name);
    Mailbox box;
    ASSERT_TRUE(box.indexText(test.mailbox));
    std::set<std::string> expectedNames;
    for (const auto& [name, expected] : test.entries) expectedNames.insert(name);
    EXPECT_EQ(box.names(), expectedNames);
    for (const auto& [name, expected] : test.entries) {
      SCOPED_TRACE(name);
      std::set<std::string> words = box.wordsOf(name);
      for (const std::string& word : expected.mustHave) EXPECT_TRUE(words.count(word)) << word;
      for (const std::string& word : expected.mustNotHave) EXPECT_FALSE(words.count(word)) << word;
    }
    // The mailbox counts once, and each entry whose text was read once more.
    EXPECT_EQ(box.index().contentsIndexed, 1 + test.entries.size());
  }
}

TEST(MailboxSplit, EntriesCarryTheMessageTimeAndTheRawSize) {
  Mailbox box;
  std::string body = "some body words";
  std::string text = MailboxWriter().add(withAttachments(body, {attached("a.txt", "apple text")})).text();
  ASSERT_TRUE(box.indexText(text));
  auto entries = box.entries();
  ASSERT_EQ(entries.size(), 2u);
  std::time_t when = localTime(2004, 1, 5, 10, 11, 12);
  EXPECT_EQ(entries[annPrefix + "-0.txt"].time, when);
  EXPECT_EQ(entries[annPrefix + "-1.txt"].time, when);
  // The attachment's size is that of its encoded lines.
  EXPECT_EQ(entries[annPrefix + "-1.txt"].size, kolvotest::base64Encode("apple text").size());
  // The text runs from the rest of the "From " line to the first attachment's header.
  std::string cached = box.cacheOf(annPrefix + "-0.txt");
  EXPECT_EQ(cached.substr(0, 17), " ann@example.org ");
  EXPECT_NE(cached.find(body), std::string::npos);
  EXPECT_EQ(cached.find("Content-Transfer-Encoding"), std::string::npos);
  EXPECT_EQ(entries[annPrefix + "-0.txt"].size, cached.size());
  EXPECT_EQ(box.cacheOf(annPrefix + "-1.txt"), "apple text");
}

TEST(MailboxSplit, BinaryAttachmentsAreDecodedExactly) {
  Mailbox box;
  std::string bytes;
  for (int i = 0; i < 5000; ++i) bytes += static_cast<char>((i * 7919) & 0xFF);
  ASSERT_TRUE(box.indexText(MailboxWriter().add(withAttachments("body", {attached("blob.txt", bytes)})).text()));
  EXPECT_EQ(box.cacheOf(annPrefix + "-1.txt"), bytes);
}

TEST(MailboxSplit, MessagesStraddlingTheReadBufferKeepTheirSendersAndDates) {
  // Messages of about 300 KB each, so that many headers and bodies cross the points at
  // which the reader refills its buffer; one long line is longer than the buffer.
  Mailbox box;
  MailboxWriter writer;
  std::vector<std::string> expected;
  for (int i = 0; i < 8; ++i) {
    std::string body;
    while (body.size() < 300'000 + static_cast<size_t>(i) * 997) body += "filler text line of words\n";
    if (i == 3) body += std::string(3'000'000, 'x') + "\n";
    body += "marker" + std::string(1, static_cast<char>('a' + i)) + "\n";
    std::string from = "Sender" + std::to_string(i) + " <s" + std::to_string(i) + "@example.org>";
    std::string date = "Mon, " + std::to_string(i + 1) + " Mar 2004 0" + std::to_string(i) + ":30:00 +0000";
    writer.add(message(body, from, date));
    expected.push_back("s" + std::to_string(i) + "@example.org 2004-03-0" + std::to_string(i + 1) + " 0" +
                       std::to_string(i) + ":30:00-0.txt");
  }
  ASSERT_TRUE(box.indexText(writer.text()));
  EXPECT_EQ(box.names(), std::set<std::string>(expected.begin(), expected.end()));
  for (int i = 0; i < 8; ++i) {
    std::string marker = "marker" + std::string(1, static_cast<char>('a' + i));
    EXPECT_TRUE(box.wordsOf(expected[i]).count(marker)) << expected[i];
  }
}

TEST(MailboxSplit, ALongMessageKeepsItsBeginning) {
  Mailbox box;
  box.index().maxPerFileRead = 4000;
  std::string body = "opening words\n";
  while (body.size() < 10'000) body += "middle filler\n";
  body += "closing words\n";
  ASSERT_TRUE(box.indexText(
      MailboxWriter().add(message(body)).add(message("next message", "Bob <bob@example.org>")).text()));
  std::string name = annPrefix + "-0.txt";
  auto words = box.wordsOf(name);
  EXPECT_TRUE(words.count("opening"));
  EXPECT_FALSE(words.count("closing"));
  EXPECT_EQ(box.cacheOf(name).size(), 4000u);
  // The size recorded is the whole message's.
  EXPECT_GT(box.entries()[name].size, 10'000u);
  EXPECT_TRUE(box.wordsOf("bob@example.org 2004-01-05 10:11:12-0.txt").count("next"));
}

TEST(MailboxSplit, AttachmentNamesNeverBecomePaths) {
  Mailbox box;
  box.index().setIncludeCount(3);
  box.index().setIncludePattern(0, "*.mbox", "mbox");
  box.index().setIncludePattern(1, "*.txt", "generic");
  box.index().setIncludePattern(2, "*", "generic");
  fs::path work = box.fixture.root.path() / "work";
  fs::create_directories(work);
  fs::path before = fs::current_path();
  fs::current_path(work);
  bool indexed = box.indexText(MailboxWriter()
                                   .add(withAttachments("body", {attached("../../.bashrc", "dot words"),
                                                                 attached("x.$(touch PWNED)", "shell words"),
                                                                 attached("ok.txt", "fine words")}))
                                   .text());
  fs::current_path(before);
  ASSERT_TRUE(indexed);
  // The name's extension alone reaches the cache path; a name with no plain extension
  // is numbered but not extracted.
  EXPECT_EQ(box.names(), (std::set<std::string>{annPrefix + "-0.txt", annPrefix + "-1.bashrc", annPrefix + "-3.txt"}));
  EXPECT_TRUE(box.wordsOf(annPrefix + "-1.bashrc").count("dot"));
  EXPECT_TRUE(box.wordsOf(annPrefix + "-3.txt").count("fine"));
  EXPECT_FALSE(fs::exists(work / "PWNED"));
  EXPECT_FALSE(fs::exists(box.fixture.root.path() / ".bashrc"));
  EXPECT_FALSE(fs::exists(fs::path(box.index().temporaryDirectory).parent_path() / ".bashrc"));
  // The mailbox's cache is the one file left in the temporary directory.
  std::vector<std::string> left;
  for (const auto& file : fs::directory_iterator(box.index().temporaryDirectory))
    left.push_back(file.path().string());
  EXPECT_EQ(left, std::vector<std::string>{box.cacheFile()});
}

TEST(MailboxSplit, CacheFilesOfOneMailboxAreBounded) {
  Mailbox box;
  box.analyzer->entryCacheLimit = 3000;
  box.analyzer->mailboxCacheLimit = 5000;
  std::string big;
  while (big.size() < 20'000) big += "bulky attachment text ";
  ASSERT_TRUE(box.indexText(MailboxWriter()
                                .add(withAttachments("body", {attached("big.txt", big), attached("more.txt", big)}))
                                .add(message("late words", "Bob <bob@example.org>"))
                                .text()));
  auto entries = box.entries();
  ASSERT_EQ(entries.size(), 4u);
  EXPECT_LE(box.cacheOf(annPrefix + "-0.txt").size(), 3000u);
  EXPECT_EQ(box.cacheOf(annPrefix + "-1.txt").size(), 3000u);
  uintmax_t total = 0;
  for (const auto& [name, entry] : entries) total += box.cacheOf(name).size();
  EXPECT_LE(total, 5000u);
  // Each record adds a head of a few bytes, no more.
  EXPECT_LE(fs::file_size(box.cacheFile()), 5000u + 4 * 16);
  // Once the mailbox's bound is spent, entries are recorded but have nothing cached.
  std::string late = "bob@example.org 2004-01-05 10:11:12-0.txt";
  ASSERT_TRUE(entries.count(late));
  EXPECT_EQ(box.cached(late), std::nullopt);
  EXPECT_TRUE(box.wordsOf(late).empty());
}

TEST(MailboxSplit, AnUpdateLeavesOldEntriesAlone) {
  Mailbox box;
  std::string old = MailboxWriter().add(message("ancient words")).text();
  ASSERT_TRUE(box.indexText(old));
  std::string oldName = annPrefix + "-0.txt";
  uint32_t oldFile = box.entries()[oldName].file;
  std::set<std::string> wordsBefore = box.wordsOf(oldName);

  box.index().isUpdate = true;
  box.index().timeBase = static_cast<int32_t>(localTime(2005, 1, 1, 0, 0, 0));
  std::string fresh = "bob@example.org 2006-02-03 04:05:06-0.txt";
  ASSERT_TRUE(box.indexText(
      old + MailboxWriter().add(message("recent words", "Bob <bob@example.org>", "Fri, 3 Feb 2006 04:05:06")).text()));
  auto entries = box.entries();
  EXPECT_EQ(entries.size(), 2u);
  EXPECT_EQ(entries[oldName].file, oldFile);
  EXPECT_TRUE(box.wordsOf(fresh).count("recent"));
  // The old message was not read again: two mailbox reads and two message texts.
  EXPECT_TRUE(wordsBefore.count("ancient"));
  EXPECT_EQ(box.index().contentsIndexed, 4u);
  // Both are still shown: the update added to the mailbox's cache.
  EXPECT_NE(box.cacheOf(oldName).find("ancient words"), std::string::npos);
  EXPECT_NE(box.cacheOf(fresh).find("recent words"), std::string::npos);
  // A fresh build of the same mailbox starts its cache anew rather than growing it.
  box.index().isUpdate = false;
  uintmax_t before = fs::file_size(box.cacheFile());
  ASSERT_TRUE(box.indexText(old));
  EXPECT_LT(fs::file_size(box.cacheFile()), before);
}

TEST(MailboxDisplay, AnEntryCachedInAFileOfItsOwnIsStillShown) {
  // An index whose mailbox was read before mailboxes had one cache file: the entry's
  // own file is shown while the mailbox's cache holds nothing of it.
  Mailbox box;
  ASSERT_TRUE(box.indexText(MailboxWriter().add(message("current words")).text()));
  std::string name = annPrefix + "-0.txt";
  fs::remove(box.cacheFile());
  std::ofstream(box.analyzer->makeCachePath(box.entries()[name].file, name.c_str())) << "earlier words";
  EXPECT_EQ(box.cacheOf(name), "earlier words");
}

TEST(MailboxSplit, AMailboxAttachedToAMessageIsSplitInTurnWithinTheOuterBounds) {
  Mailbox box;
  std::string inner =
      MailboxWriter().add(message("nested message words", "Inner <in@example.org>")).text();
  box.analyzer->mailboxCacheLimit = 1'000'000;
  ASSERT_TRUE(box.indexText(MailboxWriter().add(withAttachments("outer body", {attached("old.mbox", inner)})).text()));
  auto entries = box.entries();
  std::string attachment = annPrefix + "-1.mbox";
  ASSERT_TRUE(entries.count(attachment));
  CFileStorage& files = *box.index().files;
  uint32_t nested = files.lookupFile("in@example.org 2004-01-05 10:11:12-0.txt", entries[attachment].file);
  ASSERT_NE(nested, 0u);
  // The nested message is shown through both mailboxes' cache files.
  CFileContents contents(&box.index(), nested, 10000, 0, false, 0);
  EXPECT_NE(std::string(contents.contents()).find("nested message words"), std::string::npos);
  // The attached mailbox was read from a copy of its own, gone once read: what stays are
  // the caches of the two mailboxes.
  std::set<std::string> left;
  for (const auto& file : fs::directory_iterator(box.index().temporaryDirectory)) left.insert(file.path().string());
  EXPECT_EQ(left, (std::set<std::string>{box.cacheFile(), kolvo::mailCachePath(box.index().temporaryDirectory,
                                                                                entries[attachment].file)}));
  // The outer mailbox's bound counts the nested cache files too: with room for the
  // outer text and the attached mailbox alone, the nested message gets no cache file.
  Mailbox bounded;
  bounded.analyzer->mailboxCacheLimit = box.cacheOf(annPrefix + "-0.txt").size() + inner.size();
  ASSERT_TRUE(bounded.indexText(MailboxWriter().add(withAttachments("outer body", {attached("old.mbox", inner)})).text()));
  auto outer = bounded.entries();
  ASSERT_TRUE(outer.count(attachment));
  uint32_t cut = bounded.index().files->lookupFile("in@example.org 2004-01-05 10:11:12-0.txt", outer[attachment].file);
  ASSERT_NE(cut, 0u);
  kolvo::MailCacheRecord record;
  EXPECT_EQ(kolvo::findMailCacheRecord(kolvo::mailCachePath(bounded.index().temporaryDirectory, outer[attachment].file),
                                       cut, record),
            kolvo::MailCacheLookup::forgotten);
}

TEST(MailboxSplit, WithoutATemporaryDirectoryEntriesAreRecordedOnly) {
  Mailbox box;
  box.index().temporaryDirectory.clear();
  ASSERT_TRUE(box.indexText(MailboxWriter().add(message("uncached words")).text()));
  auto entries = box.entries();
  ASSERT_EQ(entries.size(), 1u);
  EXPECT_FALSE(fs::exists("/" + std::to_string(entries.begin()->second.file) + ".txt"));
  EXPECT_TRUE(box.wordsOf(entries.begin()->first).empty());
}

TEST(MailboxSplit, AMissingMailboxIsNotIndexed) {
  Mailbox box;
  EXPECT_FALSE(box.analyzer->indexFile((box.fixture.root.path() / "absent.mbox").c_str(), 99));
  EXPECT_EQ(box.index().contentsIndexed, 0u);
}

TEST(MailboxDisplay, AnEntryIsShownFromItsCacheFileAndFailsCleanlyWithoutIt) {
  Mailbox box;
  ASSERT_TRUE(box.indexText(
      MailboxWriter().add(withAttachments("shown body", {attached("a.txt", "attached words")})).text()));
  std::string name = annPrefix + "-1.txt";
  uint32_t file = box.entries()[name].file;

  CFileContents contents(&box.index(), file, 10000, 0, false, 0);
  EXPECT_STREQ(contents.contents(), "attached words");

  std::string extracted = box.index().extractToTempFile(box.path.c_str(), name.c_str(), file);
  ASSERT_FALSE(extracted.empty());
  EXPECT_EQ(readWhole(extracted), "attached words");
  fs::remove(extracted);

  fs::remove(box.cacheFile());
  EXPECT_FALSE(box.analyzer->extractToTempFile(box.path.c_str(), name.c_str(), extracted.c_str(), file));
  EXPECT_TRUE(box.index().extractToTempFile(box.path.c_str(), name.c_str(), file).empty());
  kolvotest::EngineErrors errors;
  EXPECT_THROW(CFileContents(&box.index(), file, 10000, 0, false, 0), kolvo::AbortToken);
  EXPECT_EQ(errors.codes(), std::vector<std::string>{"ArchiveExtractError"});
}

TEST(MailboxDisplay, ProcessMessageTextOnItsOwnRecordsAndIndexesOneEntry) {
  Mailbox box;
  box.mailbox = box.index().recordFile("other.mbox", box.folder, 0, 0);
  std::string encoded = kolvotest::base64Encode("decoded attachment");
  box.analyzer->processMessageText("x@example.org 2004-01-05 10:11:12-1.txt", 1000, box.mailbox, encoded.data(),
                                   encoded.size(), true);
  box.analyzer->processMessageText("x@example.org 2004-01-05 10:11:12-0.txt", 1000, box.mailbox, "plain body", 10,
                                   false);
  // No analyzer matches this name: nothing is recorded.
  box.analyzer->processMessageText("x@example.org 2004-01-05 10:11:12-2.pdf", 1000, box.mailbox, "QUJD", 4, true);
  auto entries = box.entries();
  ASSERT_EQ(entries.size(), 2u);
  EXPECT_EQ(box.cacheOf("x@example.org 2004-01-05 10:11:12-1.txt"), "decoded attachment");
  EXPECT_TRUE(box.wordsOf("x@example.org 2004-01-05 10:11:12-0.txt").count("plain"));
  EXPECT_EQ(entries["x@example.org 2004-01-05 10:11:12-0.txt"].time, 1000);
}

}  // namespace

namespace {

TEST(MailboxSplit, ArbitraryLinesNeverBreakTheSplit) {
  // Lines drawn from the pieces the split reacts to, in random order and cut at random
  // places: every entry that comes out has a plain extension and a cache file no larger
  // than its bound.
  const std::vector<std::string> pieces = {
      "From x@example.org Mon Jan  5 10:11:12 2004", "From: A <a@example.org>", "Date: Mon, 5 Jan 2004 10:11:12",
      "Date: Wed Jan  5 10:11:12 2004", "Content-Transfer-Encoding: base64", "Content-Disposition: attachment; filename=\"r.txt\"",
      "filename=../x", "filename=\"a.$(x)\"", "", "\r", "QUJDREVG", "words of text", "--boundary", ">From quoted",
      std::string(1, '\0'), std::string(3, '\xFF')};
  uint32_t seed = 12345;
  auto next = [&seed] {
    seed = seed * 1103515245u + 12345u;
    return seed >> 8;
  };
  int entries = 0;
  int attachments = 0;
  for (int round = 0; round < 6; ++round) {
    SCOPED_TRACE(round);
    std::string text;
    for (int line = 0; line < 600; ++line) {
      const std::string& piece = pieces[next() % pieces.size()];
      text += piece.substr(0, next() % 4 == 0 ? next() % (piece.size() + 1) : piece.size());
      text += next() % 3 == 0 ? "\r\n" : "\n";
    }
    Mailbox box;
    box.analyzer->entryCacheLimit = 64;
    ASSERT_TRUE(box.indexText(text));
    for (const auto& [name, entry] : box.entries()) {
      std::string extension = CMBoxAnalyzer::attachmentExtension(name);
      EXPECT_FALSE(extension.empty()) << name;
      EXPECT_LE(box.cacheOf(name).size(), 64u) << name;
      ++entries;
      if (name.find("-0.txt") == std::string::npos) ++attachments;
    }
  }
  // The draws make both kinds of entry.
  EXPECT_GT(entries, attachments);
  EXPECT_GT(attachments, 0);
}

}  // namespace
