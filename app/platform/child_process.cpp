#include "app/platform/child_process.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <system_error>
#include <vector>

#include "app/platform/event_pump.h"

extern char** environ;

namespace {

[[noreturn]] void raiseErrno(const char* what) { throw std::system_error(errno, std::generic_category(), what); }

// A write to a child that has gone must fail with EPIPE, not end the program.
void ignoreBrokenPipes() {
  static bool done = false;
  if (!done) {
    signal(SIGPIPE, SIG_IGN);
    done = true;
  }
}

class Pipe {
 public:
  Pipe() {
    if (pipe2(ends, O_CLOEXEC) != 0) raiseErrno("pipe");
  }
  ~Pipe() {
    for (int fd : ends)
      if (fd >= 0) close(fd);
  }
  int release(int end) {
    int fd = ends[end];
    ends[end] = -1;
    return fd;
  }
  int ends[2];
};

}  // namespace

QvChildProcess::~QvChildProcess() {
  closeInputNow();
  closeOutput();
  if (pid > 0) {
    kill(-pid, SIGTERM);
    reap(true);
  }
}

void QvChildProcess::start(const std::string& commandLine) {
  if (pid > 0) throw std::logic_error("child process already started");
  ignoreBrokenPipes();
  Pipe toChild, fromChild;
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_adddup2(&actions, toChild.ends[0], 0);
  posix_spawn_file_actions_adddup2(&actions, fromChild.ends[1], 1);
  posix_spawnattr_t attributes;
  posix_spawnattr_init(&attributes);
  // The child gets the default SIGPIPE back, as any shell command expects.
  sigset_t defaults;
  sigemptyset(&defaults);
  sigaddset(&defaults, SIGPIPE);
  posix_spawnattr_setsigdefault(&attributes, &defaults);
  // Its own process group, so that ending it also ends whatever the shell started.
  posix_spawnattr_setpgroup(&attributes, 0);
  posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETSIGDEF | POSIX_SPAWN_SETPGROUP);
  std::string shell = "/bin/sh", dashC = "-c", line = commandLine;
  char* argv[] = {shell.data(), dashC.data(), line.data(), nullptr};
  pid_t child = -1;
  int failed = posix_spawn(&child, "/bin/sh", &actions, &attributes, argv, environ);
  posix_spawn_file_actions_destroy(&actions);
  posix_spawnattr_destroy(&attributes);
  if (failed != 0) throw std::system_error(failed, std::generic_category(), "posix_spawn");
  pid = child;
  status = -1;
  inputFd = toChild.release(1);
  outputFd = fromChild.release(0);
  fcntl(inputFd, F_SETFL, fcntl(inputFd, F_GETFL) | O_NONBLOCK);
  fcntl(outputFd, F_SETFL, fcntl(outputFd, F_GETFL) | O_NONBLOCK);
  outputWatch = QvEventPump::instance().watch(outputFd, POLLIN, [this](short revents) { serve(revents); });
}

void QvChildProcess::serve(short) { collect(); }

void QvChildProcess::write(std::string_view text) {
  if (inputFd < 0) return;
  pendingInput.append(text);
  flushInput();
}

void QvChildProcess::closeInput() {
  closeWhenWritten = true;
  flushInput();
}

void QvChildProcess::flushInput() {
  while (inputFd >= 0 && !pendingInput.empty()) {
    ssize_t written = ::write(inputFd, pendingInput.data(), pendingInput.size());
    if (written > 0) {
      pendingInput.erase(0, static_cast<std::size_t>(written));
    } else if (written < 0 && errno == EINTR) {
      continue;
    } else if (written < 0 && errno == EAGAIN) {
      break;
    } else {
      // The child has closed its input: what it did not take is dropped.
      pendingInput.clear();
      closeInputNow();
    }
  }
  auto& pump = QvEventPump::instance();
  if (inputFd >= 0 && pendingInput.empty() && closeWhenWritten) closeInputNow();
  if (inputFd >= 0 && !pendingInput.empty() && inputWatch == 0) {
    inputWatch = pump.watch(inputFd, POLLOUT, [this](short) { flushInput(); });
  } else if (inputWatch != 0 && (inputFd < 0 || pendingInput.empty())) {
    pump.unwatch(inputWatch);
    inputWatch = 0;
  }
}

void QvChildProcess::closeInputNow() {
  if (inputWatch != 0) QvEventPump::instance().unwatch(inputWatch);
  inputWatch = 0;
  if (inputFd >= 0) close(inputFd);
  inputFd = -1;
}

bool QvChildProcess::collect() {
  std::vector<char> buffer(65536);
  while (outputFd >= 0) {
    ssize_t got = read(outputFd, buffer.data(), buffer.size());
    if (got > 0) {
      output.append(buffer.data(), static_cast<std::size_t>(got));
    } else if (got < 0 && errno == EINTR) {
      continue;
    } else if (got < 0 && errno == EAGAIN) {
      return true;
    } else {
      closeOutput();
    }
  }
  return false;
}

void QvChildProcess::closeOutput() {
  if (outputWatch != 0) QvEventPump::instance().unwatch(outputWatch);
  outputWatch = 0;
  if (outputFd >= 0) close(outputFd);
  outputFd = -1;
}

std::string QvChildProcess::takeOutput() {
  std::string taken;
  taken.swap(output);
  return taken;
}

void QvChildProcess::reap(bool block) {
  if (pid <= 0) return;
  int raw = 0;
  pid_t done;
  do {
    done = waitpid(pid, &raw, block ? 0 : WNOHANG);
  } while (done < 0 && errno == EINTR);
  if (done == 0) return;  // still running
  if (done < 0) {
    status = 127;  // not our child any more; nothing better is known
  } else if (WIFEXITED(raw)) {
    status = WEXITSTATUS(raw);
  } else if (WIFSIGNALED(raw)) {
    status = 128 + WTERMSIG(raw);
  } else {
    status = 127;
  }
  pid = -1;
}

bool QvChildProcess::running() {
  reap(false);
  return pid > 0;
}

int QvChildProcess::wait() {
  auto& pump = QvEventPump::instance();
  // Output is read until its end first: a child blocked on a full pipe never exits.
  while (outputFd >= 0) {
    pollfd ready{outputFd, POLLIN, 0};
    int fds = poll(&ready, 1, QvEventPump::kStepMilliseconds);
    if (fds > 0) collect();
    else if (fds < 0 && errno != EINTR) raiseErrno("poll");
    pump.runPending();
  }
  reap(true);
  return status;
}

QvShellResult qvRunShellCommand(const std::string& commandLine) {
  QvChildProcess child;
  child.start(commandLine);
  child.closeInput();
  QvShellResult result;
  result.exitCode = child.wait();
  result.output = child.takeOutput();
  return result;
}
