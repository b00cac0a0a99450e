// A child process started from a shell command line ("/bin/sh -c"), with its standard
// input and output on pipes. The "system" command uses it, and local referrals will run
// a second kolvocmd through it. While it lives its pipes are served by the event pump,
// so output is collected and pending input written whenever events run.
#pragma once

#include <sys/types.h>

#include <string>
#include <string_view>

class QvChildProcess {
 public:
  QvChildProcess() = default;
  // A child still running is ended (SIGTERM to its process group) and reaped.
  ~QvChildProcess();
  QvChildProcess(const QvChildProcess&) = delete;
  QvChildProcess& operator=(const QvChildProcess&) = delete;

  // Starts commandLine through the shell; raises std::system_error when it cannot.
  void start(const std::string& commandLine);
  bool started() const { return pid > 0; }

  // Queues text for the child's standard input and writes what the pipe takes now.
  void write(std::string_view text);
  // Closes standard input once the queued text is written (the child then reads EOF).
  void closeInput();

  // Reads what the child has written so far without waiting; answers false at end of output.
  bool collect();
  bool outputEnded() const { return outputFd < 0; }
  // Hands over the output collected so far.
  std::string takeOutput();

  // True while the child has not exited; reaps it when it has.
  bool running();
  // Waits until the child has exited, reading its output meanwhile; answers exitCode().
  int wait();
  // The child's exit status, or 128 + the signal that ended it; -1 while running.
  int exitCode() const { return status; }

 private:
  void serve(short revents);
  void flushInput();
  void closeOutput();
  void closeInputNow();
  void reap(bool block);

  pid_t pid = -1;
  int inputFd = -1;
  int outputFd = -1;
  int inputWatch = 0;
  int outputWatch = 0;
  bool closeWhenWritten = false;
  std::string pendingInput;
  std::string output;
  int status = -1;
};

// Runs commandLine with empty input, reading its output while it runs, and answers its
// output and exit code. Pending events keep running while it waits.
struct QvShellResult {
  std::string output;
  int exitCode = 0;
};
QvShellResult qvRunShellCommand(const std::string& commandLine);
