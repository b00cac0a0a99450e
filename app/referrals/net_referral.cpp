#include "app/referrals/net_referral.h"

#include <fcntl.h>
#include <netdb.h>
#include <poll.h>
#include <signal.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>

#include "app/commands/text_tools.h"
#include "app/index/kolvo_lib.h"
#include "app/platform/event_pump.h"

namespace {

// A write to a server that has gone must fail with EPIPE, not end the program.
void ignoreBrokenPipes() {
  static bool done = false;
  if (!done) {
    signal(SIGPIPE, SIG_IGN);
    done = true;
  }
}

constexpr std::size_t kReadChunk = 65536;

}  // namespace

void QvNetReferralSocket::connect(std::vector<sockaddr_storage> addresses) {
  ignoreBrokenPipes();
  mAddresses = std::move(addresses);
  mNextAddress = 0;
  tryNextAddress();
}

void QvNetReferralSocket::tryNextAddress() {
  close();
  while (mNextAddress < mAddresses.size()) {
    const sockaddr_storage& address = mAddresses[mNextAddress++];
    socklen_t length = address.ss_family == AF_INET6 ? sizeof(sockaddr_in6) : sizeof(sockaddr_in);
    mFd = socket(address.ss_family, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    if (mFd < 0) continue;
    int result;
    do {
      result = ::connect(mFd, reinterpret_cast<const sockaddr*>(&address), length);
    } while (result < 0 && errno == EINTR);
    if (result == 0) {
      mConnecting = false;
      watchFor(POLLIN);
      mReferral.connected();
      return;
    }
    if (errno == EINPROGRESS) {
      mConnecting = true;
      watchFor(POLLOUT);
      return;
    }
    ::close(mFd);
    mFd = -1;
  }
  fail(kConnectFailed);
}

void QvNetReferralSocket::watchFor(short events) {
  if (mWatch != 0 && mWatchedEvents == events) return;
  auto& pump = QvEventPump::instance();
  if (mWatch != 0) pump.unwatch(mWatch);
  mWatchedEvents = events;
  mWatch = pump.watch(mFd, events, [this](short revents) { serve(revents); });
}

void QvNetReferralSocket::close() {
  if (mWatch != 0) QvEventPump::instance().unwatch(mWatch);
  mWatch = 0;
  mWatchedEvents = 0;
  if (mFd >= 0) ::close(mFd);
  mFd = -1;
  mConnecting = false;
  mPending.clear();
}

void QvNetReferralSocket::fail(int code) {
  close();
  mReferral.disconnected(code);
}

void QvNetReferralSocket::serve(short revents) {
  if (mConnecting) {
    finishConnect();
    return;
  }
  if (revents & POLLOUT) flush();
  if (mFd >= 0 && (revents & (POLLIN | POLLHUP | POLLERR))) readAvailable();
}

void QvNetReferralSocket::finishConnect() {
  int error = 0;
  socklen_t length = sizeof error;
  if (getsockopt(mFd, SOL_SOCKET, SO_ERROR, &error, &length) != 0) error = errno;
  if (error == EINPROGRESS) return;
  if (error != 0) {
    tryNextAddress();
    return;
  }
  mConnecting = false;
  watchFor(POLLIN);
  mReferral.connected();
}

void QvNetReferralSocket::sendMessage(std::string_view text) {
  if (mFd < 0) return;
  mPending += qvFrameMessage(text);
  flush();
}

void QvNetReferralSocket::flush() {
  while (mFd >= 0 && !mPending.empty()) {
    ssize_t sent = send(mFd, mPending.data(), mPending.size(), MSG_NOSIGNAL);
    if (sent > 0) {
      mPending.erase(0, static_cast<std::size_t>(sent));
    } else if (sent < 0 && errno == EINTR) {
      continue;
    } else if (sent < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
      break;
    } else {
      fail(kTransferFailed);
      return;
    }
  }
  if (mFd >= 0) watchFor(mPending.empty() ? POLLIN : static_cast<short>(POLLIN | POLLOUT));
}

void QvNetReferralSocket::readAvailable() {
  char chunk[kReadChunk];
  for (;;) {
    ssize_t got = recv(mFd, chunk, sizeof chunk, 0);
    if (got > 0) {
      mReader.append(chunk, static_cast<std::size_t>(got));
    } else if (got < 0 && errno == EINTR) {
      continue;
    } else if (got < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
      break;
    } else {
      // The messages that came before the end are handled first.
      std::string message;
      QvFrameReader::Result result;
      while (mFd >= 0 && (result = mReader.next(message)) == QvFrameReader::Result::message)
        mReferral.messageReceived(std::move(message));
      if (mFd < 0) return;
      fail(got == 0 && mReader.buffered() == 0 ? kPeerClosed : got == 0 ? kBrokenFrame : kTransferFailed);
      return;
    }
  }
  std::string message;
  for (;;) {
    QvFrameReader::Result result = mReader.next(message);
    if (result == QvFrameReader::Result::incomplete) return;
    if (result == QvFrameReader::Result::broken) {
      fail(kBrokenFrame);
      return;
    }
    mReferral.messageReceived(std::move(message));
    // The referral may have closed the connection on this message.
    if (mFd < 0) return;
  }
}

QvNetReferral::QvNetReferral(const std::string& name, QvCommandParent& parent, const std::string& className)
    : QvReferral(name, parent, className) {}

std::vector<sockaddr_storage> QvNetReferral::serverAddresses() const {
  std::vector<sockaddr_storage> found;
  std::string host = mServerIP.empty() ? mServerDomainName : mServerIP;
  if (host.empty() || mPort <= 0 || mPort > 65535) return found;
  addrinfo hints{};
  hints.ai_family = AF_UNSPEC;
  hints.ai_socktype = SOCK_STREAM;
  hints.ai_flags = AI_NUMERICSERV | (mServerIP.empty() ? 0 : AI_NUMERICHOST);
  addrinfo* list = nullptr;
  std::string port = std::to_string(mPort);
  if (getaddrinfo(host.c_str(), port.c_str(), &hints, &list) != 0) return found;
  for (addrinfo* entry = list; entry; entry = entry->ai_next) {
    if (entry->ai_addrlen > sizeof(sockaddr_storage)) continue;
    sockaddr_storage address{};
    std::memcpy(&address, entry->ai_addr, entry->ai_addrlen);
    found.push_back(address);
  }
  freeaddrinfo(list);
  return found;
}

void QvNetReferral::run(const std::string& commandText) {
  doneWithOutput();
  mIsWaiting = true;
  mCommands = commandText;
  mData.clear();
  std::vector<sockaddr_storage> addresses = serverAddresses();
  if (addresses.empty()) {
    showWarning(qvNoReferralIP.text() + (mServerIP.empty() ? mServerDomainName : mServerIP));
    mIsWaiting = false;
    return;
  }
  mSocket = std::make_unique<QvNetReferralSocket>(*this);
  mSocket->connect(std::move(addresses));
}

void QvNetReferral::connected() {
  mIsConnected = true;
  mSocket->sendMessage(mIndexName + ":" + mUserName + ":" + mPassword);
}

void QvNetReferral::messageReceived(std::string text) {
  if (!mIsLoggedIn) {
    if (qvEqualsCaseless(text, "OK")) {
      mIsLoggedIn = true;
      mSocket->sendMessage(mCommands);
      return;
    }
    // A refused login is no answer: the referral adds nothing and says why.
    showWarning(qvLoginRefused.text({name(), text}));
    mData.clear();
  } else {
    mData = std::move(text);
  }
  mIsWaiting = mIsConnected = mIsLoggedIn = false;
  mSocket->close();
}

void QvNetReferral::disconnected(int code) {
  bool answered = !mIsWaiting;
  mIsWaiting = mIsConnected = mIsLoggedIn = false;
  if (mSocket) mSocket->close();
  if (!answered && code != QvNetReferralSocket::kPeerClosed)
    showWarning(qvDisconnectError.text() + std::to_string(code) + " " + name());
}

void QvNetReferral::doneWithOutput() {
  // The socket may be the caller further up while events run; it is only closed here
  // and goes with the next run or with the referral.
  if (mSocket) mSocket->close();
  mIsWaiting = mIsConnected = mIsLoggedIn = false;
  mCommands.clear();
  mData.clear();
}

void QvNetReferral::cleanup() {
  doneWithOutput();
  mSocket.reset();
  QvReferral::cleanup();
}

std::string QvNetReferral::getValue(const std::string& name) {
  std::string key = qvLower(name);
  if (key == "password") return std::string();
  if (key == "encryptedpw") return qvEncipherToBase64(mPassword);
  if (key == "port") return std::to_string(mPort);
  if (key == "serverdomain") return mServerDomainName;
  if (key == "serverip") return mServerIP;
  if (key == "username") return mUserName;
  return QvReferral::getValue(name);
}

void QvNetReferral::setValue(const std::string& name, const std::string& value) {
  std::string key = qvLower(name);
  if (key == "password") {
    mPassword = value;
  } else if (key == "encryptedpw") {
    auto password = qvDecipherFromBase64(qvTrim(value));
    mPassword = password ? *password : std::string();
  } else if (key == "port") {
    mPort = static_cast<int32_t>(std::strtol(qvTrim(value).c_str(), nullptr, 10));
  } else if (key == "serverdomain") {
    mServerDomainName = qvTrim(value);
  } else if (key == "serverip") {
    mServerIP = qvTrim(value);
  } else if (key == "username") {
    mUserName = value;
  } else {
    QvReferral::setValue(name, value);
  }
}

void QvNetReferral::xmlBody(QvResults& lines) {
  QvReferral::xmlBody(lines);
  for (const char* property : {"serverDomain", "serverIP", "userName", "encryptedpw", "port"})
    lines.push_back(xmlPropertyRepresentation(property));
}
