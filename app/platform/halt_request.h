// The user's request to stop the command that runs: Ctrl-C while a command runs sets
// it instead of ending the program. The search's long loops and the engine's status
// reports (through the status callback) look at it and stop with "Halt requested".
#pragma once

#include <memory>

struct sigaction;

// Safe to call from a signal handler.
void qvRequestHalt();
bool qvHaltRequested();
void qvClearHaltRequest();

// While it lives, SIGINT requests a halt; the request starts cleared and the previous
// handling of SIGINT comes back at the end.
class QvHaltScope {
 public:
  QvHaltScope();
  ~QvHaltScope();
  QvHaltScope(const QvHaltScope&) = delete;
  QvHaltScope& operator=(const QvHaltScope&) = delete;

 private:
  std::unique_ptr<struct sigaction> previous;
};

// While it lives, SIGINT and SIGTERM ask a long-running command to stop at its next
// resting point (after the update in progress) instead of halting the engine; the
// previous handling of both comes back at the end. Not nested.
class QvStopScope {
 public:
  QvStopScope();
  ~QvStopScope();
  QvStopScope(const QvStopScope&) = delete;
  QvStopScope& operator=(const QvStopScope&) = delete;
  static bool stopRequested();

 private:
  std::unique_ptr<struct sigaction> previousInterrupt, previousTerminate;
};
