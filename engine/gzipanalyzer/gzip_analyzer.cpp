#include "engine/gzipanalyzer/gzip_analyzer.h"

#include <zlib.h>

#include <algorithm>
#include <climits>
#include <cstdio>
#include <memory>

#include "engine/filememory/le_fields.h"
#include "engine/index/container_level.h"
#include "engine/index/kolvo_index.h"
#include "engine/storage/file_storage.h"

namespace {

struct GzCloser {
  void operator()(gzFile_s* file) const { gzclose(file); }
};
using GzFile = std::unique_ptr<gzFile_s, GzCloser>;

// zlib's own buffer for reading; larger than its default, for fewer system calls.
constexpr unsigned gzipBuffer = 128 * 1024;

GzFile openGzip(const char* path) {
  GzFile file(gzopen(path, "rb"));
  if (file) gzbuffer(file.get(), gzipBuffer);
  return file;
}

MemberReader readerOf(gzFile_s* file) {
  return [file](char* buffer, size_t size) -> long {
    return gzread(file, buffer, static_cast<unsigned>(std::min<size_t>(size, INT_MAX)));
  };
}

// The member's size as the gzip trailer tells it (modulo 4 GiB, as an entry keeps it),
// or the file's own size when it is not compressed at all.
uint32_t memberSize(const char* path, bool compressed) {
  std::unique_ptr<std::FILE, int (*)(std::FILE*)> in(std::fopen(path, "rb"), std::fclose);
  if (!in || std::fseek(in.get(), compressed ? -4 : 0, SEEK_END) != 0) return 0;
  if (!compressed) {
    long end = std::ftell(in.get());
    return end < 0 ? 0 : CFileStorage::recordableSize(static_cast<uint64_t>(end));
  }
  unsigned char trailer[4] = {};
  if (std::fread(trailer, 1, sizeof trailer, in.get()) != sizeof trailer) return 0;
  return kolvo::loadU32(trailer);
}

}  // namespace

std::string CGZipAnalyzer::memberName(const std::string& containerName) {
  size_t dot = containerName.rfind('.');
  if (dot == std::string::npos) return containerName;
  std::string stem = containerName.substr(0, dot);
  return containerName.compare(dot, std::string::npos, ".tgz") == 0 ? stem + ".tar" : stem;
}

bool CGZipAnalyzer::indexFile(const char* path, uint32_t fileId) {
  CContainerLevel level(*index, path, fileId);
  if (!level.opened()) return true;
  // A gzip file inside an archive is named by its own name, not its temporary file's.
  std::string name = memberName(kolvo::memberBaseName(level.logicalPath()));
  if (kolvo::memberBaseName(name).empty()) return false;
  GzFile in = openGzip(path);
  if (!in) return false;
  MemberEntry entry;
  entry.name = name;
  entry.modified = index->files->getTime(fileId);
  entry.size = memberSize(path, gzdirect(in.get()) == 0);
  // The member changes with its file: the update test is the file's own.
  entry.skipUnchanged = false;
  MemberDecision decision = level.decide(entry);
  level.indexMember(entry, decision, readerOf(in.get()));
  return true;
}

bool CGZipAnalyzer::extractToTempFile(const char* containerPath, const char* /*memberName*/,
                                      const char* destinationPath, uint32_t /*fileId*/) {
  GzFile in = openGzip(containerPath);
  if (!in) return false;
  return kolvo::copyMember(readerOf(in.get()), destinationPath, index->members.memberBound);
}
