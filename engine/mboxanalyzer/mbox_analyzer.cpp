// The mail analyzer: the line-by-line split of a mailbox into messages and attachments,
// the names and cache files of its entries, and the dates of its messages.
#include "engine/mboxanalyzer/mbox_analyzer.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <functional>
#include <memory>
#include <optional>
#include <unordered_map>
#include <vector>

#include "engine/index/kolvo_index.h"
#include "engine/mboxanalyzer/base64_decoder.h"
#include "engine/index/container_level.h"
#include "engine/mboxanalyzer/cache_budget.h"
#include "engine/mboxanalyzer/mail_cache.h"
#include "engine/mboxanalyzer/mime_file_name.h"
#include "engine/storage/file_storage.h"

namespace {

using FilePtr = std::unique_ptr<std::FILE, int (*)(std::FILE*)>;

// The mailbox is read through a buffer of this size; a longer line comes in pieces.
constexpr size_t readBufferSize = size_t{1} << 20;
// Extracted entries are copied in pieces of this size.
constexpr size_t copyPiece = 65535;

bool isDigit(char c) { return c >= '0' && c <= '9'; }
bool isSpace(char c) { return c == ' ' || c == '\t'; }
bool isAlnum(char c) { return isDigit(c) || (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z'); }

bool startsWith(std::string_view text, std::string_view prefix) {
  return text.size() >= prefix.size() && std::memcmp(text.data(), prefix.data(), prefix.size()) == 0;
}

// A line without its line end.
std::string_view withoutLineEnd(std::string_view line) {
  size_t end = 0;
  while (end < line.size() && line[end] != '\n' && line[end] != '\r' && line[end] != '\0') ++end;
  return line.substr(0, end);
}

bool isEmptyLine(std::string_view line) {
  return line.empty() || line[0] == '\n' || line[0] == '\r' || line[0] == '\0';
}

char lowered(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; }

// Header names, and words such as "base64", are read without regard to case in mail.
bool startsWithNoCase(std::string_view text, std::string_view lowerPrefix) {
  if (text.size() < lowerPrefix.size()) return false;
  for (size_t i = 0; i < lowerPrefix.size(); ++i)
    if (lowered(text[i]) != lowerPrefix[i]) return false;
  return true;
}

// "Content-Transfer-Encoding: base64", in any case and spacing.
bool isBase64Header(std::string_view line) {
  static constexpr std::string_view name = "content-transfer-encoding:";
  if (!startsWithNoCase(line, name)) return false;
  std::string_view value = line.substr(name.size());
  while (!value.empty() && isSpace(value.front())) value.remove_prefix(1);
  if (!startsWithNoCase(value, "base64")) return false;
  value.remove_prefix(6);
  return value.empty() || isSpace(value.front()) || value.front() == ';' || value.front() == '\n' ||
         value.front() == '\r' || value.front() == '\0';
}

const char* const months[] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun", "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};

int monthOf(const char* word) {
  for (int m = 0; m < 12; ++m)
    if (std::strncmp(word, months[m], 3) == 0) return m;
  return -1;
}

// A decimal number of at most six digits (more are passed over), or -1 when none.
int readNumber(const char*& at) {
  if (!isDigit(*at)) return -1;
  int value = 0;
  for (int digits = 0; isDigit(*at); ++at, ++digits)
    if (digits < 6) value = value * 10 + (*at - '0');
  return value;
}

void skipSpaces(const char*& at) {
  while (isSpace(*at)) ++at;
}

void skipWord(const char*& at) {
  while (*at && !isSpace(*at) && *at != '\n' && *at != '\r') ++at;
}

// hh:mm[:ss] at `at`; false when no hour and minutes are there.
bool readClock(const char*& at, int& hour, int& minute, int& second) {
  hour = readNumber(at);
  if (hour < 0 || *at != ':') return false;
  ++at;
  minute = readNumber(at);
  if (minute < 0) return false;
  second = 0;
  if (*at == ':') {
    ++at;
    second = std::max(0, readNumber(at));
  }
  return true;
}

}  // namespace

// An entry whose record in the mailbox's cache is being written.
struct CMBoxAnalyzer::OpenEntry {
  uint32_t fileId = 0;
  std::string name;
  kolvo::CMailCacheWriter* cache = nullptr;  // null: the entry is not cached nor indexed
  CFileAnalyzer* analyzer = nullptr;
  bool isAttachment = false;
  uint64_t rawBytes = 0;
  CBase64Decoder decoder;
  std::string decoded;
};

// The cache budget of one mailbox while it is read: a mailbox inside a mailbox (an
// attachment read by this analyzer again) writes within the outer one's budget, and a
// mailbox inside an archive within what the archive has left of its own.
class CMBoxAnalyzer::MailboxScope {
 public:
  explicit MailboxScope(CMBoxAnalyzer& analyzer)
      : analyzer(analyzer),
        outer(analyzer.budget),
        granted(grantFor(analyzer)),
        own(analyzer.entryCacheLimit, granted) {
    if (!outer) analyzer.budget = &own;
    ++analyzer.nesting;
  }
  ~MailboxScope() {
    analyzer.budget = outer;
    --analyzer.nesting;
    MemberAccount& account = analyzer.index->members;
    if (!outer && !account.openContainers.empty()) account.containerBytes += granted - own.leftForContainer();
  }
  MailboxScope(const MailboxScope&) = delete;
  MailboxScope& operator=(const MailboxScope&) = delete;

