// kolvoserve started by a test on a free loopback port, and a raw client that speaks
// its framed protocol. When the tests run as root the server runs as "nobody" (it
// refuses root), and the test's folder is handed to that user first.
#pragma once

#include <sys/types.h>

#include <optional>
#include <string>
#include <vector>

#include "app/referrals/referral_frame.h"

namespace kolvotest {

// The user the server runs as when the tests run as root.
inline constexpr uid_t kServeUser = 65534;

class ServeProcess {
 public:
  // Starts kolvoserve with KOLVODIR=kolvoDirectory; folder is handed to the serving user.
  ServeProcess(const std::string& folder, const std::string& kolvoDirectory,
               const std::vector<std::string>& arguments = {});
  // Stops the server (SIGTERM, then SIGKILL after a bounded wait) and reaps it.
  ~ServeProcess();
  ServeProcess(const ServeProcess&) = delete;
  ServeProcess& operator=(const ServeProcess&) = delete;

  int port() const { return listenPort; }
  pid_t pid() const { return serverPid; }
  // What the server wrote to standard error so far.
  std::string log() const;
  // Waits (bounded) until the log holds text; answers whether it does.
  bool waitForLog(const std::string& text) const;
  // The server's open descriptors and its living children.
  int descriptorCount() const;
  int childCount() const;

 private:
  std::string logPath;
  pid_t serverPid = -1;
  int listenPort = 0;
};

// Gives the folder and everything below it to the serving user when running as root.
void handToServeUser(const std::string& folder);

class ServeClient {
 public:
  explicit ServeClient(int port);
  ~ServeClient();
  ServeClient(const ServeClient&) = delete;
  ServeClient& operator=(const ServeClient&) = delete;

  bool connected() const { return fd >= 0; }
  void sendRaw(const std::string& bytes);
  void sendMessage(const std::string& text) { sendRaw(qvFrameMessage(text)); }
  // The next message, or nothing when the server closed or stayed silent for a minute.
  std::optional<std::string> receive();
  // Whether the server closes the connection within a minute without sending a message.
  bool closedWithoutAnswer();
  // Logs in and sends commands; answers the login reply and, after "OK", the answer.
  std::vector<std::string> exchange(const std::string& login, const std::string& commands);

 private:
  int fd = -1;
  QvFrameReader reader;
};

}  // namespace kolvotest
