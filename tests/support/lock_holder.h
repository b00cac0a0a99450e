// Another process holding the exclusive lock on a file, as another program's build of an
// index holds its lock, until the test lets it go. For tests of what waits for the lock.
#pragma once

#include <string>

#include <sys/types.h>

namespace kolvotest {

class LockHolder {
 public:
  // Returns once the other process holds the lock on path (made when missing).
  explicit LockHolder(const std::string& path);
  // Lets the lock go, if it was not let go before, and waits for the process.
  ~LockHolder();
  LockHolder(const LockHolder&) = delete;
  LockHolder& operator=(const LockHolder&) = delete;

  bool holding() const { return child > 0 && held; }
  void release();

 private:
  pid_t child = -1;
  int releaseWrite = -1;
  bool held = false;
};

}  // namespace kolvotest
