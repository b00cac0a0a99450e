// The HTML analyzer: the words it indexes and the display text it shows for tables of
// input bytes, sequences cut by a chunk end at every byte, and the end of a file.
#include "engine/analyzers/html_analyzer.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <set>
#include <string>
#include <vector>

#include "tests/engine/analyzers/markup_test_support.h"

namespace {

using kolvotest::folded;
using HtmlRun = kolvotest::MarkupRun<CHtmlAnalyzer>;
using Words = std::set<std::string>;

struct WordsCase {
  const char* name;
  std::string bytes;
  Words words;
};

TEST(HtmlAnalyzerWords, TableOfInputs) {
  const std::vector<WordsCase> cases = {
      {"a named entity joins its word", "caf&eacute; noir", folded({"caf\xE9", "noir"})},
      {"a decimal reference", "caf&#233; noir", folded({"caf\xE9", "noir"})},
      {"a hexadecimal reference, either x", "caf&#xE9; caf&#Xe9;", folded({"caf\xE9"})},
      {"255 is a letter, not the end of a word", "abc&#255;def", folded({"abc\xFF" "def"})},
      {"nbsp is no letter of the table: it ends the word", "left&nbsp;right", folded({"left", "right"})},
      {"an escaped ampersand ends a word", "rock&amp;roll", folded({"rock", "roll"})},
      {"UTF-8 C3 80 is the one byte C0", "\xC3\x80l\xC3\xA0 caf\xC3\xA9", folded({"\xC0l\xE0", "caf\xE9"})},
      {"a Latin-1 page keeps every letter", "\xC6r\xF8 s\xE6t", folded({"\xC6r\xF8", "s\xE6t"})},
      {"Cyrillic letters separate, never make Latin-1 words",
       "\xD0\x9F\xD1\x80\xD0\xB8\xD0\xB2\xD0\xB5\xD1\x82 abc\xD0\xBC\xD0\xB8\xD1\x80xyz", folded({"abc", "xyz"})},
      {"CJK letters separate", "\xE6\x9D\xB1\xE4\xBA\xAC" "tokyo\xE9\xA7\x85" "station", folded({"tokyo", "station"})},
      {"a four-byte sequence is one separator", "smile\xF0\x9F\x98\x80" "face", folded({"smile", "face"})},
      {"an invalid lead byte is itself", "ab\xC3" "cd abc\xE0\x80\x80xyz", folded({"ab\xC3" "cd", "abc\xE0", "xyz"})},
      {"a lone continuation byte separates like any non-letter", "one\x80two", folded({"one", "two"})},
      {"an overlong form is no sequence", "ab\xC0\xAF" "abc", folded({"ab\xC0", "abc"})},
      {"a surrogate is no sequence", "abc\xED\xA0\x80xyz", folded({"abc\xED", "xyz"})},
      {"only digits count in a decimal reference", "one&#1/2;two", folded({"one", "two"})},
      {"0, over 255 or no digits separate", "aaa&#0;bbb&#300;ccc&#;ddd&#x;eee&#x1F600;fff",
       folded({"aaa", "bbb", "ccc", "ddd", "eee", "fff"})},
      {"a reference without ';' still ends at its digits", "caf&#233 noir", folded({"caf\xE9", "noir"})},
      {"a bare ampersand loses no words", "Tom & Jerry; AT&T rocks", folded({"tom", "jerry", "rocks"})},
      {"an unknown entity separates", "one&bogus;two", folded({"one", "two"})},
      {"markup is indexed like text", "<p class=\"intro\">Hello</p>", folded({"class", "intro", "hello"})},
      {"a reference at the end of the file", "last&eacute;", folded({"last\xE9"})},
      {"an unfinished entity at the end of the file", "word &eacu", folded({"word", "eacu"})},
  };
  for (const WordsCase& test : cases) {
    SCOPED_TRACE(test.name);
    HtmlRun run;
    EXPECT_EQ(run.wordsOfFile(test.bytes), test.words);
  }
}

// An entity, reference or UTF-8 sequence cut by a chunk end anywhere is read as if whole.
TEST(HtmlAnalyzerWords, SequencesCutAtEveryByteAreReadWhole) {
  const std::vector<std::string> texts = {
      "xxx caf&eacute;s yyy", "xxx caf&#233;s yyy", "xxx caf&#x00e9;s yyy", "xxx caf\xC3\xA9s yyy", "xxx ab\xF0\x9F\x98\x80" "cd yyy",
      "xxx rock&amp;roll yyy", "xxx \xE6\x9D\xB1tokyo yyy", "xxx &#300;bbb yyy",
  };
  kolvotest::expectEveryCutReadWhole<CHtmlAnalyzer>(texts);
}

// The file limit cuts the reference: what was read of it is no word.
TEST(HtmlAnalyzerWords, AReferenceCutByTheFileLimitIsDropped) {
  HtmlRun run;
  run.fixture.index->maxPerFileRead = 12;
  EXPECT_EQ(run.wordsOfFile("word caf&eacute; more"), folded({"word"}));
}

TEST(HtmlAnalyzerWords, AReferenceAcrossTheReadLoopsChunkIsReadWhole) {
  HtmlRun run;
  std::string text(CFileAnalyzer::chunkCapacity - 4, ' ');
  text += "caf&eacute; end";
  EXPECT_EQ(run.wordsOfFile(text), folded({"caf\xE9", "end"}));
}

struct DisplayCase {
  const char* name;
  std::string bytes;
  std::string shown;
  bool stripMarkup = true;
};

TEST(HtmlAnalyzerDisplay, TableOfInputs) {
  const std::vector<DisplayCase> cases = {
      {"paragraphs break lines; a script is not shown", "<p>one</p><script>var x = 1;</script>two",
       "\none\ntwo"},
      {"pre and param break lines like p", "a<pre>b</pre><param name=x>c", "a\nb\n\nc"},
      {"a line break in text is a space; spaces fold", "one\ntwo   three\tfour", "one two three four"},
      {"CR LF in text is one space too", "one\r\ntwo\rthree", "one two three"},
      {"entities show their character", "caf&eacute; &#255; &lt;b&gt;", "caf\xE9 \xFF <b>"},
      {"nbsp shows as a space", "a&nbsp;b", "a b"},
      {"UTF-8 C3 80 shows as C0", "\xC3\x80" "bc", "\xC0" "bc"},
      {"other UTF-8 letters show as one space", "ab\xD0\x9F\xD1\x80" "cd\xF0\x9F\x98\x80" "ef", "ab cd ef"},
      {"a Latin-1 page shows its letters", "\xC6r\xF8", "\xC6r\xF8"},
      {"tags are dropped, with the layout after them", "<b>bold</b>\n   text", "bold text"},
      {"comments and styles are not shown", "a<!-- b > c -->d<style>p { x: 1 }</style>e", "ad e"},
      {"a '<' before no name is text", "1<2 holds", "1<2 holds"},
      {"unstripped, tags show but entities are decoded", "<b>caf&eacute;</b>", "<b>caf\xE9</b>", false},
      {"the last ten bytes are shown", "<p>The very end of the file", "\nThe very end of the file"},
      {"a file of a few bytes is shown", "hi", "hi"},
      {"a reference ends the file", "x&amp;", "x&"},
  };
  for (const DisplayCase& test : cases) {
    SCOPED_TRACE(test.name);
    HtmlRun run;
    EXPECT_EQ(run.displayOfFile(test.bytes, test.stripMarkup), test.shown);
  }
}

TEST(HtmlAnalyzerDisplay, TextAcrossChunksIsShownToItsLastByte) {
  HtmlRun run;
  std::string text;
  while (text.size() < 2 * CFileAnalyzer::chunkCapacity + 7) text += "<li>caf&eacute; noir</li>";
  text += "<p>fin&amp;end";
  std::string shown = run.displayOfFile(text);
  // Every item shows whole, however the chunks cut the file.
  std::string line = "\ncaf\xE9 noir";
  size_t lines = 0;
  for (size_t at = shown.find(line); at != std::string::npos; at = shown.find(line, at + 1)) ++lines;
  EXPECT_EQ(lines, text.size() / 25);
  EXPECT_EQ(shown.substr(shown.size() - 8), "\nfin&end");
}

// A chunk end between two words, or inside markup between them, changes nothing.
TEST(HtmlAnalyzerDisplay, AChunkEndBetweenWordsChangesNothing) {
  kolvotest::expectChunkEndChangesNothing<CHtmlAnalyzer>(
      {
          {"a space after a word", "quick", " brown", "quick brown"},
          {"a line end after a word", "quick", "\nbrown", "quick brown"},
          {"a tag after a word", "quick", "<b>brown</b>", "quick brown"},
          {"a tag after a space", "quick ", "<b>brown</b>", "quick brown"},
          {"a tag cut by the end", "quick<", "b>brown", "quick brown"},
          {"a paragraph after a word", "quick", "<p>brown", "quick\nbrown"},
          {"a reference after a word", "quick", "&nbsp;brown", "quick brown"},
          {"a word cut at a reference", "caf", "&eacute; noir", "caf\xE9 noir"},
      },
      "", "z ");
}

// The display filter offers the format hooks only the bytes they may change while in
// text; offered every byte, the hooks must show every page the same, tags, references,
// blanks, high bytes and unstripped markup included, also across a chunk end.
class HtmlOfferedEveryByte : public CHtmlAnalyzer {
 public:
  explicit HtmlOfferedEveryByte(CKolvoIndex* owner) : CHtmlAnalyzer(owner) { stripHookBytes = nullptr; }
};

TEST(HtmlAnalyzerDisplay, BytesNotOfferedToTheHooksShowAsIfOffered) {
  const char* const pieces[] = {"quick", "Brown", " ",      "  ",         "\t",      "\n",     "\r\n",   "\r",
                                "<b>",   "</b>",  "<p>",    "<br>",       "<",        ">",      "&amp;",  "&",
                                "&#113;", "&nbsp;", "caf&eacute;", "\xC3\xA9", "\xE9",    "\xD0\x9F", "<!-- x -->",
                                "<script>a b</script>", "<style>p</style>", "-", ".", "\x01", "9", "\0"};
  constexpr int pieceCount = sizeof pieces / sizeof *pieces;
  HtmlRun run;
  kolvotest::MarkupRun<HtmlOfferedEveryByte> everyByte;
  // Blanks and punctuation trimmed, as the program sets them.
  for (CKolvoIndex* index : {run.fixture.index.get(), everyByte.fixture.index.get()})
    for (int c = 1; c < 128; ++c)
      index->setNonAlphaCharMask(c, c == '\t' || (c >= 0x20 && c <= 0x2F) || (c >= 0x3A && c <= 0x40) ||
                                        (c >= 0x5B && c <= 0x60) || (c >= 0x7B && c <= 0x7E));
  std::srand(11);
  for (int round = 0; round < 100; ++round) {
    std::string page;
    int count = std::rand() % 40;
    for (int i = 0; i < count; ++i) {
      int piece = std::rand() % pieceCount;
      page += piece == pieceCount - 1 ? std::string(1, '\0') : std::string(pieces[piece]);
    }
    if (round % 10 == 0) page = kolvotest::acrossChunkEnd(page.substr(0, page.size() / 2), page.substr(page.size() / 2));
    for (bool stripMarkup : {true, false})
      for (int wrapWidth : {0, 6, 120})
        EXPECT_EQ(kolvotest::displayInOnePiece(run.analyzer, page, wrapWidth, stripMarkup),
                  kolvotest::displayInOnePiece(everyByte.analyzer, page, wrapWidth, stripMarkup))
            << stripMarkup << " " << wrapWidth << " " << page.substr(0, 80);
    EXPECT_EQ(run.displayOfFile(page), everyByte.displayOfFile(page)) << page.substr(0, 80);
  }
}

}  // namespace
