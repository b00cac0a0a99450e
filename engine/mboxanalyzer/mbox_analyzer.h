// CMBoxAnalyzer ("mbox"): splits a Unix mailbox into its messages and their base64
// attachments. Each becomes an entry under the mailbox's entry, named by sender and
// date, copied into the mailbox's cache in the temporary directory and indexed from
// there: the message text by the "generic" analyzer, an attachment by the one its name
// matches. The file-contents view shows an entry through extractToTempFile.
#pragma once

#include <cstddef>
#include <cstdint>
#include <ctime>
#include <string>
#include <string_view>

#include "engine/analyzers/file_analyzer.h"
#include "engine/index/resource_limits.h"

class CCacheBudget;
namespace kolvo {
class CMailCacheWriter;
}

class CMBoxAnalyzer : public CFileAnalyzer {
 public:
  explicit CMBoxAnalyzer(CKolvoIndex* owner) : CFileAnalyzer(owner) {}

  bool canUseIndexBuffer() override { return false; }
  // Splits and indexes the mailbox; false only when it cannot be opened.
  bool indexFile(const char* path, uint32_t fileId) override;
  // Copies an entry's bytes from its mailbox's cache (or from a cache file of its own,
  // as older builds wrote them) to destinationPath; false when they are gone or either
  // file cannot be opened.
  bool extractToTempFile(const char* containerPath, const char* memberName, const char* destinationPath,
                         uint32_t fileId) override;

  // Records one message text or attachment under parentId, writes its cache record (an
  // attachment decoded from base64) and indexes it. In an update, an entry already
  // recorded and not newer than the time base is left alone.
  virtual void processMessageText(const char* entryName, std::time_t time, uint32_t parentId, const char* data,
                          size_t length, bool isAttachment);

  // The entry name: the sender's address (between '<' and '>', or else the whole From:
  // value up to its line end), the local date and time, "-", the number, ".", extension.
  // A sender's later messages within the same second (sameSecond 1, 2, ...) add " (2)",
  // " (3)", ... after the time, so that no two messages share an entry.
  static std::string makeFileName(std::string_view fromValue, std::time_t time, std::string_view extension,
                                  int number, int sameSecond = 0);
  // The file of an entry of its own: the temporary directory, '/', the file number, '.' and
  // the extension of the entry name ("txt" when it has none that could be one).
  std::string makeCachePath(uint32_t fileId, const char* entryName) const;
  // The time of a "Date:" value: "Wed, 5 Jan 2004 10:11:12 +0100" or the asctime layout
  // "Wed Jan  5 10:11:12 2004", read as local time; 0 when no day, month and year are
  // found. A time zone is ignored.
  static std::time_t parseAsctime(const char* text);
  // The extension an attachment's file name gives: 1 to maxExtension ASCII letters or
  // digits after its last '.'; empty for any other name, which is then not extracted.
  static std::string attachmentExtension(std::string_view fileName);

  // Entry names fit in this many bytes with their NUL.
  static constexpr int entryNameSize = 256;
  static constexpr size_t maxExtension = 19;
  // A file name must come within this many lines after the base64 header.
  static constexpr int fileNameLines = 10;

  // Bounds of the cache files of one mailbox; tests lower them.
  uint64_t entryCacheLimit = kolvo::limits::memberBytes;
  uint64_t mailboxCacheLimit = kolvo::limits::containerBytes;

 private:
  class Splitter;
  class MailboxScope;
  struct OpenEntry;

  // The steps of processMessageText, so an attachment can be written while it is read.
  // beginEntry is false when the entry is not to be written (update, no analyzer).
  bool beginEntry(const char* entryName, std::time_t time, uint32_t parentId, bool isAttachment,
                  kolvo::CMailCacheWriter& cache, OpenEntry& entry);
  void appendEntry(OpenEntry& entry, const char* data, size_t length);
  void finishEntry(OpenEntry& entry);

  // The budget of the mailbox being read; a mailbox inside a mailbox shares its own.
  CCacheBudget* budget = nullptr;
  int nesting = 0;
};
