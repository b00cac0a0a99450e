// The "watch" command of the index object (kolvocmd NAME -w): the roots are watched
// through inotify, and once the tree has been quiet for a moment the paths that changed
// are updated into a new build, one printed line per update. Folders it cannot watch,
// and everything after the kernel dropped events, are taken by full updates instead.
#include <cerrno>
#include <chrono>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <set>
#include <sstream>

#include "app/commands/text_tools.h"
#include "app/index/kolvo_index.h"
#include "app/index/kolvo_lib.h"
#include "app/index/watch_limits.h"
#include "app/platform/halt_request.h"
#include "app/platform/tree_watch.h"

namespace fs = std::filesystem;

namespace {

using Clock = std::chrono::steady_clock;

// A kernel limit as its file tells it, or "?".
std::string kernelLimit(const char* file) {
  std::ifstream in(file);
  std::string value;
  return in >> value ? value : "?";
}

std::string seconds(Clock::time_point since) {
  std::ostringstream text;
  text.precision(3);
  text << std::chrono::duration<double>(Clock::now() - since).count();
  return text.str();
}

// The first paths of an update and how many more there were.
std::string pathList(const std::set<std::string>& paths) {
  std::string text;
  size_t shown = 0;
  for (const std::string& path : paths) {
    if (shown == kolvo::limits::watchLinePaths) break;
    text += (shown++ ? ", " : "") + path;
  }
  if (paths.size() > shown)
    return QvKolvoIndex::qvkiWatchMore.text({text, std::to_string(paths.size() - shown)});
  return text;
}

void printLine(const std::string& line) { std::cout << line << '\n' << std::flush; }

}  // namespace

bool QvKolvoIndex::isUnwatchable(const std::string& path) const {
  std::string kolvoDirectory = mKolvoDirectory;
  while (kolvoDirectory.size() > 1 && kolvoDirectory.back() == '/') kolvoDirectory.pop_back();
  if (!kolvoDirectory.empty() && qvPathLiesIn(path, kolvoDirectory)) return true;
  auto matches = klib(kFileNameMatch);
  for (const std::string& pattern : mExcludePatterns)
    if (!pattern.empty() && matches(path.c_str(), pattern.c_str())) return true;
  return false;
}

void QvKolvoIndex::cmdWatch(QvResults& results) {
  std::vector<std::string> roots = createRootDirList();
  if (roots.empty()) throw QvCommandException(qvkiWatchNoRoots);
  QvStopScope stop;
  struct Watching {
    bool& flag;
    ~Watching() { flag = false; }
  } watching{mWatching = true};
  mExclusionsTold = false;
  QvTreeWatch watch([this](const std::string& path) { return isUnwatchable(path); });
  if (!watch.open()) throw QvCommandException(qvkiWatchCannot, std::vector<std::string>{std::strerror(errno)});
  for (const std::string& root : roots) watch.watchTree(root);
  std::string rootList;
  for (const std::string& root : roots) rootList += (rootList.empty() ? "" : ", ") + root;
  printLine(qvkiWatchStarted.text({std::to_string(watch.watchCount()), rootList}));

  // Each update is whole or not at all: a failed one leaves the build before it, and
  // the watch goes on, with a full update at the next fallback time.
  bool fallbackDue = false;
  auto run = [&](const std::function<void()>& update, const QvMessage& line, const std::string& what) {
    Clock::time_point start = Clock::now();
    try {
      update();
      printLine(line.text({what, seconds(start)}));
      deleteOtherBuilds(getBuildNumber(mBasePath));
    } catch (const QvCommandException& error) {
      showWarning(qvkiWatchFailed.text({error.message()}));
      fallbackDue = true;
    }
  };
  auto fullUpdate = [&](const std::string& why) {
    run([this] { update(); }, qvkiWatchFullUpdate, why);
  };
  // What changed while nothing watched comes in first.
  fullUpdate("start");

  const auto quiet = std::chrono::milliseconds(mWatchQuiet);
  const auto longest = std::chrono::milliseconds(mWatchLongest);
  const auto fallback = std::chrono::seconds(mWatchFallback);
  std::set<std::string> changed;
  bool fullDue = false, toldLimit = false, toldOverflow = false;
  Clock::time_point first, last, nextFallback = Clock::now() + fallback;
  while (!QvStopScope::stopRequested()) {
    bool pending = !changed.empty() || fullDue;
    if (watch.collect(kolvo::limits::watchPollMilliseconds, changed)) {
      last = Clock::now();
      if (!pending) first = last;
    }
    if (watch.overflowed()) {
      if (!toldOverflow) showWarning(qvkiWatchOverflow.text({kernelLimit("/proc/sys/fs/inotify/max_queued_events")}));
      toldOverflow = fullDue = true;
      watch.clearOverflow();
      if (!pending) first = last = Clock::now();
    }
    if (watch.watchLimitMet() && !toldLimit) {
      toldLimit = true;
      showWarning(qvkiWatchLimit.text({kernelLimit("/proc/sys/fs/inotify/max_user_watches"),
                                       std::to_string(watch.unwatched().size()), std::to_string(mWatchFallback)}));
    }
    if (QvStopScope::stopRequested()) break;
    Clock::time_point now = Clock::now();
    if ((!changed.empty() || fullDue) && (now - last >= quiet || now - first >= longest)) {
      if (fullDue) {
        fullUpdate("events missed");
      } else {
        // Nothing else can have changed unseen while every folder is watched.
        std::vector<std::string> paths(changed.begin(), changed.end());
        bool allWatched = watch.unwatched().empty();
        run([&] { updatePaths(paths, allWatched); }, qvkiWatchUpdated, pathList(changed));
      }
      changed.clear();
      fullDue = false;
    }
    if (now < nextFallback) continue;
    nextFallback = now + fallback;
    // Roots that came back and folders the limit kept out are watched again where they
    // can be; a root that came back needs a build, the rest a full update.
    bool rootBack = false;
    for (const std::string& root : roots) {
      if (watch.watching(root) || isUnwatchable(root) || !fs::is_directory(root)) continue;
      watch.watchTree(root);
      rootBack = true;
    }
    std::set<std::string> unwatched = watch.unwatched();
    for (const std::string& folder : unwatched) watch.watchTree(folder);
    if (rootBack) {
      run([this] { build(); }, qvkiWatchFullUpdate, "root back");
    } else if (!unwatched.empty() || fallbackDue) {
      fullUpdate("fallback");
    }
    fallbackDue = false;
  }
  results.push_back(qvkiWatchEnded.text());
}
