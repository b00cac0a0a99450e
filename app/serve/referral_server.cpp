#include "app/serve/referral_server.h"

#include <fcntl.h>
#include <netdb.h>
#include <poll.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstring>
#include <ctime>

#include "app/platform/heap_pages.h"
#include "app/referrals/referral_frame.h"
#include "app/referrals/referral_limits.h"
#include "app/serve/serve_users.h"

namespace {

volatile std::sig_atomic_t gStop = 0;

void requestStop(int) { gStop = 1; }

// How long the accept loop sleeps before it looks for ended children again.
constexpr int kReapMilliseconds = 200;

std::string hostAndPort(const sockaddr* address, socklen_t length) {
  char host[NI_MAXHOST], port[NI_MAXSERV];
  if (getnameinfo(address, length, host, sizeof host, port, sizeof port, NI_NUMERICHOST | NI_NUMERICSERV) != 0)
    return "?";
  return address->sa_family == AF_INET6 ? "[" + std::string(host) + "]:" + port : std::string(host) + ":" + port;
}

void writeAll(int fd, const std::string& text) {
  std::size_t written = 0;
  while (written < text.size()) {
    ssize_t wrote = write(fd, text.data() + written, text.size() - written);
    if (wrote < 0 && errno == EINTR) continue;
    if (wrote <= 0) return;
    written += static_cast<std::size_t>(wrote);
  }
}

}  // namespace

void qvLogConnection(const std::string& peer, const std::string& user, const std::string& index,
                     const std::string& outcome) {
  char stamp[32];
  std::time_t now = std::time(nullptr);
  std::tm utc{};
  gmtime_r(&now, &utc);
  std::strftime(stamp, sizeof stamp, "%Y-%m-%dT%H:%M:%SZ", &utc);
  // One write, so that lines of several children never mix.
  writeAll(2, std::string(stamp) + " " + peer + " user=" + user + " index=" + index + " " + outcome + "\n");
}

QvReferralServer::~QvReferralServer() {
  for (const auto& [pid, peer] : mChildren) kill(pid, SIGTERM);
  reapChildren(true);
  if (mListener >= 0) close(mListener);
  for (int fd : mReports)
    if (fd >= 0) close(fd);
}

std::string QvReferralServer::listen() {
  addrinfo hints{};
  hints.ai_family = AF_UNSPEC;
  hints.ai_socktype = SOCK_STREAM;
  hints.ai_flags = AI_PASSIVE | AI_NUMERICHOST | AI_NUMERICSERV;
  addrinfo* list = nullptr;
  int failed = getaddrinfo(mOptions.host.c_str(), mOptions.port.c_str(), &hints, &list);
  if (failed != 0) return gai_strerror(failed);
  std::string error = "no address";
  for (addrinfo* entry = list; entry && mListener < 0; entry = entry->ai_next) {
    int fd = socket(entry->ai_family, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0) {
      error = std::strerror(errno);
      continue;
    }
    int on = 1;
    setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
    if (bind(fd, entry->ai_addr, entry->ai_addrlen) != 0 || ::listen(fd, kolvo::limits::serveListenBacklog) != 0) {
      error = std::strerror(errno);
      close(fd);
      continue;
    }
    mListener = fd;
  }
  freeaddrinfo(list);
  if (mListener < 0) return error;
  if (pipe2(mReports, O_CLOEXEC | O_NONBLOCK) != 0) return std::strerror(errno);
  mOpenIndexes.refresh();
  sockaddr_storage bound{};
  socklen_t length = sizeof bound;
  getsockname(mListener, reinterpret_cast<sockaddr*>(&bound), &length);
  mAddress = hostAndPort(reinterpret_cast<sockaddr*>(&bound), length);
  return {};
}

