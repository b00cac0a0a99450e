#include "engine/index/status_batch.h"

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdint>
#include <cstring>

#include "engine/filememory/posix_seam.h"
#include "engine/index/resource_limits.h"

namespace kolvo {

namespace {

// What a status of the index needs; a file system that answers less is asked again the
// ordinary way.
constexpr unsigned wantedFields = STATX_TYPE | STATX_MODE | STATX_MTIME | STATX_SIZE;
// A request the ring has not answered (yet).
constexpr int notAnswered = INT_MIN;

bool transient(int error) { return error == EINTR || error == EAGAIN || error == EBUSY; }

void* mapRing(int ring, size_t bytes, off_t offset) {
  void* mapped = mmap(nullptr, bytes, PROT_READ | PROT_WRITE, MAP_SHARED | MAP_POPULATE, ring, offset);
  return mapped == MAP_FAILED ? nullptr : mapped;
}

template <typename T>
T* at(void* base, uint32_t offset) {
  return reinterpret_cast<T*>(static_cast<char*>(base) + offset);
}

}  // namespace

StatusBatch::StatusBatch(bool batched) {
  if (batched && !setUp()) tearDown();
}

StatusBatch::~StatusBatch() { tearDown(); }

bool StatusBatch::setUp() {
  io_uring_params params{};
  long made = syscall(__NR_io_uring_setup, limits::statusBatchSize, &params);
  if (made < 0) return false;
  ring = static_cast<int>(made);
  submissionRingBytes = params.sq_off.array + params.sq_entries * sizeof(unsigned);
  completionRingBytes = params.cq_off.cqes + params.cq_entries * sizeof(io_uring_cqe);
  requestBytes = params.sq_entries * sizeof(io_uring_sqe);
  submissionRing = mapRing(ring, submissionRingBytes, IORING_OFF_SQ_RING);
  completionRing = mapRing(ring, completionRingBytes, IORING_OFF_CQ_RING);
  requests = static_cast<io_uring_sqe*>(mapRing(ring, requestBytes, IORING_OFF_SQES));
  if (!submissionRing || !completionRing || !requests) return false;
  submissionHead = at<unsigned>(submissionRing, params.sq_off.head);
  submissionTail = at<unsigned>(submissionRing, params.sq_off.tail);
  submissionMask = *at<unsigned>(submissionRing, params.sq_off.ring_mask);
  submissionArray = at<unsigned>(submissionRing, params.sq_off.array);
  completionHead = at<unsigned>(completionRing, params.cq_off.head);
  completionTail = at<unsigned>(completionRing, params.cq_off.tail);
  completionMask = *at<unsigned>(completionRing, params.cq_off.ring_mask);
  completions = at<io_uring_cqe>(completionRing, params.cq_off.cqes);
  // A ring never holds more requests than its completion queue can hold answers.
  depth = std::min({params.sq_entries, params.cq_entries, limits::statusBatchSize});
  if (depth == 0) return false;
  answers.resize(depth);
  results.resize(depth);
  // The kernel takes statuses on worker threads of its own; a few keep the cores busy
  // without a crowd of them. A kernel that cannot bound them still answers.
  unsigned workers[2] = {limits::statusRingWorkers, limits::statusRingWorkers};
  syscall(__NR_io_uring_register, ring, IORING_REGISTER_IOWQ_MAX_WORKERS, workers, 2);
  return true;
}

void StatusBatch::tearDown() {
  if (requests) munmap(requests, requestBytes);
  if (completionRing) munmap(completionRing, completionRingBytes);
  if (submissionRing) munmap(submissionRing, submissionRingBytes);
  requests = nullptr;
  completionRing = submissionRing = nullptr;
  if (ring >= 0) close(ring);
  ring = -1;
}

bool StatusBatch::submitAndWait(unsigned queued) {
  const unsigned headBefore = __atomic_load_n(submissionHead, __ATOMIC_ACQUIRE);
  const unsigned tail = headBefore + queued;
  __atomic_store_n(submissionTail, tail, __ATOMIC_RELEASE);
  unsigned consumed = 0, answered = 0, idle = 0;
  while (consumed < queued) {
    long entered = posixCalls().ringEnter(ring, queued - consumed, queued - consumed, IORING_ENTER_GETEVENTS);
    int error = entered < 0 ? errno : 0;
    unsigned before = consumed;
    consumed = __atomic_load_n(submissionHead, __ATOMIC_ACQUIRE) - headBefore;
    idle = consumed == before ? idle + 1 : 0;
    if ((entered < 0 && !transient(error)) || idle > limits::statusRingIdleAttempts) {
      // The requests the kernel has not taken are withdrawn and asked one by one.
      __atomic_store_n(submissionTail, headBefore + consumed, __ATOMIC_RELEASE);
      break;
    }
  }
  // Every request taken is waited for: its answer is written into this object's memory.
  while (true) {
    unsigned head = *completionHead;
    unsigned ready = __atomic_load_n(completionTail, __ATOMIC_ACQUIRE);
    for (; head != ready; ++head, ++answered) {
      const io_uring_cqe& done = completions[head & completionMask];
      if (done.user_data < depth) results[done.user_data] = done.res;
    }
    __atomic_store_n(completionHead, head, __ATOMIC_RELEASE);
    if (answered >= consumed) break;
    posixCalls().ringEnter(ring, 0, consumed - answered, IORING_ENTER_GETEVENTS);
  }
  return consumed > 0;
}

void StatusBatch::take(int folder, const char* const* names, EntryStatus* statuses, size_t count) {
  for (size_t start = 0; start < count; start += depth ? depth : count) {
    size_t n = depth ? std::min<size_t>(depth, count - start) : count;
    bool asked = false;
    if (ring >= 0) {
      unsigned tail = *submissionTail;
      for (unsigned k = 0; k < n; ++k) {
        unsigned slot = (tail + k) & submissionMask;
        io_uring_sqe& request = requests[slot];
        std::memset(&request, 0, sizeof request);
        request.opcode = IORING_OP_STATX;
        request.fd = folder;
        request.addr = reinterpret_cast<uintptr_t>(names[start + k]);
        request.len = wantedFields;
        request.off = reinterpret_cast<uintptr_t>(&answers[k]);
        request.statx_flags = AT_SYMLINK_NOFOLLOW;
        request.user_data = k;
        submissionArray[slot] = slot;
        results[k] = notAnswered;
      }
      asked = submitAndWait(static_cast<unsigned>(n));
    }
    for (size_t k = 0; k < n; ++k) {
      // A failure of any kind, even a missing entry, is asked again the ordinary way,
      // whose answer the index has always had: a status the ring could not take must
      // not make a file look gone.
      if (asked && results[k] == 0 && (answers[k].stx_mask & wantedFields) == wantedFields) {
        const struct statx& answer = answers[k];
        statuses[start + k] = foundStatus(answer.stx_mode, answer.stx_mtime.tv_sec, answer.stx_size);
      } else {
        statuses[start + k] = statusOf(folder, names[start + k]);
      }
    }
  }
}

}  // namespace kolvo
