// The update of a stored index: every stored entry is visited once; vanished entries are
// marked obsolete, modified files are indexed again under new entries, and the new
// entries of modified folders are added. Like the build, it never follows symbolic links.
#include <sys/stat.h>

#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "engine/analyzers/file_analyzer.h"
#include "engine/index/kolvo_index.h"
#include "engine/index/walk_support.h"
#include "engine/kolvolib/error_reporting.h"

void CKolvoIndex::pruneParentError(uint32_t file, uint32_t parent) {
  std::unique_ptr<std::FILE, int (*)(std::FILE*)> dead(std::fopen("deadkolvo.txt", "w"), std::fclose);
  if (dead) {
    const char* name = files->getText(file);
    std::fprintf(dead.get(), "Name %s\nnFile %x\npFileInfo->m_nParent %x\npFolderInfo %x\n", name ? name : "", file,
                 parent, 0u);
  }
  kolvo::throwKolvoError("PruneParentError");
}

void CKolvoIndex::prune() {
  kolvo::kolvoCheck(files && words && fileLinks, "update of an index without its tables");
  kolvo::kolvoCheck(wordLinks == nullptr, "update while links are being built");
  wordLinks = new CWordLinks(indexPath + "temp", 65535, 1048575, useRanking);
  enableWrite(true);
  passWordLimit = words->used();
  const uint32_t limit = files->used();
  uint32_t count = 0;
  for (uint32_t entry = files->getFirst(); entry && entry < limit; entry = files->getNext(entry)) {
    ++count;
    reportProgress("UpdatingStatus", std::to_string(count) + "/" + std::to_string(filesIndexed));
    if (files->isObsolete(entry)) continue;
    uint32_t parent = files->getParent(entry);
    bool isDirectoryEntry = parent == 0;
    std::string path;
    if (isDirectoryEntry) {
      path = files->getText(entry);
    } else {
      if (!files->isEntry(parent)) pruneParentError(entry, parent);
      if (files->getParent(parent) != 0) continue;  // a member of an archive or a mailbox
      path = std::string(files->getText(parent)) + "/" + files->getText(entry);
    }
    struct stat status {};
    // What is gone, or is now a link or another kind of thing, has vanished for the index.
    bool vanished = lstat(path.c_str(), &status) != 0 ||
                    (isDirectoryEntry ? !S_ISDIR(status.st_mode) : !S_ISREG(status.st_mode));
    if (vanished) {
      files->markObsolete(entry);
      continue;
    }
    auto modified = static_cast<int32_t>(status.st_mtime);
    if (modified <= timeBase) continue;
    if (isDirectoryEntry) {
      updateDirectory(path, entry);
      continue;
    }
    CFileAnalyzer* analyzer = chooseAnalyzer(path.c_str());
    if (!analyzer && !trackAll) continue;
    auto size = static_cast<uint32_t>(status.st_size);
    if (!analyzer) {
      files->setAttributes(entry, 0);
      files->setTime(entry, modified);
      files->setSize(entry, size);
      continue;
    }
    // The new version gets an entry of its own; the analyzer counts the contents read.
    ++filesIndexed;
    std::string name = files->getText(entry);  // the table may move when it grows
    uint32_t fresh = files->addFile(name.c_str());
    files->markObsolete(entry);
    files->setParent(fresh, parent);
    files->setAttributes(fresh, 0);
    files->setTime(fresh, modified);
    files->setSize(fresh, size);
    analyzer->indexFile(path.c_str(), fresh);
  }
}

void CKolvoIndex::updateDirectory(const std::string& path, uint32_t dirId) {
  if (isKolvoDirectory(path)) return;
  std::vector<std::string> names;
  if (!kolvo::listDirectory(path, names)) return;
  for (const std::string& name : names) {
    std::string full = path + "/" + name;
    struct stat status {};
    if (lstat(full.c_str(), &status) != 0) continue;
    bool isDirectory = S_ISDIR(status.st_mode);
    if (!isDirectory && !S_ISREG(status.st_mode)) continue;  // links and special files
    uint32_t known = isDirectory ? files->lookupFile(full.c_str(), 0) : files->lookupFile(name.c_str(), dirId);
    if (isExcluded(full.c_str()) || known) continue;
    auto modified = static_cast<int32_t>(status.st_mtime);
    if (isDirectory) {
      // The walk counts the folder itself among the directories read.
      ++filesIndexed;
      uint32_t entry = files->addFile(full.c_str());
      files->setParent(entry, 0);
      files->setAttributes(entry, 0);
      files->setTime(entry, modified);
      walkDirectory(full, entry, 1);
      continue;
    }
    CFileAnalyzer* analyzer = includedAnalyzer(full.c_str());
    if (!trackAll && !analyzer) continue;
    ++filesIndexed;
    uint32_t entry = files->addFile(name.c_str());
    files->setAttributes(entry, 0);
    files->setTime(entry, modified);
    files->setSize(entry, static_cast<uint32_t>(status.st_size));
    files->setParent(entry, dirId);
    if (analyzer) {
      reportProgress("IndexingFile", full + "\t" + std::to_string(directoriesRead));
      analyzer->indexFile(full.c_str(), entry);
    }
  }
}
