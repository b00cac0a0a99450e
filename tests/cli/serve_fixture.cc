#include "tests/cli/serve_fixture.h"

#include <arpa/inet.h>
#include <dirent.h>
#include <fcntl.h>
#include <grp.h>
#include <netinet/in.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <thread>

#include "tests/cli/child_launch.h"

namespace fs = std::filesystem;

namespace kolvotest {

namespace {

// Bounded waits: this many steps of kWaitStep.
constexpr int kWaitSteps = 200;
constexpr auto kWaitStep = std::chrono::milliseconds(50);
// Generous for a sanitized server on a busy machine; only a failing test waits it out.
constexpr int kReceiveSeconds = 60;

std::string readFile(const std::string& path) {
  std::ifstream file(path, std::ios::binary);
  std::ostringstream text;
  text << file.rdbuf();
  return text.str();
}

}  // namespace

void handToServeUser(const std::string& folder) {
  if (geteuid() != 0) return;
  std::error_code error;
  lchown(folder.c_str(), kServeUser, kServeUser);
  for (const auto& entry : fs::recursive_directory_iterator(folder, error))
    lchown(entry.path().c_str(), kServeUser, kServeUser);
}

ServeProcess::ServeProcess(const std::string& folder, const std::string& kolvoDirectory,
                           const std::vector<std::string>& arguments) {
  logPath = folder + "/serve.log";
  { std::ofstream(logPath).flush(); }
  handToServeUser(folder);
  std::vector<std::string> words = {KOLVOSERVE_PATH, "--listen", "127.0.0.1:0"};
  words.insert(words.end(), arguments.begin(), arguments.end());
  std::vector<std::string> environment = childEnvironment(folder, kolvoDirectory);
  std::vector<char*> argv = execList(words), envp = execList(environment);
  serverPid = fork();
  if (serverPid == 0) {
    // Only calls that are safe after fork, then exec.
    int log = open(logPath.c_str(), O_WRONLY | O_TRUNC | O_CLOEXEC);
    if (log >= 0) dup2(log, 2);
    if (geteuid() == 0) {
      if (setgroups(0, nullptr) != 0 || setgid(kServeUser) != 0 || setuid(kServeUser) != 0) _exit(126);
    }
    execve(argv[0], argv.data(), envp.data());
    _exit(127);
  }
  if (!waitForLog("listening on 127.0.0.1:")) return;
  std::string text = log();
  listenPort = std::atoi(text.c_str() + text.find("listening on 127.0.0.1:") + 23);
}

ServeProcess::~ServeProcess() {
  if (serverPid <= 0) return;
  kill(serverPid, SIGTERM);
  for (int step = 0; step < kWaitSteps; ++step) {
    if (waitpid(serverPid, nullptr, WNOHANG) == serverPid) return;
    std::this_thread::sleep_for(kWaitStep);
  }
  kill(serverPid, SIGKILL);
  waitpid(serverPid, nullptr, 0);
}

std::string ServeProcess::log() const { return readFile(logPath); }

bool ServeProcess::waitForLog(const std::string& text) const {
  for (int step = 0; step < kWaitSteps; ++step) {
    if (log().find(text) != std::string::npos) return true;
    std::this_thread::sleep_for(kWaitStep);
  }
  return false;
}

int ServeProcess::descriptorCount() const {
  int count = 0;
  std::error_code error;
  for (auto it = fs::directory_iterator("/proc/" + std::to_string(serverPid) + "/fd", error);
       !error && it != fs::directory_iterator(); it.increment(error))
    ++count;
  return count;
}

int ServeProcess::childCount() const {
  // The children of the server's only thread.
  std::string children = readFile("/proc/" + std::to_string(serverPid) + "/task/" + std::to_string(serverPid) +
                                  "/children");
  std::istringstream list(children);
  int count = 0;
  for (std::string pid; list >> pid;) ++count;
  return count;
}

ServeClient::ServeClient(int port) {
  fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_port = htons(static_cast<uint16_t>(port));
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  timeval limit{kReceiveSeconds, 0};
  setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &limit, sizeof limit);
  if (connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
    close(fd);
    fd = -1;
  }
}

ServeClient::~ServeClient() {
  if (fd >= 0) close(fd);
}

void ServeClient::sendRaw(const std::string& bytes) {
  if (fd >= 0) send(fd, bytes.data(), bytes.size(), MSG_NOSIGNAL);
}

std::optional<std::string> ServeClient::receive() {
  std::string message;
  char chunk[65536];
  for (;;) {
    if (reader.next(message) == QvFrameReader::Result::message) return message;
    if (fd < 0) return std::nullopt;
    ssize_t got = recv(fd, chunk, sizeof chunk, 0);
    if (got <= 0) return std::nullopt;
    reader.append(chunk, static_cast<std::size_t>(got));
  }
}

bool ServeClient::closedWithoutAnswer() {
  char chunk[4096];
  for (;;) {
    ssize_t got = recv(fd, chunk, sizeof chunk, 0);
    if (got == 0) return true;
    if (got < 0) return false;  // still open after the wait
    reader.append(chunk, static_cast<std::size_t>(got));
    std::string message;
    if (reader.next(message) == QvFrameReader::Result::message) return false;
  }
}

std::vector<std::string> ServeClient::exchange(const std::string& login, const std::string& commands) {
  std::vector<std::string> replies;
  sendMessage(login);
  auto reply = receive();
  if (!reply) return replies;
  replies.push_back(*reply);
  if (*reply != "OK") return replies;
  sendMessage(commands);
  if (auto answer = receive()) replies.push_back(*answer);
  return replies;
}

}  // namespace kolvotest
