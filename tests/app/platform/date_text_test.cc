// Date texts: what the parser takes and refuses, and the short form it reads back.
#include "app/platform/date_text.h"

#include <cmath>
#include <cstdlib>
#include <ctime>
#include <limits>

#include <gtest/gtest.h>

#include "app/platform/folder_item.h"

namespace {

class QvDateTextTest : public ::testing::Test {
 protected:
  void SetUp() override {
    const char* zone = std::getenv("TZ");
    if (zone) savedZone = zone;
    hadZone = zone != nullptr;
    setenv("TZ", "UTC", 1);
    tzset();
  }
  void TearDown() override {
    if (hadZone) {
      setenv("TZ", savedZone.c_str(), 1);
    } else {
      unsetenv("TZ");
    }
    tzset();
  }
  std::string savedZone;
  bool hadZone = false;
};

TEST_F(QvDateTextTest, ParsesKnownDates) {
  struct Case {
    const char* text;
    double seconds;
  };
  const Case cases[] = {
      {"1970-01-01", kSecondsFrom1904To1970},
      {"1904-01-01", 0},
      {"1970-01-02", kSecondsFrom1904To1970 + 86400},
      {"1970/01/02", kSecondsFrom1904To1970 + 86400},
      {" 1970-1-2 ", kSecondsFrom1904To1970 + 86400},
      {"1970-01-01 01:02", kSecondsFrom1904To1970 + 3720},
      {"1970-01-01T01:02:03", kSecondsFrom1904To1970 + 3723},
      {"2024-02-29", kSecondsFrom1904To1970 + 1709164800},
  };
  for (const auto& row : cases) {
    auto parsed = qvParseDate(row.text);
    ASSERT_TRUE(parsed.has_value()) << row.text;
    EXPECT_EQ(*parsed, row.seconds) << row.text;
  }
}

TEST_F(QvDateTextTest, RefusesWhatIsNoDate) {
  for (const char* text : {"", "yesterday", "2023-02-29", "2024-13-01", "2024-04-31", "24-01-01", "2024-01-01 25:00",
                           "2024-01-01 10:61", "2024-01/01", "2024-01-01x"}) {
    EXPECT_FALSE(qvParseDate(text).has_value()) << text;
  }
}

TEST_F(QvDateTextTest, ShortFormReadsBack) {
  EXPECT_EQ(qvShortDate(kSecondsFrom1904To1970), "1970-01-01");
  EXPECT_EQ(qvShortDate(kSecondsFrom1904To1970 + 86399.5), "1970-01-01");
  for (double beyond : {8.9e87, -8.9e87, std::numeric_limits<double>::infinity(), std::nan("")})
    EXPECT_EQ(qvShortDate(beyond), "");
  for (const char* text : {"2001-09-09", "1999-12-31", "2038-01-20"}) {
    EXPECT_EQ(qvShortDate(*qvParseDate(text)), text);
  }
}

TEST_F(QvDateTextTest, LocalTimeIsUsed) {
  setenv("TZ", "EST5", 1);
  tzset();
  // Midnight in a zone five hours behind UTC is five hours later in UTC.
  EXPECT_EQ(*qvParseDate("1970-01-01"), kSecondsFrom1904To1970 + 5 * 3600);
  EXPECT_EQ(qvShortDate(kSecondsFrom1904To1970 + 3600), "1969-12-31");
}

}  // namespace
