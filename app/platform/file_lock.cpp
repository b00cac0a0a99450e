#include "app/platform/file_lock.h"

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <poll.h>

#include <cerrno>

QvFileLock::QvFileLock(const std::string& path, const std::function<bool()>& giveUp, int pollMilliseconds) {
  fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
  if (fd < 0) return;
  int result;
  if (giveUp) {
    while ((result = flock(fd, LOCK_EX | LOCK_NB)) != 0 && (errno == EWOULDBLOCK || errno == EINTR)) {
      if (giveUp()) {
        abandoned = true;
        break;
      }
      ::poll(nullptr, 0, pollMilliseconds);
    }
  } else {
    do {
      result = flock(fd, LOCK_EX);
    } while (result != 0 && errno == EINTR);
  }
  if (result != 0) {
    ::close(fd);
    fd = -1;
  }
}

QvFileLock::~QvFileLock() {
  if (fd >= 0) ::close(fd);  // closing the descriptor lets the lock go
}
