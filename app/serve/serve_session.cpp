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
#include "app/serve/login_cache.h"
#include "app/serve/printed_text.h"
#include "app/serve/serve_users.h"
#include "app/serve/warm_indexes.h"
#include "app/referrals/referral_limits.h"

namespace {

constexpr std::size_t kReadChunk = 65536;

// Whether password is user's: taken from the logins the server verified lately, else
// checked against the users file and, when right, reported for the server to keep.
bool checkLogin(const QvServeSettings& settings, const QvServeUsers& users, const std::string& user,
                const std::string& password) {
  std::string hash = users.hashOf(user);
  // Asked for unknown users too (their hash is empty and matches no entry), so that
  // every refused login costs the same.
  if (settings.logins && settings.logins->knows(user, password, hash, QvLoginCache::Clock::now()))
    return true;
  if (!users.checksPassword(user, password)) return false;
  if (settings.logins && settings.loginReports >= 0) {
    // One short write is atomic on a pipe; when the pipe is full the login is not kept.
    if (auto record = settings.logins->record(user, password, hash)) {
      ssize_t written = write(settings.loginReports, record->data(), record->size());
      static_cast<void>(written);
    }
  }
  return true;
}

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

std::string qvRunReferralCommands(const std::string& index, const std::string& commands, uint64_t outputBytes,
                                  QvWarmIndexes* kept) {
  QvPrintedText printed;
  QvCommandInterface own;
  // The interpreter whose root is the index the commands run on: this one, or one the
  // server keeps open (a copy of it, in this child).
  QvCommandInterface* interpreter = &own;
  std::vector<std::string> lines = QvCommandInterface::splitCommandString(commands);
  auto isOpen = [](const std::string& line) {
    return qvEqualsCaseless(QvCommandInterface::getNextTerm(line).first, "open");
  };
  auto openedName = [](const std::string& line) { return qvUnquoted(QvCommandInterface::getNextTerm(line).second); };
  // Whether the index an open named is the one open now (a failed open leaves the one before).
  auto opened = [&](const std::string& line) {
    auto root = interpreter->root();
    return root && root->name() == openedName(line);
  };
  // An index the server keeps open is taken as it stands; its open is answered with
  // what that open printed.
  auto takeKept = [&](const std::string& name, std::string& said) {
    QvWarmIndexes::Index* found = kept ? kept->find(name) : nullptr;
    if (!found) return false;
    interpreter = found->interpreter.get();
    said = found->openAnswer;
    return true;
  };
  std::string output;
  try {
    QvKolvoIndex::create("default", own);
    QvKolvoLib::registerStatusCallbacks();
    // No command may run on an index the user may not open: unless the request opens
    // one first (as a referral's does), the index of the login is opened for it.
    auto first = std::find_if(lines.begin(), lines.end(), [](const std::string& line) {
      return !qvTrim(line).empty() && !qvStartsWith(qvTrimLeft(line), "#");
    });
    std::string said;
    if ((first == lines.end() || !isOpen(*first)) && !takeKept(index, said)) {
      QvResults answers;
      own.processCommand("open " + index, answers);
      if (!opened("open " + index)) {
        own.cleanup();
        answers.appendTextTo(said);
        return printed.take() + said;
      }
    }
    printed.take();
  } catch (const std::exception& error) {
    own.cleanup();
    return printed.take() + "ERROR " + error.what() + "\n";
  }
  // Each command prints as the console prints a line: what it reported on the way, then
  // its answers; a failed one prints its error and the next runs, except after a failed
  // open, which would leave the commands on whatever index was open before.
  for (const std::string& line : lines) {
    std::string said;
    if (isOpen(line) && takeKept(openedName(line), said)) {
      output += printed.take() + said;
    } else {
      QvResults results;
      std::string failure;
      try {
        interpreter->processCommand(line, results);
      } catch (const std::exception& error) {
        failure = "ERROR " + std::string(error.what()) + "\n";
      }
      QvEventPump::instance().runPending();
      output += printed.take();
      results.appendTextTo(output);
      output += failure;
      if (isOpen(line) && (!failure.empty() || !opened(line))) break;
    }
    if (output.size() > outputBytes) {
      output.resize(outputBytes);
      output += "\n" + QvServeMessages::qvsOutputCut.text({std::to_string(outputBytes)}) + "\n";
      break;
    }
  }
  // The indexes kept open are the server's; this child ends without closing its copies.
  own.cleanup();
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
    accepted = second != std::string::npos && qvIsSendableIndexName(index) && checkLogin(settings, users, user, password) &&
               users.mayOpen(user, index);
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
  std::string answer = qvRunReferralCommands(index, commands, settings.outputBytes, settings.openIndexes);
  outcome.outcome = channel.sendMessage(answer) ? "answered " + std::to_string(answer.size()) + " bytes"
                                                : "answer not taken";
  return outcome;
}
