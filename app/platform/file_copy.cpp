#include "app/platform/file_copy.h"

#include <fcntl.h>
#include <linux/fs.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <vector>

namespace {

// Closes a descriptor when it goes out of scope.
class Descriptor {
 public:
  explicit Descriptor(int fd) : fd(fd) {}
  ~Descriptor() {
    if (fd >= 0) ::close(fd);
  }
  Descriptor(const Descriptor&) = delete;
  Descriptor& operator=(const Descriptor&) = delete;
  int get() const { return fd; }
  // Closes now, so that a failure of the close itself is seen.
  bool close() {
    int closing = fd;
    fd = -1;
    return ::close(closing) == 0;
  }

 private:
  int fd;
};

// Copies length bytes inside the kernel; false when the kernel cannot for these files
// (errno tells), so that the caller reads and writes them itself.
bool copyInKernel(int in, int out, off_t length, bool& unsupported) {
  unsupported = false;
  off_t done = 0;
  while (done < length) {
    ssize_t copied = copy_file_range(in, nullptr, out, nullptr, static_cast<size_t>(length - done), 0);
    if (copied < 0 && errno == EINTR) continue;
    if (copied < 0) {
      unsupported = done == 0 && (errno == EXDEV || errno == ENOSYS || errno == EOPNOTSUPP || errno == EINVAL);
      return false;
    }
    if (copied == 0) break;  // the file shrank while it was copied
    done += copied;
  }
  return true;
}

bool copyThroughMemory(int in, int out) {
  std::vector<char> buffer(1 << 20);
  for (;;) {
    ssize_t got = ::read(in, buffer.data(), buffer.size());
    if (got < 0 && errno == EINTR) continue;
    if (got < 0) return false;
    if (got == 0) return true;
    for (ssize_t written = 0; written < got;) {
      ssize_t wrote = ::write(out, buffer.data() + written, static_cast<size_t>(got - written));
      if (wrote < 0 && errno == EINTR) continue;
      if (wrote <= 0) {
        if (wrote == 0) errno = ENOSPC;
        return false;
      }
      written += wrote;
    }
  }
}

}  // namespace

bool qvCopyFileContents(const std::string& from, const std::string& to) {
  Descriptor in(::open(from.c_str(), O_RDONLY | O_CLOEXEC));
  struct stat status {};
  if (in.get() < 0 || fstat(in.get(), &status) != 0) return false;
  Descriptor out(::open(to.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, status.st_mode & 07777));
  if (out.get() < 0 || fchmod(out.get(), status.st_mode & 07777) != 0) return false;
  if (ioctl(out.get(), FICLONE, in.get()) != 0) {
    bool unsupported = false;
    bool copied = copyInKernel(in.get(), out.get(), status.st_size, unsupported);
    if (!copied && !unsupported) return false;
    if (!copied && (ftruncate(out.get(), 0) != 0 || lseek(in.get(), 0, SEEK_SET) != 0 ||
                    !copyThroughMemory(in.get(), out.get())))
      return false;
    // Only a start: the store syncs the tables before the build counts.
    sync_file_range(out.get(), 0, 0, SYNC_FILE_RANGE_WRITE);
  }
  return out.close();
}

bool qvReplaceFileDurably(const std::string& path, const std::string& text, unsigned mode) {
  std::string temporary = path + ".new";
  bool written = false;
  {
    Descriptor out(::open(temporary.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, mode & 07777));
    if (out.get() < 0) return false;
    written = fchmod(out.get(), mode & 07777) == 0;
    for (size_t done = 0; written && done < text.size();) {
      ssize_t wrote = ::write(out.get(), text.data() + done, text.size() - done);
      if (wrote < 0 && errno == EINTR) continue;
      if (wrote == 0) errno = ENOSPC;
      written = wrote > 0;
      if (written) done += static_cast<size_t>(wrote);
    }
    written = written && fsync(out.get()) == 0;
    written = out.close() && written;
  }
  if (written && ::rename(temporary.c_str(), path.c_str()) == 0) return true;
  int kept = errno;
  ::unlink(temporary.c_str());
  errno = kept;
  return false;
}
