#include "app/serve/serve_session.h"

#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <iostream>
#include <sstream>
#include <thread>

#include "app/commands/command_interface.h"
#include "app/commands/text_tools.h"
#include "app/index/kolvo_index.h"
#include "app/index/kolvo_lib.h"
#include "app/platform/event_pump.h"
#include "app/referrals/referral_commands.h"
#include "app/serve/serve_users.h"
#include "app/referrals/referral_limits.h"

namespace {

constexpr std::size_t kReadChunk = 65536;

// Sends what the program prints on standard output to a string while it lives.
class PrintedText {
 public:
  PrintedText() : old(std::cout.rdbuf(text.rdbuf())) {}
  ~PrintedText() { std::cout.rdbuf(old); }
  std::string take() {
    std::string taken = text.str();
    text.str(std::string());
    return taken;
  }

 private:
  std::ostringstream text;
  std::streambuf* old;
};

}  // namespace

QvServeChannel::Read QvServeChannel::readMessage(std::string& message) {
  char chunk[kReadChunk];
  for (;;) {
    switch (mReader.next(message)) {
      case QvFrameReader::Result::message: return Read::message;
      case QvFrameReader::Result::broken: return Read::broken;
      case QvFrameReader::Result::incomplete: break;
    }
    pollfd ready{mFd, POLLIN, 0};
    int fds = poll(&ready, 1, mIdleSeconds * 1000);
    if (fds < 0 && errno == EINTR) continue;
    if (fds == 0) return Read::idle;
    if (fds < 0) return Read::closed;
    ssize_t got = recv(mFd, chunk, sizeof chunk, 0);
    if (got < 0 && errno == EINTR) continue;
    if (got <= 0) return Read::closed;
    mReader.append(chunk, static_cast<std::size_t>(got));
  }
}

bool QvServeChannel::sendMessage(std::string_view text) {
  std::string frame = qvFrameMessage(text);
  std::size_t sent = 0;
  while (sent < frame.size()) {
    pollfd ready{mFd, POLLOUT, 0};
    int fds = poll(&ready, 1, mIdleSeconds * 1000);
    if (fds < 0 && errno == EINTR) continue;
    if (fds <= 0) return false;
    ssize_t wrote = send(mFd, frame.data() + sent, frame.size() - sent, MSG_NOSIGNAL | MSG_DONTWAIT);
    if (wrote < 0 && (errno == EINTR || errno == EAGAIN)) continue;
    if (wrote <= 0) return false;
    sent += static_cast<std::size_t>(wrote);
  }
  return true;
}

std::string qvRunReferralCommands(const std::string& index, const std::string& commands, uint64_t outputBytes) {
  PrintedText printed;
  QvCommandInterface interpreter;
  std::vector<std::string> lines = QvCommandInterface::splitCommandString(commands);
  auto isOpen = [](const std::string& line) {
    return qvEqualsCaseless(QvCommandInterface::getNextTerm(line).first, "open");
  };
  // Whether the index an open named is the one open now (a failed open leaves the one before).
  auto opened = [&interpreter](const std::string& line) {
    auto root = interpreter.root();
    return root && root->name() == qvUnquoted(QvCommandInterface::getNextTerm(line).second);
  };
  std::string output;
  try {
    QvKolvoIndex::create("default", interpreter);
    QvKolvoLib::registerStatusCallbacks();
    // No command may run on an index the user may not open: unless the request opens
    // one first (as a referral's does), the index of the login is opened for it.
    auto first = std::find_if(lines.begin(), lines.end(), [](const std::string& line) {
      return !qvTrim(line).empty() && !qvStartsWith(qvTrimLeft(line), "#");
    });
    if (first == lines.end() || !isOpen(*first)) {
      QvResults answers;
      interpreter.processCommand("open " + index, answers);
      if (!opened("open " + index)) {
        interpreter.cleanup();
        std::string said;
        for (const std::string& answer : answers) said += answer + "\n";
        return printed.take() + said;
      }
    }
    printed.take();
  } catch (const std::exception& error) {
    interpreter.cleanup();
    return printed.take() + "ERROR " + error.what() + "\n";
  }
  // Each command prints as the console prints a line: what it reported on the way, then
  // its answers; a failed one prints its error and the next runs, except after a failed
  // open, which would leave the commands on whatever index was open before.
  for (const std::string& line : lines) {
    QvResults results;
    std::string failure;
    try {
      interpreter.processCommand(line, results);
    } catch (const std::exception& error) {
      failure = "ERROR " + std::string(error.what()) + "\n";
    }
    QvEventPump::instance().runPending();
    output += printed.take();
    for (const std::string& result : results) output += result + "\n";
    output += failure;
    if (isOpen(line) && (!failure.empty() || !opened(line))) break;
    if (output.size() > outputBytes) {
      output.resize(outputBytes);
      output += "\n" + QvServeMessages::qvsOutputCut.text({std::to_string(outputBytes)}) + "\n";
      break;
    }
  }
  interpreter.cleanup();
  return output;
}

QvServeOutcome qvServeSession(int fd, const QvServeSettings& settings) {
  QvServeOutcome outcome;
  QvServeChannel channel(fd, settings.idleSeconds);
  auto readOrSay = [&](std::string& message) {
    switch (channel.readMessage(message)) {
      case QvServeChannel::Read::message: return true;
      case QvServeChannel::Read::closed: outcome.outcome = "closed by the client"; break;
      case QvServeChannel::Read::idle: outcome.outcome = "idle limit"; break;
      case QvServeChannel::Read::broken: outcome.outcome = "broken frame"; break;
    }
    return false;
  };
  std::string login;
  if (!readOrSay(login)) return outcome;
  // "index:user:password"; the password may hold ':' itself.
  std::size_t first = login.find(':');
  std::size_t second = first == std::string::npos ? first : login.find(':', first + 1);
  std::string index = login.substr(0, first);
  std::string user = second == std::string::npos ? std::string() : login.substr(first + 1, second - first - 1);
  std::string password = second == std::string::npos ? std::string() : login.substr(second + 1);
  if (QvServeUsers::isValidName(user)) outcome.user = user;
  if (qvIsSendableIndexName(index)) outcome.index = index;
  bool accepted = false;
  QvServeUsers users;
  try {
    users = QvServeUsers::load(settings.kolvoDirectory + "/" + QvServeUsers::kFileName);
    accepted = second != std::string::npos && qvIsSendableIndexName(index) && users.mayLogIn(user, password, index);
  } catch (const std::exception& error) {
    std::cerr << "kolvoserve: " << error.what() << std::endl;
  }
  if (!accepted) {
    std::this_thread::sleep_for(std::chrono::milliseconds(settings.loginDelayMilliseconds));
    channel.sendMessage(QvServeMessages::qvsLoginRefused.text());
    outcome.outcome = "login refused";
    return outcome;
  }
  if (!channel.sendMessage("OK")) {
    outcome.outcome = "closed by the client";
    return outcome;
  }
  std::string commands;
  if (!readOrSay(commands)) return outcome;
  auto refused = qvRefusedReferralCommand(commands, [&](const std::string& name) { return users.mayOpen(user, name); });
  if (refused) {
    channel.sendMessage(QvServeMessages::qvsCommandRefused.text({*refused}));
    outcome.outcome = "commands refused";
    return outcome;
  }
  std::string answer = qvRunReferralCommands(index, commands, settings.outputBytes);
  outcome.outcome = channel.sendMessage(answer) ? "answered " + std::to_string(answer.size()) + " bytes"
                                                : "answer not taken";
  return outcome;
}
