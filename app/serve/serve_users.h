// The users of kolvoserve: the file "kolvoserve.users" in the kolvo directory holds one
// line per user, "name:hash:index index ...", where hash is a crypt(3) hash (yescrypt)
// and the indexes are the ones that user may open. Lines starting with '#' are comments.
// The server reads it for every login (and forgets the logins it keeps when it changes); "kolvoserve --set-password" writes it.
#pragma once

#include <map>
#include <optional>
#include <set>
#include <string>

#include "app/commands/message.h"

class QvServeUsers {
 public:
  static constexpr const char* kFileName = "kolvoserve.users";

  // Reads path; a missing file holds no users. Raises QvCommandException when the file
  // cannot be read, is too large, or may be written by others than its owner.
  static QvServeUsers load(const std::string& path);
  // Writes every user to path (mode 0600), replacing the file in one step.
  void save(const std::string& path) const;

  // Adds or replaces a user with a new hash of password.
  void setUser(const std::string& name, const std::string& password, const std::set<std::string>& indexes);
  // Whether name is known, password is its password and it may open index. Takes as
  // long for an unknown name as for a known one.
  bool mayLogIn(const std::string& name, const std::string& password, const std::string& index) const;
  // Whether name is known and password is its password; as long for an unknown name.
  bool checksPassword(const std::string& name, const std::string& password) const;
  // The hash kept for name, empty for an unknown name.
  std::string hashOf(const std::string& name) const;
  bool mayOpen(const std::string& name, const std::string& index) const;
  bool has(const std::string& name) const { return users.count(name) != 0; }
  // Every index some user may open.
  std::set<std::string> indexes() const;

  // Whether a user name can stand in the file.
  static bool isValidName(const std::string& name);

  static constexpr QvMessage qvsuUnsafeFile{"QvServeUsers.qvsuUnsafeFile",
                                            "The users file %1% may be written by others; make it 0600"};
  static constexpr QvMessage qvsuBadFile{"QvServeUsers.qvsuBadFile", "The users file %1% cannot be read"};
  static constexpr QvMessage qvsuBadLine{"QvServeUsers.qvsuBadLine", "Line %1% of the users file %2% is not name:hash:indexes"};
  static constexpr QvMessage qvsuNoHash{"QvServeUsers.qvsuNoHash", "The password could not be hashed"};
  static constexpr QvMessage qvsuNotWritten{"QvServeUsers.qvsuNotWritten", "The users file %1% could not be written"};

 private:
  struct User {
    std::string hash;
    std::set<std::string> indexes;
  };
  std::map<std::string, User> users;
};

// The crypt(3) hash of password with a new yescrypt salt; empty when it fails.
std::string qvHashPassword(const std::string& password);
// Whether password matches hash, compared in constant time.
bool qvCheckPassword(const std::string& password, const std::string& hash);
