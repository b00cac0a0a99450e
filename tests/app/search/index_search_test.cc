// Searching an index built from a small tree: the phrase language and its grouping,
// skip words, numbers, parentheses, criteria, the contents check of phrases and near
// words, halting, listing, and the merging of a referral's answer.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <set>

#include "app/commands/command_exception.h"
#include "app/commands/command_interface.h"
#include "app/index/kolvo_index.h"
#include "app/index/kolvo_lib.h"
#include "app/platform/halt_request.h"
#include "app/referrals/referrals.h"
#include "app/search/search_criteria.h"
#include "tests/support/chunk_text.h"
#include "tests/support/index_fixture.h"

namespace fs = std::filesystem;

namespace {

using Names = std::set<std::string>;

// A referral that answers with a fixed text as soon as it runs.
class CannedReferral : public QvReferral {
 public:
  CannedReferral(const std::string& name, QvCommandParent& parent, std::string answer, bool finishes)
      : QvReferral(name, parent, "CannedReferral"), answer(std::move(answer)), finishes(finishes) {}
  void run(const std::string& commandText) override {
    sent = commandText;
    running = true;
  }
  bool isRunning() override { return running && !finishes; }
  std::string getOutput() override { return answer; }
  void doneWithOutput() override {
    running = false;
    released = true;
  }

