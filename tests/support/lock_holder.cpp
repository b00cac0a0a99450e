#include "tests/support/lock_holder.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/wait.h>
#include <unistd.h>

namespace kolvotest {

LockHolder::LockHolder(const std::string& path) {
  int ready[2], hold[2];
  if (pipe(ready) != 0) return;
  if (pipe(hold) != 0) {
    close(ready[0]);
    close(ready[1]);
    return;
  }
  child = fork();
  if (child == 0) {
    close(ready[0]);
    close(hold[1]);
    int fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
    char answer = fd >= 0 && flock(fd, LOCK_EX) == 0 ? 'y' : 'n';
    if (write(ready[1], &answer, 1) != 1) _exit(1);
    // Holds the lock until the test closes its end of the pipe.
    char ignored;
    while (read(hold[0], &ignored, 1) > 0) {
    }
    _exit(0);
  }
  close(ready[1]);
  close(hold[0]);
  releaseWrite = hold[1];
  char answer = 'n';
  held = child > 0 && read(ready[0], &answer, 1) == 1 && answer == 'y';
  close(ready[0]);
}

void LockHolder::release() {
  if (releaseWrite >= 0) close(releaseWrite);
  releaseWrite = -1;
  if (child > 0) waitpid(child, nullptr, 0);
  child = -1;
  held = false;
}

LockHolder::~LockHolder() { release(); }

}  // namespace kolvotest
