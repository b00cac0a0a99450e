#include "app/serve/login_cache.h"

#include <crypt.h>

#include <algorithm>
#include <cstdlib>
#include <memory>

#include "app/referrals/referral_limits.h"
#include "app/serve/serve_users.h"

namespace {

// The keyed digest is SHA-256-crypt at its least cost, its salt the secret key: cheap
// next to yescrypt, and worthless without the key, which never leaves the server.
constexpr const char* kDigestMethod = "$5$";
constexpr unsigned long kDigestRounds = 1000;

bool isDigestText(const std::string& text) {
  return !text.empty() && text.size() <= CRYPT_OUTPUT_SIZE && std::all_of(text.begin(), text.end(), [](char c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '.' || c == '/';
  });
}

}  // namespace

bool qvEqualInConstantTime(const std::string& a, const std::string& b) {
  if (a.size() != b.size()) return false;
  unsigned char difference = 0;
  for (std::size_t i = 0; i < a.size(); ++i) difference |= static_cast<unsigned char>(a[i] ^ b[i]);
  return difference == 0;
}

QvLoginCache::QvLoginCache() {
  std::unique_ptr<char, decltype(&free)> salt(crypt_gensalt_ra(kDigestMethod, kDigestRounds, nullptr, 0), &free);
  if (salt) setting = salt.get();
}

std::optional<std::string> QvLoginCache::digest(const std::string& user, const std::string& password,
                                                const std::string& hash) const {
  // The user's hash is part of what is digested: a password changed in the users file
  // matches no entry kept before, whatever the file's time stamps say.
  std::string phrase = hash + "\n" + user + "\n" + password;
  if (setting.empty() || password.find('\0') != std::string::npos || phrase.size() >= CRYPT_MAX_PASSPHRASE_SIZE)
    return std::nullopt;
  auto data = std::make_unique<crypt_data>();
  const char* computed = crypt_r(phrase.c_str(), setting.c_str(), data.get());
  if (!computed || computed[0] == '*') return std::nullopt;
  // Only the digest itself: what precedes it is the secret salt.
  std::string text = computed;
  text = text.substr(text.rfind('$') + 1);
  if (!isDigestText(text)) return std::nullopt;
  return text;
}

bool QvLoginCache::knows(const std::string& user, const std::string& password, const std::string& hash,
                         Clock::time_point now) const {
  // The digest is computed and compared whether an entry is kept or not, so that the
  // time of a refused login does not tell whether the user logged in lately.
  auto computed = digest(user, password, hash);
  auto found = entries.find(user);
  bool kept = found != entries.end() && found->second.expires > now;
  const std::string& against = kept ? found->second.digest : setting;
  bool equal = computed && qvEqualInConstantTime(*computed, against);
  return kept && equal;
}

std::optional<std::string> QvLoginCache::record(const std::string& user, const std::string& password,
                                                const std::string& hash) const {
  if (!QvServeUsers::isValidName(user)) return std::nullopt;
  auto computed = digest(user, password, hash);
  if (!computed) return std::nullopt;
  std::string line = user + " " + *computed + "\n";
  if (line.size() > kolvo::limits::serveLoginRecordBytes) return std::nullopt;
  return line;
}

bool QvLoginCache::take(const std::string& line, Clock::time_point now) {
  if (line.size() > kolvo::limits::serveLoginRecordBytes) return false;
  std::size_t blank = line.find(' ');
  if (blank == std::string::npos) return false;
  std::string user = line.substr(0, blank);
  std::string digestText = line.substr(blank + 1);
  if (!digestText.empty() && digestText.back() == '\n') digestText.pop_back();
  if (!QvServeUsers::isValidName(user) || !isDigestText(digestText)) return false;
  expire(now);
  if (entries.count(user) == 0 && entries.size() >= kolvo::limits::serveLoginCacheEntries) {
    auto oldest = std::min_element(entries.begin(), entries.end(),
                                   [](const auto& a, const auto& b) { return a.second.expires < b.second.expires; });
    entries.erase(oldest);
  }
  entries[user] = Entry{digestText, now + std::chrono::seconds(kolvo::limits::serveLoginCacheSeconds)};
  return true;
}

void QvLoginCache::expire(Clock::time_point now) {
  std::erase_if(entries, [now](const auto& entry) { return entry.second.expires <= now; });
}
