// QvFileLock: an exclusive lock on a file, held while the object lives. The index object
// takes one for each build or update, so that two programs never make a build of the
// same index at once (the second waits for the first, then starts from its build).
#pragma once

#include <string>

class QvFileLock {
 public:
  // Makes the file when it is missing and waits for the lock. Where the file cannot be
  // made (a read-only folder, which no build can be written to either) nothing is held.
  explicit QvFileLock(const std::string& path);
  ~QvFileLock();
  QvFileLock(const QvFileLock&) = delete;
  QvFileLock& operator=(const QvFileLock&) = delete;

  bool held() const { return fd >= 0; }

 private:
  int fd = -1;
};
