// The callback slots, the abort token and the entry guard.
#include "engine/kolvolib/error_reporting.h"

#include <optional>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "engine/kolvolib/entry_guard.h"
#include "engine/kolvolib/kolvo_codes.h"

namespace {

std::vector<std::string> thrown;
std::vector<std::string> warned;
std::vector<std::string> reported;
kbool statusAnswer = 1;

void onThrow(const char* code, const char* detail) { thrown.push_back(std::string(code) + "|" + detail); }
void onWarning(const char* code, const char* detail) { warned.push_back(std::string(code) + "|" + detail); }
kbool onStatus(const char* code, const char* detail, int origin) {
  reported.push_back(std::string(code) + "|" + detail + "|" + std::to_string(origin));
  return statusAnswer;
}

class ErrorReportingTest : public ::testing::Test {
 protected:
  void SetUp() override {
    thrown.clear();
    warned.clear();
    reported.clear();
    statusAnswer = 1;
    kSetThrowCallBack(onThrow);
    kSetWarningCallBack(onWarning);
    kSetStatusCallBack(onStatus);
  }
  void TearDown() override {
    kSetThrowCallBack(nullptr);
    kSetWarningCallBack(nullptr);
    kSetStatusCallBack(nullptr);
  }
};

TEST_F(ErrorReportingTest, ErrorCallsThrowCallbackThenAbortsToTheGuard) {
  bool reachedAfter = false;
  int result = kolvo::guardEntry<int>(-1, [&] {
    kolvo::throwKolvoError("StorageReadError", "/x/");
    reachedAfter = true;
    return 7;
  });
  EXPECT_EQ(result, -1);
  EXPECT_FALSE(reachedAfter);
  EXPECT_EQ(thrown, std::vector<std::string>{"StorageReadError|/x/"});
  EXPECT_TRUE(warned.empty());
}

TEST_F(ErrorReportingTest, WarningCallsOnlyTheWarningCallbackAndStillAborts) {
  bool reachedAfter = false;
  kolvo::guardEntry([&] {
    kolvo::postWarning("AnalyzerNotFound", "html");
    reachedAfter = true;
  });
  EXPECT_FALSE(reachedAfter);
  EXPECT_EQ(warned, std::vector<std::string>{"AnalyzerNotFound|html"});
  EXPECT_TRUE(thrown.empty());
}

TEST_F(ErrorReportingTest, WithoutCallbacksAFailureIsSilentAndTheEntryReturns) {
  kSetThrowCallBack(nullptr);
  kSetWarningCallBack(nullptr);
  EXPECT_EQ(kolvo::guardEntry<int>(3, [] { kolvo::throwKolvoError("AssertionFailed"); return 0; }), 3);
  EXPECT_EQ(kolvo::guardEntry<int>(4, [] { kolvo::postWarning("AnalyzerNotFound"); return 0; }), 4);
  EXPECT_TRUE(thrown.empty());
  EXPECT_TRUE(warned.empty());
}

TEST_F(ErrorReportingTest, StrayExceptionsBecomeCodesAndNeverEscape) {
  EXPECT_EQ(kolvo::guardEntry<int>(0, []() -> int { throw std::bad_alloc(); }), 0);
  EXPECT_EQ(kolvo::guardEntry<int>(0, []() -> int { throw std::runtime_error("odd"); }), 0);
  EXPECT_EQ(kolvo::guardEntry<int>(0, []() -> int { throw 42; }), 0);
  EXPECT_EQ(thrown, (std::vector<std::string>{"NoMemory|", "AssertionFailed|odd", "AssertionFailed|"}));
}

TEST_F(ErrorReportingTest, StatusRelayPassesOriginZeroAndTheAnswer) {
  EXPECT_EQ(kSetStatus("IndexingFile", "/a\t3"), 1);
  statusAnswer = 0;
  EXPECT_EQ(kSetStatus("IndexingFile", "/b\t4"), 0);
  EXPECT_EQ(reported, (std::vector<std::string>{"IndexingFile|/a\t3|0", "IndexingFile|/b\t4|0"}));
  EXPECT_FALSE(kolvo::setStatus("Done", ""));
  EXPECT_EQ(reported.back(), "Done||1");
}

TEST_F(ErrorReportingTest, WithoutStatusCallbackEveryReportGoesOn) {
  kSetStatusCallBack(nullptr);
  EXPECT_EQ(kSetStatus("Done", ""), 1);
  EXPECT_TRUE(kolvo::setStatus("Done", ""));
}

TEST_F(ErrorReportingTest, AThreadHoldingReportsTellsNoCallbackAndItsFailureIsToldByTheCaller) {
  // An error and a warning, each failing on a helper thread that holds its reports.
  for (bool warning : {false, true}) {
    SCOPED_TRACE(warning);
    SetUp();
    std::optional<kolvo::HeldReport> held;
    std::thread helper([&] {
      kolvo::HoldReports hold;
      try {
        if (warning) kolvo::postWarning("Gone", "b");
        kolvo::throwKolvoError("Broken", "a");
      } catch (const kolvo::HeldReport& report) {
        held = report;
      }
    });
    helper.join();
    ASSERT_TRUE(held.has_value());
    EXPECT_TRUE(thrown.empty());
    EXPECT_TRUE(warned.empty());
    int answer = kolvo::guardEntry<int>(-1, [&] {
      held->raise();
      return 0;
    });
    EXPECT_EQ(answer, -1);
    EXPECT_EQ(thrown, warning ? std::vector<std::string>{} : std::vector<std::string>{"Broken|a"});
    EXPECT_EQ(warned, warning ? std::vector<std::string>{"Gone|b"} : std::vector<std::string>{});
  }
  // The hold ends with its object: the same thread tells the callback again.
  std::thread after([] {
    { kolvo::HoldReports hold; }
    kolvo::guardEntry<int>(0, [] {
      kolvo::throwKolvoError("Later", "c");
      return 0;
    });
  });
  after.join();
  EXPECT_EQ(thrown, std::vector<std::string>{"Later|c"});
}

TEST(KolvoCodes, TableHoldsEachCodeOnceWithTheMessagesShown) {
  for (size_t i = 0; i < kolvo::kolvoCodes.size(); ++i)
    for (size_t j = i + 1; j < kolvo::kolvoCodes.size(); ++j)
      EXPECT_STRNE(kolvo::kolvoCodes[i].code, kolvo::kolvoCodes[j].code);
  ASSERT_NE(kolvo::findKolvoCode("CompLinksFmt"), nullptr);
  EXPECT_STREQ(kolvo::findKolvoCode("CompLinksFmt")->message, "Resolving links %1% -  %2%");
  EXPECT_STREQ(kolvo::findKolvoCode("AnalyzerNotFound")->message, "The analyzer for  \"%1%\" could not be found.");
  EXPECT_EQ(kolvo::findKolvoCode("AnalyzerNotFound")->kind, kolvo::CodeKind::warning);
  EXPECT_EQ(kolvo::findKolvoCode("Done")->message, nullptr);
  EXPECT_EQ(kolvo::findKolvoCode("NoSuchCode"), nullptr);
}

}  // namespace
