// A mailbox's cache file: records appended with large writes, patched heads, and the
// scan that finds the last record of an entry.
#include "engine/mboxanalyzer/mail_cache.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "engine/filememory/le_fields.h"
#include "engine/index/container_level.h"

namespace kolvo {

namespace {

constexpr size_t headBytes = 16;
constexpr char dataTag[4] = {'m', 'a', 'i', 'l'};
constexpr char noneTag[4] = {'n', 'o', 'n', 'e'};
// A head whose length is not yet known; its record runs past any file's end.
constexpr uint64_t unknownLength = UINT64_MAX;
// Records are gathered in memory and written in pieces of this size.
constexpr size_t writePiece = size_t{1} << 20;
// The scan reads heads in blocks of this size.
constexpr size_t scanBlock = 64 * 1024;

bool writeAll(int fd, const char* bytes, size_t length) {
  while (length > 0) {
    ssize_t wrote = ::write(fd, bytes, length);
    if (wrote < 0 && errno == EINTR) continue;
    if (wrote <= 0) return false;
    bytes += wrote;
    length -= static_cast<size_t>(wrote);
  }
  return true;
}

size_t readAt(int fd, char* buffer, size_t size, uint64_t offset) {
  size_t got = 0;
  while (got < size) {
    ssize_t n = ::pread(fd, buffer + got, size - got, static_cast<off_t>(offset + got));
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;
    got += static_cast<size_t>(n);
  }
  return got;
}

struct Head {
  bool isData = false;
  uint32_t fileId = 0;
  uint64_t length = 0;
};

// Visits the complete records of the open cache fd, whose size is fileSize; the end of
// the last complete one.
template <class Visit>
uint64_t scanRecords(int fd, uint64_t fileSize, Visit&& visit) {
  std::vector<char> block(scanBlock);
  uint64_t blockStart = 0;
  size_t blockFill = 0;
  uint64_t at = 0;
  while (fileSize - at >= headBytes) {
    if (at < blockStart || at + headBytes > blockStart + blockFill) {
      blockStart = at;
      blockFill = readAt(fd, block.data(), block.size(), at);
      if (blockFill < headBytes) break;
    }
    const char* head = block.data() + (at - blockStart);
    Head record;
    record.isData = std::memcmp(head, dataTag, 4) == 0;
    if (!record.isData && std::memcmp(head, noneTag, 4) != 0) break;
    record.fileId = loadU32(head + 4);
    record.length = loadU64(head + 8);
    if (record.length > fileSize - at - headBytes) break;
    visit(record, at + headBytes);
    at += headBytes + record.length;
  }
  return at;
}

uint64_t sizeOf(int fd) {
  struct stat status {};
  return ::fstat(fd, &status) == 0 ? static_cast<uint64_t>(status.st_size) : 0;
}

// A file descriptor closed when it goes.
struct Descriptor {
  int fd;
  ~Descriptor() {
    if (fd >= 0) ::close(fd);
  }
};

}  // namespace

CMailCacheWriter::CMailCacheWriter(const std::string& path, bool keep) {
  if (path.empty()) return;
  fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0644);
  if (fd < 0) return;
  uint64_t size = sizeOf(fd);
  // A record cut short (a build that stopped while writing) is dropped, so what is
  // appended now follows the last whole record.
  flushedEnd = keep ? scanRecords(fd, size, [](const Head&, uint64_t) {}) : 0;
  if (flushedEnd != size && ::ftruncate(fd, static_cast<off_t>(flushedEnd)) != 0) failed = true;
  if (::lseek(fd, static_cast<off_t>(flushedEnd), SEEK_SET) < 0) failed = true;
  pending.reserve(writePiece);
}

CMailCacheWriter::~CMailCacheWriter() {
  if (fd < 0) return;
  flush();
  ::close(fd);
}

bool CMailCacheWriter::flush() {
  if (failed) return false;
  if (!pending.empty() && !writeAll(fd, pending.data(), pending.size())) failed = true;
  if (!failed) flushedEnd += pending.size();
  pending.clear();
  return !failed;
}

