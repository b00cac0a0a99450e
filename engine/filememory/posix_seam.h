// The few system calls under every backing file, behind one seam so that tests can make
// one of them fail on purpose (a full disk, a refused mapping) and check what follows.
// Production code never changes these; each defaults to the real call.
#pragma once

#include <sys/types.h>

#include <cstddef>

namespace kolvo {

struct PosixCalls {
  int (*ftruncate)(int fd, off_t length);
  int (*fallocate)(int fd, off_t offset, off_t length);  // posix_fallocate's contract
  void* (*mmap)(void* address, size_t length, int protection, int flags, int fd, off_t offset);
  // mremap with MREMAP_MAYMOVE: grows a mapping and keeps its pages mapped.
  void* (*remap)(void* address, size_t oldLength, size_t newLength);
};

PosixCalls& posixCalls();
// Puts the real calls back (tests call it when they are done).
void resetPosixCalls();

}  // namespace kolvo
