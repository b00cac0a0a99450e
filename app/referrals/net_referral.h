// A referral answered by a referral server over TCP: the referral logs in with the
// index name, its user name and password, sends the command text once the server
// answers "OK", and takes the next message as the answer. Every message is framed
// (referral_frame.h); the socket makes progress while events run.
#pragma once

#include <sys/socket.h>

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "app/referrals/referral_frame.h"
#include "app/referrals/referrals.h"

class QvNetReferral;

// A non-blocking TCP connection served by the event pump on behalf of its referral.
class QvNetReferralSocket {
 public:
  // The codes a connection ends with; kPeerClosed is the orderly end.
  static constexpr int kPeerClosed = 102;
  static constexpr int kConnectFailed = 103;
  static constexpr int kTransferFailed = 104;
  static constexpr int kBrokenFrame = 105;

  explicit QvNetReferralSocket(QvNetReferral& referral) : mReferral(referral) {}
  ~QvNetReferralSocket() { close(); }
  QvNetReferralSocket(const QvNetReferralSocket&) = delete;
  QvNetReferralSocket& operator=(const QvNetReferralSocket&) = delete;

  // Connects to the first of the addresses that takes the connection.
  void connect(std::vector<sockaddr_storage> addresses);
  void sendMessage(std::string_view text);
  void close();
  bool isOpen() const { return mFd >= 0; }

  QvNetReferral& mReferral;

 private:
  void tryNextAddress();
  void serve(short revents);
  void finishConnect();
  void readAvailable();
  void flush();
  void watchFor(short events);
  void fail(int code);

  int mFd = -1;
  int mWatch = 0;
  short mWatchedEvents = 0;
  bool mConnecting = false;
  std::vector<sockaddr_storage> mAddresses;
  std::size_t mNextAddress = 0;
  std::string mPending;
  QvFrameReader mReader;
};

class QvNetReferral : public QvReferral {
 public:
  QvNetReferral(const std::string& name, QvCommandParent& parent, const std::string& className);

  void run(const std::string& commandText) override;
  bool isRunning() override { return mIsWaiting; }
  std::string getOutput() override { return mData; }
  void doneWithOutput() override;
  void cleanup() override;

  std::string getValue(const std::string& name) override;
  void setValue(const std::string& name, const std::string& value) override;
  void xmlBody(QvResults& lines) override;

  // What the socket reports.
  void connected();
  void messageReceived(std::string text);
  void disconnected(int code);

  std::string mPassword;
  int32_t mPort = 4386;
  std::string mServerDomainName;
  std::string mServerIP;
  std::string mUserName;
  std::unique_ptr<QvNetReferralSocket> mSocket;
  bool mIsWaiting = false;
  bool mIsConnected = false;
  bool mIsLoggedIn = false;
  std::string mData;
  std::string mCommands;

  static constexpr QvMessage qvDisconnectError{"QvNetReferral.qvDisconnectError", "Unexpected disconnect error "};
  static constexpr QvMessage qvNoReferralIP{"QvNetReferral.qvNoReferralIP", "Cannot find IP address for "};
  static constexpr QvMessage qvLoginRefused{"QvNetReferral.qvLoginRefused",
                                            "The server of referral %1% refused the login: %2%"};

 private:
  // The addresses of the server: the IP address if one is set, else the domain's.
  std::vector<sockaddr_storage> serverAddresses() const;
};
