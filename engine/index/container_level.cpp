#include "engine/index/container_level.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "engine/analyzers/file_analyzer.h"
#include "engine/index/kolvo_index.h"
#include "engine/index/walk_support.h"
#include "engine/kolvolib/error_reporting.h"

namespace {

using FilePtr = std::unique_ptr<std::FILE, int (*)(std::FILE*)>;

// The bytes copied at a time.
constexpr size_t copyPiece = 65536;
// The longest part of a member's name a temporary file's name keeps.
constexpr size_t safeNameBytes = 100;

// Creates destination for writing, never through a link planted in its place.
FilePtr createForWriting(const std::string& destination) {
  int descriptor = ::open(destination.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_NOFOLLOW | O_CLOEXEC, 0600);
  if (descriptor < 0) return FilePtr(nullptr, std::fclose);
  std::FILE* stream = ::fdopen(descriptor, "wb");
  if (!stream) ::close(descriptor);
  return FilePtr(stream, std::fclose);
}

// Writes the reader's bytes to out, at most limit: the bytes written, or -1 when
// writing failed. A reader's failure ends the copy like the member's end (a damaged or
// truncated container keeps what could be read). cut: bytes were left past the limit.
int64_t copyBytes(const MemberReader& reader, std::FILE* out, uint64_t limit, bool& cut) {
  std::vector<char> piece(copyPiece);
  uint64_t written = 0;
  cut = false;
  for (;;) {
    size_t want = static_cast<size_t>(std::min<uint64_t>(piece.size(), limit - written));
    if (want == 0) {
      // At the limit: one more byte tells whether the member went on.
      char extra = 0;
      cut = reader(&extra, 1) > 0;
      return static_cast<int64_t>(written);
    }
    long got = reader(piece.data(), want);
    if (got <= 0) return static_cast<int64_t>(written);
    if (std::fwrite(piece.data(), 1, static_cast<size_t>(got), out) != static_cast<size_t>(got)) return -1;
    written += static_cast<uint64_t>(got);
  }
}

// A member's temporary file, removed on every way out of its use.
class TemporaryMember {
 public:
  TemporaryMember(MemberAccount& owner, std::string where) : account(owner), path(std::move(where)) {}
  ~TemporaryMember() {
    std::remove(path.c_str());
    account.extractedNow -= size;
  }
  TemporaryMember(const TemporaryMember&) = delete;
  TemporaryMember& operator=(const TemporaryMember&) = delete;
  void holds(uint64_t bytes) {
    size = bytes;
    account.extractedNow += bytes;
    account.extractedPeak = std::max(account.extractedPeak, account.extractedNow);
  }

  MemberAccount& account;
  const std::string path;
  uint64_t size = 0;
};

// Makes a member's path known to the containers opened inside it while its analyzer
// reads its temporary file.
class MemberInHand {
 public:
  MemberInHand(MemberAccount& owner, const std::string& file, const std::string& logical) : account(owner) {
    savedFile.swap(account.memberFile);
    savedPath.swap(account.memberPath);
    account.memberFile = file;
    account.memberPath = logical;
  }
  ~MemberInHand() {
    account.memberFile.swap(savedFile);
    account.memberPath.swap(savedPath);
  }
  MemberInHand(const MemberInHand&) = delete;
  MemberInHand& operator=(const MemberInHand&) = delete;

 private:
  MemberAccount& account;
  std::string savedFile, savedPath;
};

}  // namespace

namespace kolvo {

std::string memberBaseName(const std::string& name) {
  size_t slash = name.find_last_of("/\\");
  return slash == std::string::npos ? name : name.substr(slash + 1);
}

std::string safeFileName(const std::string& baseName) {
  std::string safe = baseName.size() > safeNameBytes ? baseName.substr(baseName.size() - safeNameBytes) : baseName;
  for (char& c : safe) {
    bool kept = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '.' || c == '-' ||
                c == '_';
    if (!kept) c = '_';
  }
  return safe;
}

std::string extractedFolder(const CKolvoIndex& index) {
  if (index.temporaryDirectory.empty()) return std::string();
  return joinPath(index.temporaryDirectory, "extracted");
}

bool copyMember(const MemberReader& reader, const std::string& destination, uint64_t limit, bool* cut) {
  FilePtr out = createForWriting(destination);
  if (!out) return false;
  bool leftOver = false;
  int64_t written = copyBytes(reader, out.get(), limit, leftOver);
  if (cut) *cut = leftOver;
  std::FILE* stream = out.release();
  bool closed = std::fclose(stream) == 0;
  return written >= 0 && closed;
}

}  // namespace kolvo

