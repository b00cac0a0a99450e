// The update of named paths only: what a watcher of the tree saw change is brought up to
// date without visiting the rest of the stored entries. It reuses prune's routines for a
// modified file and for the new entries of a folder, so both updates record alike.
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>

#include <algorithm>
#include <set>
#include <string>
#include <unordered_map>
#include <vector>

#include "engine/index/kolvo_index.h"
#include "engine/index/walk_support.h"
#include "engine/kolvolib/error_reporting.h"

using kolvo::EntryStatus;
using kolvo::statusOf;

// The state of one path update.
struct CKolvoIndex::PathPass {
  // Entries from here on were added by this pass and are complete already.
  uint32_t limit = 0;
  // The first entry marked obsolete here: what lived under it comes after it.
  uint32_t firstGone = 0;
  std::set<std::string> goneFolders;
  // The files marked obsolete here, whose members go with them.
  std::vector<uint32_t> goneFiles;
  // The known entries of every folder, by the folder's entry: made at the first named
  // folder, from one pass over the table.
  bool childrenListed = false;
  std::unordered_map<uint32_t, std::vector<uint32_t>> children;
};

namespace {

// The folder part of an absolute path ("/" for "/x"), empty for "/" itself.
std::string folderOf(const std::string& path) {
  size_t slash = path.rfind('/');
  if (path == "/" || slash == std::string::npos) return std::string();
  return slash == 0 ? "/" : path.substr(0, slash);
}

// Absolute paths without a trailing '/', each once, a folder before what lies in it.
std::vector<std::string> tidyPaths(const std::vector<std::string>& named) {
  std::vector<std::string> paths;
  for (std::string path : named) {
    if (path.empty() || path[0] != '/') continue;
    while (path.size() > 1 && path.back() == '/') path.pop_back();
    paths.push_back(std::move(path));
  }
  std::sort(paths.begin(), paths.end());
  paths.erase(std::unique(paths.begin(), paths.end()), paths.end());
  return paths;
}

}  // namespace

void CKolvoIndex::updatePaths(const std::vector<std::string>& named) {
  beginUpdatePass();
  PathPass pass;
  pass.limit = files->used();
  for (const std::string& path : tidyPaths(named)) updatePath(path, pass);
  sweepGone(pass);
}

void CKolvoIndex::updatePath(const std::string& path, PathPass& pass) {
  const std::string folder = folderOf(path);
  const std::string name = folder.empty() ? path : path.substr(folder == "/" ? 1 : folder.size() + 1);
  uint32_t asFolder = files->lookupFile(path.c_str(), 0);
  uint32_t parent = folder.empty() ? 0 : files->lookupFile(folder.c_str(), 0);
  uint32_t asFile = parent ? files->lookupFile(name.c_str(), parent) : 0;
  // An entry this pass added was read or walked whole when it was added.
  if (asFolder >= pass.limit || asFile >= pass.limit || parent >= pass.limit) return;
  EntryStatus status = statusOf(AT_FDCWD, path.c_str());
  bool isFolder = status.found && S_ISDIR(status.mode);
  bool isFile = status.found && S_ISREG(status.mode);
  if (asFolder) {
    if (isFolder) refreshFolder(path, asFolder, pass);
    else markGone(asFolder, path, true, pass);
  }
  if (asFile) {
    if (!isFile) markGone(asFile, path, false, pass);
    else if (fileChanged(asFile, status) && refreshFile(asFile, parent, path, status)) markGone(asFile, path, false, pass);
  }
  if ((isFolder && asFolder) || (isFile && asFile) || (!isFolder && !isFile)) return;
  if (parent) {
    if (!isKolvoDirectory(folder)) addNewEntry(folder, parent, name, DT_UNKNOWN);
    return;
  }
  // A path whose folder is new too: the nearest folder the index knows takes in the new
  // ones below it. A path with none lies outside the index.
  for (std::string above = folderOf(folder); !above.empty(); above = folderOf(above)) {
    uint32_t known = files->lookupFile(above.c_str(), 0);
    if (known == 0) continue;
    if (known < pass.limit) refreshFolder(above, known, pass);
    return;
  }
}

void CKolvoIndex::refreshFolder(const std::string& path, uint32_t dirId, PathPass& pass) {
  if (isKolvoDirectory(path)) return;
  if (!pass.childrenListed) {
    pass.childrenListed = true;
    std::unordered_map<std::string, uint32_t> folders;
    for (uint32_t entry = files->getFirst(); entry && entry < pass.limit; entry = files->getNext(entry)) {
      if (files->isObsolete(entry)) continue;
      uint32_t parent = files->getParent(entry);
      if (parent != 0) {
        pass.children[parent].push_back(entry);
        continue;
      }
      std::string name = files->getText(entry);
      folders.emplace(name, entry);
      auto above = folders.find(folderOf(name));
      if (above != folders.end()) pass.children[above->second].push_back(entry);
    }
  }
  auto known = pass.children.find(dirId);
  if (known != pass.children.end()) {
    for (uint32_t entry : known->second) {
      if (files->isObsolete(entry)) continue;
      bool isFolderEntry = files->getParent(entry) == 0;
      std::string full = isFolderEntry ? std::string(files->getText(entry)) : kolvo::joinPath(path, files->getText(entry));
      EntryStatus status = statusOf(AT_FDCWD, full.c_str());
      if (isFolderEntry) {
        if (!status.found || !S_ISDIR(status.mode)) markGone(entry, full, true, pass);
        continue;
      }
      if (!status.found || !S_ISREG(status.mode)) {
        markGone(entry, full, false, pass);
        continue;
      }
      if (fileChanged(entry, status) && refreshFile(entry, dirId, full, status)) markGone(entry, full, false, pass);
    }
  }
  updateDirectory(path, dirId);
}

void CKolvoIndex::markGone(uint32_t entry, const std::string& path, bool isFolder, PathPass& pass) {
  files->markObsolete(entry);
  if (pass.firstGone == 0 || entry < pass.firstGone) pass.firstGone = entry;
  if (isFolder)
    pass.goneFolders.insert(path);
  else
    pass.goneFiles.push_back(entry);
}

void CKolvoIndex::sweepGone(PathPass& pass) {
  // A file's members (archive members, mail messages, and theirs) are recorded while the
  // file is read, right after its entry: they are the live entries that follow it
  // directly and hang from it or from one another. Only they need a look, so a changed
  // file costs the same in any size of table.
  if (pass.goneFolders.empty()) {
    for (uint32_t gone : pass.goneFiles) {
      for (uint32_t entry = files->getNext(gone); entry && entry < pass.limit; entry = files->getNext(entry)) {
        if (files->isObsolete(entry)) break;
        uint32_t parent = files->getParent(entry);
        if (parent == 0 || !files->isEntry(parent) || !files->isObsolete(parent)) break;
        files->markObsolete(entry);
      }
    }
    return;
  }
  // What lived in a folder that is gone is gone with it: its files and their members,
  // its subfolders and theirs. Each comes after what holds it in the table.
  for (uint32_t entry = pass.firstGone; entry && entry < pass.limit; entry = files->getNext(entry)) {
    if (files->isObsolete(entry)) continue;
    uint32_t parent = files->getParent(entry);
    if (parent != 0) {
      if (files->isEntry(parent) && files->isObsolete(parent)) files->markObsolete(entry);
      continue;
    }
    std::string name = files->getText(entry);
    for (std::string above = folderOf(name); !above.empty(); above = folderOf(above)) {
      if (pass.goneFolders.count(above) == 0) continue;
      files->markObsolete(entry);
      pass.goneFolders.insert(name);
      break;
    }
  }
}
