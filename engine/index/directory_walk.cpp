// The directory walk of a build: include and exclude patterns, the choice of a file's
// analyzer, and the depth-first walk that records every folder and accepted file and
// hands each file to its analyzer. The walk never follows symbolic links.
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>

#include <ctime>
#include <memory>
#include <string>
#include <system_error>
#include <vector>

#include "engine/analyzers/file_analyzer.h"
#include "engine/index/kolvo_index.h"
#include "engine/index/name_matching.h"
#include "engine/index/read_ahead.h"
#include "engine/index/walk_support.h"
#include "engine/kolvolib/error_reporting.h"
#include "engine/storage/file_storage.h"

using kolvo::throwKolvoError;

void CKolvoIndex::setIncludeCount(int count) {
  includePatterns.assign(count > 0 ? static_cast<size_t>(count) : 0, std::string());
  includeAnalyzers.assign(includePatterns.size(), nullptr);
}

void CKolvoIndex::setIncludePattern(int i, const char* pattern, const char* analyzerName) {
  kolvo::kolvoCheck(i >= 0 && static_cast<size_t>(i) < includePatterns.size(), "include pattern beyond the count");
  includePatterns[static_cast<size_t>(i)] = pattern ? pattern : "";
  includeAnalyzers[static_cast<size_t>(i)] = nullptr;
  std::string name = analyzerName && *analyzerName ? analyzerName : "generic";
  auto found = analyzerMap.find(name);
  if (found == analyzerMap.end()) kolvo::postWarning("AnalyzerNotFound", name);
  includeAnalyzers[static_cast<size_t>(i)] = found->second.get();
}

void CKolvoIndex::setExcludeCount(int count) {
  excludePatterns.assign(count > 0 ? static_cast<size_t>(count) : 0, std::string());
}

void CKolvoIndex::setExcludePattern(int i, const char* pattern) {
  kolvo::kolvoCheck(i >= 0 && static_cast<size_t>(i) < excludePatterns.size(), "exclude pattern beyond the count");
  excludePatterns[static_cast<size_t>(i)] = pattern ? pattern : "";
}

bool CKolvoIndex::isExcluded(const char* path) const {
  for (const std::string& pattern : excludePatterns)
    if (!pattern.empty() && kolvo::fileNameMatch(path, pattern.c_str())) return true;
  return false;
}

CFileAnalyzer* CKolvoIndex::includedAnalyzer(const char* path) const {
  for (size_t i = 0; i < includePatterns.size(); ++i)
    if (!includePatterns[i].empty() && kolvo::termMatch(path, includePatterns[i].c_str())) return includeAnalyzers[i];
  return nullptr;
}

CFileAnalyzer* CKolvoIndex::chooseAnalyzer(const char* path) const {
  CFileAnalyzer* analyzer = includedAnalyzer(path);
  return analyzer && isExcluded(path) ? nullptr : analyzer;
}

bool CKolvoIndex::reportDue() const {
  return statusLevel != 0 && static_cast<int32_t>(std::time(nullptr)) > lastStatusTime;
}

void CKolvoIndex::reportProgress(const char* code, const std::string& detail) {
  if (!reportDue()) return;
  lastStatusTime = static_cast<int32_t>(std::time(nullptr));
  if (!kolvo::setStatus(code, detail)) throwKolvoError("HaltRequested");
}

bool CKolvoIndex::isKolvoDirectory(const std::string& path) const {
  // An index path too short to name a kolvo directory leaves nothing to skip.
  if (kolvoDirectory.empty() || path != kolvoDirectory) return false;
  kolvo::setStatus("Skipped Kolvo Directory", "");
  return true;
}

uint32_t CKolvoIndex::recordDirectory(const std::string& path, int32_t modified) {
  uint32_t entry = files->lookupFile(path.c_str(), 0);
  if (entry == 0) {
    ++filesIndexed;
    entry = files->addFile(path.c_str());
  }
  files->setParent(entry, 0);
  files->setAttributes(entry, 0);
  files->setTime(entry, modified);
  return entry;
}

uint32_t CKolvoIndex::recordFile(const char* name, uint32_t dirId, int32_t modified, uint32_t size) {
  uint32_t entry = files->lookupFile(name, dirId);
  if (entry == 0) {
    ++filesIndexed;
    entry = files->addFile(name);
  }
  files->setAttributes(entry, 0);
  files->setParent(entry, dirId);
  files->setTime(entry, modified);
  files->setSize(entry, size);
  return entry;
}

void CKolvoIndex::indexDirectory(const char* path, uint32_t dirId) {
  kolvo::kolvoCheck(files != nullptr && path != nullptr, "walk without a file table");
  std::unique_ptr<CReadAhead> reader;
  if (walkReadsAhead) {
    // A machine that cannot start a thread walks alone.
    try {
      reader = std::make_unique<CReadAhead>(*this);
    } catch (const std::system_error&) {
    }
  }
  if (!reader) return walkDirectory(path, dirId, 0);
  walkReader = reader.get();
  struct Forget {
    CKolvoIndex& index;
    ~Forget() { index.walkReader = nullptr; }
  } forget{*this};
  try {
    walkDirectory(path, dirId, 0);
  } catch (...) {
    // The files recorded before a halt or an error keep their words, as they would
    // have had them one file at a time.
    try {
      reader->finish();
    } catch (...) {
    }
    throw;
  }
  reader->finish();
}

void CKolvoIndex::walkDirectory(const std::string& path, uint32_t dirId, int depth) {
  if (isKolvoDirectory(path)) return;
  ++directoriesRead;
  if (depth >= maxWalkDepth) {
    kolvo::tellWarning("DirectoryTooDeep", path);
    return;
  }
  // The listing is read whole and the folder closed before going deeper, so a deep
  // tree holds no descriptor per level.
  std::vector<std::string> names;
  if (!kolvo::listDirectory(path, names)) return;
  for (const std::string& name : names) {
    std::string full = kolvo::joinPath(path, name);
    if (reportDue()) reportProgress("IndexingFile", full + "\t" + std::to_string(directoriesRead));
    const kolvo::EntryStatus status = kolvo::statusOf(AT_FDCWD, full.c_str());
    if (!status.found) continue;
    if (S_ISDIR(status.mode)) {
      if (isExcluded(full.c_str())) continue;
      uint32_t entry = recordDirectory(full, status.modified);
      walkDirectory(full, entry, depth + 1);
    } else if (S_ISREG(status.mode)) {
      CFileAnalyzer* analyzer = chooseAnalyzer(full.c_str());
      if (!trackAll && !analyzer) continue;
      uint32_t entry = recordFile(name.c_str(), dirId, status.modified, status.size);
      if (!analyzer) continue;
      if (walkReader && analyzer->canReadAhead()) {
        walkReader->queue(*analyzer, full, entry);
      } else {
        // Each file's words come together: the queued files go first.
        if (walkReader) walkReader->finish();
        analyzer->indexFile(full.c_str(), entry);
      }
    }
    // Symbolic links, devices, pipes and sockets are neither recorded nor read.
  }
}
