// The PDF analyzer: the text the content interpreter makes of content snippets, the
// words indexed from whole files (refills, corrupt and truncated streams, the bounds on
// one stream and on one file, halting) and the display text.
#include "engine/pdfanalyzer/pdf_analyzer.h"

#include <gtest/gtest.h>

#include <cctype>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "include/kolvolib.h"
#include "tests/engine/analyzers/analyzer_fixture.h"
#include "tests/support/engine_errors.h"
#include "tests/support/pdf_writer.h"

namespace {

using kolvotest::AnalyzerFixture;
using kolvotest::PdfWriter;

std::string textOf(const std::string& content, int wrapWidth = 10000) {
  std::vector<char> out(content.size() + 1);
  size_t made = CPdfAnalyzer::clearText(content.data(), content.size(), out.data(), wrapWidth);
  EXPECT_LE(made, content.size());
  return std::string(out.data(), made);
}

struct ContentCase {
  const char* name;
  std::string content;
  std::string text;
  int wrapWidth = 10000;
};

TEST(PdfContentText, TableOfSnippets) {
  const std::vector<ContentCase> cases = {
      {"a shown string", "BT /F1 12 Tf (Hello) Tj ET", "Hello\n"},
      {"strings outside a text object are not text", "(Not) Tj BT (Yes) Tj ET (No) Tj", "Yes\n"},
      {"TD with a large second operand starts a line", "BT (a) Tj 0 -14 TD (b) Tj ET", "a\nb\n"},
      {"TD with a second operand below 1 is a space", "BT (a) Tj 0 0.5 TD (b) Tj ET", "a b\n"},
      {"TD with a second operand of 1 is nothing", "BT (a) Tj 0 1 TD (b) Tj ET", "ab\n"},
      {"Td starts a line as TD does", "BT (a) Tj 0 -14 Td (b) Tj ET", "a\nb\n"},
      {"Td with a second operand below 1 is a space", "BT (a) Tj 0 0.5 Td (b) Tj ET", "a b\n"},
      {"the first line of a text object starts no empty line", "BT 72 700 Td (a) Tj 0 -14 Td (b) Tj ET",
       "a\nb\n"},
      {"T* starts a line", "BT (a) Tj T* (b) Tj ET", "a\nb\n"},
      {"' starts a line before its string", "BT (a) Tj (b) ' (c) ' ET", "a\nb\nc\n"},
      {"\" starts a line before its string", "BT (a) Tj 1 2 (b) \" ET", "a\nb\n"},
      {"operators ended by delimiters", "BT(a)Tj 0 -14 Td(b)Tj T*(c)Tj ET", "a\nb\nc\n"},
      {"kerning of 120 is a space", "BT [(Hel) -120 (lo)] TJ ET", "Hel lo\n"},
      {"kerning of 30 is nothing", "BT [(Hel) -30 (lo)] TJ ET", "Hello\n"},
      {"kerning of 1500 is a TAB", "BT [(Hel)-1500(lo)] TJ ET", "Hel\tlo\n"},
      {"two text matrices before a string are a space",
       "BT 1 0 0 1 72 700 Tm (a) Tj 1 0 0 1 80 700 Tm 1 0 0 1 90 700 Tm (b) Tj ET", "a b\n"},
      {"one text matrix before a string is nothing", "BT 1 0 0 1 72 700 Tm (a) Tj 1 0 0 1 80 700 Tm (b) Tj ET",
       "ab\n"},
      {"an escaped parenthesis is text", "BT (a\\(b\\)c\\\\) Tj ET", "a(b)c\\\n"},
      {"balanced parentheses stay in the string", "BT (f(x) y) Tj ET", "f(x) y\n"},
      {"an octal escape is its byte", "BT (caf\\351) Tj ET", "caf\xE9\n"},
      {"octal escapes of one to three digits", "BT (\\101\\102C \\0533 \\7x) Tj ET", "ABC +3 x\n"},
      {"escaped line ends and TABs separate words", "BT (one\\ntwo\\tthree\\rfour) Tj ET", "one two three four\n"},
      {"a backslash before a line end joins the lines", "BT (con\\\ntin\\\r\nued) Tj ET", "continued\n"},
      {"any other escaped byte is itself", "BT (\\q\\z) Tj ET", "qz\n"},
      {"a hex string", "BT <48656C6C6F> Tj ET", "Hello\n"},
      {"a hex string is text to its end", "BT <41294243> Tj ET", "A)BC\n"},
      {"blanks inside a hex string and an odd last digit", "BT <41 42\n43 4> Tj ET", "ABC@\n"},
      {"a dictionary inside a text object is no string", "BT /P <</MCID 0>> BDC (x) Tj EMC ET", "x\n"},
      {"control bytes and 127 to 159 are left out", "BT (a\x01" "b\x85" "c\xE9) Tj ET", "abc\xE9\n"},
      {"a line end inside a string separates words", "BT (one\ntwo) Tj ET", "one two\n"},
      {"ET at the very end of the data ends the line", "BT (a) Tj ET BT (b) Tj ET", "a\nb\n"},
      {"BT at the very start of the data", "BT\n(x) Tj\nET\n", "x\n"},
      {"an operator inside a longer token is none", "BT (a) Tj 0 -14 XTD (b) Tj ET", "ab\n"},
      {"wrapping turns the last space into a line break", "BT (aaa bbb ccc ddd) Tj ET", "aaa bbb\nccc ddd\n", 8},
      {"a width of 0 does not wrap", "BT (aaa bbb ccc ddd) Tj ET", "aaa bbb ccc ddd\n", 0},
      {"an unterminated string ends with the data", "BT (abc", "abc"},
      {"a backslash at the very end", "BT (abc\\", "abc"},
  };
  for (const ContentCase& test : cases) {
    SCOPED_TRACE(test.name);
    EXPECT_EQ(textOf(test.content, test.wrapWidth), test.text);
  }
}

TEST(PdfContentText, EveryByteThatNeedsThoughtIsSeenAtEveryPlaceInALongString) {
  // Plain bytes are copied many at a time: a byte that is not plain must stop the copy
  // wherever it stands, near the start, in the middle or at the end of a long run.
  struct Byte {
    std::string written;  // in the content
    std::string shown;    // in the text
  };
  const std::vector<Byte> bytes = {{" ", " "},  {"\t", " "},   {"\n", " "},   {"\x01", ""},   {std::string(1, '\0'), ""},
                                   {"\x7F", ""}, {"\x85", ""},  {"\x9F", ""},   {"\xA0", "\xA0"}, {"~", "~"},
                                   {"\\(", "("}, {"\\)", ")"}, {"\\\\", "\\"}, {"\\101", "A"}, {"()", "()"}};
  for (const Byte& byte : bytes) {
    for (size_t at = 0; at <= 40; ++at) {
      SCOPED_TRACE(std::to_string(at) + ": " + byte.written);
      std::string plain;
      for (size_t i = 0; i < 40; ++i) plain += static_cast<char>('a' + i % 26);
      std::string content = "BT (" + plain.substr(0, at) + byte.written + plain.substr(at) + ") Tj ET";
      EXPECT_EQ(textOf(content), plain.substr(0, at) + byte.shown + plain.substr(at) + "\n");
    }
  }
}

TEST(PdfContentText, TextNeverOutgrowsTheInput) {
  // Each operator and each string opening writes at most one byte for the bytes it takes.
  const std::vector<std::string> dense = {"BT(a)'(b)'(c)'ET", "BT 0 2 Td(x)0 2 Td(y)ET", "BT[(a)2000(b)2000(c)]TJ ET",
                                          "BT 0 .5 TD(a)0 .5 TD(b)ET", "BT T*T*T*(q)T*ET"};
  for (const std::string& content : dense) {
    SCOPED_TRACE(content);
    std::vector<char> out(content.size() + 16, '#');
    size_t made = CPdfAnalyzer::clearText(content.data(), content.size(), out.data(), 3);
    EXPECT_LE(made, content.size());
    EXPECT_EQ(out[content.size()], '#');
  }
}

TEST(PdfContentText, RandomContentStaysWithinItsBuffer) {
  // Bytes that matter to the interpreter, thrown together (the sanitizer build checks
  // every write): the text holds no control byte but LF and TAB, and no empty line.
  const std::string alphabet = "BTETdDm*'\"()<>[]\\0123456789.- \n\rab\x01\xE9";
  std::srand(17);
  for (int round = 0; round < 20000; ++round) {
    std::string content = round % 2 ? "BT " : "";
    for (int length = std::rand() % 40; length > 0; --length) content += alphabet[std::rand() % alphabet.size()];
    std::vector<char> out(content.size() + 1);
    size_t made = CPdfAnalyzer::clearText(content.data(), content.size(), out.data(), 1 + std::rand() % 6);
    std::string text(out.data(), made);
    ASSERT_NE(text.substr(0, 1), "\n") << content;
    ASSERT_EQ(text.find("\n\n"), std::string::npos) << content;
    for (char c : text) {
      auto u = static_cast<unsigned char>(c);
      ASSERT_TRUE(u == '\n' || u == '\t' || (u >= 32 && u < 127) || u >= 160) << content;
    }
  }
}

// ---- Whole files ----

class PdfAnalyzerTest : public ::testing::Test {
 protected:
  CKolvoIndex& index() { return *fixture.index; }
  std::string write(const PdfWriter& pdf, const std::string& name = "doc.pdf") {
    return fixture.writeFile(name, pdf.bytes());
  }
  std::set<std::string> indexed(const std::string& path) {
    EXPECT_TRUE(analyzer.indexFile(path.c_str(), 5));
    return fixture.words();
  }
  std::string shown(const std::string& path, uint32_t maxBytes, int wrapWidth = 0) {
    std::unique_ptr<char, void (*)(void*)> text(analyzer.fillDisplayBuffer(path.c_str(), 5, maxBytes, wrapWidth, false),
                                                std::free);
    return text.get();
  }

