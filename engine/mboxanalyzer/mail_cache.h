// The cache of one mailbox: the text of every message and the decoded bytes of every
// attachment, one record after another in a single file of the temporary directory,
// so that indexing a mailbox creates one file rather than one per entry. The mail
// analyzer appends to it while it splits a mailbox, and reads an entry back from it
// to index it and to show it.
//
// A record is a 16-byte head (tag, the entry's file number, the length of its bytes,
// little-endian) and the bytes. An entry recorded again (an update) is appended
// again: the last record of a file number is the one that holds. A record whose head
// does not read whole or whose bytes run past the file's end ends the records.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace kolvo {

// Where an entry's bytes lie in a mailbox's cache.
struct MailCacheRecord {
  uint64_t offset = 0;
  uint64_t length = 0;
};

class CMailCacheWriter {
 public:
  // Opens the cache at path: emptied when keep is false (a fresh build), else kept
  // with its complete records and new ones appended. Without a path, or when the file
  // cannot be opened, nothing is written and every entry fails.
  CMailCacheWriter(const std::string& path, bool keep);
  ~CMailCacheWriter();
  CMailCacheWriter(const CMailCacheWriter&) = delete;
  CMailCacheWriter& operator=(const CMailCacheWriter&) = delete;

  bool usable() const { return fd >= 0 && !failed; }
  // Starts the record of an entry; its bytes follow with append.
  void begin(uint32_t fileId);
  void append(const char* bytes, size_t length);
  // Ends the record; where its bytes lie, or none when the cache could not take them
  // all. The record is on disk, readable through read, once this returns.
  std::optional<MailCacheRecord> finish();
  // A record that says the entry has no bytes in the cache, so that an older record of
  // the same entry is no longer shown.
  void forget(uint32_t fileId);
  // Reads bytes of a finished record, from its start plus `from`; the count read.
  size_t read(const MailCacheRecord& record, uint64_t from, char* buffer, size_t size) const;

 private:
  void put(const void* bytes, size_t length);
  bool flush();

  int fd = -1;
  bool failed = false;
  bool inRecord = false;
  uint64_t flushedEnd = 0;  // the file's length as written so far
  uint64_t recordStart = 0;
  std::vector<char> pending;
};

// The cache file of a mailbox whose entry is mailboxId, inside temporaryDirectory. Its
// name cannot be that of an entry's own cache file ("<number>.<extension>").
std::string mailCachePath(const std::string& temporaryDirectory, uint32_t mailboxId);
enum class MailCacheLookup {
  absent,     // no cache, or no record of the entry in it
  forgotten,  // the last record says the entry has no bytes
  found,
};
// The last record of fileId in the cache at path.
MailCacheLookup findMailCacheRecord(const std::string& path, uint32_t fileId, MailCacheRecord& record);
// Copies a record's bytes to destination; false when either file fails.
bool copyMailCacheRecord(const std::string& path, const MailCacheRecord& record, const std::string& destination);

}  // namespace kolvo
