#include "app/platform/event_pump.h"

#include <poll.h>

#include <cerrno>
#include <chrono>
#include <thread>
#include <vector>

QvEventPump& QvEventPump::instance() {
  static QvEventPump pump;
  return pump;
}

int QvEventPump::watch(int fd, short events, Handler handler) {
  int token = nextToken++;
  watches.emplace(token, Watch{fd, events, std::move(handler)});
  return token;
}

void QvEventPump::unwatch(int token) { watches.erase(token); }

void QvEventPump::pump(int timeoutMilliseconds) {
  if (dispatching || watches.empty()) {
    // Nothing to wait on: a waiting step still takes its time, as callers count steps.
    if (timeoutMilliseconds > 0) std::this_thread::sleep_for(std::chrono::milliseconds(timeoutMilliseconds));
    return;
  }
  std::vector<pollfd> fds;
  std::vector<int> tokens;
  for (const auto& [token, entry] : watches) {
    fds.push_back(pollfd{entry.fd, entry.events, 0});
    tokens.push_back(token);
  }
  int ready = poll(fds.data(), fds.size(), timeoutMilliseconds);
  if (ready <= 0) return;  // nothing ready, or interrupted: the caller simply asks again
  dispatching = true;
  try {
    for (std::size_t i = 0; i < fds.size(); ++i) {
      if (fds[i].revents == 0) continue;
      auto found = watches.find(tokens[i]);
      if (found == watches.end()) continue;  // unwatched by an earlier handler
      Handler handler = found->second.handler;  // the handler may unwatch itself
      handler(fds[i].revents);
    }
  } catch (...) {
    dispatching = false;
    throw;
  }
  dispatching = false;
}
