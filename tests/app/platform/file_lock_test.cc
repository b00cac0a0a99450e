// The lock a build or update of an index holds: another program cannot take it while it
// is held, and can once it is let go.
#include "app/platform/file_lock.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <memory>

#include <gtest/gtest.h>

#include "tests/support/temp_dir.h"

namespace {

// Whether another process gets the lock on path at once.
bool anotherProcessGetsIt(const std::string& path) {
  pid_t child = fork();
  if (child == 0) {
    int fd = ::open(path.c_str(), O_RDWR | O_CLOEXEC);
    _exit(fd >= 0 && flock(fd, LOCK_EX | LOCK_NB) == 0 ? 0 : 1);
  }
  int status = -1;
  waitpid(child, &status, 0);
  return WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

TEST(FileLockTest, HeldUntilTheObjectGoes) {
  kolvotest::TempDir dir;
  const std::string path = dir.slashed() + "update.lock";
  auto lock = std::make_unique<QvFileLock>(path);
  ASSERT_TRUE(lock->held());
  EXPECT_TRUE(std::filesystem::is_regular_file(path));
  EXPECT_FALSE(anotherProcessGetsIt(path));
  lock.reset();
  EXPECT_TRUE(anotherProcessGetsIt(path));
  // Taken again after it was let go, by the same program.
  QvFileLock again(path);
  EXPECT_TRUE(again.held());
  EXPECT_FALSE(anotherProcessGetsIt(path));
}

TEST(FileLockTest, NothingIsHeldWhereTheFileCannotBeMade) {
  kolvotest::TempDir dir;
  QvFileLock lock(dir.slashed() + "missing/update.lock");
  EXPECT_FALSE(lock.held());
}

}  // namespace
