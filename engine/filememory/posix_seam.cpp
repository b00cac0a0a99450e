#include "engine/filememory/posix_seam.h"

#include <fcntl.h>
#include <sys/mman.h>
#include <unistd.h>

namespace kolvo {

namespace {

PosixCalls realCalls() { return PosixCalls{::ftruncate, ::posix_fallocate, ::mmap}; }

PosixCalls calls = realCalls();

}  // namespace

PosixCalls& posixCalls() { return calls; }

void resetPosixCalls() { calls = realCalls(); }

}  // namespace kolvo
