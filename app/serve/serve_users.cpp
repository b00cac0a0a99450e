#include "app/serve/serve_users.h"

#include <crypt.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <fstream>
#include <memory>
#include <sstream>

#include "app/commands/command_exception.h"
#include "app/commands/text_tools.h"
#include "app/platform/file_copy.h"
#include "app/referrals/referral_commands.h"
#include "app/referrals/referral_limits.h"
#include "app/serve/login_cache.h"

namespace {

// yescrypt's cost: every request of a referral logs in anew, so a check must take a few
// milliseconds, not the hundred of the library's default.
constexpr unsigned long kHashCost = 3;

using Arguments = std::vector<std::string>;

// A hash to check unknown users against, so that they take as long as known ones.
const std::string& standInHash() {
  static const std::string hash = qvHashPassword("no user has this password");
  return hash;
}

}  // namespace

std::string qvHashPassword(const std::string& password) {
  // The salt comes from the system's randomness.
  std::unique_ptr<char, decltype(&free)> salt(crypt_gensalt_ra("$y$", kHashCost, nullptr, 0), &free);
  if (!salt) return {};
  auto data = std::make_unique<crypt_data>();
  const char* hash = crypt_r(password.c_str(), salt.get(), data.get());
  if (!hash || hash[0] == '*') return {};
  return hash;
}

bool qvCheckPassword(const std::string& password, const std::string& hash) {
  if (hash.empty()) return false;
  auto data = std::make_unique<crypt_data>();
  const char* computed = crypt_r(password.c_str(), hash.c_str(), data.get());
  if (!computed || computed[0] == '*') return false;
  return qvEqualInConstantTime(computed, hash);
}

bool QvServeUsers::isValidName(const std::string& name) {
  return qvIsSendableIndexName(name) && name.find(':') == std::string::npos && name[0] != '#';
}

QvServeUsers QvServeUsers::load(const std::string& path) {
  QvServeUsers loaded;
  struct stat status {};
  if (stat(path.c_str(), &status) != 0) return loaded;
  if (status.st_mode & (S_IWGRP | S_IWOTH)) throw QvCommandException(qvsuUnsafeFile, Arguments{path});
  if (static_cast<uint64_t>(status.st_size) > kolvo::limits::serveUsersFileBytes)
    throw QvCommandException(qvsuBadFile, Arguments{path});
  std::ifstream file(path, std::ios::binary);
  if (!file) throw QvCommandException(qvsuBadFile, Arguments{path});
  std::string line;
  int number = 0;
  while (std::getline(file, line)) {
    ++number;
    std::string text = qvTrim(line);
    if (text.empty() || text[0] == '#') continue;
    std::size_t first = text.find(':');
    std::size_t second = first == std::string::npos ? first : text.find(':', first + 1);
    if (second == std::string::npos) throw QvCommandException(qvsuBadLine, Arguments{std::to_string(number), path});
    User user;
    user.hash = text.substr(first + 1, second - first - 1);
    std::istringstream indexes(text.substr(second + 1));
    for (std::string index; indexes >> index;) user.indexes.insert(index);
    std::string name = text.substr(0, first);
    if (!isValidName(name) || user.hash.empty())
      throw QvCommandException(qvsuBadLine, Arguments{std::to_string(number), path});
    loaded.users[name] = std::move(user);
  }
  return loaded;
}

void QvServeUsers::save(const std::string& path) const {
  std::string text = "# kolvoserve users: name:crypt(3) hash:indexes the user may open\n";
  for (const auto& [name, user] : users) {
    text += name + ":" + user.hash + ":";
    bool first = true;
    for (const std::string& index : user.indexes) {
      text += (first ? "" : " ") + index;
      first = false;
    }
    text += "\n";
  }
  if (!qvReplaceFileDurably(path, text, 0600)) throw QvCommandException(qvsuNotWritten, Arguments{path});
}

void QvServeUsers::setUser(const std::string& name, const std::string& password,
                           const std::set<std::string>& indexes) {
  std::string hash = qvHashPassword(password);
  if (hash.empty()) throw QvCommandException(qvsuNoHash);
  users[name] = User{hash, indexes};
}

bool QvServeUsers::checksPassword(const std::string& name, const std::string& password) const {
  auto found = users.find(name);
  if (found == users.end()) {
    qvCheckPassword(password, standInHash());
    return false;
  }
  return qvCheckPassword(password, found->second.hash);
}

bool QvServeUsers::mayLogIn(const std::string& name, const std::string& password, const std::string& index) const {
  return checksPassword(name, password) && mayOpen(name, index);
}

std::string QvServeUsers::hashOf(const std::string& name) const {
  auto found = users.find(name);
  return found == users.end() ? std::string() : found->second.hash;
}

bool QvServeUsers::mayOpen(const std::string& name, const std::string& index) const {
  auto found = users.find(name);
  return found != users.end() && found->second.indexes.count(index) != 0;
}

std::set<std::string> QvServeUsers::indexes() const {
  std::set<std::string> all;
  for (const auto& [name, user] : users) all.insert(user.indexes.begin(), user.indexes.end());
  return all;
}
