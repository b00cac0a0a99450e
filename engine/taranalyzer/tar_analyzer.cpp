#include "engine/taranalyzer/tar_analyzer.h"

#include <algorithm>
#include <cstdio>
#include <memory>

#include "engine/index/container_level.h"
#include "engine/index/kolvo_index.h"
#include "engine/storage/file_storage.h"
#include "engine/taranalyzer/tar_reader.h"

namespace {

using FilePtr = std::unique_ptr<std::FILE, int (*)(std::FILE*)>;

// A larger buffer than the C library's: members are read straight through.
constexpr size_t tarBuffer = 256 * 1024;

FilePtr openArchive(const char* path) {
  FilePtr file(std::fopen(path, "rb"), std::fclose);
  if (file) std::setvbuf(file.get(), nullptr, _IOFBF, tarBuffer);
  return file;
}

MemberReader readerOf(CTarReader& tar) {
  return [&tar](char* buffer, size_t size) { return tar.read(buffer, size); };
}

}  // namespace

bool CTarAnalyzer::indexFile(const char* path, uint32_t fileId) {
  CContainerLevel level(*index, path, fileId);
  if (!level.opened()) return true;
  FilePtr in = openArchive(path);
  if (!in) return false;
  CTarReader tar(in.get());
  CTarReader::Member member;
  while (tar.next(member)) {
    MemberEntry entry;
    entry.name = member.name;
    entry.modified = member.modified;
    entry.size = CFileStorage::recordableSize(member.size);
    level.indexMember(entry, level.decide(entry), readerOf(tar));
  }
  ++index->contentsIndexed;
  return true;
}

bool CTarAnalyzer::extractToTempFile(const char* containerPath, const char* memberName, const char* destinationPath,
                                     uint32_t /*fileId*/) {
  FilePtr in = openArchive(containerPath);
  if (!in) return false;
  CTarReader tar(in.get());
  CTarReader::Member member;
  while (tar.next(member))
    if (member.name == memberName) return kolvo::copyMember(readerOf(tar), destinationPath, index->members.memberBound);
  return false;
}