void CMailCacheWriter::put(const void* bytes, size_t length) {
  if (failed) return;
  if (pending.size() + length > writePiece && !flush()) return;
  if (length < writePiece) {
    pending.insert(pending.end(), static_cast<const char*>(bytes), static_cast<const char*>(bytes) + length);
    return;
  }
  if (!writeAll(fd, static_cast<const char*>(bytes), length)) failed = true;
  else flushedEnd += length;
}

void CMailCacheWriter::begin(uint32_t fileId) {
  char head[headBytes];
  std::memcpy(head, dataTag, 4);
  storeU32(head + 4, fileId);
  storeU64(head + 8, unknownLength);
  recordStart = flushedEnd + pending.size();
  inRecord = true;
  put(head, headBytes);
}

void CMailCacheWriter::append(const char* bytes, size_t length) {
  if (inRecord) put(bytes, length);
}

std::optional<MailCacheRecord> CMailCacheWriter::finish() {
  if (!inRecord) return std::nullopt;
  inRecord = false;
  if (!usable()) return std::nullopt;
  MailCacheRecord record{recordStart + headBytes, flushedEnd + pending.size() - recordStart - headBytes};
  char length[8];
  storeU64(length, record.length);
  if (recordStart >= flushedEnd) {
    std::memcpy(pending.data() + (recordStart - flushedEnd) + 8, length, sizeof length);
  } else if (::pwrite(fd, length, sizeof length, static_cast<off_t>(recordStart + 8)) != sizeof length) {
    failed = true;
    return std::nullopt;
  }
  return record;
}

void CMailCacheWriter::forget(uint32_t fileId) {
  if (!usable()) return;
  char head[headBytes];
  std::memcpy(head, noneTag, 4);
  storeU32(head + 4, fileId);
  storeU64(head + 8, 0);
  put(head, headBytes);
}

size_t CMailCacheWriter::read(const MailCacheRecord& record, uint64_t from, char* buffer, size_t size) const {
  if (fd < 0 || from >= record.length) return 0;
  size_t wanted = static_cast<size_t>(std::min<uint64_t>(size, record.length - from));
  uint64_t at = record.offset + from;
  size_t got = 0;
  if (at < flushedEnd) {
    size_t onDisk = static_cast<size_t>(std::min<uint64_t>(wanted, flushedEnd - at));
    got = readAt(fd, buffer, onDisk, at);
    if (got < onDisk) return got;
    at += got;
  }
  if (got < wanted && at >= flushedEnd) {
    size_t inMemory = std::min(wanted - got, pending.size() - std::min<size_t>(pending.size(), at - flushedEnd));
    std::memcpy(buffer + got, pending.data() + (at - flushedEnd), inMemory);
    got += inMemory;
  }
  return got;
}

std::string mailCachePath(const std::string& temporaryDirectory, uint32_t mailboxId) {
  if (temporaryDirectory.empty()) return std::string();
  return temporaryDirectory + "/" + std::to_string(mailboxId) + "-mail.cache";
}

MailCacheLookup findMailCacheRecord(const std::string& path, uint32_t fileId, MailCacheRecord& record) {
  Descriptor file{path.empty() ? -1 : ::open(path.c_str(), O_RDONLY | O_CLOEXEC)};
  if (file.fd < 0) return MailCacheLookup::absent;
  MailCacheLookup found = MailCacheLookup::absent;
  scanRecords(file.fd, sizeOf(file.fd), [&](const Head& head, uint64_t offset) {
    if (head.fileId != fileId) return;
    found = head.isData ? MailCacheLookup::found : MailCacheLookup::forgotten;
    record = {offset, head.length};
  });
  return found;
}

bool copyMailCacheRecord(const std::string& path, const MailCacheRecord& record, const std::string& destination) {
  Descriptor file{::open(path.c_str(), O_RDONLY | O_CLOEXEC)};
  if (file.fd < 0) return false;
  uint64_t done = 0;
  bool complete = true;
  bool copied = copyMember(
      [&](char* buffer, size_t size) -> long {
        size_t wanted = static_cast<size_t>(std::min<uint64_t>(size, record.length - done));
        size_t got = readAt(file.fd, buffer, wanted, record.offset + done);
        if (got < wanted) complete = false;
        done += got;
        return static_cast<long>(got);
      },
      destination, record.length);
  return copied && complete;
}

}  // namespace kolvo