  AnalyzerFixture fixture;
  kolvotest::EngineErrors errors;
  CPdfAnalyzer analyzer{fixture.index.get()};
};

TEST_F(PdfAnalyzerTest, WordsOfEveryPageAreIndexedWholeAndOnce) {
  index().setValidCharMask(0xE9, true);
  PdfWriter pdf;
  pdf.page("BT /F1 12 Tf 72 700 Td (first line) Tj 0 -14 Td (second) Tj T* (third) Tj ET")
      .page("BT (caf\\351 ) Tj (next) ' ET");
  std::set<std::string> words = indexed(write(pdf));
  EXPECT_EQ(words, (std::set<std::string>{"first", "line", "second", "third", "caf\xE9", "next"}));
  EXPECT_EQ(index().wordsIndexed, 6u);
  EXPECT_EQ(index().contentsIndexed, 1u);
  EXPECT_GT(index().bytesRead, 0.0);
  EXPECT_TRUE(errors.warnings().empty());
}

TEST_F(PdfAnalyzerTest, StreamsWithoutFlateGiveNoText) {
  PdfWriter pdf;
  pdf.plainPage("BT (plain) Tj ET");
  EXPECT_TRUE(indexed(write(pdf)).empty());
  EXPECT_EQ(index().contentsIndexed, 1u);
}

TEST_F(PdfAnalyzerTest, MissingFileIsNotCounted) {
  EXPECT_FALSE(analyzer.indexFile((fixture.root.slashed() + "absent.pdf").c_str(), 5));
  EXPECT_EQ(index().contentsIndexed, 0u);
  EXPECT_STREQ(shown(fixture.root.slashed() + "absent.pdf", 100).c_str(), "");
}

TEST_F(PdfAnalyzerTest, CorruptStreamIsSkippedAndTheNextOneRead) {
  PdfWriter pdf;
  pdf.rawFlatePage("this is not zlib data at all").page("BT (after) Tj ET");
  EXPECT_EQ(indexed(write(pdf)), (std::set<std::string>{"after"}));
  EXPECT_EQ(index().contentsIndexed, 1u);
}

TEST_F(PdfAnalyzerTest, StreamWithAWrongChecksumKeepsItsText) {
  // The data inflates whole; only the sum in its last four bytes is damaged. Corrupt
  // data in front of it still stops the stream there.
  std::string damagedSum = kolvotest::deflated("BT (summed) Tj ET");
  damagedSum.back() = static_cast<char>(damagedSum.back() ^ 0x5A);
  std::string damagedData = kolvotest::deflated("BT (lost) Tj ET");
  damagedData[2] = static_cast<char>(0xFF);  // the first block header: a reserved type
  PdfWriter pdf;
  pdf.rawFlatePage(damagedSum).rawFlatePage(damagedData).page("BT (after) Tj ET");
  EXPECT_EQ(indexed(write(pdf)), (std::set<std::string>{"summed", "after"}));
}

TEST_F(PdfAnalyzerTest, TokensAndStreamsAcrossReadBufferRefills) {
  // A plain page in front moves the Flate page's tokens over the first refill, one
  // byte at a time, so that each token is cut at every one of its bytes.
  std::string word;
  auto build = [&word](size_t pad) {
    PdfWriter pdf;
    pdf.plainPage(std::string(pad, ' ')).page("BT (" + word + ") Tj ET");
    return pdf.bytes();
  };
  auto offsetOf = [](const std::string& bytes, const std::string& token) {
    size_t flate = bytes.find("FlateDecode");
    if (token == "FlateDecode") return flate;
    if (token == "stream") return bytes.find("stream", flate);
    return bytes.rfind("endstream");
  };
  for (const std::string token : {"FlateDecode", "stream", "endstream"}) {
    for (size_t cut = 0; cut <= token.size(); ++cut) {
      SCOPED_TRACE(token + " cut after " + std::to_string(cut));
      // A new word each time: one more word in the table shows it came whole.
      word = "moved" + std::string(1, static_cast<char>(std::tolower(token[0]))) + std::string(1, static_cast<char>('a' + cut));
      size_t wanted = CFileAnalyzer::chunkCapacity - cut;
      size_t pad = wanted - offsetOf(build(0), token);
      std::string bytes = build(pad);
      pad -= offsetOf(bytes, token) - wanted;  // the length of the padding has more digits
      bytes = build(pad);
      ASSERT_EQ(offsetOf(bytes, token), wanted);
      uint32_t before = index().wordsIndexed;
      std::string path = fixture.writeFile("moved.pdf", bytes);
      ASSERT_TRUE(analyzer.indexFile(path.c_str(), static_cast<uint32_t>(10 + cut)));
      EXPECT_EQ(index().wordsIndexed, before + 1);
      EXPECT_TRUE(fixture.words().count(word));
    }
  }
}

TEST_F(PdfAnalyzerTest, StreamOfManyReadBuffersIsReadWhole) {
  // Words that compress badly make a stream of several read buffers.
  std::string content = "BT (";
  std::srand(3);
  while (content.size() < 300000) {
    content += "w";
    for (int i = 0; i < 6; ++i) content += static_cast<char>('a' + std::rand() % 26);
    content += ' ';
  }
  content += "finalword) Tj ET";
  PdfWriter pdf;
  pdf.page(content).page("BT (secondpage) Tj ET");
  ASSERT_GT(kolvotest::deflated(content).size(), 2u * CFileAnalyzer::chunkCapacity);
  std::set<std::string> words = indexed(write(pdf));
  EXPECT_TRUE(words.count("finalword"));
  EXPECT_TRUE(words.count("secondpage"));
  EXPECT_TRUE(errors.warnings().empty());
}

TEST_F(PdfAnalyzerTest, PagesOfManyChunksIndexAsTheSameTextFromAPlainFile) {
  // Pages of words that recur, far more text than one chunk: the words, their order in
  // the table and their ranks are those of the same text read by the generic analyzer,
  // wherever the chunks of gathered pages happen to end.
  std::srand(5);
  PdfWriter pdf;
  for (int page = 0; page < 60; ++page) {
    std::string content = "BT 72 740 Td";
    for (int line = 0; line < 100; ++line) {
      content += " 0 -14 Td (";
      for (int word = 0; word < 8; ++word)
        content += (word ? " " : "") + std::string("w") + std::to_string(std::rand() % (page % 3 ? 400 : 4000));
      content += ") Tj";
    }
    pdf.page(content + " ET");
  }
  std::string path = write(pdf);
  std::string text = shown(path, 1u << 24);
  ASSERT_GT(text.size(), 3u * CFileAnalyzer::chunkCapacity);

  // Each index takes the file twice, so that the links of the first time are finished.
  ASSERT_TRUE(analyzer.indexFile(path.c_str(), 5));
  ASSERT_TRUE(analyzer.indexFile(path.c_str(), 6));
  AnalyzerFixture plain;
  CFileAnalyzer generic(plain.index.get());
  std::string textPath = plain.writeFile("same.txt", text);
  ASSERT_TRUE(generic.indexFile(textPath.c_str(), 5));
  ASSERT_TRUE(generic.indexFile(textPath.c_str(), 6));
  EXPECT_EQ(index().wordsIndexed, plain.index->wordsIndexed);
  EXPECT_EQ(fixture.links(), plain.links());
  EXPECT_FALSE(fixture.links().empty());

  // The same without the second thread.
  AnalyzerFixture alone;
  CPdfAnalyzer oneThread(alone.index.get());
  oneThread.readAhead = false;
  ASSERT_TRUE(oneThread.indexFile(path.c_str(), 5));
  ASSERT_TRUE(oneThread.indexFile(path.c_str(), 6));
  EXPECT_EQ(alone.links(), plain.links());
  // Every byte of the file is read each time, the display's time included.
  auto size = static_cast<double>(pdf.bytes().size());
  EXPECT_EQ(alone.index->bytesRead, 2 * size);
  EXPECT_EQ(index().bytesRead, 3 * size);
}

TEST_F(PdfAnalyzerTest, TruncatedFileKeepsWhatCanBeRead) {
  PdfWriter pdf;
  pdf.page("BT (whole) Tj ET").page("BT (lastpage) Tj ET");
  std::string bytes = pdf.bytes();
  size_t lastEnd = bytes.rfind("endstream");
  // Cut before the last "endstream": the data of the stream is all there.
  std::string path = fixture.writeFile("cut.pdf", bytes.substr(0, lastEnd));
  EXPECT_EQ(indexed(path), (std::set<std::string>{"whole", "lastpage"}));
  // Cut in the middle of the last stream's data.
  AnalyzerFixture local;
  CPdfAnalyzer reader(local.index.get());
  size_t lastStream = bytes.rfind("stream\n", lastEnd - 1) + 7;
  std::string middle = local.writeFile("mid.pdf", bytes.substr(0, lastStream + 4));
  ASSERT_TRUE(reader.indexFile(middle.c_str(), 5));
  EXPECT_TRUE(local.words().count("whole"));
  EXPECT_EQ(local.index->contentsIndexed, 1u);
}

TEST_F(PdfAnalyzerTest, StreamInflatingBeyondItsBoundKeepsItsFirstTextAndWarnsOnce) {
  std::string content = "BT (";
  for (int i = 0; i < 1000; ++i) content += "word" + std::string(1, static_cast<char>('a' + i % 26)) +
                                            std::string(1, static_cast<char>('a' + i / 26)) + " ";
  content += "lastword) Tj ET";
  PdfWriter pdf;
  pdf.page(content).page(content).page("BT (small) Tj ET");
  analyzer.inflatedLimit = 2000;
  std::string path = write(pdf);
  std::set<std::string> words = indexed(path);
  EXPECT_TRUE(words.count("wordaa"));
  EXPECT_FALSE(words.count("lastword"));
  EXPECT_TRUE(words.count("small"));
  EXPECT_EQ(errors.warnings(), (std::vector<std::string>{"PdfStreamTooLarge|" + path}));
  EXPECT_EQ(index().contentsIndexed, 1u);
}

TEST_F(PdfAnalyzerTest, StreamLongerThanItsBoundIsCutAndTheNextOneRead) {
  std::string content = "BT (";
  std::srand(9);
  while (content.size() < 20000) content += std::string(1, static_cast<char>('a' + std::rand() % 26)) + "x ";
  content += "lastword) Tj ET";
  PdfWriter pdf;
  pdf.page("BT (firstpage) Tj ET").page(content).page("BT (thirdpage) Tj ET");
  analyzer.streamLimit = 1000;
  std::string path = write(pdf);
  std::set<std::string> words = indexed(path);
  EXPECT_TRUE(words.count("firstpage"));
  EXPECT_FALSE(words.count("lastword"));
  EXPECT_TRUE(words.count("thirdpage"));
  EXPECT_EQ(errors.warnings(), (std::vector<std::string>{"PdfStreamTooLarge|" + path}));
}

TEST_F(PdfAnalyzerTest, DeflateBombStaysWithinTheDefaultBound) {
  // Blanks after a little text, 2 MiB more than a stream may inflate to.
  std::string content = "BT (before) Tj ET\n" + std::string(kolvo::limits::pdfInflatedBytes + (2u << 20), ' ');
  PdfWriter pdf;
  pdf.page(content).page("BT (after) Tj ET");
  content = std::string();
  std::string path = write(pdf);
  EXPECT_LT(pdf.bytes().size(), 1u << 20);
  EXPECT_EQ(indexed(path), (std::set<std::string>{"before", "after"}));
  EXPECT_EQ(errors.warnings(), (std::vector<std::string>{"PdfStreamTooLarge|" + path}));
}

TEST_F(PdfAnalyzerTest, TextOfOneFileIsBoundedByMaxPerFileRead) {
  struct Cut {
    uint32_t limit;
    std::set<std::string> words;
  };
  // The text is "alpha beta\ngamma\n": 17 bytes over two streams.
  const std::vector<Cut> cuts = {
      {0, {}},
      {8, {"alpha"}},                     // "alpha be": "be" is cut
      {11, {"alpha", "beta"}},            // the whole first stream
      {13, {"alpha", "beta"}},            // "ga" is cut
      {17, {"alpha", "beta", "gamma"}},
      {1000, {"alpha", "beta", "gamma"}},
  };
  PdfWriter pdf;
  pdf.page("BT (alpha beta) Tj ET").page("BT (gamma) Tj ET");
  for (const Cut& cut : cuts) {
    SCOPED_TRACE(cut.limit);
    AnalyzerFixture local;
    local.index->maxPerFileRead = cut.limit;
    CPdfAnalyzer reader(local.index.get());
    std::string path = local.writeFile("cut.pdf", pdf.bytes());
    ASSERT_TRUE(reader.indexFile(path.c_str(), 5));
    EXPECT_EQ(local.words(), cut.words);
    EXPECT_EQ(local.index->contentsIndexed, 1u);
  }
}

std::vector<std::string> reports;
kbool answer = 1;
kbool collectStatus(const char* code, const char* detail, int) {
  reports.push_back(std::string(code) + "|" + detail);
  return answer;
}

TEST_F(PdfAnalyzerTest, StatusReportsAndHalting) {
  PdfWriter pdf;
  pdf.page("BT (one) Tj ET").page("BT (two) Tj ET");
  std::string path = write(pdf);
  analyzer.reportSeconds = 0;  // a report at every stream
  kSetStatusCallBack(collectStatus);
  reports.clear();
  answer = 1;
  std::set<std::string> words = indexed(path);
  EXPECT_EQ(words, (std::set<std::string>{"one", "two"}));
  EXPECT_EQ(reports, (std::vector<std::string>{"DecodingPdf|" + path, "DecodingPdf|" + path, "|"}));

  AnalyzerFixture local;
  CPdfAnalyzer halted(local.index.get());
  halted.reportSeconds = 0;
  reports.clear();
  answer = 0;
  ASSERT_TRUE(halted.indexFile(path.c_str(), 5));
  EXPECT_TRUE(local.words().empty());
  EXPECT_EQ(local.index->contentsIndexed, 1u);
  EXPECT_EQ(reports, (std::vector<std::string>{"DecodingPdf|" + path, "|"}));
  EXPECT_STREQ(shown(path, 100).c_str(), "");
  kSetStatusCallBack(nullptr);
  answer = 1;

  // A quick file makes no report at all.
  reports.clear();
  kSetStatusCallBack(collectStatus);
  CPdfAnalyzer quiet(local.index.get());
  quiet.indexFile(path.c_str(), 6);
  kSetStatusCallBack(nullptr);
  EXPECT_TRUE(reports.empty());
}

TEST_F(PdfAnalyzerTest, DisplayShowsEachLineAsALine) {
  PdfWriter pdf;
  pdf.page("BT 72 700 Td (first line) Tj 0 -14 Td (second line) Tj ET").page("BT [(next) -200 (page)] TJ");
  std::string path = write(pdf);
  EXPECT_EQ(shown(path, 1000), "first line\nsecond line\nnext page\n");
  EXPECT_EQ(index().contentsIndexed, 0u);
}

TEST_F(PdfAnalyzerTest, DisplayIsClippedAndKeepsItsNul) {
  PdfWriter pdf;
  pdf.page("BT (abcdefghij) Tj ET").page("BT (klmnop) Tj ET");
  std::string path = write(pdf);
  // The whole text is "abcdefghij\nklmnop\n": 18 bytes.
  EXPECT_EQ(shown(path, 19), "abcdefghij\nklmnop\n");
  EXPECT_EQ(shown(path, 18), "abcdefghij\nklmnop");
  EXPECT_EQ(shown(path, 5), "abcd");  // clipped in the middle of the first stream
  EXPECT_EQ(shown(path, 1), "");
  EXPECT_EQ(shown(path, 0), "");
}

TEST_F(PdfAnalyzerTest, DisplayWrapsLongLines) {
  PdfWriter pdf;
  pdf.page("BT (aaa bbb ccc ddd) Tj ET");
  std::string path = write(pdf);
  EXPECT_EQ(shown(path, 100, 8), "aaa bbb\nccc ddd\n");
  EXPECT_EQ(shown(path, 100, 0), "aaa bbb ccc ddd\n");
}

TEST_F(PdfAnalyzerTest, RegistryHoldsItUnderPdf) {
  index().createAnalyzers();
  auto found = index().analyzerMap.find("pdf");
  ASSERT_NE(found, index().analyzerMap.end());
  EXPECT_NE(dynamic_cast<CPdfAnalyzer*>(found->second.get()), nullptr);
  EXPECT_FALSE(found->second->canUseIndexBuffer());
  EXPECT_FALSE(found->second->canReadAhead());
}

}  // namespace
