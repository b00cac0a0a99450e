#include "engine/zipanalyzer/zip_analyzer.h"

#include <minizip/unzip.h>

#include <algorithm>
#include <climits>
#include <ctime>
#include <memory>
#include <string>

#include "engine/index/container_level.h"
#include "engine/index/kolvo_index.h"
#include "engine/storage/file_storage.h"

namespace {

struct ZipCloser {
  void operator()(void* file) const { unzClose(file); }
};
using ZipFile = std::unique_ptr<void, ZipCloser>;

// The current entry's whole name, however long, and its directory record; false when
// the directory cannot be read.
bool currentEntry(unzFile zip, unz_file_info64& info, std::string& name) {
  if (unzGetCurrentFileInfo64(zip, &info, nullptr, 0, nullptr, 0, nullptr, 0) != UNZ_OK) return false;
  std::string buffer(info.size_filename + 1, '\0');
  if (unzGetCurrentFileInfo64(zip, &info, buffer.data(), static_cast<uLong>(buffer.size()), nullptr, 0, nullptr, 0) !=
      UNZ_OK)
    return false;
  name.assign(buffer.data(), info.size_filename);
  return true;
}

// The entry's date and time from the directory, taken as local time.
int32_t entryTime(const unz_file_info64& info) {
  std::tm when{};
  when.tm_sec = static_cast<int>(info.tmu_date.tm_sec);
  when.tm_min = static_cast<int>(info.tmu_date.tm_min);
  when.tm_hour = static_cast<int>(info.tmu_date.tm_hour);
  when.tm_mday = static_cast<int>(info.tmu_date.tm_mday);
  when.tm_mon = static_cast<int>(info.tmu_date.tm_mon);
  when.tm_year = static_cast<int>(info.tmu_date.tm_year) - 1900;
  when.tm_isdst = -1;
  std::time_t seconds = std::mktime(&when);
  // A zip's dates run to 2107: one after 2038 is kept as a record keeps any such time.
  return seconds == static_cast<std::time_t>(-1) ? 0 : CFileStorage::recordableTime(seconds);
}

// Reads the open member of zip; closing it is the caller's.
MemberReader readerOf(unzFile zip) {
  return [zip](char* buffer, size_t size) -> long {
    return unzReadCurrentFile(zip, buffer, static_cast<unsigned>(std::min<size_t>(size, INT_MAX)));
  };
}

// Closes the member opened last, whatever happens while it is read.
struct OpenMember {
  unzFile zip;
  ~OpenMember() { unzCloseCurrentFile(zip); }
};

}  // namespace

bool CZipAnalyzer::indexFile(const char* path, uint32_t fileId) {
  CContainerLevel level(*index, path, fileId);
  if (!level.opened()) return true;
  ZipFile zip(unzOpen64(path));
  if (!zip) return false;
  unz_global_info64 global{};
  if (unzGetGlobalInfo64(zip.get(), &global) != UNZ_OK) return false;
  for (int at = unzGoToFirstFile(zip.get()); at != UNZ_END_OF_LIST_OF_FILE; at = unzGoToNextFile(zip.get())) {
    if (at != UNZ_OK) return false;
    unz_file_info64 info{};
    MemberEntry entry;
    if (!currentEntry(zip.get(), info, entry.name)) return false;
    entry.modified = entryTime(info);
    entry.size = CFileStorage::recordableSize(info.uncompressed_size);
    MemberDecision decision = level.decide(entry);
    if (!decision.reads()) continue;
    // A member that cannot be opened (an unknown method, say) stays recorded, unread.
    if (unzOpenCurrentFile(zip.get()) != UNZ_OK) continue;
    OpenMember open{zip.get()};
    level.indexMember(entry, decision, readerOf(zip.get()));
  }
  return true;
}

bool CZipAnalyzer::extractToTempFile(const char* containerPath, const char* memberName, const char* destinationPath,
                                     uint32_t /*fileId*/) {
  ZipFile zip(unzOpen64(containerPath));
  if (!zip) return false;
  // Found by walking the directory: minizip's own search cuts long names.
  for (int at = unzGoToFirstFile(zip.get()); at == UNZ_OK; at = unzGoToNextFile(zip.get())) {
    unz_file_info64 info{};
    std::string name;
    if (!currentEntry(zip.get(), info, name)) return false;
    if (name != memberName) continue;
    if (unzOpenCurrentFile(zip.get()) != UNZ_OK) return false;
    OpenMember open{zip.get()};
    return kolvo::copyMember(readerOf(zip.get()), destinationPath, index->members.memberBound);
  }
  return false;
}
