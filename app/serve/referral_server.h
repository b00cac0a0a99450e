// kolvoserve's listening side: it accepts connections on one address, serves each in a
// child process of its own under a time limit, refuses clients beyond the bound on
// concurrent connections, and logs one line per connection to standard error.
#pragma once

#include <sys/types.h>

#include <sys/stat.h>

#include <map>
#include <string>

#include "app/serve/login_cache.h"
#include "app/serve/serve_session.h"
#include "app/serve/warm_indexes.h"

struct QvServerOptions {
  std::string host = "127.0.0.1";
  std::string port = "4386";
  int connectionSeconds = 60;
  int maxConnections = 16;
  QvServeSettings session;
};

class QvReferralServer {
 public:
  explicit QvReferralServer(QvServerOptions options)
      : mOptions(std::move(options)), mOpenIndexes(mOptions.session.kolvoDirectory) {}
  ~QvReferralServer();
  QvReferralServer(const QvReferralServer&) = delete;
  QvReferralServer& operator=(const QvReferralServer&) = delete;

  // Binds and listens, opens the pipe over which children report the logins they
  // verified, and opens the indexes of the users file; answers an error text, empty on
  // success.
  std::string listen();
  // The address listened on, as "host:port" or "[host]:port".
  std::string address() const { return mAddress; }
  // Serves until SIGTERM or SIGINT arrives; then ends the children and returns.
  void serve();

 private:
  void acceptOne();
  void reapChildren(bool block);
  // Keeps the logins the children reported.
  void readLoginReports();
  // Forgets every kept login when the users file is another or has changed.
  void checkUsersFile();

  QvServerOptions mOptions;
  int mListener = -1;
  std::string mAddress;
  // Running children and the peer each serves.
  std::map<pid_t, std::string> mChildren;
  QvLoginCache mLogins;
  QvWarmIndexes mOpenIndexes;
  // The children write to the second, the server reads the first.
  int mReports[2] = {-1, -1};
  std::string mReported;
  // What identified the users file when the kept logins were checked last.
  struct stat mUsersFile {};
};

// One log line: the time, the peer, the user, the index and the outcome.
void qvLogConnection(const std::string& peer, const std::string& user, const std::string& index,
                     const std::string& outcome);