 private:
  static uint64_t grantFor(const CMBoxAnalyzer& analyzer) {
    const MemberAccount& account = analyzer.index->members;
    if (account.openContainers.empty()) return analyzer.mailboxCacheLimit;
    uint64_t left = account.containerBound - std::min(account.containerBytes, account.containerBound);
    return std::min(analyzer.mailboxCacheLimit, left);
  }

  CMBoxAnalyzer& analyzer;
  CCacheBudget* outer;
  uint64_t granted;
  CCacheBudget own;
};

// ---- Names, paths and dates ----

std::string CMBoxAnalyzer::attachmentExtension(std::string_view fileName) {
  size_t dot = fileName.rfind('.');
  if (dot == std::string_view::npos) return std::string();
  std::string_view extension = fileName.substr(dot + 1);
  if (extension.empty() || extension.size() > maxExtension) return std::string();
  for (char c : extension)
    if (!isAlnum(c)) return std::string();
  return std::string(extension);
}

std::string CMBoxAnalyzer::makeFileName(std::string_view fromValue, std::time_t time, std::string_view extension,
                                        int number, int sameSecond) {
  size_t start = 0;
  while (start < fromValue.size() && isSpace(fromValue[start])) ++start;
  std::string_view value = withoutLineEnd(fromValue.substr(start));
  std::string numberText = "-" + std::to_string(number) + ".";
  std::string repeatText = sameSecond > 0 ? " (" + std::to_string(sameSecond + 1) + ")" : std::string();
  long room = entryNameSize - static_cast<long>(extension.size()) - static_cast<long>(numberText.size()) -
              static_cast<long>(repeatText.size()) - 22;

  std::string name;
  if (room > 0) {
    size_t open = value.find('<');
    if (open != std::string_view::npos) {
      size_t close = value.find('>', open + 1);
      std::string_view address = value.substr(open + 1, close == std::string_view::npos ? close : close - open - 1);
      name.assign(address.substr(0, static_cast<size_t>(room)));
    }
    if (name.empty()) name.assign(value.substr(0, static_cast<size_t>(room)));
    // A TAB would split the name where results are listed as TAB-separated fields.
    for (char& c : name)
      if (static_cast<unsigned char>(c) < 0x20) c = ' ';
  }
  std::tm local{};
  char stamp[32] = "";
  if (localtime_r(&time, &local)) std::strftime(stamp, sizeof stamp, " %Y-%m-%d %H:%M:%S", &local);
  name += stamp;
  name += repeatText;
  name += numberText;
  name += extension;
  return name;
}

std::string CMBoxAnalyzer::makeCachePath(uint32_t fileId, const char* entryName) const {
  std::string extension = attachmentExtension(entryName ? entryName : "");
  if (extension.empty()) extension = "txt";
  return index->temporaryDirectory + "/" + std::to_string(fileId) + "." + extension;
}

std::time_t CMBoxAnalyzer::parseAsctime(const char* text) {
  if (!text) return 0;
  const char* at = text;
  skipSpaces(at);
  // A leading weekday, with any comma; a month never names one.
  if (!isDigit(*at) && monthOf(at) < 0) {
    skipWord(at);
    skipSpaces(at);
  }
  int day = -1;
  int month = -1;
  for (int word = 0; word < 2; ++word) {
    if (isDigit(*at)) {
      day = readNumber(at);
    } else {
      month = monthOf(at);
      if (month < 0) return 0;
    }
    skipWord(at);
    skipSpaces(at);
  }
  if (day < 1 || day > 31 || month < 0) return 0;

  int hour = 0, minute = 0, second = 0;
  const char* clock = at;
  int year = -1;
  if (readClock(clock, hour, minute, second)) {
    // The asctime layout: the time comes before the year.
    at = clock;
    skipSpaces(at);
    year = readNumber(at);
  } else {
    year = readNumber(at);
    skipSpaces(at);
    if (!readClock(at, hour, minute, second)) hour = minute = second = 0;
  }
  if (year < 0) return 0;
  // Two-digit years, as some old mail programs wrote them.
  if (year < 70) year += 2000;
  else if (year < 100) year += 1900;

  std::tm fields{};
  fields.tm_mday = day;
  fields.tm_mon = month;
  fields.tm_year = year - 1900;
  fields.tm_hour = hour;
  fields.tm_min = minute;
  fields.tm_sec = second;
  // Daylight saving as it was on that date, not as it is today.
  fields.tm_isdst = -1;
  std::time_t result = std::mktime(&fields);
  return result == static_cast<std::time_t>(-1) ? 0 : result;
}

// ---- One entry ----

bool CMBoxAnalyzer::beginEntry(const char* entryName, std::time_t time, uint32_t parentId, bool isAttachment,
                               kolvo::CMailCacheWriter& cache, OpenEntry& entry) {
  CKolvoIndex& owner = *index;
  if (owner.isUpdate) {
    uint32_t known = owner.files->lookupFile(entryName, parentId);
    if (known && owner.files->getTime(known) <= owner.timeBase) return false;
  }
  CFileAnalyzer* analyzer = nullptr;
  if (isAttachment) {
    analyzer = owner.analyzerThatMatches(entryName);
  } else {
    auto generic = owner.analyzerMap.find("generic");
    if (generic != owner.analyzerMap.end()) analyzer = generic->second.get();
  }
  if (!analyzer) return false;
  // A mailbox inside a mailbox deeper than containers may nest is recorded only.
  if (analyzer == this && nesting + 1 >= kolvo::limits::containerDepth) analyzer = nullptr;

  entry.fileId = owner.recordFile(entryName, parentId, static_cast<int32_t>(time), 0);
  entry.name = entryName;
  entry.analyzer = analyzer;
  entry.isAttachment = isAttachment;
  budget->startEntry();
  // An entry without room in the budget, or without a cache to go to, is recorded but
  // not indexed; a record of an older copy of it is no longer shown.
  if (analyzer && budget->hasRoom() && cache.usable()) {
    entry.cache = &cache;
    cache.begin(entry.fileId);
  } else {
    cache.forget(entry.fileId);
  }
  return true;
}

void CMBoxAnalyzer::appendEntry(OpenEntry& entry, const char* data, size_t length) {
  entry.rawBytes += length;
  if (!entry.cache) return;
  const char* bytes = data;
  size_t count = length;
  if (entry.isAttachment) {
    entry.decoded.clear();
    entry.decoder.decode(data, length, entry.decoded);
    bytes = entry.decoded.data();
    count = entry.decoded.size();
  }
  entry.cache->append(bytes, budget->take(count));
}

void CMBoxAnalyzer::finishEntry(OpenEntry& entry) {
  CKolvoIndex& owner = *index;
  owner.files->setSize(entry.fileId, CFileStorage::recordableSize(entry.rawBytes));
  if (!entry.cache) return;
  if (entry.isAttachment) {
    entry.decoded.clear();
    entry.decoder.finish(entry.decoded);
    entry.cache->append(entry.decoded.data(), budget->take(entry.decoded.size()));
  }
  // An entry the cache could not take whole is not indexed.
  std::optional<kolvo::MailCacheRecord> record = entry.cache->finish();
  if (!record) return;
  const kolvo::CMailCacheWriter& cache = *entry.cache;
  uint64_t from = 0;
  auto read = [&](char* buffer, size_t size) {
    size_t got = cache.read(*record, from, buffer, size);
    from += got;
    return got;
  };
  if (entry.analyzer->canUseIndexBuffer()) {
    entry.analyzer->indexStream(read, entry.fileId, entry.name.c_str());
    return;
  }
  // An analyzer that reads whole files gets the entry as a file of its own, under the
  // name its cache file has, removed once it is read.
  std::string path = makeCachePath(entry.fileId, entry.name.c_str());
  bool written = kolvo::copyMember([&](char* buffer, size_t size) { return static_cast<long>(read(buffer, size)); },
                                   path, record->length);
  if (written) entry.analyzer->indexFile(path.c_str(), entry.fileId);
  std::remove(path.c_str());
}

void CMBoxAnalyzer::processMessageText(const char* entryName, std::time_t time, uint32_t parentId, const char* data,
                                       size_t length, bool isAttachment) {
  MailboxScope scope(*this);
  kolvo::CMailCacheWriter cache(kolvo::mailCachePath(index->temporaryDirectory, parentId), true);
  OpenEntry entry;
  if (!beginEntry(entryName, time, parentId, isAttachment, cache, entry)) return;
  appendEntry(entry, data, length);
  finishEntry(entry);
}

bool CMBoxAnalyzer::extractToTempFile(const char* /*containerPath*/, const char* memberName,
                                      const char* destinationPath, uint32_t fileId) {
  CFileStorage* files = index->files;
  if (files && files->isFileNumber(fileId)) {
    std::string cachePath = kolvo::mailCachePath(index->temporaryDirectory, files->getParent(fileId));
    kolvo::MailCacheRecord record;
    switch (kolvo::findMailCacheRecord(cachePath, fileId, record)) {
      case kolvo::MailCacheLookup::found:
        return kolvo::copyMailCacheRecord(cachePath, record, destinationPath);
      case kolvo::MailCacheLookup::forgotten:
        return false;
      case kolvo::MailCacheLookup::absent:
        break;
    }
  }
  // An entry cached before mailboxes had a cache of their own has a file of its own.
  std::string cachePath = makeCachePath(fileId, memberName);
  FilePtr in(std::fopen(cachePath.c_str(), "rb"), std::fclose);
  if (!in) return false;
  FilePtr out(std::fopen(destinationPath, "wb"), std::fclose);
  if (!out) return false;
  std::vector<char> piece(copyPiece);
  for (;;) {
    size_t got = std::fread(piece.data(), 1, piece.size(), in.get());
    if (got == 0) break;
    if (std::fwrite(piece.data(), 1, got, out.get()) != got) return false;
  }
  return std::fclose(out.release()) == 0;
}

// ---- The split ----

// Reads a mailbox line by line and decides, line by line, where its messages and
// attachments begin and end. Only the start of a line is ever examined.
class CMBoxAnalyzer::Splitter {
 public:
  // A fresh build starts the mailbox's cache anew; an update appends to it.
  Splitter(CMBoxAnalyzer& analyzer, std::FILE* in, uint32_t mailboxId)
      : analyzer(analyzer), in(in), mailboxId(mailboxId), buffer(readBufferSize),
        textLimit(analyzer.index->maxPerFileRead),
        cache(kolvo::mailCachePath(analyzer.index->temporaryDirectory, mailboxId), analyzer.index->isUpdate) {}

