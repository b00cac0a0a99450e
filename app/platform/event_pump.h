// The program's one event loop: descriptors of child processes and sockets are
// registered here, and long loops "let pending events run" by calling runPending.
// One thread; a handler may unwatch itself or others while it runs.
#pragma once

#include <functional>
#include <map>

class QvEventPump {
 public:
  // Called with the poll revents of the descriptor.
  using Handler = std::function<void(short revents)>;

  static QvEventPump& instance();

  // Watches fd for the poll events given; answers a token for unwatch.
  int watch(int fd, short events, Handler handler);
  void unwatch(int token);
  bool watching(int token) const { return watches.count(token) != 0; }
  // Nothing is watched: a wait would only sleep.
  bool idle() const { return watches.empty(); }

  // Dispatches whatever is ready now, without waiting.
  void runPending() { pump(0); }
  // Waits up to one step of 100 ms for something to become ready, then dispatches it.
  void waitStep() { pump(kStepMilliseconds); }
  void pump(int timeoutMilliseconds);

  static constexpr int kStepMilliseconds = 100;

 private:
  struct Watch {
    int fd;
    short events;
    Handler handler;
  };
  std::map<int, Watch> watches;
  int nextToken = 1;
  // A handler that lets events run again must not dispatch the same readiness twice.
  bool dispatching = false;
};
