// CFileMemory: one ordinary file mapped shared into memory and used as a bump allocator.
// Every table of an index lives in one; tables keep offsets, never pointers, because a
// growth remaps the file. Space is never freed: a table is reclaimed by making it anew.
#pragma once

#include <cstdint>
#include <string>

// The 16-byte header at offset 0 holds, as little-endian u32: totalSize, usedSize,
// initialSize, growIncrement. The object's copies are authoritative while it is open;
// the header on disk is rewritten only when the file is switched to read-only,
// cleared or destroyed.
//
// A table that later builds share (one file, linked into each build's folder) is only
// ever appended to: each build keeps its own extent (used and mapped size) elsewhere,
// the header stays as the file's first build wrote it, and no byte below the extent a
// build was opened at is written again.
class CFileMemory {
 public:
  static constexpr uint32_t headerSize = 16;

  // The used and mapped size of a shared table as one build sees it.
  struct Extent {
    uint32_t used = 0;
    uint32_t total = 0;
  };

  // Creates the file anew (an existing one is truncated) with room for initialSize
  // bytes; leaves it writable with the header as its first allocation.
  CFileMemory(const std::string& path, uint32_t initialSize, uint32_t growIncrement);
  // Opens an existing file read-only. A missing file, or one shorter than 4 bytes, gives
  // a closed object on which every offset is invalid; a header that does not fit the
  // file raises "StorageReadError".
  explicit CFileMemory(const std::string& path);
  // Opens an existing file read-only as a shared table: at extent, or at its header's
  // sizes when extent is null. An extent that does not fit the file raises
  // "StorageReadError".
  CFileMemory(const std::string& path, const Extent* extent);
  virtual ~CFileMemory();
  CFileMemory(const CFileMemory&) = delete;
  CFileMemory& operator=(const CFileMemory&) = delete;

  // Reserves size bytes and returns the offset of the first; they are zero. Only in the
  // writable state ("AssertionFailed" otherwise). Growth reserves the disk blocks before
  // the range is used, so a full disk fails with "MemFileExtendFail" and the file stays
  // as it was.
  uint32_t getNewSpace(uint32_t size);

  // Pointer to offset for reading length bytes, or null unless the whole range lies in
  // the used space. The pointer dies with the next growth.
  const unsigned char* getPointer(uint32_t offset, uint32_t length = 1) const {
    if (!isMapped || length == 0 || length > usedSize || offset > usedSize - length) return nullptr;
    return mapBase + offset;
  }
  // The same for writing; "AssertionFailed" unless writable and the range is used.
  unsigned char* getWritablePointer(uint32_t offset, uint32_t length) {
    if (!isWritable || !inUse(offset, length)) refuseWrite(offset, length);
    return mapBase + offset;
  }

  // Drops the pages below offset from this process's mapping; their bytes stay in the
  // file (and the page cache) and come back on the next access. For tables written or
  // read once from front to back, so their size does not stay resident.
  void releasePagesBelow(uint32_t offset) { releasePagesBetween(0, offset); }
  // The same for the whole pages from begin (rounded down) to end.
  void releasePagesBetween(uint32_t begin, uint32_t end);
  // Copies length bytes at offset through the file rather than the mapping: a read of a
  // few scattered bytes then maps no page (each page fault maps a whole run of pages,
  // which costs far more than a read). False, copying nothing, unless the whole range
  // lies in the used space and the read succeeds.
  bool readBytes(uint32_t offset, void* into, uint32_t length) const;
  // Whether the last used byte is a NUL, as the last text of a sound table ends; false
  // for a table with nothing used.
  bool lastUsedByteIsNul() const;
  // Starts fetching the bytes at offset ahead of their use; a hint that does nothing
  // for an offset outside the used space.
  void prefetch(uint32_t offset, bool forWrite) const {
    if (!inUse(offset)) return;
    if (forWrite)
      __builtin_prefetch(mapBase + offset, 1);
    else
      __builtin_prefetch(mapBase + offset, 0);
  }

  // Brings the file's bytes to the disk; false when the system reports a failure.
  bool sync() const;
  // Starts writing the file's changed bytes to the disk and returns at once, so that the
  // writing of several files overlaps before each is synced; only a hint, whose
  // failures the sync that must follow reports.
  void startSync() const;
  // Whether the table is shared between builds (see above), and the extent it has now.
  bool shared() const { return isShared; }
  Extent extent() const { return Extent{usedSize, totalSize}; }
  // The sizes the file's header records.
  Extent headerExtent() const;
  bool openForRead();
  bool openForWrite();
  bool enableWrite();
  virtual bool disableWrite();
  virtual void clearAll();

  std::string getStoragePath() const { return path.empty() ? std::string(".") : path; }
  void setStoragePath(const std::string& newPath) { path = newPath; }

  bool mapped() const { return isMapped; }
  bool writable() const { return isWritable; }
  uint32_t used() const { return usedSize; }
  uint32_t total() const { return totalSize; }
  uint32_t increment() const { return growIncrement; }
  // Whether the offset range [offset, offset + length) lies in the used space.
  bool inUse(uint32_t offset, uint32_t length = 1) const {
    return isMapped && offset >= headerSize && length <= usedSize && offset <= usedSize - length;
  }
  // The start of the mapping, for the pointer checks of the C interface.
  const unsigned char* base() const { return mapBase; }

 private:
  // Raises "AssertionFailed" for a write getWritablePointer does not allow.
  [[noreturn]] void refuseWrite(uint32_t offset, uint32_t length) const;
  void writeHeader();
  void unmap();
  void closeDescriptor();
  // Maps length bytes of the open descriptor; false when the system refuses.
  bool mapWhole(uint32_t length, bool forWrite);
  // Opens and maps the whole recorded length of an existing file; false when it is
  // missing or shorter than 4 bytes.
  bool mapExisting(bool forWrite);
  // Clears what a failed append left between the used and the mapped size of a shared
  // table just opened for writing: fresh space must read as zero.
  void clearSharedSlack();
  void grow(uint64_t needed);
  void checkHeader();

  int fileDescriptor = -1;
  bool isOpen = false;
  bool isMapped = false;
  bool isWritable = false;
  bool isShared = false;
  // A shared table's extent while it is not mapped: what the next mapping takes.
  Extent sharedExtent;
  uint32_t initialSize = 0;
  uint32_t growIncrement = 0;
  uint32_t totalSize = 0;
  uint32_t usedSize = 0;
  unsigned char* mapBase = nullptr;
  // The header as the last opening read it from the file.
  unsigned char storedHeader[headerSize] = {};
  unsigned char* header = nullptr;
  std::string path;
};