  void run() {
    std::string_view line;
    bool atLineStart = true;
    while (nextLine(line, atLineStart)) {
      if (atLineStart) takeLine(line);
      else takeContinuation(line);
    }
    endMessage();
  }

 private:
  enum class Mode {
    ignored,            // no message yet, or one that is not recorded
    text,               // the message's text, up to its first attachment
    betweenParts,       // after the text: headers and parts that are not attachments
    attachmentHeaders,  // after a base64 header, until the empty line that ends its headers
    attachmentData,     // the encoded data, until an empty line
  };

  // The next line with its line end, or a piece of a line longer than the buffer.
  bool nextLine(std::string_view& line, bool& atLineStart) {
    atLineStart = !midLine;
    if (begin == end || !std::memchr(buffer.data() + begin, '\n', end - begin)) refill();
    if (begin == end) return false;
    const char* start = buffer.data() + begin;
    const void* lf = std::memchr(start, '\n', end - begin);
    size_t length = lf ? static_cast<size_t>(static_cast<const char*>(lf) - start) + 1 : end - begin;
    midLine = !lf;
    line = std::string_view(start, length);
    begin += length;
    return true;
  }

  void refill() {
    if (atEnd) return;
    if (begin > 0) {
      std::memmove(buffer.data(), buffer.data() + begin, end - begin);
      end -= begin;
      begin = 0;
    }
    while (end < buffer.size()) {
      size_t got = std::fread(buffer.data() + end, 1, buffer.size() - end, in);
      if (got == 0) {
        atEnd = true;
        break;
      }
      end += got;
      if (std::memchr(buffer.data() + end - got, '\n', got)) break;
    }
  }

