// The statuses of many entries of one folder, asked in one system call through an
// io_uring: an update takes one status per stored entry, and on a virtual machine a
// system call's way in and out costs about as much as the status itself. The update's
// status takers use it; where the kernel has no io_uring or refuses one, each status is
// asked with its own call, with the same answers.
#pragma once

#include <linux/io_uring.h>

#include <sys/stat.h>

#include <cstddef>
#include <vector>

#include "engine/index/walk_support.h"

namespace kolvo {

class StatusBatch {
 public:
  // With batched false, or when no ring can be set up, every status is its own call.
  explicit StatusBatch(bool batched = true);
  ~StatusBatch();
  StatusBatch(const StatusBatch&) = delete;
  StatusBatch& operator=(const StatusBatch&) = delete;

  bool batched() const { return ring >= 0; }
  // statuses[i] becomes statusOf(folder, names[i]) for each i < count.
  void take(int folder, const char* const* names, EntryStatus* statuses, size_t count);

 private:
  bool setUp();
  void tearDown();
  // Submits the requests queued since the last call and waits for all of them; false
  // when the ring failed before taking any, which leaves them to single calls.
  bool submitAndWait(unsigned queued);

  int ring = -1;
  void* submissionRing = nullptr;
  size_t submissionRingBytes = 0;
  void* completionRing = nullptr;
  size_t completionRingBytes = 0;
  io_uring_sqe* requests = nullptr;
  size_t requestBytes = 0;
  unsigned* submissionHead = nullptr;
  unsigned* submissionTail = nullptr;
  unsigned submissionMask = 0;
  unsigned* submissionArray = nullptr;
  unsigned* completionHead = nullptr;
  unsigned* completionTail = nullptr;
  unsigned completionMask = 0;
  io_uring_cqe* completions = nullptr;
  unsigned depth = 0;
  // One answer buffer per request in flight, and each request's result.
  std::vector<struct statx> answers;
  std::vector<int> results;
};

}  // namespace kolvo
