// The logins kolvoserve keeps: a kept login answers only for the same user, password
// and hash, within its lifetime, under the key of the cache that made it; the lines
// children report are checked before anything of them is kept.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "app/referrals/referral_limits.h"
#include "app/serve/login_cache.h"
#include "app/serve/serve_users.h"

namespace {

using Clock = QvLoginCache::Clock;

const std::string kHash = qvHashPassword("secret");

// The cache after one login of ann with "secret" at start.
struct Kept {
  QvLoginCache cache;
  Clock::time_point start = Clock::now();
  Kept() {
    auto line = cache.record("ann", "secret", kHash);
    EXPECT_TRUE(line.has_value());
    EXPECT_TRUE(cache.take(*line, start));
  }
};

TEST(LoginCacheTest, AKeptLoginAnswersOnlyForTheSameUserPasswordAndHash) {
  ASSERT_FALSE(kHash.empty());
  Kept kept;
  struct Case {
    std::string user, password, hash;
    bool known;
  };
  const std::string otherHash = qvHashPassword("secret");
  const std::vector<Case> cases = {
      {"ann", "secret", kHash, true},
      {"ann", "Secret", kHash, false},
      {"ann", "secret ", kHash, false},
      {"ann", "", kHash, false},
      {"ann", std::string("secret\0x", 8), kHash, false},
      // The password was set anew in the users file: the same password, another hash.
      {"ann", "secret", otherHash, false},
      // ann is no longer in the users file.
      {"ann", "secret", "", false},
      {"bob", "secret", kHash, false},
      {"an", "nsecret", kHash, false},
  };
  for (const Case& c : cases)
    EXPECT_EQ(kept.cache.knows(c.user, c.password, c.hash, kept.start), c.known) << c.user << ":" << c.password;
}

TEST(LoginCacheTest, AKeptLoginExpires) {
  Kept kept;
  auto life = std::chrono::seconds(kolvo::limits::serveLoginCacheSeconds);
  EXPECT_TRUE(kept.cache.knows("ann", "secret", kHash, kept.start + life - std::chrono::seconds(1)));
  EXPECT_FALSE(kept.cache.knows("ann", "secret", kHash, kept.start + life));
  kept.cache.expire(kept.start + life);
  EXPECT_EQ(kept.cache.size(), 0u);
  // Reported again, it lives anew.
  auto later = kept.start + life;
  ASSERT_TRUE(kept.cache.take(*kept.cache.record("ann", "secret", kHash), later));
  EXPECT_TRUE(kept.cache.knows("ann", "secret", kHash, later + std::chrono::seconds(1)));
}

TEST(LoginCacheTest, ForgettingAllDropsEveryLogin) {
  Kept kept;
  kept.cache.forgetAll();
  EXPECT_FALSE(kept.cache.knows("ann", "secret", kHash, kept.start));
}

TEST(LoginCacheTest, ARecordHoldsNeitherThePasswordNorTheKeyAndServesOnlyItsOwnCache) {
  QvLoginCache one, other;
  const std::string password = "a-long-and-recognisable-password";
  auto line = one.record("ann", password, kHash);
  ASSERT_TRUE(line.has_value());
  EXPECT_EQ(line->find(password), std::string::npos);
  EXPECT_EQ(line->find('$'), std::string::npos) << *line;
  EXPECT_EQ(line->rfind("ann ", 0), 0u);
  // The digest depends on the cache's own key: another server would not take it.
  auto now = Clock::now();
  ASSERT_TRUE(other.take(*line, now));
  EXPECT_FALSE(other.knows("ann", password, kHash, now));
  ASSERT_TRUE(one.take(*line, now));
  EXPECT_TRUE(one.knows("ann", password, kHash, now));
}

TEST(LoginCacheTest, LinesThatAreNoRecordsAreRefused) {
  QvLoginCache cache;
  std::string digest = cache.record("ann", "secret", kHash)->substr(4);
  const std::vector<std::string> lines = {
      "",
      "ann",
      "ann \n",
      "ann" + digest,
      "a:b " + digest,
      "a'b " + digest,
      " " + digest,
      "ann $5$" + digest,
      "ann " + digest.substr(0, 10) + " x\n",
      "ann " + std::string(kolvo::limits::serveLoginRecordBytes, 'a') + "\n",
  };
  auto now = Clock::now();
  for (const std::string& line : lines) EXPECT_FALSE(cache.take(line, now)) << line;
  EXPECT_EQ(cache.size(), 0u);
  EXPECT_FALSE(cache.record("a b", "secret", kHash).has_value());
  EXPECT_FALSE(cache.record("ann", std::string(kolvo::limits::serveLoginRecordBytes, 'p'), kHash).has_value());
}

TEST(LoginCacheTest, TheOldestLoginGoesAtTheBound) {
  QvLoginCache cache;
  auto start = Clock::now();
  const std::size_t bound = kolvo::limits::serveLoginCacheEntries;
  for (std::size_t i = 0; i <= bound; ++i) {
    std::string user = "user" + std::to_string(i);
    ASSERT_TRUE(cache.take(*cache.record(user, "pw", kHash), start + std::chrono::milliseconds(i)));
  }
  auto now = start + std::chrono::milliseconds(bound);
  EXPECT_EQ(cache.size(), bound);
  EXPECT_FALSE(cache.knows("user0", "pw", kHash, now));
  EXPECT_TRUE(cache.knows("user1", "pw", kHash, now));
  EXPECT_TRUE(cache.knows("user" + std::to_string(bound), "pw", kHash, now));
}

}  // namespace