  void takeLine(std::string_view line) {
    if (startsWith(line, "From ") || line[0] == '\0') {
      endMessage();
      startMessage(line);
      return;
    }
    if (mode == Mode::ignored) return;
    bool empty = isEmptyLine(line);
    if (mode == Mode::attachmentData) {
      if (empty) {
        if (dataStarted) closeAttachment();
      } else {
        dataStarted = true;
        if (attachmentOpen) analyzer.appendEntry(attachment, line.data(), line.size());
      }
      return;
    }

    if (!haveFrom && startsWithNoCase(line, "from:")) {
      fromValue.assign(withoutLineEnd(line.substr(5)));
      haveFrom = true;
    } else if (!haveDate && startsWithNoCase(line, "date:")) {
      dateValue.assign(withoutLineEnd(line.substr(5)));
      haveDate = true;
    }

    if (mode == Mode::attachmentHeaders) {
      if (empty) {
        beginAttachment();
        partName.reset();
        return;
      }
      if (++linesAfterHeader <= fileNameLines && hasParameter(line)) partName.take(line);
      return;
    }
    // A file name belongs to the header block it is in: blocks end at empty lines and
    // at MIME boundaries.
    if (empty || startsWith(line, "--")) partName.reset();
    else if (hasParameter(line)) partName.take(line);

    if (isBase64Header(line)) {
      if (!haveFrom || !haveDate) {
        mode = Mode::ignored;
        return;
      }
      endText();
      mode = Mode::attachmentHeaders;
      linesAfterHeader = 0;
      return;
    }
    if (mode == Mode::text) addText(line);
  }