CContainerLevel::CContainerLevel(CKolvoIndex& owner, const char* path, uint32_t containerId)
    : index(owner), container(containerId) {
  MemberAccount& account = index.members;
  bool isMember = !account.openContainers.empty() && account.memberFile == path;
  logical = isMember ? account.memberPath : std::string(path);
  if (account.openContainers.size() >= account.depthBound) {
    kolvo::tellWarning("ArchiveTooDeep", logical);
    return;
  }
  if (account.openContainers.empty()) {
    account.containerBytes = 0;
    account.containerCutTold = false;
  }
  account.openContainers.push_back(logical);
  isOpen = true;
}

CContainerLevel::~CContainerLevel() {
  if (isOpen) index.members.openContainers.pop_back();
}

MemberDecision CContainerLevel::decide(const MemberEntry& entry) {
  // Reports, and a halt, reach inside a long archive as they do between files.
  if (index.reportDue())
    index.reportProgress("IndexingFile", logical + "/" + entry.name + "\t" + std::to_string(index.directoriesRead));
  std::string base = kolvo::memberBaseName(entry.name);
  if (base.empty()) return {};
  CFileStorage& files = *index.files;
  if (index.isUpdate && entry.skipUnchanged && entry.modified <= index.timeBase &&
      files.lookupFile(entry.name.c_str(), container) != 0)
    return {};
  CFileAnalyzer* analyzer = index.analyzerThatMatches(base.c_str());
  if (analyzer && index.isExcluded(base.c_str())) analyzer = nullptr;
  if (!analyzer && !index.trackAll) return {};
  uint32_t fileId = index.recordFile(entry.name.c_str(), container, entry.modified, entry.size);
  return {fileId, analyzer};
}

uint64_t CContainerLevel::indexMember(const MemberEntry& entry, const MemberDecision& decision,
                                      const MemberReader& reader) {
  if (!decision.reads() || !isOpen) return 0;
  if (decision.analyzer->canUseIndexBuffer()) return streamMember(decision, reader);
  return extractMember(entry, decision, reader);
}

uint64_t CContainerLevel::streamMember(const MemberDecision& decision, const MemberReader& reader) {
  uint64_t total = 0;
  decision.analyzer->indexStream(
      [&](char* buffer, size_t size) -> size_t {
        long got = reader(buffer, size);
        if (got <= 0) return 0;
        total += static_cast<uint64_t>(got);
        return static_cast<size_t>(got);
      },
      decision.fileId, logical.c_str());
  return total;
}

void CContainerLevel::removeLeftovers(const std::string& folder) {
  MemberAccount& account = index.members;
  if (account.leftoversRemoved) return;
  account.leftoversRemoved = true;
  std::vector<std::string> names;
  if (!kolvo::listDirectory(folder, names)) return;
  for (const std::string& name : names) ::unlink(kolvo::joinPath(folder, name).c_str());
}

uint64_t CContainerLevel::extractMember(const MemberEntry& entry, const MemberDecision& decision,
                                        const MemberReader& reader) {
  MemberAccount& account = index.members;
  const std::string folder = kolvo::extractedFolder(index);
  // Without a temporary directory of its own the index writes nowhere.
  if (folder.empty()) return 0;
  if (::mkdir(folder.c_str(), 0700) != 0 && errno != EEXIST) return 0;
  removeLeftovers(folder);
  const std::string& outer = account.openContainers.front();
  uint64_t containerLeft = account.containerBound - std::min(account.containerBytes, account.containerBound);
  if (containerLeft == 0) {
    if (!account.containerCutTold) kolvo::tellWarning("ArchiveBytesBound", outer);
    account.containerCutTold = true;
    return 0;
  }
  uint64_t limit = std::min(account.memberBound, containerLeft);

  TemporaryMember file(account, kolvo::joinPath(folder, std::to_string(decision.fileId) +
                                                             kolvo::safeFileName(kolvo::memberBaseName(entry.name))));
  FilePtr out = createForWriting(file.path);
  if (!out) return 0;
  bool cut = false;
  int64_t written = copyBytes(reader, out.get(), limit, cut);
  std::FILE* stream = out.release();
  bool closed = std::fclose(stream) == 0;
  if (written > 0) {
    file.holds(static_cast<uint64_t>(written));
    account.containerBytes += static_cast<uint64_t>(written);
  }
  if (cut) {
    // One warning: for the member at its own bound, or once for the outermost container.
    if (limit == account.memberBound) {
      kolvo::tellWarning("ArchiveMemberCut", logical + "\t" + entry.name);
    } else if (!account.containerCutTold) {
      kolvo::tellWarning("ArchiveBytesBound", outer);
      account.containerCutTold = true;
    }
  }
  // A member that could not be written whole (a full disk) is not handed on.
  if (written < 0 || !closed) return 0;
  MemberInHand inHand(account, file.path, logical + "/" + entry.name);
  decision.analyzer->indexFile(file.path.c_str(), decision.fileId);
  return static_cast<uint64_t>(written);
}
