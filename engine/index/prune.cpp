// The update of a stored index: every stored entry is visited once; vanished entries are
// marked obsolete, modified files are indexed again under new entries, and the new
// entries of modified folders are added. Like the build, it never follows symbolic links.
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <ctime>
#include <memory>
#include <system_error>
#include <string>
#include <thread>
#include <vector>

#include "engine/analyzers/file_analyzer.h"
#include "engine/index/kolvo_index.h"
#include "engine/index/status_batch.h"
#include "engine/index/walk_support.h"
#include "engine/kolvolib/error_reporting.h"
#include "engine/storage/file_storage.h"

void CKolvoIndex::pruneParentError(uint32_t file, uint32_t parent) {
  std::unique_ptr<std::FILE, int (*)(std::FILE*)> dead(std::fopen("deadkolvo.txt", "w"), std::fclose);
  if (dead) {
    const char* name = files->getText(file);
    std::fprintf(dead.get(), "Name %s\nnFile %x\npFileInfo->m_nParent %x\npFolderInfo %x\n", name ? name : "", file,
                 parent, 0u);
  }
  kolvo::throwKolvoError("PruneParentError");
}

namespace {

using kolvo::EntryStatus;
using kolvo::statusOf;

// A stored entry whose status is taken ahead: a folder entry named by its path, a file
// by its name in a folder of the window.
struct PathStatus {
  uint32_t entry = 0;
  size_t folder = 0;  // index into the window's folders; noFolder for a folder entry
  size_t name = 0;    // where its name starts in the window's names
  EntryStatus status;
};

constexpr size_t noFolder = static_cast<size_t>(-1);

// The entries of a window, their names one after another, each ended by a NUL (copied:
// the table may move while the window's statuses are taken), and the paths of the
// folders their files lie in.
struct StatusWindow {
  std::vector<PathStatus> entries;
  std::string names;
  std::vector<std::string> folders;
  const char* nameOf(const PathStatus& taken) const { return names.c_str() + taken.name; }
  void add(uint32_t entry, size_t folder, const char* name) {
    entries.push_back(PathStatus{entry, folder, names.size(), {}});
    names.append(name).push_back('\0');
  }
};

// A folder opened only to take its files' statuses relative to it, which spares the
// kernel walking the whole path again for every file.
class FolderHandle {
 public:
  FolderHandle() = default;
  ~FolderHandle() { close(); }
  FolderHandle(const FolderHandle&) = delete;
  FolderHandle& operator=(const FolderHandle&) = delete;

  // The handle of folders[at], or -1 when it cannot be opened.
  int open(const std::vector<std::string>& folders, size_t at) {
    if (at != openFolder) {
      close();
      openFolder = at;
      descriptor = ::open(folders[at].c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC);
    }
    return descriptor;
  }

 private:
  void close() {
    if (descriptor >= 0) ::close(descriptor);
    descriptor = -1;
  }
  int descriptor = -1;
  size_t openFolder = noFolder;
};

// The statuses of the next window of entries, taken by a few threads while the update
// goes through the window before, which is where its indexing is done: one status call
// per stored entry is most of an update's time when little has changed, and with a cold
// inode cache each call waits on the disk, so several calls in flight help. The update's
// thread joins in for what is left when it comes to the window, so neither waits long
// for the others. Every thread only fills the slots of entries it took from one shared
// cursor, in memory made beforehand: what the visit reads is the same however many
// threads took it.
class StatusesAhead {
 public:
  StatusesAhead(unsigned helpers, bool batched) : helpers(helpers), batched(batched), own(batched) {}
  ~StatusesAhead() { wait(); }
  StatusesAhead(const StatusesAhead&) = delete;
  StatusesAhead& operator=(const StatusesAhead&) = delete;

  void start(StatusWindow paths) {
    wait();
    window = std::move(paths);
    cursor.store(0);
    started = !window.entries.empty();
    if (!started) return;
    first = window.entries.front().entry;
    // No more threads than a share of the window worth the start of one.
    size_t wanted = std::min<size_t>(helpers, window.entries.size() / kolvo::limits::statusesPerThread);
    for (size_t i = 0; i < wanted; ++i) {
      try {
        takers.emplace_back([this] {
          kolvo::StatusBatch batch(batched);
          takeStatuses(batch);
        });
      } catch (const std::system_error&) {
        break;  // fewer threads, or none: take() takes what is left
      }
    }
  }
  bool pending() const { return started; }
  uint32_t firstEntry() const { return first; }
  StatusWindow take() {
    takeStatuses(own);
    wait();
    started = false;
    return std::move(window);
  }