void QvReferralServer::serve() {
  struct sigaction action {};
  action.sa_handler = requestStop;
  sigemptyset(&action.sa_mask);
  sigaction(SIGTERM, &action, nullptr);
  sigaction(SIGINT, &action, nullptr);
  signal(SIGPIPE, SIG_IGN);
  while (!gStop) {
    pollfd ready[2] = {{mListener, POLLIN, 0}, {mReports[0], POLLIN, 0}};
    int fds = poll(ready, 2, kReapMilliseconds);
    reapChildren(false);
    // The reports first, so that a login verified just before is kept for the next child.
    if (fds > 0 && (ready[1].revents & POLLIN)) readLoginReports();
    if (fds > 0 && (ready[0].revents & POLLIN)) acceptOne();
  }
  for (const auto& [pid, peer] : mChildren) kill(pid, SIGTERM);
  reapChildren(true);
}

void QvReferralServer::acceptOne() {
  sockaddr_storage peerAddress{};
  socklen_t length = sizeof peerAddress;
  int fd = accept4(mListener, reinterpret_cast<sockaddr*>(&peerAddress), &length, SOCK_CLOEXEC);
  if (fd < 0) return;
  std::string peer = hostAndPort(reinterpret_cast<sockaddr*>(&peerAddress), length);
  if (static_cast<int>(mChildren.size()) >= mOptions.maxConnections) {
    // Refused at once, without a child: a busy server answers what it can and closes.
    std::string busy = qvFrameMessage(QvServeMessages::qvsBusy.text());
    send(fd, busy.data(), busy.size(), MSG_NOSIGNAL | MSG_DONTWAIT);
    close(fd);
    qvLogConnection(peer, "-", "-", "refused: too many connections");
    return;
  }
  checkUsersFile();
  mLogins.expire(QvLoginCache::Clock::now());
  mOpenIndexes.refresh();
  pid_t child = fork();
  if (child < 0) {
    close(fd);
    qvLogConnection(peer, "-", "-", "refused: no process");
    return;
  }
  if (child == 0) {
    close(mListener);
    close(mReports[0]);
    signal(SIGTERM, SIG_DFL);
    signal(SIGINT, SIG_DFL);
    qvPrepareHeap();
    // The whole connection is bounded; the alarm ends the child wherever it is.
    alarm(static_cast<unsigned>(mOptions.connectionSeconds));
    QvServeSettings session = mOptions.session;
    session.logins = &mLogins;
    session.loginReports = mReports[1];
    session.openIndexes = &mOpenIndexes;
    QvServeOutcome outcome = qvServeSession(fd, session);
    shutdown(fd, SHUT_RDWR);
    close(fd);
    qvLogConnection(peer, outcome.user, outcome.index, outcome.outcome);
    _exit(0);
  }
  close(fd);
  mChildren.emplace(child, peer);
}

void QvReferralServer::readLoginReports() {
  char chunk[4096];
  for (;;) {
    ssize_t got = read(mReports[0], chunk, sizeof chunk);
    if (got < 0 && errno == EINTR) continue;
    if (got <= 0) break;
    mReported.append(chunk, static_cast<std::size_t>(got));
  }
  auto now = QvLoginCache::Clock::now();
  std::size_t end;
  while ((end = mReported.find('\n')) != std::string::npos) {
    mLogins.take(mReported.substr(0, end + 1), now);
    mReported.erase(0, end + 1);
  }
  // A child writes whole lines at once; a longer rest is no report.
  if (mReported.size() > kolvo::limits::serveLoginRecordBytes) mReported.clear();
}

void QvReferralServer::checkUsersFile() {
  struct stat now {};
  if (stat((mOptions.session.kolvoDirectory + "/" + QvServeUsers::kFileName).c_str(), &now) != 0) now = {};
  if (!qvSameFile(now, mUsersFile)) mLogins.forgetAll();
  mUsersFile = now;
}

void QvReferralServer::reapChildren(bool block) {
  while (!mChildren.empty()) {
    int status = 0;
    pid_t done = waitpid(-1, &status, block ? 0 : WNOHANG);
    if (done < 0 && errno == EINTR) continue;
    if (done <= 0) return;
    auto found = mChildren.find(done);
    if (found == mChildren.end()) continue;
    // A child that ended by a signal could not write its own line.
    if (WIFSIGNALED(status)) {
      qvLogConnection(found->second, "-", "-",
                      WTERMSIG(status) == SIGALRM ? "time limit" : "ended by signal " + std::to_string(WTERMSIG(status)));
    }
    mChildren.erase(found);
  }
}
