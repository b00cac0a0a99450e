#include "engine/filememory/file_memory.h"

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "engine/filememory/le_fields.h"
#include "engine/filememory/mapping_registry.h"
#include "engine/filememory/posix_seam.h"
#include "engine/kolvolib/error_reporting.h"

using kolvo::throwKolvoError;

namespace {

// Reads the header of a file into header (zeros where the file is shorter): false unless
// it holds at least the first stored word, its recorded length. Read rather than taken
// from the mapping, so that opening a large table maps none of its pages.
bool readStoredHeader(int fd, unsigned char (&header)[CFileMemory::headerSize]) {
  std::memset(header, 0, sizeof header);
  ssize_t got;
  do got = pread(fd, header, sizeof header, 0);
  while (got < 0 && errno == EINTR);
  return got >= 4;
}

}  // namespace

CFileMemory::CFileMemory(const std::string& filePath, uint32_t initial, uint32_t grow)
    : initialSize(initial), growIncrement(grow), path(filePath) {
  // The file is made anew: whatever was there before is gone. Removing the name first
  // leaves a file other builds share to them.
  ::unlink(path.c_str());
  fileDescriptor = ::open(path.c_str(), O_RDWR | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
  if (fileDescriptor < 0) throwKolvoError("MemFileOpenFail", path);
  isOpen = true;
  isWritable = true;
  getNewSpace(headerSize);
  writeHeader();
}

CFileMemory::CFileMemory(const std::string& filePath) : path(filePath) {
  if (!openForRead()) return;
  initialSize = kolvo::loadU32(storedHeader + 8);
  growIncrement = kolvo::loadU32(storedHeader + 12);
  usedSize = kolvo::loadU32(storedHeader + 4);
  checkHeader();
}

CFileMemory::CFileMemory(const std::string& filePath, const Extent* kept) : isShared(true), path(filePath) {
  if (kept) sharedExtent = *kept;
  if (!openForRead()) return;
  initialSize = kolvo::loadU32(storedHeader + 8);
  growIncrement = kolvo::loadU32(storedHeader + 12);
  if (!kept) usedSize = kolvo::loadU32(storedHeader + 4);
  checkHeader();
  sharedExtent = Extent{usedSize, totalSize};
}

CFileMemory::Extent CFileMemory::headerExtent() const {
  if (!isMapped || totalSize < headerSize) return Extent{};
  return Extent{kolvo::loadU32(mapBase + 4), kolvo::loadU32(mapBase)};
}

CFileMemory::~CFileMemory() {
  try {
    clearAll();
  } catch (...) {
    // A failed unmap while closing has been reported; nothing more can be done here.
  }
}

void CFileMemory::checkHeader() {
  struct stat status {};
  bool fits = fstat(fileDescriptor, &status) == 0 && totalSize >= headerSize &&
              static_cast<uint64_t>(status.st_size) >= totalSize && usedSize >= headerSize &&
              usedSize <= totalSize;
  if (!fits) {
    std::string damaged = path;
    clearAll();
    throwKolvoError("StorageReadError", damaged);
  }
}

uint32_t CFileMemory::getNewSpace(uint32_t size) {
  if (size > growIncrement) throwKolvoError("GetHugeSpace", std::to_string(size));
  // Allocation needs a writable mapping, or the fresh descriptor of a new file.
  if (!isWritable || !isOpen) throwKolvoError("AssertionFailed", "allocation in a read-only table " + path);
  uint64_t needed = static_cast<uint64_t>(usedSize) + size;
  if (needed > totalSize) grow(needed);
  uint32_t offset = usedSize;
  usedSize = static_cast<uint32_t>(needed);
  return offset;
}

void CFileMemory::grow(uint64_t needed) {
  uint64_t oldSize = totalSize;
  uint64_t newSize;
  if (totalSize == 0)
    newSize = initialSize;
  else if (totalSize < growIncrement)
    newSize = static_cast<uint64_t>(totalSize) * 2;
  else
    newSize = static_cast<uint64_t>(totalSize) + growIncrement;
  if (newSize < needed) newSize = needed;
  // Offsets are 32-bit: a table cannot pass 4 GiB less one byte.
  if (newSize > UINT32_MAX) throwKolvoError("MemFileExtendFail", std::to_string(newSize));

  auto& calls = kolvo::posixCalls();
  // The file may be longer on disk than its header says (a session that ended without
  // writing its header back): what lies there beyond the recorded size is not ours.
  struct stat before {};
  uint64_t staleEnd = fstat(fileDescriptor, &before) == 0 ? static_cast<uint64_t>(before.st_size) : newSize;
  // Reserve the blocks before any page of the new range is touched: a sparse file on a
  // full disk would otherwise kill the process with SIGBUS at the first write. The
  // mapping stays as it was until the file has grown.
  bool extended = calls.ftruncate(fileDescriptor, static_cast<off_t>(newSize)) == 0 &&
                  calls.fallocate(fileDescriptor, static_cast<off_t>(oldSize),
                                  static_cast<off_t>(newSize - oldSize)) == 0;
  if (!extended) {
    // Put the file back as it was, so the table stays usable at its old size.
    if (calls.ftruncate(fileDescriptor, static_cast<off_t>(oldSize)) != 0) clearAll();
    throwKolvoError("MemFileExtendFail", std::to_string(newSize));
  }
  bool remapped;
  if (isMapped) {
    // Growing in place keeps the pages already mapped: no fault again for each of them.
    void* moved = calls.remap(mapBase, oldSize, newSize);
    remapped = moved != MAP_FAILED;
    if (remapped) {
      kolvo::unregisterMapping(mapBase);
      mapBase = static_cast<unsigned char*>(moved);
      header = mapBase;
      kolvo::registerMapping(mapBase, newSize, this);
    }
  } else {
    remapped = mapWhole(static_cast<uint32_t>(newSize), true);
  }
  if (!remapped) {
    std::string failed = path;
    clearAll();
    throwKolvoError("FileMapOpenRWFail", failed);
  }
  totalSize = static_cast<uint32_t>(newSize);
  isWritable = true;
  // Only stale bytes need clearing: the space the file grew by reads as zero already.
  if (staleEnd > oldSize) std::memset(mapBase + oldSize, 0, std::min(staleEnd, newSize) - oldSize);
}

bool CFileMemory::mapWhole(uint32_t length, bool forWrite) {
  int protection = forWrite ? PROT_READ | PROT_WRITE : PROT_READ;
  void* at = kolvo::posixCalls().mmap(nullptr, length, protection, MAP_SHARED, fileDescriptor, 0);
  if (at == MAP_FAILED) return false;
  mapBase = static_cast<unsigned char*>(at);
  // Lookups land anywhere in a large table; huge pages, where the file system gives
  // them, spare a TLB miss on each. Only advice: refusal changes nothing.
  madvise(at, length, MADV_HUGEPAGE);
  header = mapBase;
  isMapped = true;
  totalSize = length;
  kolvo::registerMapping(mapBase, length, this);
  return true;
}

void CFileMemory::refuseWrite(uint32_t offset, uint32_t length) const {
  if (!isWritable || !isMapped) throwKolvoError("AssertionFailed", "write to a read-only table " + path);
  throwKolvoError("AssertionFailed", "write outside the used space of " + path + " at " + std::to_string(offset) +
                                         " (" + std::to_string(length) + " bytes)");
}

void CFileMemory::releasePagesBetween(uint32_t begin, uint32_t end) {
  if (!isMapped) return;
  auto page = static_cast<uint32_t>(sysconf(_SC_PAGESIZE));
  uint32_t from = begin / page * page;
  uint32_t to = std::min(end, totalSize) / page * page;
  // Advice: a refusal changes nothing. The pages of a shared mapping keep their bytes.
  if (to > from) madvise(mapBase + from, to - from, MADV_DONTNEED);
}

bool CFileMemory::lastUsedByteIsNul() const {
  unsigned char last = 1;
  return readBytes(usedSize - 1, &last, 1) ? last == 0 : getPointer(usedSize - 1) && *getPointer(usedSize - 1) == 0;
}

bool CFileMemory::readBytes(uint32_t offset, void* into, uint32_t length) const {
  if (!isOpen || !inUse(offset, length)) return false;
  // The mapping is shared: the file reads the same bytes, writes made through it included.
  ssize_t got;
  do got = ::pread(fileDescriptor, into, length, static_cast<off_t>(offset));
  while (got < 0 && errno == EINTR);
  return got == static_cast<ssize_t>(length);
}

void CFileMemory::writeHeader() {
  if (!isMapped || !isWritable || totalSize < headerSize) return;
  if (isShared) {
    // Earlier builds read this header: the extent is kept for the next mapping and
    // stored by the table's owner.
    sharedExtent = Extent{usedSize, totalSize};
    return;
  }
  header = mapBase;
  kolvo::storeU32(header, totalSize);
  kolvo::storeU32(header + 4, usedSize);
  kolvo::storeU32(header + 8, initialSize);
  kolvo::storeU32(header + 12, growIncrement);
}

void CFileMemory::unmap() {
  if (!isMapped) return;
  kolvo::unregisterMapping(mapBase);
  int result = munmap(mapBase, totalSize);
  isMapped = false;
  mapBase = nullptr;
  header = nullptr;
  if (result != 0) throwKolvoError("UnmapFail", path);
}

bool CFileMemory::sync() const { return isOpen && kolvo::posixCalls().fsync(fileDescriptor) == 0; }

void CFileMemory::startSync() const {
  if (isOpen) sync_file_range(fileDescriptor, 0, 0, SYNC_FILE_RANGE_WRITE);
}

void CFileMemory::closeDescriptor() {
  if (isOpen) ::close(fileDescriptor);
  isOpen = false;
  fileDescriptor = -1;
}

bool CFileMemory::openForRead() {
  if (isWritable) {
    writeHeader();
    unmap();
    closeDescriptor();
    isWritable = false;
  } else {
    unmap();
    closeDescriptor();
  }
  return mapExisting(false);
}

bool CFileMemory::openForWrite() { return mapExisting(true); }

bool CFileMemory::mapExisting(bool forWrite) {
  int flags = forWrite ? O_RDWR | O_CREAT | O_CLOEXEC : O_RDONLY | O_CLOEXEC;
  fileDescriptor = ::open(path.c_str(), flags, 0600);
  if (fileDescriptor < 0) return false;
  isOpen = true;
  const bool atExtent = isShared && sharedExtent.total != 0;
  if (!readStoredHeader(fileDescriptor, storedHeader) && !atExtent) {
    closeDescriptor();
    return false;
  }
  uint32_t recorded = atExtent ? sharedExtent.total : kolvo::loadU32(storedHeader);
  struct stat status {};
  // Mapping past the end of the file would fault at the first read; a writable table
  // must also still hold everything it has handed out.
  if (recorded < headerSize || (forWrite && recorded < usedSize) || fstat(fileDescriptor, &status) != 0 ||
      static_cast<uint64_t>(status.st_size) < recorded) {
    closeDescriptor();
    throwKolvoError("StorageReadError", path);
  }
  if (!mapWhole(recorded, forWrite)) {
    closeDescriptor();
    throwKolvoError("FileMapWriteFail", path);
  }
  isWritable = forWrite;
  if (atExtent) {
    usedSize = sharedExtent.used;
    if (forWrite && usedSize <= totalSize) clearSharedSlack();
  }
  return true;
}

void CFileMemory::clearSharedSlack() {
  // Only pages that hold something are written, so that a clean end costs no write.
  constexpr uint32_t chunk = 4096;
  for (uint32_t at = usedSize; at < totalSize;) {
    uint32_t length = std::min(chunk - at % chunk, totalSize - at);
    unsigned char* bytes = mapBase + at;
    if (std::any_of(bytes, bytes + length, [](unsigned char b) { return b != 0; })) std::memset(bytes, 0, length);
    at += length;
  }
}

bool CFileMemory::enableWrite() {
  if (!isMapped || !isOpen) return false;
  if (isWritable) return true;
  unmap();
  closeDescriptor();
  if (openForWrite()) return true;
  openForRead();  // back to the read-only state the table was in
  return false;
}

bool CFileMemory::disableWrite() { return openForRead(); }

void CFileMemory::clearAll() {
  if (isMapped) {
    if (isWritable) writeHeader();
    unmap();
  }
  isWritable = false;
  totalSize = 0;
  usedSize = 0;
  mapBase = nullptr;
  closeDescriptor();
  path.clear();
  header = nullptr;
}
