#include "bench/kolvocmd_session.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstring>
#include <fstream>
#include <stdexcept>
#include <thread>

extern char** environ;

namespace kolvobench {

namespace {

// The object variable the marker command reads. Its value is a word no answer prints.
constexpr const char* markerVariable = "_kolvobenchanswerend";

double now() {
  return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch()).count();
}

[[noreturn]] void fail(const std::string& what) { throw std::runtime_error(what + ": " + std::strerror(errno)); }

}  // namespace

KolvocmdSession::KolvocmdSession(const std::string& program, const std::string& kolvoDirectory,
                                 const std::string& home, const std::string& workingDirectory) {
  if (access(program.c_str(), X_OK) != 0) fail("cannot run " + program);
  // A program that dies must not take the benchmark with it when its input is written.
  signal(SIGPIPE, SIG_IGN);
  std::vector<std::string> environment;
  for (char** entry = environ; *entry; ++entry) {
    if (std::strncmp(*entry, "KOLVODIR=", 9) != 0 && std::strncmp(*entry, "HOME=", 5) != 0)
      environment.emplace_back(*entry);
  }
  environment.push_back("KOLVODIR=" + kolvoDirectory);
  environment.push_back("HOME=" + home);
  std::vector<char*> envp;
  for (std::string& entry : environment) envp.push_back(entry.data());
  envp.push_back(nullptr);
  std::string programCopy = program;
  char* argv[] = {programCopy.data(), nullptr};

  int input[2], output[2];
  if (pipe2(input, O_CLOEXEC) != 0) fail("pipe");
  if (pipe2(output, O_CLOEXEC) != 0) {
    close(input[0]);
    close(input[1]);
    fail("pipe");
  }
  pid = fork();
  if (pid == 0) {
    dup2(input[0], 0);
    dup2(output[1], 1);
    if (chdir(workingDirectory.c_str()) != 0) _exit(126);
    execve(argv[0], argv, envp.data());
    _exit(127);
  }
  close(input[0]);
  close(output[1]);
  inputFd = input[1];
  outputFd = output[0];
  if (pid < 0) fail("fork");

  // Every command is followed by "getvalue" of this variable; the answer ends where the
  // variable's value stands on a line of its own between two prompts.
  std::string token = "kolvobenchend" + std::to_string(getpid()) + "x" + std::to_string(static_cast<long>(now()));
  endMarker = "> \n" + token + "\n> ";
  write(std::string("setvalue ") + markerVariable + " " + token + "\ngetvalue " + markerVariable + "\n");
  std::size_t at = readUntil(endMarker, 60);
  pending.erase(0, at + endMarker.size());
  arrivals.clear();
}

KolvocmdSession::~KolvocmdSession() {
  if (inputFd >= 0) close(inputFd);
  if (outputFd >= 0) close(outputFd);
  for (int tries = 0; pid > 0 && tries < 100; ++tries) {
    reap(false);
    if (pid > 0) std::this_thread::sleep_for(std::chrono::milliseconds(100));
  }
  if (pid > 0) {
    kill(pid, SIGTERM);
    reap(true);
  }
}

void KolvocmdSession::write(const std::string& text) {
  std::size_t done = 0;
  while (done < text.size()) {
    ssize_t n = ::write(inputFd, text.data() + done, text.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) fail("writing to kolvocmd");
    done += static_cast<std::size_t>(n);
  }
}

std::size_t KolvocmdSession::readUntil(const std::string& marker, int timeoutSeconds) {
  double deadline = now() + timeoutSeconds;
  std::size_t searchedTo = 0;
  char buffer[65536];
  for (;;) {
    std::size_t at = pending.find(marker, searchedTo);
    if (at != std::string::npos) return at;
    searchedTo = pending.size() >= marker.size() ? pending.size() - marker.size() + 1 : 0;
    int left = static_cast<int>((deadline - now()) * 1000);
    if (left <= 0) throw std::runtime_error("kolvocmd did not answer in time; it printed:\n" + pending);
    pollfd watch{outputFd, POLLIN, 0};
    int ready = poll(&watch, 1, left);
    if (ready < 0 && errno == EINTR) continue;
    if (ready < 0) fail("poll");
    if (ready == 0) continue;
    ssize_t n = read(outputFd, buffer, sizeof buffer);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) fail("reading from kolvocmd");
    if (n == 0) throw std::runtime_error("kolvocmd ended before it answered; it printed:\n" + pending);
    pending.append(buffer, static_cast<std::size_t>(n));
    arrivals.emplace_back(pending.size(), now());
  }
}

KolvocmdSession::Answer KolvocmdSession::run(const std::string& command) {
  arrivals.clear();
  double sent = now();
  write(command + "\ngetvalue " + markerVariable + "\n");
  // Program hours, not test seconds: a build of a large tree may take long.
  std::size_t at = readUntil(endMarker, 6 * 3600);
  // The console writes a line feed after each line it reads, then the answer.
  std::size_t begin = !pending.empty() && pending[0] == '\n' ? 1 : 0;
  Answer answer;
  answer.text = pending.substr(begin, at > begin ? at - begin : 0);
  std::size_t last = at > 0 ? at - 1 : 0;
  for (const auto& [length, when] : arrivals) {
    if (length > last) {
      answer.seconds = when - sent;
      break;
    }
  }
  pending.erase(0, at + endMarker.size());
  arrivals.clear();
  return answer;
}

double KolvocmdSession::peakResidentMiB() const {
  std::ifstream file("/proc/" + std::to_string(pid) + "/status");
  std::string line;
  while (std::getline(file, line))
    if (line.rfind("VmHWM:", 0) == 0) return std::stod(line.substr(6)) / 1024.0;
  return 0;
}

int KolvocmdSession::finish() {
  write("quit\n");
  close(inputFd);
  inputFd = -1;
  char buffer[4096];
  while (read(outputFd, buffer, sizeof buffer) > 0) {
  }
  close(outputFd);
  outputFd = -1;
  reap(true);
  return status;
}

void KolvocmdSession::reap(bool block) {
  if (pid <= 0) return;
  int raw = 0;
  pid_t done;
  do done = waitpid(pid, &raw, block ? 0 : WNOHANG);
  while (done < 0 && errno == EINTR);
  if (done == 0) return;
  status = done < 0 ? -1 : WIFEXITED(raw) ? WEXITSTATUS(raw) : 128 + WTERMSIG(raw);
  pid = -1;
}

}  // namespace kolvobench
