// QvTreeWatch: the folders of an index's roots watched through inotify, and the paths
// that changed under them. The index object's "watch" command uses it; the kernel's calls
// go through QvWatchCalls, a seam where tests make watches fail or the queue overflow.
#pragma once

#include <sys/types.h>

#include <cstdint>
#include <functional>
#include <map>
#include <set>
#include <string>
#include <vector>

// Whether path is folder or lies below it.
bool qvPathLiesIn(const std::string& path, const std::string& folder);

// The inotify calls the watch makes; the standard one goes to the kernel.
class QvWatchCalls {
 public:
  virtual ~QvWatchCalls() = default;
  virtual int init();
  virtual int addWatch(int descriptor, const char* path, uint32_t mask);
  virtual int removeWatch(int descriptor, int watch);
  virtual ssize_t read(int descriptor, void* buffer, size_t size);
  // The calls a watch makes unless it is given others: the kernel's, or those a test put
  // in their place (null puts the kernel's back).
  static QvWatchCalls& standard();
  static void replaceStandard(QvWatchCalls* calls);
};

class QvTreeWatch {
 public:
  // skip tells the folders never to watch (excluded paths, the kolvo directory).
  explicit QvTreeWatch(std::function<bool(const std::string&)> skip, QvWatchCalls& calls = QvWatchCalls::standard());
  ~QvTreeWatch();
  QvTreeWatch(const QvTreeWatch&) = delete;
  QvTreeWatch& operator=(const QvTreeWatch&) = delete;

  // False when inotify itself cannot be had (errno tells why).
  bool open();
  // Watches folder and every folder below it; symbolic links are not followed.
  void watchTree(const std::string& folder);
  // Waits at most timeoutMs for events and adds the paths they name to changed; whether
  // any came.
  bool collect(int timeoutMs, std::set<std::string>& changed);
  bool watching(const std::string& folder) const;

  // The kernel dropped events: what changed since is not known.
  bool overflowed() const { return mOverflowed; }
  void clearOverflow() { mOverflowed = false; }
  // Folders that could not be watched because the per-user limit of watches was met,
  // and whether that happened at all since the watch began.
  const std::set<std::string>& unwatched() const { return mUnwatched; }
  bool watchLimitMet() const { return mLimitMet; }
  size_t watchCount() const { return mPaths.size(); }

 private:
  void addOne(const std::string& folder, std::vector<std::string>& below);
  void forgetTree(const std::string& folder);
  void handle(int watch, uint32_t mask, const std::string& name, std::set<std::string>& changed);

  std::function<bool(const std::string&)> mSkip;
  QvWatchCalls& mCalls;
  int mDescriptor = -1;
  std::map<int, std::string> mPaths;  // watch -> folder
  std::set<std::string> mUnwatched;
  bool mOverflowed = false;
  bool mLimitMet = false;
};