  void takeContinuation(std::string_view piece) {
    if (mode == Mode::text) addText(piece);
    else if (mode == Mode::attachmentData && attachmentOpen) analyzer.appendEntry(attachment, piece.data(), piece.size());
  }

  void startMessage(std::string_view fromLine) {
    mode = Mode::text;
    haveFrom = haveDate = false;
    fromValue.clear();
    dateValue.clear();
    number = 0;
    sameSecond = -1;
    text.clear();
    textLength = 0;
    partName.reset();
    // The rest of the "From " line belongs to the message.
    addText(fromLine.substr(std::min<size_t>(4, fromLine.size())));
  }

  // The text keeps the message's first maxPerFileRead bytes; the rest is passed over.
  void addText(std::string_view piece) {
    textLength += piece.size();
    if (text.size() < textLimit) text.append(piece.substr(0, std::min<size_t>(piece.size(), textLimit - text.size())));
  }

  std::time_t messageTime() const { return CMBoxAnalyzer::parseAsctime(dateValue.c_str()); }

  // Only a line with '=' can carry a parameter.
  static bool hasParameter(std::string_view line) { return std::memchr(line.data(), '=', line.size()) != nullptr; }

  // The name of one of the message's entries. A sender's second message within one
  // second is told apart by a count, taken in mailbox order so that an update names
  // every message as the build did.
  std::string entryName(std::time_t time, std::string_view extension, int entryNumber) {
    if (sameSecond < 0) {
      // Senders and seconds are remembered by a hash of the name they give, and only so
      // many of them: a huge mailbox cannot make the memory grow without end.
      if (namesSeen.size() >= kolvo::limits::mailNamesRemembered) namesSeen.clear();
      int& seen = namesSeen[std::hash<std::string>()(makeFileName(fromValue, time, "", 0))];
      sameSecond = seen++;
    }
    return makeFileName(fromValue, time, extension, entryNumber, sameSecond);
  }

