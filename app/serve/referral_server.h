// kolvoserve's listening side: it accepts connections on one address, serves each in a
// child process of its own under a time limit, refuses clients beyond the bound on
// concurrent connections, and logs one line per connection to standard error.
#pragma once

#include <sys/types.h>

#include <map>
#include <string>

#include "app/serve/serve_session.h"

struct QvServerOptions {
  std::string host = "127.0.0.1";
  std::string port = "4386";
  int connectionSeconds = 60;
  int maxConnections = 16;
  QvServeSettings session;
};

class QvReferralServer {
 public:
  explicit QvReferralServer(QvServerOptions options) : mOptions(std::move(options)) {}
  ~QvReferralServer();
  QvReferralServer(const QvReferralServer&) = delete;
  QvReferralServer& operator=(const QvReferralServer&) = delete;

  // Binds and listens; answers an error text, empty on success.
  std::string listen();
  // The address listened on, as "host:port" or "[host]:port".
  std::string address() const { return mAddress; }
  // Serves until SIGTERM or SIGINT arrives; then ends the children and returns.
  void serve();

 private:
  void acceptOne();
  void reapChildren(bool block);

  QvServerOptions mOptions;
  int mListener = -1;
  std::string mAddress;
  // Running children and the peer each serves.
  std::map<pid_t, std::string> mChildren;
};

// One log line: the time, the peer, the user, the index and the outcome.
void qvLogConnection(const std::string& peer, const std::string& user, const std::string& index,
                     const std::string& outcome);