 private:
  // Each thread takes a share of entries at a time from the cursor, and asks the
  // statuses of each run of them in one folder together.
  void takeStatuses(kolvo::StatusBatch& batch) {
    constexpr size_t share = kolvo::limits::statusBatchSize;
    FolderHandle handle;
    const char* names[share];
    EntryStatus statuses[share];
    const size_t size = window.entries.size();
    for (size_t begin = cursor.fetch_add(share); begin < size; begin = cursor.fetch_add(share)) {
      const size_t end = std::min(size, begin + share);
      for (size_t run = begin, after = begin; run < end; run = after) {
        const size_t folderAt = window.entries[run].folder;
        for (after = run; after < end && window.entries[after].folder == folderAt; ++after)
          names[after - run] = window.nameOf(window.entries[after]);
        int folder = AT_FDCWD;
        if (folderAt != noFolder && (folder = handle.open(window.folders, folderAt)) < 0) {
          // A folder that cannot be opened (no descriptor left, say) is still asked by path.
          for (size_t i = run; i < after; ++i)
            window.entries[i].status =
                statusOf(AT_FDCWD, (window.folders[folderAt] + "/" + window.nameOf(window.entries[i])).c_str());
          continue;
        }
        batch.take(folder, names, statuses, after - run);
        for (size_t i = run; i < after; ++i) window.entries[i].status = statuses[i - run];
      }
    }
  }
  void wait() {
    for (std::thread& taker : takers) taker.join();
    takers.clear();
  }

  const unsigned helpers;
  const bool batched;
  kolvo::StatusBatch own;  // the visit's own, for what it takes itself
  StatusWindow window;
  std::atomic<size_t> cursor{0};
  bool started = false;
  uint32_t first = 0;
  std::vector<std::thread> takers;
};

}  // namespace

void CKolvoIndex::beginUpdatePass() {
  kolvo::kolvoCheck(files && words && fileLinks, "update of an index without its tables");
  kolvo::kolvoCheck(wordLinks == nullptr, "update while links are being built");
  wordLinks = new CWordLinks(indexPath + "temp", 65535, 1048575, useRanking);
  enableWrite(true);
  passWordLimit = words->used();
  passBegan = static_cast<int32_t>(std::time(nullptr));
}

void CKolvoIndex::prune() {
  beginUpdatePass();
  const uint32_t limit = files->used();
  auto pathOf = [&](uint32_t entry, uint32_t parent) {
    return parent == 0 ? std::string(files->getText(entry))
                       : std::string(files->getText(parent)) + "/" + files->getText(entry);
  };
  // The statuses are taken ahead, a window of entries at a time, for the entries the
  // visit will stat; any other entry the visit meets is taken there. The first window is
  // small, as the visit waits for it; every later one is taken while the visit goes
  // through the one before.
  StatusWindow ahead;
  size_t next = 0;
  uint32_t collected = files->getFirst();
  auto collect = [&](size_t size) {
    StatusWindow paths;
    paths.entries.reserve(size);
    uint32_t lastFolder = 0;
    for (; collected && collected < limit && paths.entries.size() < size; collected = files->getNext(collected)) {
      if (files->isObsolete(collected)) continue;
      uint32_t parent = files->getParent(collected);
      if (parent == 0) {
        paths.add(collected, noFolder, files->getText(collected));
        continue;
      }
      // The files of a folder lie together in the table, so each folder comes once a run.
      if (parent != lastFolder) {
        if (!files->isEntry(parent) || files->getParent(parent) != 0) continue;
        paths.folders.emplace_back(files->getText(parent));
        lastFolder = parent;
      }
      paths.add(collected, paths.folders.size() - 1, files->getText(collected));
    }
    return paths;
  };
  StatusesAhead coming(updateStatusThreads, batchedStatuses);
  coming.start(collect(kolvo::limits::statusFirstWindow));
  ahead = coming.take();
  coming.start(collect(kolvo::limits::statusWindow));
  uint32_t count = 0;
  for (uint32_t entry = files->getFirst(); entry && entry < limit; entry = files->getNext(entry)) {
    ++count;
    if (reportDue()) reportProgress("UpdatingStatus", std::to_string(count) + "/" + std::to_string(filesIndexed));
    if (files->isObsolete(entry)) continue;
    uint32_t parent = files->getParent(entry);
    bool isDirectoryEntry = parent == 0;
    if (!isDirectoryEntry) {
      if (!files->isEntry(parent)) pruneParentError(entry, parent);
      if (files->getParent(parent) != 0) {
        // A member of an archive or a mailbox lives and dies with its container, which
        // comes before it in the table: a container replaced or gone takes it along.
        if (files->isObsolete(parent)) files->markObsolete(entry);
        continue;
      }
    }
    if (next >= ahead.entries.size() && coming.pending() && coming.firstEntry() <= entry) {
      ahead = coming.take();
      next = 0;
      coming.start(collect(kolvo::limits::statusWindow));
    }
    while (next < ahead.entries.size() && ahead.entries[next].entry < entry) ++next;
    EntryStatus status;
    if (next < ahead.entries.size() && ahead.entries[next].entry == entry)
      status = ahead.entries[next++].status;
    else
      status = statusOf(AT_FDCWD, pathOf(entry, parent).c_str());
    // What is gone, or is now a link or another kind of thing, has vanished for the index.
    bool vanished = !status.found || (isDirectoryEntry ? !S_ISDIR(status.mode) : !S_ISREG(status.mode));
    if (vanished) {
      files->markObsolete(entry);
      continue;
    }
    // A folder's time tells whether entries came or went; a file's own time and size
    // whether its text did.
    if (isDirectoryEntry) {
      if (status.modified > timeBase) updateDirectory(pathOf(entry, parent), entry);
      continue;
    }
    if (fileChanged(entry, status)) refreshFile(entry, parent, pathOf(entry, parent), status);
  }
}