  // The message's text, once, when it is known who sent it and when.
  void endText() {
    if (mode != Mode::text) return;
    mode = Mode::betweenParts;
    if (!haveFrom || !haveDate) return;
    std::time_t time = messageTime();
    std::string name = entryName(time, "txt", 0);
    OpenEntry entry;
    if (!analyzer.beginEntry(name.c_str(), time, mailboxId, false, cache, entry)) return;
    analyzer.appendEntry(entry, text.data(), text.size());
    entry.rawBytes = textLength;
    analyzer.finishEntry(entry);
  }

  // The headers of a base64 part have ended: an attachment with a file name is numbered,
  // and extracted when that name has an extension. A part without a file name is passed
  // over unnumbered.
  void beginAttachment() {
    mode = Mode::attachmentData;
    dataStarted = false;
    attachmentOpen = false;
    std::optional<std::string> fileName = partName.name();
    if (!fileName) return;
    ++number;
    std::string extension = attachmentExtension(*fileName);
    if (extension.empty()) return;
    std::time_t time = messageTime();
    std::string name = entryName(time, extension, number);
    attachment = OpenEntry();
    attachmentOpen = analyzer.beginEntry(name.c_str(), time, mailboxId, true, cache, attachment);
  }

  void closeAttachment() {
    mode = Mode::betweenParts;
    partName.reset();
    if (!attachmentOpen) return;
    attachmentOpen = false;
    analyzer.finishEntry(attachment);
  }

  // The end of the file or of a message: what is still open is processed with what has
  // been read of it.
  void endMessage() {
    if (mode == Mode::attachmentData) closeAttachment();
    if (mode == Mode::text) endText();
    mode = Mode::ignored;
  }

  CMBoxAnalyzer& analyzer;
  std::FILE* in;
  const uint32_t mailboxId;
  std::vector<char> buffer;
  size_t begin = 0;
  size_t end = 0;
  bool atEnd = false;
  bool midLine = false;

  Mode mode = Mode::ignored;
  // Copies of the message's "From:" and "Date:" values.
  std::string fromValue;
  std::string dateValue;
  bool haveFrom = false;
  bool haveDate = false;
  int number = 0;
  const size_t textLimit;
  std::string text;
  uint64_t textLength = 0;

  // The message's place among those of its sender in its second; -1 until named.
  int sameSecond = -1;
  std::unordered_map<size_t, int> namesSeen;

  CMimeFileName partName;
  int linesAfterHeader = 0;
  bool dataStarted = false;
  bool attachmentOpen = false;
  OpenEntry attachment;
  kolvo::CMailCacheWriter cache;
};

bool CMBoxAnalyzer::indexFile(const char* path, uint32_t fileId) {
  FilePtr in(std::fopen(path, "rb"), std::fclose);
  if (!in) return false;
  MailboxScope scope(*this);
  Splitter(*this, in.get(), fileId).run();
  ++index->contentsIndexed;
  return true;
}
