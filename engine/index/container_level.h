// CContainerLevel: what every container analyzer (zip, tar, gzip, mailbox) shares while
// it reads one container: the decision on each member, the member's entry, and the
// reading of its bytes into its analyzer, streamed or through a temporary file that is
// always removed, within the bounds on nesting and on bytes written.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>

class CFileAnalyzer;
class CKolvoIndex;

// A member as its container describes it before its bytes are read.
struct MemberEntry {
  std::string name;      // as the container holds it; the name of its entry
  int32_t modified = 0;  // Unix seconds
  uint32_t size = 0;     // as the container tells it
  // In an update, a member with an entry already and a time not after the time base is
  // left as it is.
  bool skipUnchanged = true;
};

// What is done with one member.
struct MemberDecision {
  uint32_t fileId = 0;                 // 0: skipped, no entry
  CFileAnalyzer* analyzer = nullptr;   // null: recorded without contents
  bool reads() const { return fileId != 0 && analyzer != nullptr; }
};

// Fills up to size bytes of a member; the count, 0 at its end, negative on an error.
using MemberReader = std::function<long(char* buffer, size_t size)>;

namespace kolvo {

// The part of a member's name after its last '/' or '\'.
std::string memberBaseName(const std::string& name);
// A base name made safe as part of a file name: only letters, digits, '.', '-' and
// '_' stay (others become '_'), at most the last 100 bytes.
std::string safeFileName(const std::string& baseName);
// The folder, inside the index's temporary directory, that holds extracted members;
// empty when the index has no temporary directory.
std::string extractedFolder(const CKolvoIndex& index);
// Copies a member to destination, at most limit bytes; false when destination cannot
// be created or written. A reader's failure ends the copy with what it gave. cut tells
// whether bytes were left past the limit.
bool copyMember(const MemberReader& reader, const std::string& destination, uint64_t limit, bool* cut = nullptr);

}  // namespace kolvo

class CContainerLevel {
 public:
  // Opens a level for the container at path (its own entry containerId). A member's
  // temporary file is known by the member's path; the outermost starts the byte count.
  CContainerLevel(CKolvoIndex& index, const char* path, uint32_t containerId);
  ~CContainerLevel();
  CContainerLevel(const CContainerLevel&) = delete;
  CContainerLevel& operator=(const CContainerLevel&) = delete;

  // False when the container lies too deep inside others: it stays recorded, unread,
  // and a warning named it.
  bool opened() const { return isOpen; }
  // The container as a user knows it.
  const std::string& logicalPath() const { return logical; }

  // Skips the member, or records it (looked up under the container, or added) and says
  // which analyzer reads it.
  MemberDecision decide(const MemberEntry& entry);
  // Reads the member into its analyzer: through indexBuffer in chunks when it can take
  // them, else through a temporary file handed to indexFile and removed whatever
  // happens. The bytes the reader gave.
  uint64_t indexMember(const MemberEntry& entry, const MemberDecision& decision, const MemberReader& reader);

 private:
  uint64_t streamMember(const MemberDecision& decision, const MemberReader& reader);
  uint64_t extractMember(const MemberEntry& entry, const MemberDecision& decision, const MemberReader& reader);
  void removeLeftovers(const std::string& folder);

  CKolvoIndex& index;
  const uint32_t container;
  std::string logical;
  bool isOpen = false;
};