bool CKolvoIndex::fileChanged(uint32_t entry, const kolvo::EntryStatus& status) const {
  if (status.modified != files->getTime(entry) || status.size != files->getSize(entry)) return true;
  // As recorded, but written after the time base: it may have been written again in the
  // second the last pass read it. A time the clock has not reached is no such second: a
  // file dated in the future would otherwise be read again, under a new entry, by every
  // update.
  return status.modified > timeBase && status.modified <= passBegan;
}

bool CKolvoIndex::refreshFile(uint32_t entry, uint32_t parent, const std::string& path,
                              const kolvo::EntryStatus& status) {
  CFileAnalyzer* analyzer = chooseAnalyzer(path.c_str());
  if (!analyzer && !trackAll) return false;
  if (!analyzer) {
    files->setAttributes(entry, 0);
    files->setTime(entry, status.modified);
    files->setSize(entry, status.size);
    return false;
  }
  // The new version gets an entry of its own; the analyzer counts the contents read.
  ++filesIndexed;
  std::string name = files->getText(entry);  // the table may move when it grows
  uint32_t fresh = files->addFile(name.c_str());
  files->markObsolete(entry);
  files->setParent(fresh, parent);
  files->setAttributes(fresh, 0);
  files->setTime(fresh, status.modified);
  files->setSize(fresh, status.size);
  analyzer->indexFile(path.c_str(), fresh);
  return true;
}

void CKolvoIndex::updateDirectory(const std::string& path, uint32_t dirId) {
  if (isKolvoDirectory(path)) return;
  std::vector<std::string> names;
  std::vector<unsigned char> types;
  if (!kolvo::listDirectory(path, names, types)) return;
  // A folder lists its files in the order the walk recorded them, and an update adds
  // the files it reads again in the order of the listing too: a listed file that is the
  // next stored entry of the folder in one of two places of the table, where the last
  // known name was found or where the last one looked up was, is known without a lookup
  // by name, which in a large index would first have every name of the table indexed.
  // Any other name is looked up; the lookup finds the same entries, only slower.
  uint32_t expected = files->getNext(dirId), late = 0;
  auto storedAt = [&](uint32_t at, const std::string& name) -> uint32_t {
    for (size_t skipped = 0; at && files->isObsolete(at); at = files->getNext(at))
      if (++skipped > kolvo::limits::listingObsoleteSkipped) return 0;
    return at && files->getParent(at) == dirId && name == files->getText(at) ? at : 0;
  };
  for (size_t i = 0; i < names.size(); ++i) {
    if (types[i] == DT_REG) {
      if (uint32_t known = storedAt(expected, names[i])) {
        expected = files->getNext(known);
        continue;
      }
      if (uint32_t known = late ? storedAt(late, names[i]) : 0) {
        late = files->getNext(known);
        continue;
      }
    }
    uint32_t known = addNewEntry(path, dirId, names[i], types[i]);
    if (known && files->getParent(known) == dirId && names[i] == files->getText(known)) late = files->getNext(known);
  }
}

uint32_t CKolvoIndex::addNewEntry(const std::string& path, uint32_t dirId, const std::string& name, unsigned char type) {
  std::string full = kolvo::joinPath(path, name);
  kolvo::EntryStatus status;
  // The listing tells most entries' kind: only new ones, and those of a file system
  // that does not tell, need their status.
  bool statusTaken = false;
  if (type == DT_UNKNOWN) {
    status = kolvo::statusOf(AT_FDCWD, full.c_str());
    if (!status.found) return 0;
    statusTaken = true;
  }
  bool isDirectory = statusTaken ? S_ISDIR(status.mode) : type == DT_DIR;
  bool isFile = statusTaken ? S_ISREG(status.mode) : type == DT_REG;
  if (!isDirectory && !isFile) return 0;  // links and special files
  uint32_t known = isDirectory ? files->lookupFile(full.c_str(), 0) : files->lookupFile(name.c_str(), dirId);
  if (known) return known;
  if (isExcluded(full.c_str())) return 0;
  if (!statusTaken) {
    // Taken without following a link: what became one since the listing is passed over.
    status = kolvo::statusOf(AT_FDCWD, full.c_str());
    if (!status.found || (isDirectory ? !S_ISDIR(status.mode) : !S_ISREG(status.mode))) return 0;
  }
  if (isDirectory) {
    // The walk counts the folder itself among the directories read.
    walkDirectory(full, recordDirectory(full, status.modified), 1);
    return 0;
  }
  CFileAnalyzer* analyzer = includedAnalyzer(full.c_str());
  if (!trackAll && !analyzer) return 0;
  uint32_t entry = recordFile(name.c_str(), dirId, status.modified, status.size);
  if (analyzer) {
    if (reportDue()) reportProgress("IndexingFile", full + "\t" + std::to_string(directoriesRead));
    analyzer->indexFile(full.c_str(), entry);
  }
  return 0;
}
