// A running kolvocmd with its standard input and output on pipes, for the benchmark of
// the program: it sends one command at a time and times the command's answer.
#pragma once

#include <sys/types.h>

#include <string>
#include <vector>

namespace kolvobench {

class KolvocmdSession {
 public:
  struct Answer {
    std::string text;    // what the command printed, its line feeds included
    double seconds = 0;  // from writing the command to the arrival of the answer's last byte
  };

  // Starts the program in workingDirectory with KOLVODIR and HOME set as given, and
  // waits for its first prompt; raises std::runtime_error when that fails.
  KolvocmdSession(const std::string& program, const std::string& kolvoDirectory, const std::string& home,
                  const std::string& workingDirectory);
  // A program still running gets end of input, then SIGTERM if it does not end.
  ~KolvocmdSession();
  KolvocmdSession(const KolvocmdSession&) = delete;
  KolvocmdSession& operator=(const KolvocmdSession&) = delete;

  // Runs one command line; raises std::runtime_error when the program ends first.
  Answer run(const std::string& command);
  // The program's process, for what /proc tells of it.
  pid_t processId() const { return pid; }
  // The program's peak resident memory so far (VmHWM), or 0 when it cannot be read.
  double peakResidentMiB() const;
  // Sends "quit" and waits; answers the exit status (128 + signal when killed).
  int finish();

 private:
  void write(const std::string& text);
  // Reads until marker stands in the output; answers where it begins.
  std::size_t readUntil(const std::string& marker, int timeoutSeconds);
  void reap(bool block);

  pid_t pid = -1;
  int inputFd = -1;
  int outputFd = -1;
  int status = -1;
  std::string endMarker;
  std::string pending;  // output read but not yet handed out
  // For each read: the length of pending after it, and when it arrived.
  std::vector<std::pair<std::size_t, double>> arrivals;
};

}  // namespace kolvobench