  std::string answer, sent;
  bool finishes, running = false, released = false;
};

class IndexSearchTest : public kolvotest::IndexFixture {
 protected:
  void SetUp() override {
    openIndex("the and\n");
    temp.write("docs/fox.txt", "The quick brown fox jumps over the lazy dog.\nThe fox sleeps.\n");
    temp.write("docs/dog.txt", "A lazy dog and a brown cat.\nLater a quick fox.\n");
    temp.write("docs/sub/cat.txt", "brown cat naps; quick cats play\n");
    temp.write("docs/sub/big.txt", std::string(3000, 'x') + " zebra quick\n");
    temp.write("docs/code.txt", "abc1 version2 plain\n");
    buildDocs();
  }
  void TearDown() override {
    qvClearHaltRequest();
    IndexFixture::TearDown();
  }
  // The answer of a command line; a failure answers its message as the last line.
  QvResults run(const std::string& line) {
    QvResults results;
    try {
      commands.processCommand(line, results);
    } catch (const QvCommandException& error) {
      results.push_back(error.message());
    }
    return results;
  }
  std::string findLine(const std::string& phrase) { return std::string(run("find " + phrase).back()); }
  Names found(const std::string& phrase) {
    QvKolvoResults results(index.get());
    index->find(phrase, results);
    Names names;
    for (kulong file : results.localFiles()) names.insert(index->describeFile(file).mFileName);
    return names;
  }
  kulong fileNumber(const std::string& name) {
    QvKolvoResults all(index.get());
    index->find("*", all);
    for (kulong file : all.localFiles())
      if (index->describeFile(file).mFileName == name) return file;
    return 0;
  }
};

TEST_F(IndexSearchTest, WordsAndOperators) {
  struct Case {
    const char* phrase;
    Names names;
  };
  for (const Case& c : {
           Case{"fox", {"fox.txt", "dog.txt"}},
           Case{"FOX", {"fox.txt", "dog.txt"}},
           Case{"fox & cat", {"dog.txt"}},
           Case{"fox cat", {"dog.txt"}},
           Case{"fox&cat", {"dog.txt"}},
           Case{"fox | zebra", {"fox.txt", "dog.txt", "big.txt"}},
           Case{"quick ^ fox", {"cat.txt", "big.txt"}},
           Case{"fox ^ nosuchword", {"fox.txt", "dog.txt"}},
           Case{"nosuchword", {}},
           Case{"cat*", {"dog.txt", "cat.txt"}},
           Case{"c?t", {"dog.txt", "cat.txt"}},
           Case{"*", {"fox.txt", "dog.txt", "cat.txt", "big.txt", "code.txt"}},
           // Grouping is to the right: a | (b & c), and parentheses change it.
           Case{"zebra | brown & fox", {"big.txt", "fox.txt", "dog.txt"}},
           Case{"(zebra | brown) & fox", {"fox.txt", "dog.txt"}},
           Case{"fox & cat | zebra", {"dog.txt"}},
           Case{"((fox))", {"fox.txt", "dog.txt"}},
       })
    EXPECT_EQ(found(c.phrase), c.names) << c.phrase;
}

TEST_F(IndexSearchTest, SkipWordsRestrictNothingAndAreReported) {
  EXPECT_EQ(found("the and"), found("*"));
  EXPECT_EQ(findLine("the and"), "Found 5 Occurrences: 5 Skipped(  the and )");
  EXPECT_EQ(findLine("the fox"), "Found 2 Occurrences: 3 Skipped(  the )");
  // Too short to be indexed counts the same.
  EXPECT_EQ(found("ox | zebra"), found("*"));
  EXPECT_EQ(findLine("__all__ | fox"), "Found 2 Occurrences: 3");
  EXPECT_EQ(findLine("ox fox"), "Found 2 Occurrences: 3 Skipped(  ox )");
}

TEST_F(IndexSearchTest, NumbersFollowTheNumberHandling) {
  EXPECT_EQ(run("find abc1").back(),
            "Search token (abc1) contains numbers that the current number handling setting doesn't allow");
  // Digits separate words: "version2" was indexed as "version".
  EXPECT_EQ(found("version*"), (Names{"code.txt"}));
  run("setvalue numberHandling 2");
  run("build");
  EXPECT_EQ(found("abc1"), (Names{"code.txt"}));
  EXPECT_EQ(found("version2"), (Names{"code.txt"}));
  EXPECT_EQ(found("version"), Names{});
}

TEST_F(IndexSearchTest, ParenthesesMustMatchAndNestOnlySoDeep) {
  try {
    found("(fox | cat");
    FAIL() << "no mismatch reported";
  } catch (const QvCommandException& error) {
    EXPECT_EQ(error.message(), "Parenthesis mismatch in phrase \"(fox | cat\"");
  }
  EXPECT_THROW(found("fox)"), QvCommandException);
  std::string deep(QvKolvoIndex::kMaxPhraseNesting, '(');
  deep += "fox" + std::string(QvKolvoIndex::kMaxPhraseNesting, ')');
  EXPECT_EQ(found(deep), (Names{"fox.txt", "dog.txt"}));
  EXPECT_THROW(found("(" + deep + ")"), QvCommandException);
  // A very long phrase is folded without deep recursion.
  std::string longPhrase = "fox";
  for (int i = 0; i < 20000; ++i) longPhrase += " | nosuchword";
  EXPECT_EQ(found(longPhrase), (Names{"fox.txt", "dog.txt"}));
}

TEST_F(IndexSearchTest, QuotedPhrasesAndNearWordsAreCheckedInTheText) {
  struct Case {
    const char* phrase;
    Names names;
  };
  for (const Case& c : {
           Case{"\"quick brown\"", {"fox.txt"}},
           Case{"\"brown fox\"", {"fox.txt"}},
           Case{"\"brown cat\"", {"dog.txt", "cat.txt"}},
           Case{"\"lazy dog\" \"brown cat\"", {"dog.txt"}},
           Case{"\"cat brown\"", {}},
           // A quoted phrase is one operand, whatever follows it.
           Case{"\"lazy dog\" | zebra", {"fox.txt", "dog.txt", "big.txt"}},
           Case{"zebra | \"lazy dog\"", {"fox.txt", "dog.txt", "big.txt"}},
           Case{"\"lazy dog\" ^ cat", {"fox.txt"}},
           Case{"quick <2 fox", {"fox.txt", "dog.txt"}},
           Case{"quick <1 fox", {"dog.txt"}},
           Case{"fox <1 quick", {}},
           Case{"fox >1 quick", {"dog.txt"}},
           Case{"fox :1 quick", {"dog.txt"}},
           Case{"dog :2 fox", {"fox.txt"}},
       })
    EXPECT_EQ(found(c.phrase), c.names) << c.phrase;
}

TEST_F(IndexSearchTest, FileGoneSinceTheBuildIsDroppedFromAPhraseCheck) {
  fs::remove(temp.path() / "docs" / "fox.txt");
  EXPECT_EQ(found("fox"), (Names{"fox.txt", "dog.txt"}));
  EXPECT_EQ(found("quick <2 fox"), (Names{"dog.txt"}));
}

TEST_F(IndexSearchTest, PhraseCheckFindsTheWordsWhereverTheyStand) {
  temp.write("docs/lines.txt", "alpha quick\nbrown omega\n");
  // The phrase straddles the end of the first 64 KB read.
  temp.write("docs/chunk.txt", std::string(65'530, ' ') + "quick brown\n");
  temp.write("docs/starts.txt", "quick brown");
  temp.write("docs/repeat.txt", "quick quick quick brown quick");
  temp.write("docs/apart.txt", "quick to brown, brown quick");
  // The first 64 KB read ends between the words, before a line end of CR alone, and
  // before a control character, which shows as a space.
  temp.write("docs/cr.txt", kolvotest::acrossChunkEnd("quick\r", "brown"));
  temp.write("docs/control.txt", kolvotest::acrossChunkEnd("quick", "\x01" "brown"));
  run("build");
  const Names adjacent{"fox.txt", "lines.txt", "chunk.txt", "starts.txt", "repeat.txt", "cr.txt", "control.txt"};
  struct Case {
    const char* phrase;
    Names names;
  };
  for (const Case& c : {
           Case{"\"quick brown\"", adjacent},
           Case{"quick <1 brown", adjacent},
           Case{"quick <2 brown",
                {"fox.txt", "lines.txt", "chunk.txt", "starts.txt", "repeat.txt", "apart.txt", "cr.txt", "control.txt"}},
           Case{"\"brown quick\"", {"apart.txt", "repeat.txt"}},
           Case{"\"quick quick quick\"", {"repeat.txt"}},
           Case{"\"quick quick brown\"", {"repeat.txt"}},
           Case{"\"brown omega\"", {"lines.txt"}},
       })
    EXPECT_EQ(found(c.phrase), c.names) << c.phrase;
  // Files changed or deleted since the build are checked as they are now.
  temp.write("docs/starts.txt", "brown quick");
  fs::remove(temp.path() / "docs" / "repeat.txt");
  EXPECT_EQ(found("\"quick brown\""), (Names{"fox.txt", "lines.txt", "chunk.txt", "cr.txt", "control.txt"}));
  EXPECT_EQ(found("\"brown quick\""), (Names{"apart.txt", "starts.txt"}));
}

TEST_F(IndexSearchTest, NormalisedPhraseForTheContentsCheck) {
  struct Case {
    const char* phrase;
    const char* pattern;
  };
  for (const Case& c : {
           Case{"fox", "fox"},
           Case{"fox & (cat | dog)", "fox & ( cat | dog )"},
           Case{"fox ^ cat", "fox cat"},
           Case{"\"quick brown fox\"", "( quick <1 brown <1 fox )"},
           // Words too short to be indexed still stand between the others.
           Case{"\"fox in a box\"", "( fox <3 box )"},
           Case{"\"to be\"", "( )"},
           Case{"alpha <3 beta", "( alpha <3 beta )"},
           Case{"alpha < beta", "( alpha <8 beta )"},
           Case{"alpha >2 beta", "( beta <2 alpha )"},
           Case{"alpha :4 beta", "( beta <4 alpha ) | ( alpha <4 beta )"},
           Case{"f?x* <2 dog", "( f?x* <2 dog )"},
           Case{"\"a b\" <3 cat", "( ( ) <3 cat )"},
       })
    EXPECT_EQ(index->parseSearchPhrase(c.phrase), c.pattern) << c.phrase;
}

TEST_F(IndexSearchTest, CriteriaFilterByNameFolderSizeAndDate) {
  struct Case {
    const char* property;
    std::string value;
    Names names;
  };
  for (const Case& c : {
           Case{"fileName", "d*", {"dog.txt"}},
           Case{"fileName", "FOX.TXT", {"fox.txt"}},
           Case{"folderName", "*/sub", {"cat.txt", "big.txt"}},
           Case{"minSize", "1000", {"big.txt"}},
           Case{"maxSize", "40", {"cat.txt", "code.txt"}},
           Case{"onOrAfterSeconds", "1", {"fox.txt", "dog.txt", "cat.txt", "big.txt", "code.txt"}},
           Case{"onOrBeforeSeconds", "1", {}},
       }) {
    run("/criteria clear");
    index->criteria().setValue(c.property, c.value);
    EXPECT_EQ(found("*"), c.names) << c.property << " " << c.value;
  }
  run("/criteria clear");
  run("/criteria setvalue fileName c*");
  EXPECT_EQ(found("brown"), (Names{"cat.txt"}));
}

TEST_F(IndexSearchTest, ListingIsBestFirstAndStopsAtTheCount) {
  run("find fox | zebra");
  QvResults listed = run("listresults 5");
  ASSERT_EQ(listed.size(), 5u);  // 3 results between the two tags
  EXPECT_EQ(listed.front(), "<RESULTS>");
  EXPECT_EQ(listed.back(), "</RESULTS>");
  std::vector<std::string> first = qvSplit(listed[1], '\t');
  ASSERT_EQ(first.size(), 6u);
  EXPECT_EQ(first[0], "fox.txt");
  EXPECT_EQ(first[1], (temp.path() / "docs").string() + "/");
  EXPECT_EQ(first[2], "1");  // fox twice
  EXPECT_EQ(first[4], std::to_string(fs::file_size(temp.path() / "docs" / "fox.txt")));
  EXPECT_EQ(first[5], std::to_string(fileNumber("fox.txt")));
  EXPECT_EQ(run("getvalue result.0"), QvResults{listed[1]});
  EXPECT_EQ(run("listresults 1").size(), 3u);
  EXPECT_EQ(run("listresults 0"), QvResults{"Zero results requested"});
  EXPECT_EQ(run("getvalue result.9").back(), "There is no result 9: the last search found 3");
  // A phrase that begins with "|" adds to the results before.
  run("find zebra");
  EXPECT_EQ(run("find | fox").back(), "Found 3 Occurrences: 4");
}

TEST_F(IndexSearchTest, WildcardsAfterUpdatesAnswerAsAFreshBuild) {
  // Each update adds files of new words, some of them sharing prefixes with the old.
  const std::vector<std::string> phrases = {"q*", "qu*", "quick*", "cat*", "b*", "zz*", "*", "la?y", "fox* | doz*"};
  // File numbers differ between an updated index and a fresh one: the answers are the
  // counts and each listed file's name, folder and rank.
  auto answers = [&] {
    std::vector<std::string> all;
    for (const std::string& phrase : phrases) {
      all.emplace_back(run("find " + phrase).back());
      std::multiset<std::string> files;
      for (std::string_view line : run("listresults 100")) {
        std::size_t third = line.find('\t', line.find('\t', line.find('\t') + 1) + 1);
        files.emplace(line.substr(0, third));
      }
      all.insert(all.end(), files.begin(), files.end());
    }
    return all;
  };
  for (int round = 0; round < 4; ++round) {
    std::string words;
    for (int i = 0; i < 40; ++i)
      words += std::string(i % 2 ? "qu" : "doz") + std::string(1, static_cast<char>('a' + round)) +
               std::string(1, static_cast<char>('a' + i % 26)) + "x ";
    temp.write("docs/round" + std::to_string(round) + ".txt", words + "quickest catnap\n");
    run("update");
  }
  std::vector<std::string> updated = answers();
  EXPECT_EQ(run("find doz*").back(), "Found 4 Occurrences: 80");
  run("build");
  EXPECT_EQ(answers(), updated);
}

TEST_F(IndexSearchTest, HaltStopsAWildcardSearch) {
  // Enough words that the walk reaches its next look at the request.
  std::string words;
  for (int i = 0; i < 500; ++i) words += "word" + std::string(1, 'a' + i % 26) + std::string(1, 'a' + i / 26) + " ";
  temp.write("docs/many.txt", words);
  run("build");
  qvRequestHalt();
  EXPECT_EQ(run("find w*").back(), "Halt requested by user");
  qvClearHaltRequest();
  EXPECT_EQ(run("find w*").back(), "Found 1 Occurrences: 500");
}

TEST_F(IndexSearchTest, HaltStopsABuildAndKeepsThePreviousOne) {
  QvKolvoLib::registerStatusCallbacks();
  std::string base = index->basePath();
  temp.write("docs/new.txt", "walrus\n");
  qvRequestHalt();
  EXPECT_EQ(run("build").back(), "Halt requested by user");
  qvClearHaltRequest();
  EXPECT_TRUE(fs::exists(base + "build_1/index"));
  EXPECT_FALSE(fs::exists(base + "build_2"));
  EXPECT_EQ(found("fox"), (Names{"fox.txt", "dog.txt"}));
  EXPECT_EQ(found("walrus"), Names{});
  run("build");
  EXPECT_EQ(found("walrus"), Names{"new.txt"});
}

TEST_F(IndexSearchTest, FileContentsGivesHitsAndTheOutline) {
  kulong fox = fileNumber("fox.txt");
  run("find fox");
  QvResults answer = run("filecontents " + std::to_string(fox));
  ASSERT_EQ(answer.size(), 1u);
  // The outline keeps the lines with hits; positions count from 1.
  EXPECT_EQ(answer[0], "{{SPLIT}}17:3\t50:3\t{{SPLIT}}The quick brown fox jumps over the lazy dog.\nThe fox sleeps.\n{{SPLIT}}");
  run("find zebra");
  EXPECT_EQ(run("filecontents " + std::to_string(fox)).at(0), "{{SPLIT}}{{SPLIT}}{{SPLIT}}");
  run("setvalue outline false");
  std::string whole(run("filecontents " + std::to_string(fox)).at(0));
  EXPECT_NE(whole.find("lazy dog"), std::string::npos);
  EXPECT_EQ(run("filecontents 999999").back(), "999999 is not the key of a file in this index");
}

TEST_F(IndexSearchTest, NoMaximumWordLengthStillListsTheHits) {
  run("setvalue maxWordLength 0");
  run("build");
  kulong fox = fileNumber("fox.txt");
  run("find fox");
  EXPECT_EQ(run("filecontents " + std::to_string(fox)).at(0),
            "{{SPLIT}}17:3\t50:3\t{{SPLIT}}The quick brown fox jumps over the lazy dog.\nThe fox sleeps.\n{{SPLIT}}");
}

TEST_F(IndexSearchTest, TokenRegexTurnsTermsIntoExpressions) {
  run("/criteria setvalue tokenRegex true");
  EXPECT_EQ(found("ox$"), (Names{"fox.txt", "dog.txt"}));
  EXPECT_EQ(found("^c.t"), (Names{"dog.txt", "cat.txt"}));
  EXPECT_EQ(found("^ze & qu"), (Names{"big.txt"}));
  EXPECT_EQ(run("find (unclosed").back(), "Parenthesis mismatch in phrase \"(unclosed\"");
  EXPECT_NE(run("find [a").back().find("[a"), std::string::npos);
  kulong dog = fileNumber("dog.txt");
  run("find ^lat");
  // The hit is the whole word the expression touches, its line the outline.
  EXPECT_EQ(run("filecontents " + std::to_string(dog)).at(0), "{{SPLIT}}1:5\t{{SPLIT}}Later a quick fox.\n{{SPLIT}}");
  run("/criteria setvalue tokenRegex false");
  EXPECT_EQ(found("fox.*"), Names{});
}

TEST_F(IndexSearchTest, ReferralsGetTheCommandsAndTheirResultsAreMerged) {
  auto& referrals = index->referrals();
  auto near = qvCreateChild<CannedReferral>(referrals, "near",
                                            "Opened index other\n<RESULTS>\nfar.txt\t/other/\t4\t3.5e9\t77\t12\n"
                                            "</RESULTS>\n",
                                            true);
  auto slow = qvCreateChild<CannedReferral>(referrals, "slow", "", false);
  near->mIndexName = "other";
  near->mMax100msLoops = 0;
  slow->mMax100msLoops = 1;
  run("/criteria setvalue fileName *.txt");
  QvResults answer = run("find fox");
  EXPECT_EQ(near->sent,
            "open other\n/criteria clear\n/criteria setvalue fileName *.txt\n/criteria setValue maxBufferSize "
            "10000000\n/criteria setValue maxResults 1000\n/criteria setValue nearCount 8\nfind fox\nlistresults "
            "10000");
  EXPECT_EQ(answer, (QvResults{"Opened index other", "Found 3 Occurrences: 8"}));
  EXPECT_TRUE(near->released);
  EXPECT_TRUE(slow->released);
  QvResults listed = run("listresults 1");
  EXPECT_EQ(listed.at(1), "far.txt\t/other/\t4\t3500000000\t77\tnear|12");
}

}  // namespace
