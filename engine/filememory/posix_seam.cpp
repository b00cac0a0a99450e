#include "engine/filememory/posix_seam.h"

#ifndef _GNU_SOURCE
#define _GNU_SOURCE
#endif

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>

namespace kolvo {

namespace {

void* remapMayMove(void* address, size_t oldLength, size_t newLength) {
  return ::mremap(address, oldLength, newLength, MREMAP_MAYMOVE);
}

long ringEnter(int ring, unsigned toSubmit, unsigned minComplete, unsigned flags) {
  return syscall(__NR_io_uring_enter, ring, toSubmit, minComplete, flags, nullptr, 0);
}

PosixCalls realCalls() {
  return PosixCalls{::ftruncate, ::posix_fallocate, ::mmap, remapMayMove, ::write, ::fsync, std::rename, ringEnter};
}

PosixCalls calls = realCalls();

}  // namespace

PosixCalls& posixCalls() { return calls; }

void resetPosixCalls() { calls = realCalls(); }

bool replaceFileDurably(const std::string& path, const std::string& bytes) {
  std::string temporary = path + ".new";
  int fd = ::open(temporary.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
  if (fd < 0) return false;
  bool whole = true;
  for (size_t done = 0; whole && done < bytes.size();) {
    ssize_t wrote = calls.write(fd, bytes.data() + done, bytes.size() - done);
    if (wrote < 0 && errno == EINTR) continue;
    // A write that takes nothing would repeat for ever: a full disk.
    if (wrote == 0) errno = ENOSPC;
    whole = wrote > 0;
    if (whole) done += static_cast<size_t>(wrote);
  }
  whole = whole && calls.fsync(fd) == 0;
  int kept = errno;
  whole = ::close(fd) == 0 && whole;
  whole = whole && calls.rename(temporary.c_str(), path.c_str()) == 0;
  if (!whole) {
    if (errno == 0) errno = kept;
    kept = errno;
    ::unlink(temporary.c_str());
    errno = kept;
  }
  return whole;
}

}  // namespace kolvo
