#include "bench/process_run.h"

#include <fcntl.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstring>
#include <stdexcept>

extern char** environ;

namespace kolvobench {

namespace {

double seconds(const timeval& time) { return static_cast<double>(time.tv_sec) + time.tv_usec / 1e6; }

bool setsSameVariable(const std::string& a, const char* b) {
  std::size_t equals = a.find('=');
  return equals != std::string::npos && std::strncmp(a.c_str(), b, equals + 1) == 0;
}

}  // namespace

ProcessRun runProcess(const std::vector<std::string>& arguments, const std::vector<std::string>& environment,
                      const std::string& workingDirectory) {
  if (arguments.empty()) throw std::runtime_error("runProcess: no program");
  std::vector<std::string> variables;
  for (char** entry = environ; *entry; ++entry) {
    bool replaced = false;
    for (const std::string& set : environment) replaced = replaced || setsSameVariable(set, *entry);
    if (!replaced) variables.emplace_back(*entry);
  }
  variables.insert(variables.end(), environment.begin(), environment.end());
  // Everything the child needs is made before it starts.
  std::vector<std::string> argumentCopies = arguments;
  std::vector<char*> argv, envp;
  for (std::string& argument : argumentCopies) argv.push_back(argument.data());
  argv.push_back(nullptr);
  for (std::string& variable : variables) envp.push_back(variable.data());
  envp.push_back(nullptr);

  int output[2];
  if (pipe2(output, O_CLOEXEC) != 0) throw std::runtime_error(std::string("pipe: ") + std::strerror(errno));
  // posix_spawn starts the child without copying this process's page tables (glibc
  // uses a vfork-like clone), so a benchmark that holds a big tree in memory does not
  // charge a long fork to the program it times.
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_adddup2(&actions, output[1], 1);
  posix_spawn_file_actions_addchdir_np(&actions, workingDirectory.c_str());
  auto start = std::chrono::steady_clock::now();
  pid_t pid = -1;
  int spawned = posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), envp.data());
  posix_spawn_file_actions_destroy(&actions);
  close(output[1]);
  if (spawned != 0) {
    close(output[0]);
    throw std::runtime_error("cannot run " + arguments[0] + ": " + std::strerror(spawned));
  }
  ProcessRun run;
  char buffer[65536];
  for (;;) {
    ssize_t n = read(output[0], buffer, sizeof buffer);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;
    run.output.append(buffer, static_cast<std::size_t>(n));
  }
  close(output[0]);
  int raw = 0;
  struct rusage usage {};
  pid_t done;
  do done = wait4(pid, &raw, 0, &usage);
  while (done < 0 && errno == EINTR);
  run.wallSeconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  if (done < 0) throw std::runtime_error(std::string("wait4: ") + std::strerror(errno));
  run.status = WIFEXITED(raw) ? WEXITSTATUS(raw) : 128 + WTERMSIG(raw);
  run.cpuSeconds = seconds(usage.ru_utime) + seconds(usage.ru_stime);
  run.peakMiB = static_cast<double>(usage.ru_maxrss) / 1024.0;
  return run;
}

}  // namespace kolvobench
