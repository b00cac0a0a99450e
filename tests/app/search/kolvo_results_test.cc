// Result sets: ranks adding up, the "__all__" marker in AND, OR and NOT, the keys of
// referral answers, and the listing order.
#include <gtest/gtest.h>

#include <cstdio>
#include <limits>
#include <map>
#include <random>
#include <vector>

#include "app/search/kolvo_results.h"

namespace {

using Ranks = std::vector<std::pair<std::string, int32_t>>;

Ranks ranksOf(QvKolvoResults& results) {
  Ranks ranks;
  for (const auto& entry : results.ranked()) ranks.emplace_back(entry.keyText(), entry.rank);
  std::sort(ranks.begin(), ranks.end());
  return ranks;
}

QvKolvoResults setOf(std::initializer_list<std::pair<kulong, int32_t>> files) {
  QvKolvoResults results;
  for (const auto& [file, rank] : files) results.addResult(file, rank);
  return results;
}

TEST(KolvoResultsTest, AddingAKnownKeyRaisesItsRankByRankPlusOne) {
  QvKolvoResults results;
  results.addResult(kulong{30}, 2);
  results.addResult(kulong{10}, 0);
  results.addResult(kulong{30}, 4);
  results.addResult(std::string("30"), 0);
  EXPECT_EQ(ranksOf(results), (Ranks{{"10", 0}, {"30", 2 + 5 + 1}}));
  EXPECT_EQ(results.size(), 2u);
  EXPECT_EQ(results.occurrences(), 1 + 9);
  EXPECT_EQ(results.localFiles(), (std::vector<kulong>{10, 30}));
}

TEST(KolvoResultsTest, LargeSetsInAnyOrderMergeAsSmallOnesDo) {
  // Sizes on both sides of where the sort changes its way, numbers over the whole
  // range, some met several times, some with ranks near the top.
  for (std::size_t size : {10u, 1023u, 1024u, 5000u, 60000u}) {
    std::mt19937 random(static_cast<unsigned>(size));
    std::uniform_int_distribution<kulong> number(1, size < 2000 ? 3000 : std::numeric_limits<kulong>::max());
    std::uniform_int_distribution<int32_t> rank(0, 255);
    QvKolvoResults results;
    std::map<kulong, int64_t> expected;
    std::vector<kulong> added;
    for (std::size_t i = 0; i < size; ++i) {
      kulong file = i % 7 == 3 && !added.empty() ? added[i / 2] : number(random);
      int32_t r = i % 101 == 0 ? std::numeric_limits<int32_t>::max() - 1 : rank(random);
      added.push_back(file);
      results.addResult(file, r);
      auto [at, isNew] = expected.try_emplace(file, r);
      if (!isNew) at->second = std::min<int64_t>(at->second + r + 1, std::numeric_limits<int32_t>::max());
    }
    std::vector<kulong> files;
    int64_t occurrences = 0;
    for (const auto& [file, r] : expected) {
      files.push_back(file);
      occurrences += r + 1;
    }
    EXPECT_EQ(results.localFiles(), files) << size;
    EXPECT_EQ(results.occurrences(), occurrences) << size;
  }
}

TEST(KolvoResultsTest, AndOrNotCombineKeysAndRanks) {
  QvKolvoResults a = setOf({{1, 0}, {2, 3}, {3, 1}});
  QvKolvoResults b = setOf({{2, 1}, {3, 0}, {4, 7}});
  QvKolvoResults both = a;
  both.andResults(b);
  EXPECT_EQ(ranksOf(both), (Ranks{{"2", 5}, {"3", 2}}));
  QvKolvoResults either = a;
  either.orResults(b);
  EXPECT_EQ(ranksOf(either), (Ranks{{"1", 0}, {"2", 5}, {"3", 2}, {"4", 7}}));
  QvKolvoResults only = a;
  only.notResults(b);
  EXPECT_EQ(ranksOf(only), (Ranks{{"1", 0}}));
}

TEST(KolvoResultsTest, AllMarkerInAndOrAndNot) {
  QvKolvoResults all;
  all.addAllKey();
  QvKolvoResults some = setOf({{5, 1}});

  QvKolvoResults left = some;
  left.andResults(all);  // all restricts nothing
  EXPECT_EQ(ranksOf(left), (Ranks{{"5", 1}}));
  QvKolvoResults marker = all;
  marker.andResults(some);  // becomes the other side
  EXPECT_FALSE(marker.hasAllKey());
  EXPECT_EQ(ranksOf(marker), (Ranks{{"5", 1}}));

  QvKolvoResults widened = some;
  widened.orResults(all);
  EXPECT_TRUE(widened.hasAllKey());
  QvKolvoResults stays = all;
  stays.orResults(some);
  EXPECT_TRUE(stays.hasAllKey());
  EXPECT_EQ(stays.size(), 1u);

  QvKolvoResults emptied = some;
  emptied.notResults(all);
  EXPECT_TRUE(emptied.empty());
  QvKolvoResults unchanged = all;
  unchanged.notResults(some);
  EXPECT_TRUE(unchanged.hasAllKey());
}

TEST(KolvoResultsTest, ReferralLinesGetTheReferralsNameInTheirKey) {
  QvKolvoResults results;
  results.addResult("near", std::string("a.txt\t/docs/\t4\t3.5e9\t120\t17"));
  // A key that came through a referral already holds "|": the outer name joins with "}".
  results.addResult("outer", std::string("b.txt\t/more/\t0\t0\t9\tinner|33"));
  results.addResult("near", std::string("a.txt\t/docs/\t1\t3.5e9\t120\t17"));
  EXPECT_EQ(ranksOf(results), (Ranks{{"near|17", 4 + 1 + 1}, {"outer}inner|33", 0}}));
  QvKolvoResult first = results.resultOf("near|17");
  EXPECT_EQ(first.asString(), "a.txt\t/docs/\t6\t3500000000\t120");
}

TEST(KolvoResultsTest, RankedIsBestFirstWithTiesInAscendingKey) {
  QvKolvoResults results = setOf({{300, 2}, {20, 9}, {100, 2}, {7, 0}});
  results.addResult(std::string("ref|1"), 2);
  std::vector<std::string> keys;
  for (const auto& entry : results.ranked()) keys.push_back(entry.keyText());
  EXPECT_EQ(keys, (std::vector<std::string>{"20", "100", "300", "ref|1", "7"}));
  // The order follows every change of the set.
  results.addResult(kulong{7}, 20);
  EXPECT_EQ(results.ranked().front().keyText(), "7");
  QvKolvoResults other = setOf({{20, 0}});
  results.notResults(other);
  EXPECT_EQ(results.ranked().size(), 4u);
}

TEST(KolvoResultsTest, RemovingAndClearing) {
  QvKolvoResults results = setOf({{3, 0}, {1, 0}, {2, 0}, {5, 0}, {4, 0}});
  results.removeResults({2, 99});
  EXPECT_EQ(results.localFiles(), (std::vector<kulong>{1, 3, 4, 5}));
  results.removeResults({5, 1, 1});
  results.removeResults({});
  EXPECT_EQ(results.localFiles(), (std::vector<kulong>{3, 4}));
  results.addAllKey();
  results.clear();
  EXPECT_TRUE(results.empty());
  EXPECT_FALSE(results.hasAllKey());
}

// Times are listed exactly as printf's "%.17g" writes them, whole or not, at the edges
// of what a file table holds and beyond (a referral's answer may say anything).
TEST(KolvoResultsTest, TimesAreListedAsSeventeenSignificantDigits) {
  const double cases[] = {0.0, -0.0, 1.0, -1.0, 3500000000.0, 2082844800.0 + 2147483647.0, 2082844800.0 - 2147483648.0,
                          -64638848.0, 4294967295.0, 4294967296.0, 4294967294.5, 0.1, 3.5e9 + 0.25, 1e15 - 1, 1e16,
                          1e16 + 2, 123456789012345678.0, -1e17, 1e300,
                          5e-324, std::numeric_limits<double>::infinity(), -std::numeric_limits<double>::infinity(),
                          std::numeric_limits<double>::quiet_NaN()};
  // Each twice running, as the files of one folder share a time, and 0 next to -0.
  for (double value : cases) {
    char expected[64];
    std::snprintf(expected, sizeof expected, "%.17g", value);
    for (int twice = 0; twice < 2; ++twice) {
      std::string listed = "x";
      qvAppendDecimal(listed, value);
      EXPECT_EQ(listed, std::string("x") + expected) << expected;
    }
  }
  QvKolvoResult result(-3);
  result.mFileName = "n";
  result.mTimeLastWritten = -64638848.0;
  result.mSize = "5000000000";
  EXPECT_EQ(result.asString(), "n\t\t-3\t-64638848\t5000000000");
}

TEST(KolvoResultsTest, LocalKeysAreDecimalFileNumbers) {
  kulong file = 0;
  EXPECT_TRUE(qvIsLocalKey("4294967295", &file));
  EXPECT_EQ(file, 4294967295u);
  for (const char* key : {"", "4294967296", "12a", "-1", " 1", "ref|1", "__all__"}) EXPECT_FALSE(qvIsLocalKey(key)) << key;
}

}  // namespace
