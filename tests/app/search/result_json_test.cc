// Results as JSON Lines: escaping and the fields of one result, local and referral.
#include <gtest/gtest.h>

#include "app/search/result_json.h"

namespace {

TEST(ResultJson, StringsAreEscapedAndAlwaysUtf8) {
  struct Case {
    std::string text, json;
  } cases[] = {
      {"plain.txt", "\"plain.txt\""},
      {"say \"hi\"", "\"say \\\"hi\\\"\""},
      {"back\\slash", "\"back\\\\slash\""},
      {"tab\there\nline", "\"tab\\there\\nline\""},
      {std::string("bell\x07", 5), "\"bell\\u0007\""},
      {"caf\xc3\xa9", "\"caf\xc3\xa9\""},       // UTF-8 stays
      {"caf\xe9", "\"caf\xc3\xa9\""},           // Latin-1 becomes UTF-8
      {"", "\"\""},
  };
  for (const Case& c : cases) EXPECT_EQ(qvJsonString(c.text), c.json) << c.text;
}

TEST(ResultJson, ALocalResultAndAReferralsResult) {
  QvKolvoResult result(3);
  result.mFileName = "bread.txt";
  result.mParentPath = "/home/me/recipes/";
  result.mSize = "101";
  result.mTimeLastWritten = 2082844800.0 + 86400.0 * 365 + 3661;  // 1971-01-01 01:01:01 UTC
  EXPECT_EQ(qvResultJson(result, "1104"),
            "{\"path\":\"/home/me/recipes/bread.txt\",\"folder\":\"/home/me/recipes/\",\"name\":\"bread.txt\","
            "\"rank\":3,\"size\":101,\"time\":\"1971-01-01T01:01:01Z\",\"seconds\":2114384461,\"key\":\"1104\"}");
  // A referral's size is its own text; anything but digits stays a string.
  result.mSize = "12k";
  std::string remote = qvResultJson(result, "office|77");
  EXPECT_NE(remote.find("\"size\":\"12k\""), std::string::npos) << remote;
  EXPECT_NE(remote.find("\"key\":\"office|77\",\"referral\":\"office\"}"), std::string::npos) << remote;
  // A referral's result passed on by another referral keeps the outer name.
  EXPECT_NE(qvResultJson(result, "hub}office|77").find("\"referral\":\"hub\""), std::string::npos);
}

}  // namespace
