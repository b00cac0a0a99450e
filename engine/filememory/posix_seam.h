// The few system calls under every backing file, the stored "hash" and the update's
// batched statuses, behind one seam so that tests can make one of them fail on purpose
// (a full disk, a refused mapping, an I/O error) and check what follows. Production
// code never changes these; each defaults to the real call.
#pragma once

#include <sys/types.h>

#include <cstddef>
#include <string>

namespace kolvo {

struct PosixCalls {
  int (*ftruncate)(int fd, off_t length);
  int (*fallocate)(int fd, off_t offset, off_t length);  // posix_fallocate's contract
  void* (*mmap)(void* address, size_t length, int protection, int flags, int fd, off_t offset);
  // mremap with MREMAP_MAYMOVE: grows a mapping and keeps its pages mapped.
  void* (*remap)(void* address, size_t oldLength, size_t newLength);
  ssize_t (*write)(int fd, const void* bytes, size_t count);
  int (*fsync)(int fd);
  int (*rename)(const char* from, const char* to);
  // io_uring_enter without a signal mask: submits and waits for answers of a ring.
  long (*ringEnter)(int ring, unsigned toSubmit, unsigned minComplete, unsigned flags);
};

// Writes bytes to path durably and whole or not at all: into path + ".new", synced, then
// renamed over path. On failure the temporary file is gone, path is as it was, and the
// answer is false with errno set.
bool replaceFileDurably(const std::string& path, const std::string& bytes);

PosixCalls& posixCalls();
// Puts the real calls back (tests call it when they are done).
void resetPosixCalls();

}  // namespace kolvo
