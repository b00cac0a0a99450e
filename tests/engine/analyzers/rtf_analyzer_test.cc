// The RTF analyzer: the words it indexes and the display text it shows for tables of
// input bytes, escapes and control words cut by a chunk end at every byte, and the end
// of a file.
#include "engine/analyzers/rtf_analyzer.h"

#include <gtest/gtest.h>

#include <set>
#include <string>
#include <vector>

#include "tests/engine/analyzers/markup_test_support.h"

namespace {

using kolvotest::folded;
using RtfRun = kolvotest::MarkupRun<CRtfAnalyzer>;
using Words = std::set<std::string>;

const std::string header = "{\\rtf1\\ansi\\ansicpg1252\\deff0";
const std::string macHeader = "{\\rtf1\\mac\\ansicpg10000\\deff0";
const std::string tables =
    "{\\fonttbl{\\f0\\froman Times New Roman;}{\\f1 Arial;}}{\\colortbl;\\red255\\green0\\blue0;}"
    "{\\stylesheet{\\s0 Normal;}{\\s1 heading 1;}}{\\*\\generator Riched20 10.0;}"
    "{\\*\\listtable{\\list\\listtemplateid1{\\listname Bullets;}}}{\\listoverridetable{\\listoverride\\ls1}}";

struct WordsCase {
  const char* name;
  std::string bytes;
  Words words;
};

TEST(RtfAnalyzerWords, TableOfInputs) {
  const std::vector<WordsCase> cases = {
      {"bold on and off inside a word", header + " H\\b e\\b0 llo}", folded({"hello"})},
      {"a control word with a negative parameter", header + " He\\fi-360 llo wor\\cf1ld}", folded({"hello", "world"})},
      {"groups only scope formatting", header + " H{\\i ell}o}", folded({"hello"})},
      {"an escaped letter inside a word", header + " caf\\'e9s}", folded({"caf\xE9s"})},
      {"the Mac header converts escapes through Mac Roman", macHeader + " caf\\'8e}", folded({"caf\xE9"})},
      {"without it the escape is the byte itself", header + " caf\\'8e}", folded({"caf\x8E"})},
      {"font, colour, style and list tables hold no words", header + tables + " body text}", folded({"body", "text"})},
      {"pictures and objects hold no words",
       header + " see{\\pict\\pngblip 89504e470d0a1a0a}{\\object\\objemb{\\*\\objdata 0105}}{\\*\\do x} here}",
       folded({"see", "here"})},
      {"a paragraph mark ends a word; pard does not", header + "\\pard one\\par two\\pard\\plain three}",
       folded({"one", "twothree"})},
      {"a bad escape is dropped", header + " ab\\'zzcd xy\\'4\\b z}", folded({"abcd", "xyz"})},
      {"a Unicode character below 256 is that byte; its stand-in goes",
       header + " caf\\u233?s na\\u239\\'efve}", folded({"caf\xE9s", "na\xEFve"})},
      {"other Unicode characters separate, never make Latin-1 words",
       header + " word\\u1076\\'e4\\u1072\\'e0 next\\u-3913?more}", folded({"word", "next", "more"})},
      {"escaped braces and backslashes are characters", header + " left\\{mid\\}right}",
       folded({"left", "mid", "right"})},
      {"an optional hyphen joins, a non-breaking space splits", header + " hy\\-phen non\\~break}",
       folded({"hyphen", "non", "break"})},
      {"tabs and line breaks end words", header + " one\\tab two\\line three\\\nfour}",
       folded({"one", "two", "three", "four"})},
  };
  for (const WordsCase& test : cases) {
    SCOPED_TRACE(test.name);
    RtfRun run;
    run.fixture.index->setValidCharMask(0x8E, true);
    EXPECT_EQ(run.wordsOfFile(test.bytes), test.words);
  }
}

// An escape or control word cut by a chunk end anywhere is read as if whole.
TEST(RtfAnalyzerWords, EscapesAndControlWordsCutAtEveryByteAreReadWhole) {
  const std::vector<std::string> texts = {
      header + " xxx H\\b e\\b0 llo yyy}", header + " xxx caf\\'8es yyy}", header + " xxx ab\\'zzcd yyy}",
      header + " xxx He\\fi-360 llo yyy}", header + " xxx {\\fonttbl{\\f0 Times;}}zz yyy}",
      header + " xxx caf\\u233?s yyy}",
  };
  kolvotest::expectEveryCutReadWhole<CRtfAnalyzer>(texts);
  // The character set is known from a first chunk longer than the header, as every
  // first chunk of the read loop is but for files shorter than that.
  kolvotest::expectEveryCutReadWhole<CRtfAnalyzer>({macHeader + " xxx caf\\'8es yyy}"}, 23);
}

TEST(RtfAnalyzerWords, AControlWordAcrossTheReadLoopsChunkIsReadWhole) {
  RtfRun run;
  std::string text = header + std::string(CFileAnalyzer::chunkCapacity - header.size() - 3, ' ');
  text += "He\\b0 llo end}";
  EXPECT_EQ(run.wordsOfFile(text), folded({"hello", "end"}));
}

struct DisplayCase {
  const char* name;
  std::string bytes;
  std::string shown;
};

TEST(RtfAnalyzerDisplay, TableOfInputs) {
  const std::vector<DisplayCase> cases = {
      {"tables, pictures and objects are dropped; paragraph marks break lines",
       header + tables + "\\pard First{\\pict 0a0b} line\\par Second{\\object x} line\\par}",
       "First line\nSecond line\n"},
      {"pard is no paragraph mark", header + "\\pard\\plain one\\pard two}", "onetwo"},
      {"control words leave no trace, bold off included", header + " H\\b e\\b0 llo}", "Hello"},
      {"source line breaks as CR LF or CR are not shown", header + " one\r\ntwo\rthree}", "onetwothree"},
      {"a lone LF is shown", header + " one\ntwo}", "one\ntwo"},
      {"tabs are spaces, line breaks break lines", header + " one\\tab two\\line three\\\nfour}", "one two\nthree\nfour"},
      {"escapes show their characters", header + " caf\\'e9 a\\{b\\}c ab\\'zzcd}", "caf\xE9 a{b}c abcd"},
      {"the Mac header converts escapes", macHeader + " caf\\'8e}", "caf\xE9"},
      {"a Unicode character shows once", header + " na\\u239\\'efve \\u1076\\'e4x}", "na\xEFve x"},
      {"the last bytes of the file are shown", "{\\rtf1 end}", "end"},
  };
  for (const DisplayCase& test : cases) {
    SCOPED_TRACE(test.name);
    RtfRun run;
    EXPECT_EQ(run.displayOfFile(test.bytes), test.shown);
  }
}

TEST(RtfAnalyzerDisplay, TextAcrossChunksIsShownToItsLastByte) {
  RtfRun run;
  std::string text = header;
  while (text.size() < 2 * CFileAnalyzer::chunkCapacity + 7) text += "\\pard H\\b e\\b0 llo\\par ";
  text += "the very end}";
  std::string shown = run.displayOfFile(text);
  size_t lines = 0;
  for (size_t at = shown.find("Hello\n"); at != std::string::npos; at = shown.find("Hello\n", at + 1)) ++lines;
  EXPECT_EQ(lines, (text.size() - header.size()) / 23);
  EXPECT_EQ(shown.substr(shown.size() - 13), "\nthe very end");
}

// A chunk end between two words, or inside markup between them, changes nothing.
TEST(RtfAnalyzerDisplay, AChunkEndBetweenWordsChangesNothing) {
  kolvotest::expectChunkEndChangesNothing<CRtfAnalyzer>(
      {
          {"a space after a word", "quick", " brown", "quick brown"},
          {"a tab after a word", "quick", "\\tab brown", "quick brown"},
          {"a paragraph mark cut by the end", "quick\\pa", "r brown", "quick\nbrown"},
          {"a paragraph mark after a word", "quick", "\\par brown", "quick\nbrown"},
          {"an escape after a word", "quick", "\\'a0brown", "quick brown"},
      },
      header + " ", "z\n");
}

}  // namespace
