// QvFileLock: an exclusive lock on a file, held while the object lives. The index object
// takes one for each build or update, so that two programs never make a build of the
// same index at once (the second waits for the first, then starts from its build).
#pragma once

#include <functional>
#include <string>

class QvFileLock {
 public:
  // Makes the file when it is missing and waits for the lock. Where the file cannot be
  // made (a read-only folder, which no build can be written to either) nothing is held.
  // With giveUp, the wait looks at it every pollMilliseconds and ends, holding nothing,
  // once it answers true (the user's Ctrl-C restarts a waiting flock, so it is never seen
  // there).
  explicit QvFileLock(const std::string& path, const std::function<bool()>& giveUp = {}, int pollMilliseconds = 0);
  ~QvFileLock();
  QvFileLock(const QvFileLock&) = delete;
  QvFileLock& operator=(const QvFileLock&) = delete;

  bool held() const { return fd >= 0; }
  // Whether the wait ended because giveUp said so.
  bool gaveUp() const { return abandoned; }

 private:
  int fd = -1;
  bool abandoned = false;
};
