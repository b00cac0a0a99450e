// Logins kolvoserve has verified lately, so that a referral asking again soon does not
// pay a yescrypt check each time. The server keeps, per user, a keyed digest of the
// verified password (never the password), bound to the user's hash in the users file;
// each connection's child sees the server's entries as they stood when it was forked,
// and reports a login it verified anew as one line over a pipe.
#pragma once

#include <chrono>
#include <map>
#include <optional>
#include <string>

class QvLoginCache {
 public:
  using Clock = std::chrono::steady_clock;

  // Draws a new secret key from the system's randomness; without one nothing is kept.
  QvLoginCache();

  // Whether password was verified for user against hash (the user's hash in the users
  // file now) and has not expired at now. The digests are compared in constant time.
  bool knows(const std::string& user, const std::string& password, const std::string& hash,
             Clock::time_point now) const;
  // The line a child sends after it verified password for user against hash; nothing
  // when the login cannot be kept (a name or password too long for one line).
  std::optional<std::string> record(const std::string& user, const std::string& password,
                                    const std::string& hash) const;
  // Keeps what a record tells, from now on for the cache's lifetime; answers false for
  // a line that is no record. The oldest entry goes when the bound on entries is reached.
  bool take(const std::string& line, Clock::time_point now);
  // Drops the entries that have expired at now.
  void expire(Clock::time_point now);
  void forgetAll() { entries.clear(); }
  std::size_t size() const { return entries.size(); }

 private:
  std::optional<std::string> digest(const std::string& user, const std::string& password,
                                    const std::string& hash) const;

  struct Entry {
    std::string digest;
    Clock::time_point expires;
  };
  std::string setting;  // the digest's method, cost and secret salt
  std::map<std::string, Entry> entries;
};

// Whether a and b are equal, compared without stopping at the first difference.
bool qvEqualInConstantTime(const std::string& a, const std::string& b);
