#include "engine/filememory/posix_seam.h"

#ifndef _GNU_SOURCE
#define _GNU_SOURCE
#endif

#include <fcntl.h>
#include <sys/mman.h>
#include <unistd.h>

namespace kolvo {

namespace {

void* remapMayMove(void* address, size_t oldLength, size_t newLength) {
  return ::mremap(address, oldLength, newLength, MREMAP_MAYMOVE);
}

PosixCalls realCalls() { return PosixCalls{::ftruncate, ::posix_fallocate, ::mmap, remapMayMove}; }

PosixCalls calls = realCalls();

}  // namespace

PosixCalls& posixCalls() { return calls; }

void resetPosixCalls() { calls = realCalls(); }

}  // namespace kolvo
