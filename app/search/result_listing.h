// The local files of a result set as listresults shows them, read from the engine's
// file table many at once, with each folder's path made once however many of its
// files are listed. The index object lists and describes its files through it.
#pragma once

#include <string>
#include <unordered_map>
#include <vector>

#include "app/search/kolvo_results.h"
#include "include/kolvolib.h"

class QvResultListing {
 public:
  explicit QvResultListing(CFileStorage* files) : mFiles(files) {}

  // The records of files, in their order; a number that is no entry has a null name.
  std::vector<KolvoFileRecord> records(const std::vector<kulong>& files) const;
  // The parent path of file, whose parent is parent: each folder's name and "/",
  // outermost first, up to a folder of no parent or a number that is no entry.
  const std::string& parentPath(kulong file, kulong parent);
  // file described as a result of rank 0 (no entry: an empty name and path).
  QvKolvoResult describe(kulong file);
  KolvoFileRecord record(kulong file) const;

 private:

  CFileStorage* mFiles;
  // Paths of folders whose chain of parents ends without meeting a folder twice: the
  // same for every file below them.
  std::unordered_map<kulong, std::string> mPaths;
  // The path of a folder met in a loop of parents, which depends on the file listed.
  std::string mLoopPath;
  // The folder asked for last and its path in mPaths: files of one folder come together.
  kulong mLastParent = 0;
  const std::string* mLastPath = nullptr;
};
