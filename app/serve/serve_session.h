// One connection to kolvoserve, served in a child process of its own: the framed login,
// the check of the commands against what a referral sends, the run of those commands
// with the program's own interpreter, and the one framed answer.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "app/commands/message.h"
#include "app/referrals/referral_frame.h"
#include "app/referrals/referral_limits.h"

class QvLoginCache;
class QvWarmIndexes;

struct QvServeSettings {
  std::string kolvoDirectory;
  int idleSeconds = 10;
  uint64_t outputBytes = 0;
  // The logins the server verified lately, and where a child reports one it verified
  // anew; none kept when null or negative.
  const QvLoginCache* logins = nullptr;
  int loginReports = -1;
  // The indexes the server keeps open; each request opens its own when null.
  QvWarmIndexes* openIndexes = nullptr;
  // A refused login is answered only after this; a test driving many logins lowers it.
  int loginDelayMilliseconds = kolvo::limits::serveLoginDelayMilliseconds;
};

// Framed messages over a connected socket; a read waits at most the idle limit.
class QvServeChannel {
 public:
  enum class Read { message, closed, idle, broken };

  QvServeChannel(int fd, int idleSeconds) : mFd(fd), mIdleSeconds(idleSeconds) {}
  Read readMessage(std::string& message);
  bool sendMessage(std::string_view text);

 private:
  int mFd;
  int mIdleSeconds;
  QvFrameReader mReader;
};

// What the log line of a connection tells.
struct QvServeOutcome {
  std::string user = "-";
  std::string index = "-";
  std::string outcome;
};

// Serves the connection fd to its end; does not close it.
QvServeOutcome qvServeSession(int fd, const QvServeSettings& settings);

// Runs the commands with the interpreter on index (or on the index the commands open
// first) and answers what kolvocmd prints for them, cut off after outputBytes. An index
// kept open is taken from kept instead of being opened again.
std::string qvRunReferralCommands(const std::string& index, const std::string& commands, uint64_t outputBytes,
                                  QvWarmIndexes* kept = nullptr);

class QvServeMessages {
 public:
  static constexpr QvMessage qvsLoginRefused{"QvServe.qvsLoginRefused", "Login refused"};
  static constexpr QvMessage qvsCommandRefused{"QvServe.qvsCommandRefused",
                                               "ERROR This server runs only the commands of a referral, not: %1%"};
  static constexpr QvMessage qvsBusy{"QvServe.qvsBusy", "ERROR The server is busy; try again later"};
  static constexpr QvMessage qvsOutputCut{"QvServe.qvsOutputCut", "ERROR The answer was cut off at %1% bytes"};
};
