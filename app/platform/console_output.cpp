#include "app/platform/console_output.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/stat.h>
#include <sys/uio.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>

namespace {

// A pipe as large as the answer, within the bound and what the system allows.
void enlargePipe(int out, std::size_t total) {
  using namespace kolvo::limits;
  if (total <= outputPipeUsualBytes) return;
  struct stat info {};
  if (fstat(out, &info) != 0 || !S_ISFIFO(info.st_mode)) return;
  int current = fcntl(out, F_GETPIPE_SZ);
  if (current < 0 || static_cast<std::size_t>(current) >= std::min(total, outputPipeBytes)) return;
  // Above the system's limit an unprivileged caller is refused: each halving is tried.
  for (std::size_t size = outputPipeBytes; size > static_cast<std::size_t>(current); size /= 2)
    if (fcntl(out, F_SETPIPE_SZ, static_cast<int>(size)) >= 0) return;
}

}  // namespace

bool qvWriteOutput(int out, const std::vector<std::string_view>& pieces) {
  std::size_t total = 0;
  for (std::string_view piece : pieces) total += piece.size();
  enlargePipe(out, total);
  std::vector<iovec> vectors;
  vectors.reserve(pieces.size());
  for (std::string_view piece : pieces)
    if (!piece.empty()) vectors.push_back(iovec{const_cast<char*>(piece.data()), piece.size()});
  std::size_t first = 0;
  while (first < vectors.size()) {
    int count = static_cast<int>(std::min<std::size_t>(vectors.size() - first, IOV_MAX));
    ssize_t written = writev(out, vectors.data() + first, count);
    if (written < 0) {
      if (errno == EINTR) continue;
      if (errno == EAGAIN || errno == EWOULDBLOCK) {
        pollfd ready{out, POLLOUT, 0};
        poll(&ready, 1, -1);
        continue;
      }
      return false;
    }
    // Past the pieces written whole, into the one written in part.
    auto left = static_cast<std::size_t>(written);
    while (first < vectors.size() && left >= vectors[first].iov_len) left -= vectors[first++].iov_len;
    if (left > 0) {
      vectors[first].iov_base = static_cast<char*>(vectors[first].iov_base) + left;
      vectors[first].iov_len -= left;
    }
  }
  return true;
}
