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

#include "tests/support/lock_holder.h"
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

// A wait told when to give up: it asks while the other program holds the lock, ends
// holding nothing once told to, and takes the lock as soon as it is let go.
TEST(FileLockTest, AWaitThatMayGiveUpAsksUntilToldOrTheLockIsLetGo) {
  kolvotest::TempDir dir;
  const std::string path = dir.slashed() + "update.lock";
  kolvotest::LockHolder other(path);
  ASSERT_TRUE(other.holding());

  int asked = 0;
  QvFileLock abandoned(path, [&] { return ++asked == 3; }, 1);
  EXPECT_TRUE(abandoned.gaveUp());
  EXPECT_FALSE(abandoned.held());
  EXPECT_EQ(asked, 3);

  asked = 0;
  QvFileLock taken(path, [&] {
    if (++asked == 2) other.release();
    return false;
  }, 1);
  EXPECT_FALSE(taken.gaveUp());
  EXPECT_TRUE(taken.held());
  EXPECT_GE(asked, 2);
  EXPECT_FALSE(anotherProcessGetsIt(path));

  // A lock nobody holds is taken without asking.
  QvFileLock elsewhere(dir.slashed() + "other.lock", [] { return true; }, 1);
  EXPECT_TRUE(elsewhere.held());
  EXPECT_FALSE(elsewhere.gaveUp());
}

}  // namespace
