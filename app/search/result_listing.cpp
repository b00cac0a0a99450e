#include "app/search/result_listing.h"

#include <algorithm>
#include <unordered_set>

#include "app/index/kolvo_lib.h"

namespace {

const QvEngineEntry<decltype(&::kfsGetRecords)> kGetRecords("kfsGetRecords");

}  // namespace

std::vector<KolvoFileRecord> QvResultListing::records(const std::vector<kulong>& files) const {
  std::vector<KolvoFileRecord> found(files.size(), KolvoFileRecord{nullptr, 0, 0, 0.0});
  if (!files.empty()) kGetRecords(mFiles, files.data(), static_cast<kulong>(files.size()), found.data());
  return found;
}

KolvoFileRecord QvResultListing::record(kulong file) const {
  KolvoFileRecord found{nullptr, 0, 0, 0.0};
  kGetRecords(mFiles, &file, 1, &found);
  return found;
}

const std::string& QvResultListing::parentPath(kulong file, kulong parent) {
  static const std::string kNone;
  if (parent == 0) return kNone;
  if (parent == mLastParent && mLastPath) return *mLastPath;
  if (auto known = mPaths.find(parent); known != mPaths.end()) {
    mLastParent = parent;
    mLastPath = &known->second;
    return known->second;
  }
  // Up from parent to a folder whose path is known, a folder of no parent, a number
  // that is no entry, or one met before (a damaged table's loop, the file included).
  std::vector<std::pair<kulong, std::string>> chain;
  std::unordered_set<kulong> seen{file};
  const std::string* above = &kNone;
  bool looped = false;
  for (kulong folder = parent; folder != 0;) {
    if (auto known = mPaths.find(folder); known != mPaths.end()) {
      above = &known->second;
      break;
    }
    if (!seen.insert(folder).second) {
      looped = true;
      break;
    }
    KolvoFileRecord entry = record(folder);
    if (!entry.name) break;
    chain.emplace_back(folder, entry.name);
    folder = entry.parent;
  }
  std::string path = *above;
  if (looped) {
    for (auto it = chain.rbegin(); it != chain.rend(); ++it) path += it->second + "/";
    mLoopPath = std::move(path);
    return mLoopPath;
  }
  const std::string* made = &kNone;
  for (auto it = chain.rbegin(); it != chain.rend(); ++it) {
    path += it->second + "/";
    made = &(mPaths[it->first] = path);
  }
  if (!chain.empty() && chain.front().first == parent) {
    mLastParent = parent;
    mLastPath = made;
  }
  return *made;
}

QvKolvoResult QvResultListing::describe(kulong file) {
  QvKolvoResult result;
  KolvoFileRecord entry = record(file);
  if (!entry.name) return result;
  result.mFileName = entry.name;
  result.mTimeLastWritten = entry.timeLastWritten;
  result.mSize = std::to_string(entry.size);
  result.mParentPath = parentPath(file, entry.parent);
  return result;
}
