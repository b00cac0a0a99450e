#include "app/platform/tree_watch.h"

#include <dirent.h>
#include <poll.h>
#include <sys/inotify.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <memory>

namespace {

// What a folder's watch reports: files written and closed, entries made, removed and
// moved in or out, and the folder itself removed or moved. Links are never followed.
constexpr uint32_t kWatchMask = IN_CLOSE_WRITE | IN_CREATE | IN_DELETE | IN_MOVED_FROM | IN_MOVED_TO |
                                IN_DELETE_SELF | IN_MOVE_SELF | IN_ONLYDIR | IN_DONT_FOLLOW | IN_EXCL_UNLINK;

std::string joined(const std::string& folder, const std::string& name) {
  if (name.empty()) return folder;
  return folder == "/" ? "/" + name : folder + "/" + name;
}

bool isFolder(const std::string& path) {
  struct stat status {};
  return lstat(path.c_str(), &status) == 0 && S_ISDIR(status.st_mode);
}

}  // namespace

bool qvPathLiesIn(const std::string& path, const std::string& folder) {
  return path == folder || (path.size() > folder.size() && path.compare(0, folder.size(), folder) == 0 &&
                            (folder == "/" || path[folder.size()] == '/'));
}

int QvWatchCalls::init() { return inotify_init1(IN_NONBLOCK | IN_CLOEXEC); }
int QvWatchCalls::addWatch(int descriptor, const char* path, uint32_t mask) {
  return inotify_add_watch(descriptor, path, mask);
}
int QvWatchCalls::removeWatch(int descriptor, int watch) { return inotify_rm_watch(descriptor, watch); }
ssize_t QvWatchCalls::read(int descriptor, void* buffer, size_t size) { return ::read(descriptor, buffer, size); }
namespace {
QvWatchCalls* gReplacedCalls = nullptr;
}  // namespace

QvWatchCalls& QvWatchCalls::standard() {
  static QvWatchCalls calls;
  return gReplacedCalls ? *gReplacedCalls : calls;
}

void QvWatchCalls::replaceStandard(QvWatchCalls* calls) { gReplacedCalls = calls; }

QvTreeWatch::QvTreeWatch(std::function<bool(const std::string&)> skip, QvWatchCalls& calls)
    : mSkip(std::move(skip)), mCalls(calls) {}

QvTreeWatch::~QvTreeWatch() {
  if (mDescriptor >= 0) ::close(mDescriptor);
}

bool QvTreeWatch::open() {
  if (mDescriptor < 0) mDescriptor = mCalls.init();
  return mDescriptor >= 0;
}

void QvTreeWatch::watchTree(const std::string& folder) {
  // Folder by folder, without recursion: a deep tree holds no stack per level.
  std::vector<std::string> pending{folder};
  while (!pending.empty()) {
    std::string next = std::move(pending.back());
    pending.pop_back();
    addOne(next, pending);
  }
}

void QvTreeWatch::addOne(const std::string& folder, std::vector<std::string>& below) {
  if (mSkip(folder)) return;
  int watch = mCalls.addWatch(mDescriptor, folder.c_str(), kWatchMask);
  if (watch < 0) {
    // At the limit the folder and what lies below it are left to the full updates.
    if (errno == ENOSPC) {
      mLimitMet = true;
      mUnwatched.insert(folder);
    }
    return;
  }
  mPaths[watch] = folder;
  mUnwatched.erase(folder);
  std::unique_ptr<DIR, int (*)(DIR*)> listing(opendir(folder.c_str()), closedir);
  if (!listing) return;
  while (dirent* entry = readdir(listing.get())) {
    if (std::strcmp(entry->d_name, ".") == 0 || std::strcmp(entry->d_name, "..") == 0) continue;
    std::string path = joined(folder, entry->d_name);
    bool folderEntry = entry->d_type == DT_DIR || (entry->d_type == DT_UNKNOWN && isFolder(path));
    if (folderEntry) below.push_back(path);
  }
}

void QvTreeWatch::forgetTree(const std::string& folder) {
  for (auto at = mPaths.begin(); at != mPaths.end();) {
    if (qvPathLiesIn(at->second, folder)) {
      mCalls.removeWatch(mDescriptor, at->first);
      at = mPaths.erase(at);
    } else {
      ++at;
    }
  }
}

bool QvTreeWatch::watching(const std::string& folder) const {
  for (const auto& [watch, path] : mPaths)
    if (path == folder) return true;
  return false;
}

bool QvTreeWatch::collect(int timeoutMs, std::set<std::string>& changed) {
  if (mDescriptor < 0) return false;
  pollfd waiting{mDescriptor, POLLIN, 0};
  if (poll(&waiting, 1, timeoutMs) <= 0) return false;
  // Aligned for the event records the kernel writes into it.
  alignas(inotify_event) char buffer[64 * 1024];
  for (;;) {
    ssize_t got = mCalls.read(mDescriptor, buffer, sizeof buffer);
    if (got <= 0) return true;
    for (ssize_t at = 0; at + static_cast<ssize_t>(sizeof(inotify_event)) <= got;) {
      inotify_event event;
      std::memcpy(&event, buffer + at, sizeof event);
      size_t length = event.len;
      if (at + static_cast<ssize_t>(sizeof event + length) > got) break;
      std::string name(buffer + at + sizeof event, ::strnlen(buffer + at + sizeof event, length));
      handle(event.wd, event.mask, name, changed);
      at += static_cast<ssize_t>(sizeof event + length);
    }
  }
}

void QvTreeWatch::handle(int watch, uint32_t mask, const std::string& name, std::set<std::string>& changed) {
  if (mask & IN_Q_OVERFLOW) {
    mOverflowed = true;
    return;
  }
  auto known = mPaths.find(watch);
  if (known == mPaths.end()) return;
  const std::string folder = known->second;
  if (mask & IN_IGNORED) {
    // A folder unmounted or replaced under its name is watched again as it is now.
    mPaths.erase(known);
    if (isFolder(folder)) {
      watchTree(folder);
      changed.insert(folder);
    }
    return;
  }
  const std::string path = joined(folder, name);
  if (mSkip(path)) return;
  if (mask & (IN_DELETE_SELF | IN_MOVE_SELF | IN_UNMOUNT)) {
    if (mask & IN_MOVE_SELF) forgetTree(folder);
    changed.insert(folder);
    return;
  }
  if (mask & IN_ISDIR) {
    if (mask & (IN_MOVED_FROM | IN_DELETE)) forgetTree(path);
    if (mask & (IN_CREATE | IN_MOVED_TO)) watchTree(path);
  }
  changed.insert(path);
}
