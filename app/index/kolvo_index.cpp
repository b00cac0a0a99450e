#include "app/index/kolvo_index.h"

#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <functional>
#include <fstream>
#include <map>
#include <set>
#include <sstream>
#include <thread>

#include "app/commands/command_interface.h"
#include "app/commands/text_tools.h"
#include "app/commands/xml_reader.h"
#include "app/index/kolvo_lib.h"
#include "app/index/watch_limits.h"
#include "app/platform/file_copy.h"
#include "app/platform/file_lock.h"
#include "app/platform/halt_request.h"
#include "app/platform/progress_line.h"
#include "app/referrals/referrals.h"
#include "app/search/search_criteria.h"
#include "app/search/word_files.h"

namespace fs = std::filesystem;

namespace {

using Arguments = std::vector<std::string>;

// Seconds between 1904-01-01 and 1970-01-01.
constexpr double kSeconds1904To1970 = 2082844800.0;

double nowSince1904() { return static_cast<double>(std::time(nullptr)) + kSeconds1904To1970; }

// The engine's counters for the progress line; read from inside its status callback.
QvProgressCounts countsOf(CKolvoIndex* index) {
  if (!index) return {};
  return {static_cast<double>(klibInCallback(kidxGetFilesIndexed)(index)),
          static_cast<double>(klibInCallback(kidxGetDirectoriesRead)(index)), klibInCallback(kidxGetBytesRead)(index)};
}

std::string decimal(double value) {
  std::ostringstream text;
  text << value;
  return text.str();
}

int toInt(const std::string& text) { return static_cast<int>(std::strtol(qvTrim(text).c_str(), nullptr, 10)); }

std::string boolText(bool value) { return value ? "true" : "false"; }

std::string hexEscape(unsigned char c) {
  static const char* digits = "0123456789ABCDEF";
  return std::string("\\x") + digits[c >> 4] + digits[c & 15];
}

bool isBuildName(const std::string& name) {
  if (!qvStartsWith(name, "build_") || name.size() == 6) return false;
  return std::all_of(name.begin() + 6, name.end(), [](char c) { return c >= '0' && c <= '9'; });
}

bool isPathPrefix(const std::string& prefix, const std::string& path) {
  if (prefix == path) return true;
  std::string folder = qvEndsWith(prefix, "/") ? prefix : prefix + "/";
  return qvStartsWith(path, folder);
}

// The engine appends to "links" past the extent each build records in its "hash", and
// never writes a byte an earlier build uses; "wordorder" it only ever replaces whole,
// under a new name renamed over the old. Consecutive builds can share both files.
bool isSharedTable(const std::string& name) { return name == "links" || name == "wordorder"; }

// Held by whoever makes a build of the index.
constexpr const char* updateLockName = "update.lock";

// Waits for the lock on an index's builds; the user's Ctrl-C ends the wait with a halt.
std::unique_ptr<QvFileLock> takeUpdateLock(const std::string& basePath) {
  auto lock =
      std::make_unique<QvFileLock>(basePath + updateLockName, qvHaltRequested, kolvo::limits::lockPollMilliseconds);
  if (lock->gaveUp()) throw QvCommandException(QvKolvoIndex::qvkiHaltRequested);
  return lock;
}

}  // namespace

QvNilObjectException::QvNilObjectException()
    : QvCommandException(QvMessage("QvKolvoApplication.qvNilObjectException",
                                   "An attempt was made to reference a Nil object")) {}

QvKolvoIndex::QvKolvoIndex(const std::string& name, QvCommandInterface& commandInterface)
    : QvCommandParent(name, commandInterface, "QvKolvoIndex"),
      mWatchQuiet(kolvo::limits::watchQuietMilliseconds),
      mWatchLongest(kolvo::limits::watchLongestWaitMilliseconds),
      mWatchFallback(kolvo::limits::watchFallbackSeconds) {}

QvKolvoIndex::~QvKolvoIndex() {
  try {
    close();
  } catch (const QvCommandException&) {
    // The library went away; nothing is left to release.
  }
}

std::shared_ptr<QvKolvoIndex> QvKolvoIndex::create(const std::string& name, QvCommandInterface& commandInterface) {
  auto index = qvCreateRoot<QvKolvoIndex>(commandInterface, name);
  index->mSearchCriteria = qvCreateChild<QvSearchCriteria>(*index, "criteria");
  index->mReferrals = qvCreateChild<QvReferrals>(*index, "referrals");
  index->clear(name);
  std::error_code ignored;
  if (!fs::exists(index->mTemporaryDirectory)) fs::create_directory(index->mTemporaryDirectory, ignored);
  return index;
}

std::string QvKolvoIndex::getKolvoDirectory() {
  const char* variable = std::getenv("KOLVODIR");
  if (variable && *variable) return variable;
  const char* home = std::getenv("HOME");
  std::string homeDirectory = home && *home ? home : "";
  if (homeDirectory.empty()) {
    if (const passwd* user = getpwuid(getuid())) homeDirectory = user->pw_dir;
  }
  return homeDirectory + "/.kolvo";
}

int QvKolvoIndex::getBuildNumber(const std::string& basePath) {
  std::ifstream file(basePath + "current_build");
  if (!file) return 0;
  std::string text((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
  text = qvTrim(text);
  if (text.empty() || !std::all_of(text.begin(), text.end(), [](char c) { return c >= '0' && c <= '9'; })) return 0;
  return toInt(text);
}

QvKolvoIndex::Paths QvKolvoIndex::determineIndexFileNames(const std::string& name) {
  Paths paths;
  paths.kolvoDirectory = getKolvoDirectory();
  paths.indexDirectory = paths.kolvoDirectory + "/indexes";
  paths.basePath = paths.indexDirectory + "/" + name + "/";
  paths.indexPath = paths.basePath + "build_" + std::to_string(getBuildNumber(paths.basePath)) + "/";
  paths.temporaryDirectory = paths.indexPath + "cache";
  return paths;
}

void QvKolvoIndex::clear(const std::string& name) {
  Paths paths = determineIndexFileNames(name);
  mKolvoDirectory = paths.kolvoDirectory;
  mTemporaryDirectory = paths.temporaryDirectory;
  mIndexDirectory = paths.indexDirectory;
  mBasePath = paths.basePath;
  mIndexPath = paths.indexPath;
  mMinWordLength = 3;
  mMaxWordLength = 32;
  mMaxPerFileRead = 10000000;
  mIsUpdate = false;
  mInternationalChar = mDefaultCharacterSet;
  mUseRanking = true;
  mTrackAll = true;
  mShowStatus = true;
  mNumberHandling = 0;
  mAddedChars.clear();
  mAddedTrailingChars.clear();
  mIncludePatterns.clear();
  mExcludePatterns.clear();
  mTimeBase = 0;
  mNumberFilesIndexed = mNumberWordsIndexed = mNumberBytesRead = mDirectoriesRead = mNumberFileContentsIndexed = 0;
  mSavePassword = false;
  mHideTags = true;
  mWordWrap = 120;
  mOutlineContents = true;
  if (mReferrals) mReferrals->clear();
  if (mSearchCriteria) mSearchCriteria->clear();
  mResults.clear();
  mSearchCount = 0;
  std::string script = mKolvoDirectory + "/startup.script";
  if (fs::exists(script)) {
    QvResults discarded;
    interpreter().readCommandsFromFile(script, discarded);
  }
  setCharacterMasks();
}

std::string QvKolvoIndex::addedLanguageCharacters(int international) {
  static const std::vector<std::pair<int, std::vector<unsigned char>>> groups = {
      {2, {0xE6, 0xF8, 0xE5, 0xC6, 0xD8, 0xC5}},
      {4, {0xE5, 0xE4, 0xE9, 0xF6, 0xFC, 0xC5, 0xC4, 0xC9, 0xD6, 0xDC}},
      {8, {0xE0, 0xC0, 0xE2, 0xC2, 0xE9, 0xC9, 0xE8, 0xC8, 0xEA, 0xCA, 0xEB, 0xCB, 0xEE, 0xCE,
           0xEF, 0xCF, 0xF4, 0xD4, 0xF6, 0xD6, 0xF9, 0xD9, 0xFB, 0xDB, 0xFC, 0xDC, 0xE7, 0xC7}},
      {16, {0xDF, 0xE4, 0xF6, 0xFC, 0xC4, 0xD6, 0xDC}},
      {32, {0xE1, 0xE9, 0xED, 0xF3, 0xFA, 0xC1, 0xC9, 0xCD, 0xD3, 0xDA, 0xF1, 0xFC}},
      {64, {0xE5, 0xE4, 0xF6, 0xC5, 0xC4, 0xD6}},
  };
  std::string characters;
  for (const auto& [bit, codes] : groups)
    if (international & bit)
      for (unsigned char c : codes) characters += static_cast<char>(c);
  return characters;
}

void QvKolvoIndex::setCharacterMasks() {
  mValidAnywhere.fill(false);
  mValidTrailing.fill(false);
  for (int c = 'a'; c <= 'z'; ++c) mValidAnywhere[c] = mValidTrailing[c] = true;
  for (int c = 'A'; c <= 'Z'; ++c) mValidAnywhere[c] = mValidTrailing[c] = true;
  mValidAnywhereStr = mValidTrailingStr = "a-zA-Z";
  for (char ch : mAddedChars) {
    auto c = static_cast<unsigned char>(ch);
    mValidAnywhere[c] = mValidTrailing[c] = true;
    mValidAnywhereStr += hexEscape(c);
    mValidTrailingStr += hexEscape(c);
  }
  for (char ch : mAddedTrailingChars) {
    auto c = static_cast<unsigned char>(ch);
    mValidTrailing[c] = true;
    mValidTrailingStr += hexEscape(c);
  }
  if (mNumberHandling == 2) {
    for (int c = '0'; c <= '9'; ++c) mValidAnywhere[c] = mValidTrailing[c] = true;
    mValidAnywhereStr += "\\d";
    mValidTrailingStr += "\\d";
  } else if (mNumberHandling == 1) {
    for (int c = '0'; c <= '9'; ++c) mValidTrailing[c] = true;
    mValidTrailingStr += "\\d";
  }
  if (mInternationalChar & 1) {
    for (int c = 0xC0; c <= 0xFF; ++c) mValidAnywhere[c] = mValidTrailing[c] = true;
    mValidAnywhereStr += "\\xC0-\\xFF";
    mValidTrailingStr += "\\xC0-\\xFF";
  } else if (mInternationalChar != 0) {
    for (char ch : addedLanguageCharacters(mInternationalChar)) {
      auto c = static_cast<unsigned char>(ch);
      mValidAnywhere[c] = mValidTrailing[c] = true;
      mValidAnywhereStr += hexEscape(c);
      mValidTrailingStr += hexEscape(c);
    }
  }
  mValidViewable = mValidTrailing;
  for (int c = '0'; c <= '9'; ++c) mValidViewable[c] = true;
  mNonAlphaCharacters.fill(false);
  auto mark = [this](int from, int to) {
    for (int c = from; c <= to; ++c) mNonAlphaCharacters[c] = true;
  };
  mark(9, 9);
  mark(0x20, 0x2F);
  mark(0x3A, 0x40);
  mark(0x5B, 0x60);
  mark(0x7B, 0x7E);
  mark(0x82, 0x89);
  mark(0x8B, 0x8B);
  mark(0x91, 0x99);
  mark(0x9B, 0x9B);
  mark(0xA0, 0xBF);
  mark(0xD7, 0xD7);
  mark(0xF7, 0xF7);
}

void QvKolvoIndex::addToStringList(const std::string& text, std::vector<std::string>& list) {
  mTimeBase = 0;
  std::string rest = qvTrim(text);
  std::vector<std::string> entries;
  for (;;) {
    std::size_t open = rest.find('"');
    if (open == std::string::npos) break;
    std::size_t close = rest.find('"', open + 1);
    if (close == std::string::npos) break;
    entries.push_back(rest.substr(open + 1, close - open - 1));
    rest.erase(open, close - open + 1);
  }
  std::size_t lineFeed = rest.find('\n');
  if (lineFeed != std::string::npos) rest[lineFeed] = '\t';
  for (const std::string& piece : qvSplit(rest, '\t')) entries.push_back(qvTrim(piece));
  for (const std::string& entry : entries) {
    if (entry.empty()) continue;
    bool known = std::any_of(list.begin(), list.end(), [&](const std::string& e) { return qvEqualsCaseless(e, entry); });
    if (!known) list.push_back(entry);
  }
}

void QvKolvoIndex::makeDirectoriesTo(const std::string& path) {
  std::error_code error;
  if (fs::exists(path, error) && !fs::is_directory(path, error))
    throw QvCommandException(qvkiMakeDirNotDir, Arguments{path});
  fs::path target = fs::absolute(path, error);
  fs::path built;
  for (const fs::path& component : target) {
    built /= component;
    if (component.empty() || component == "/") continue;
    if (fs::exists(built, error)) {
      if (!fs::is_directory(built, error)) throw QvCommandException(qvkiMakeDirNotDir, Arguments{built.string()});
      continue;
    }
    if (!fs::create_directory(built, error) && !fs::is_directory(built))
      throw QvCommandException(qvkiMakeDirNotDir, Arguments{built.string()});
  }
}

void QvKolvoIndex::copyDirectoryTree(const std::string& from, const std::string& to, bool shareTables) {
  std::error_code error;
  auto failure = [&] {
    return QvCommandException(qvkiCopyIndexError,
                              Arguments{fs::absolute(from, error).string(), fs::absolute(to, error).string()});
  };
  if (!fs::is_directory(from, error) || !fs::is_directory(to, error)) throw failure();
  for (const fs::directory_entry& entry : fs::directory_iterator(from, error)) {
    fs::path target = fs::path(to) / entry.path().filename();
    if (entry.is_directory(error) && !entry.is_symlink(error)) {
      if (!fs::is_directory(target, error) && !fs::create_directory(target, error)) throw failure();
      copyDirectoryTree(entry.path().string(), target.string());
    } else if (entry.is_regular_file(error)) {
      bool linked = false;
      if (shareTables && isSharedTable(entry.path().filename().string())) {
        std::error_code refused;
        fs::create_hard_link(entry.path(), target, refused);
        linked = !refused;  // without links the table is copied: the same, only dearer
      }
      if (!linked && !qvCopyFileContents(entry.path().string(), target.string())) throw failure();
    }
  }
  if (error) throw failure();
}

void QvKolvoIndex::checkIndexName(const std::string& name) {
  if (name.empty() || name.find('/') != std::string::npos || name.find("..") != std::string::npos)
    throw QvCommandException(qvkiBadIndexName, Arguments{name});
}

CKolvoIndex* QvKolvoIndex::engineIndex() const {
  if (!mIndex) throw QvNilObjectException();
  return mIndex;
}

void QvKolvoIndex::close() {
  // File numbers mean nothing once the tables they point into are gone.
  mResults.clear();
  CKolvoIndex* index = mIndex;
  mIndex = nullptr;
  if (index) klib(kidxClearIndex)(index);
}

void QvKolvoIndex::cleanup() {
  try {
    close();
  } catch (const QvCommandException&) {
  }
  QvCommandParent::cleanup();
}

void QvKolvoIndex::loadParameters() {
  setCharacterMasks();
  CKolvoIndex* index = engineIndex();
  klib(kidxSetMinWordLength)(index, static_cast<kulong>(mMinWordLength));
  klib(kidxSetMaxWordLength)(index, static_cast<kulong>(mMaxWordLength));
  klib(kidxSetMaxPerFileRead)(index, static_cast<kulong>(mMaxPerFileRead));
  klib(kidxSetIsUpdate)(index, mIsUpdate);
  klib(kidxSetUseRanking)(index, mUseRanking);
  klib(kidxSetInternationalChar)(index, mInternationalChar);
  klib(kidxSetSavePassword)(index, mSavePassword);
  klib(kidxSetTrackAll)(index, mTrackAll);
  klib(kidxSetShowStatus)(index, mShowStatus ? 1 : 0);
  klib(kidxSetNumberHandling)(index, mNumberHandling);
  klib(kidxSetDirectoriesRead)(index, static_cast<kulong>(mDirectoriesRead));
  klib(kidxSetFilesIndexed)(index, static_cast<kulong>(mNumberFilesIndexed));
  klib(kidxSetContentsIndexed)(index, static_cast<kulong>(mNumberFileContentsIndexed));
  klib(kidxSetWordsIndexed)(index, static_cast<kulong>(mNumberWordsIndexed));
  klib(kidxSetBytesRead)(index, mNumberBytesRead);
  auto anywhere = klib(kidxSetValidCharMask);
  auto trailing = klib(kidxSetValidTrailingMask);
  auto nonAlpha = klib(kidxSetNonAlphaCharMask);
  auto viewable = klib(kidxSetValidViewableMask);
  for (int c = 0; c < 256; ++c) {
    anywhere(index, c, mValidAnywhere[c]);
    trailing(index, c, mValidTrailing[c]);
    nonAlpha(index, c, mNonAlphaCharacters[c]);
    viewable(index, c, mValidViewable[c]);
  }
  klib(kidxCreateAnalyzers)(index);
  klib(kidxSetIncludeCount)(index, static_cast<int>(mIncludePatterns.size()));
  klib(kidxSetExcludeCount)(index, static_cast<int>(mExcludePatterns.size()));
  for (std::size_t i = 0; i < mIncludePatterns.size(); ++i) {
    std::string pattern = mIncludePatterns[i], analyzer;
    std::size_t blank = pattern.find(' ');
    if (blank != std::string::npos) {
      analyzer = qvTrim(pattern.substr(blank + 1));
      pattern = qvTrim(pattern.substr(0, blank));
    }
    klib(kidxSetIncludePattern)(index, static_cast<int>(i), pattern.c_str(), analyzer.c_str());
  }
  for (std::size_t i = 0; i < mExcludePatterns.size(); ++i)
    klib(kidxSetExcludePattern)(index, static_cast<int>(i), mExcludePatterns[i].c_str());
  klib(kidxSetTimeBase)(index, mTimeBase);
  klib(kidxSetTemporaryDirectory)(index, mTemporaryDirectory.c_str());
}

void QvKolvoIndex::indexSkipFile() {
  for (const std::string& candidate :
       {mBasePath + "skipfile.txt", mKolvoDirectory + "/skipfile.txt", std::string("skipfile.txt")}) {
    if (fs::is_regular_file(candidate)) {
      klib(kidxSetSkipFilePath)(engineIndex(), candidate.c_str());
      return;
    }
  }
}

void QvKolvoIndex::indexExclusions() {
  try {
    klib(kidxIndexExclusions)(engineIndex());
  } catch (const QvCommandException& error) {
    // A watch says it once, not at every update.
    if (mWatching && mExclusionsTold) return;
    mExclusionsTold = mWatching;
    showWarning(qvkiExclusionError.text({error.message()}));
  }
}

void QvKolvoIndex::emptyIndex() {
  mTimeBase = 0;
  mNumberFilesIndexed = mNumberWordsIndexed = mNumberBytesRead = mDirectoriesRead = mNumberFileContentsIndexed = 0;
  CKolvoIndex* index = engineIndex();
  klib(kidxSetTimeBase)(index, 0.0);
  klib(kidxSetDirectoriesRead)(index, 0);
  klib(kidxSetFilesIndexed)(index, 0);
  klib(kidxSetContentsIndexed)(index, 0);
  klib(kidxSetWordsIndexed)(index, 0);
  klib(kidxSetBytesRead)(index, 0.0);
  klib(kidxEmptyIndex)(index);
}

std::vector<std::string> QvKolvoIndex::createRootDirList() const {
  std::vector<std::string> reduced;
  for (std::string root : mRootDirectories) {
    if (root.size() > 1 && qvEndsWith(root, "/")) root.pop_back();
    if (std::any_of(reduced.begin(), reduced.end(), [&](const std::string& r) { return isPathPrefix(r, root); }))
      continue;
    std::erase_if(reduced, [&](const std::string& r) { return isPathPrefix(root, r); });
    reduced.push_back(root);
  }
  return reduced;
}

void QvKolvoIndex::scanFiles() {
  CKolvoIndex* index = engineIndex();
  CFileStorage* files = klib(kidxGetFiles)(index);
  for (const std::string& root : createRootDirList()) {
    if (klib(kfsLookupFile)(files, root.c_str(), 0) != 0) continue;
    kulong id = klib(kfsAddFile)(files, root.c_str());
    if (id == 0) continue;
    klib(kidxSetFilesIndexed)(index, klib(kidxGetFilesIndexed)(index) + 1);
    struct stat status {};
    KolvoFileInfo* info = klib(kfsGetInfo)(files, id);
    klib(kfiSetFileParentID)(info, 0);
    if (stat(root.c_str(), &status) == 0) {
      klib(kfiSetFileTimeLastWritten)(info, static_cast<double>(status.st_mtime) + kSeconds1904To1970);
      klib(kfiSetFileSize)(info, static_cast<kulong>(status.st_size));
    }
    klib(kfiSetFileAttributes)(info, 1);
    if (!klib(kSetStatus)(qvkiIndexingRoot.text().c_str(), root.c_str()))
      throw QvCommandException(qvkiHaltRequested);
    klib(kidxIndexDirectory)(index, root.c_str(), id);
  }
  mNumberBytesRead = static_cast<int>(klib(kidxGetBytesRead)(index));
  mDirectoriesRead = static_cast<int>(klib(kidxGetDirectoriesRead)(index));
  mNumberFilesIndexed = static_cast<int>(klib(kidxGetFilesIndexed)(index));
  mNumberFileContentsIndexed = static_cast<int>(klib(kidxGetContentsIndexed)(index));
  mNumberWordsIndexed = static_cast<int>(klib(kidxGetWordsIndexed)(index));
  std::string placeholder = std::string(1, static_cast<char>(0xFF)) + "fakeword";
  klib(kidxIndexWord)(index, placeholder.c_str(), 0);
}

void QvKolvoIndex::deleteOtherBuilds(int keep) {
  std::error_code error;
  for (const fs::directory_entry& entry : fs::directory_iterator(mBasePath, error)) {
    std::string name = entry.path().filename().string();
    if (isBuildName(name) && toInt(name.substr(6)) != keep) fs::remove_all(entry.path(), error);
  }
}

void QvKolvoIndex::enterBuildDirectory(int n) {
  mIndexPath = mBasePath + "build_" + std::to_string(n) + "/";
  mTemporaryDirectory = mIndexPath + "cache";
  makeDirectoriesTo(mTemporaryDirectory);
}

void QvKolvoIndex::putBuildNumber(int n) {
  // The old number stands until the new one is whole and on the disk, after the build's
  // tables and "hash": a crash never leaves it empty or naming a build not yet written.
  std::string target = mBasePath + "current_build";
  if (!qvReplaceFileDurably(target, std::to_string(n), 0644))
    throw QvCommandException(QvCommandInterface::qvciCmdCannotOpenFile, Arguments{target});
}

void QvKolvoIndex::saveBuild(int n) {
  std::string document = mIndexPath + "index";
  std::error_code error;
  for (int attempt = 0; fs::exists(document, error) && attempt <= 10; ++attempt) {
    if (attempt > 0) std::this_thread::sleep_for(std::chrono::milliseconds(100));
    fs::remove(document, error);
  }
  std::string text = xmlDocument().joined();
  {
    std::ofstream file(document, std::ios::binary | std::ios::trunc);
    file << text;
    file.flush();
    if (!file) throw QvCommandException(QvCommandInterface::qvciCmdCannotOpenFile, Arguments{document});
  }
  klib(kidxStoreStorage)(engineIndex(), mIndexPath.c_str());
  putBuildNumber(n);
  // A watch removes the build before once it has said the update is done; a build left
  // behind by an ended watch goes at the start of the next update.
  if (!mWatching) deleteOtherBuilds(n);
}

void QvKolvoIndex::build() {
  mIsUpdate = false;
  makeDirectoriesTo(mIndexDirectory);
  makeDirectoriesTo(mBasePath);
  auto lock = takeUpdateLock(mBasePath);
  int n = getBuildNumber(mBasePath);
  deleteOtherBuilds(n);
  std::string oldIndexPath = mIndexPath, oldTemporary = mTemporaryDirectory;
  double oldTimeBase = mTimeBase;
  enterBuildDirectory(n + 1);
  // At a terminal the reports redraw one line, cleared again before the summary.
  QvProgressLine progress([this] { return countsOf(mIndex); });
  try {
    close();
    mIndex = klib(kCreateNewIndex)(1, mIndexPath.c_str());
    if (!mIndex) throw QvCommandException(qvkiCouldNotOpenIndex, Arguments{mIndexPath});
    indexSkipFile();
    setCharacterMasks();
    loadParameters();
    indexExclusions();
    emptyIndex();
    klib(kidxNewFileLinks)(mIndex);
    // Files changed while the scan runs, or in its first second, are taken again by the
    // next update.
    double scanBegan = nowSince1904() - 1;
    scanFiles();
    klib(kidxCompressLinks)(mIndex);
    mTimeBase = scanBegan;
    saveBuild(n + 1);
  } catch (...) {
    restoreAfterFailure(n, oldIndexPath, oldTemporary, oldTimeBase);
    throw;
  }
}

void QvKolvoIndex::restoreAfterFailure(int n, const std::string& oldIndexPath, const std::string& oldTemporary,
                                       double oldTimeBase) {
  std::string halfMade = mIndexPath;
  try {
    close();
  } catch (const QvCommandException&) {
  }
  std::error_code error;
  if (halfMade != oldIndexPath) fs::remove_all(halfMade, error);
  mIndexPath = oldIndexPath;
  mTemporaryDirectory = oldTemporary;
  mTimeBase = oldTimeBase;
  // The previous build stays the index: open it again when there is one.
  if (n > 0 && fs::exists(mIndexPath + "hash")) {
    try {
      mIndex = klib(kCreateNewIndex)(0, mIndexPath.c_str());
      // The settings may be what failed; the stored index reads well without them.
      if (mIndex) loadParameters();
    } catch (const QvCommandException&) {
    }
  }
}

void QvKolvoIndex::continueFromCopy(const std::function<void(int next)>& work) {
  // Another program's update may be making the next build from this one: wait for it,
  // then start from the build it made.
  auto lock = takeUpdateLock(mBasePath);
  int n = getBuildNumber(mBasePath);
  deleteOtherBuilds(n);
  std::string oldIndexPath = mIndexPath, oldTemporary = mTemporaryDirectory;
  std::string oldBuild = mBasePath + "build_" + std::to_string(n) + "/";
  double oldTimeBase = mTimeBase;
  enterBuildDirectory(n + 1);
  try {
    close();
    copyDirectoryTree(oldBuild, mIndexPath, true);
    mIndex = klib(kCreateNewIndex)(0, mIndexPath.c_str());
    if (!mIndex) throw QvCommandException(qvkiCouldNotOpenIndex, Arguments{mIndexPath});
    work(n + 1);
  } catch (...) {
    restoreAfterFailure(n, oldIndexPath, oldTemporary, oldTimeBase);
    throw;
  }
}

void QvKolvoIndex::update() {
  mIsUpdate = true;
  if (!fs::exists(mIndexDirectory) || mTimeBase == 0) {
    build();
    return;
  }
  QvProgressLine progress([this] { return countsOf(mIndex); });
  updateWith([this] { klib(kidxPrune)(mIndex); }, true);
}

void QvKolvoIndex::updatePaths(const std::vector<std::string>& paths, bool advanceTimeBase) {
  mIsUpdate = true;
  if (!fs::exists(mIndexDirectory) || mTimeBase == 0) {
    build();
    return;
  }
  std::vector<const char*> named;
  for (const std::string& path : paths) named.push_back(path.c_str());
  updateWith([&] { klib(kidxUpdatePaths)(mIndex, named.data(), static_cast<kulong>(named.size())); },
             advanceTimeBase);
}

void QvKolvoIndex::updateWith(const std::function<void()>& pass, bool advanceTimeBase) {
  continueFromCopy([&](int next) {
    indexSkipFile();
    setCharacterMasks();
    loadParameters();
    if (mWatching) klib(kidxSetShowStatus)(mIndex, 0);
    indexExclusions();
    double scanBegan = nowSince1904() - 1;
    pass();
    klib(kidxCompressLinks)(mIndex);
    if (advanceTimeBase) mTimeBase = scanBegan;
    saveBuild(next);
  });
}

std::string QvKolvoIndex::saveWithoutBuild() {
  if (!fs::exists(mBasePath)) {
    // An empty build 0 to copy from, so that the settings can be stored before any build.
    double timeBase = mTimeBase;
    makeDirectoriesTo(mBasePath);
    enterBuildDirectory(0);
    close();
    mIndex = klib(kCreateNewIndex)(1, mIndexPath.c_str());
    if (!mIndex) throw QvCommandException(qvkiCouldNotOpenIndex, Arguments{mIndexPath});
    loadParameters();
    emptyIndex();
    klib(kidxNewFileLinks)(mIndex);
    std::string placeholder = std::string(1, static_cast<char>(0xFF)) + "fakeword";
    klib(kidxIndexWord)(mIndex, placeholder.c_str(), 0);
    klib(kidxCompressLinks)(mIndex);
    klib(kidxStoreStorage)(mIndex, mIndexPath.c_str());
    mTimeBase = timeBase;
  }
  continueFromCopy([this](int next) {
    loadParameters();
    saveBuild(next);
  });
  return mIndexPath;
}

std::shared_ptr<QvKolvoIndex> QvKolvoIndex::replaceRoot(const std::string& name) {
  return create(name, interpreter());
}

std::string QvKolvoIndex::cmdOpen(const std::string& argument) {
  std::string name = argument, base;
  if (argument.find('/') == std::string::npos) {
    base = mIndexDirectory + "/" + argument;
  } else {
    base = argument;
    std::string trimmed = argument;
    while (trimmed.size() > 1 && qvEndsWith(trimmed, "/")) trimmed.pop_back();
    name = trimmed.substr(trimmed.rfind('/') + 1);
  }
  if (name.empty() || name == "." || name == "..") return qvkiCouldNotOpenIndex.text({argument});
  if (!fs::exists(base + "/current_build")) return qvkiCouldNotOpenIndex.text({argument});
  std::string document;
  // A watch may store a newer build and remove this one between reading its number and
  // opening it: the newer one is then read.
  for (int attempt = 1;; ++attempt) {
    std::ifstream numberFile(base + "/current_build");
    std::string numberText((std::istreambuf_iterator<char>(numberFile)), std::istreambuf_iterator<char>());
    numberText = qvTrim(numberText);
    if (!numberFile.good() && !numberFile.eof()) return qvkiCouldNotReadBuildNumber.text({argument});
    if (numberText.empty() ||
        !std::all_of(numberText.begin(), numberText.end(), [](char c) { return c >= '0' && c <= '9'; }))
      return qvkiCouldNotReadBuildNumber.text({argument});
    std::ifstream documentFile(base + "/build_" + numberText + "/index", std::ios::binary);
    if (documentFile) {
      document.assign(std::istreambuf_iterator<char>(documentFile), std::istreambuf_iterator<char>());
      break;
    }
    if (attempt == kolvo::limits::openAttempts || getBuildNumber(base + "/") == toInt(numberText))
      return qvkiCouldNotOpenIndex.text({argument});
  }

  auto self = std::static_pointer_cast<QvKolvoIndex>(shared_from_this());
  QvCommandInterface& commands = interpreter();
  std::shared_ptr<QvKolvoIndex> opened;
  try {
    opened = create(name, commands);
    try {
      QvxmlReader(opened).parse(document);
    } catch (const QvCommandException&) {
      // What was read before a fault in the document stands.
    }
    for (int attempt = 1; !opened->mIndex; ++attempt) {
      try {
        opened->mIndex = klib(kCreateNewIndex)(0, opened->mIndexPath.c_str());
        if (!opened->mIndex) throw QvCommandException(qvkiCouldNotOpenIndex, Arguments{argument});
      } catch (const QvCommandException&) {
        std::string newer = opened->mBasePath + "build_" + std::to_string(getBuildNumber(opened->mBasePath)) + "/";
        if (attempt == kolvo::limits::openAttempts || newer == opened->mIndexPath) throw;
        opened->mIndexPath = newer;
        opened->mTemporaryDirectory = newer + "cache";
      }
    }
    opened->loadParameters();
  } catch (...) {
    commands.setRoot(self);
    if (opened) opened->cleanup();
    throw;
  }
  cleanup();
  return qvkiOpenedIndex.text({name, opened->mIndexDirectory});
}

std::string QvKolvoIndex::cmdNewIndex(const std::string& name) {
  checkIndexName(name);
  if (fs::exists(mIndexDirectory + "/" + name)) throw QvCommandException(qvkiIndexAlreadyExists, Arguments{name});
  auto self = shared_from_this();
  replaceRoot(name);
  cleanup();
  return qvkiNewIndexCreated.text({name});
}

std::string QvKolvoIndex::cmdSaveAs(const std::string& name) {
  checkIndexName(name);
  std::string base = mIndexDirectory + "/" + name;
  if (fs::exists(base)) throw QvCommandException(qvkiIndexAlreadyExists, Arguments{name});
  makeDirectoriesTo(base);
  try {
    copyDirectoryTree(mBasePath, base);
  } catch (...) {
    std::error_code error;
    fs::remove_all(base, error);
    throw;
  }
  return cmdOpen(name);
}

bool QvKolvoIndex::deleteIndexNamed(const std::string& name) {
  checkIndexName(name);
  if (qvEqualsCaseless(name, mName)) throw QvCommandException(qvkiCannotDeleteOpenIndex);
  fs::path base = fs::path(mIndexDirectory) / name;
  std::error_code error;
  if (!fs::is_directory(base, error)) return false;
  for (const fs::directory_entry& entry : fs::directory_iterator(base, error)) {
    if (isBuildName(entry.path().filename().string()) && fs::remove_all(entry.path(), error) == static_cast<std::uintmax_t>(-1))
      return false;
  }
  fs::remove(base / "current_build", error);
  if (error) return false;
  fs::remove_all(base, error);
  return !error && !fs::exists(base);
}

void QvKolvoIndex::cmdWordCount(const std::string& arguments, QvResults& results) {
  std::vector<std::string> terms;
  for (const std::string& term : qvSplit(qvTrim(arguments), ' '))
    if (!term.empty()) terms.push_back(term);
  std::set<kulong> selected;
  bool onlySelected = !terms.empty() && qvEqualsCaseless(terms.front(), "selected");
  if (onlySelected) {
    std::string listed;
    try {
      listed = QvCommandObject::getValue("__selected");
    } catch (const QvCommandException&) {
    }
    for (const std::string& number : qvSplit(listed, '\t'))
      if (!qvTrim(number).empty()) selected.insert(static_cast<kulong>(std::strtoul(number.c_str(), nullptr, 10)));
  }
  int key = terms.empty() ? 0 : toInt(terms.back());

  CKolvoIndex* index = engineIndex();
  CTextStorage* words = klib(kidxGetWords)(index);
  CFileLinks* links = klib(kidxGetLinks)(index);
  auto getNext = klib(ktsGetNext);
  auto getText = klib(ktsGetText);
  struct Count {
    std::string word;
    long files = 0, occurrences = 0;
  };
  std::vector<Count> counts;
  // Files replaced or gone since the build keep their links but are marked obsolete:
  // they are no longer in the index and are not counted.
  CFileStorage* fileTable = klib(kidxGetFiles)(index);
  auto getInfo = klib(kfsGetInfo);
  auto getName = klib(kfiGetFileName);
  std::map<kulong, bool> live;
  auto counted = [&](kulong file) {
    if (file == 0 || (onlySelected && !selected.count(file))) return false;
    auto known = live.find(file);
    if (known != live.end()) return known->second;
    const char* name = getName(getInfo(fileTable, file));
    bool isLive = name && static_cast<unsigned char>(name[0]) != 0xFF;
    live.emplace(file, isLive);
    return isLive;
  };
  for (kulong word = klib(ktsGetFirst)(words); word != 0; word = getNext(words, word)) {
    Count count;
    qvForEachWordFile(words, links, word, [&](kulong file, kulong rank) {
      if (!counted(file)) return;
      ++count.files;
      count.occurrences += mUseRanking ? static_cast<long>(rank) + 1 : 1;
    });
    if (count.occurrences == 0) continue;
    const char* text = getText(words, word);
    count.word = text ? text : "";
    counts.push_back(std::move(count));
  }
  std::stable_sort(counts.begin(), counts.end(), [key](const Count& a, const Count& b) {
    if (key == 3 && a.occurrences != b.occurrences) return a.occurrences < b.occurrences;
    if (key == 2 && a.files != b.files) return a.files < b.files;
    return a.word < b.word;
  });
  long files = 0, occurrences = 0;
  for (const Count& count : counts) {
    results.push_back(count.word + "\t" + std::to_string(count.files) + "\t" + std::to_string(count.occurrences));
    files += count.files;
    occurrences += count.occurrences;
  }
  results.push_back(std::to_string(counts.size()) + "\t" + std::to_string(files) + "\t" + std::to_string(occurrences));
}

void QvKolvoIndex::performCommand(const std::string& command, const std::string& arguments, QvResults& results) {
  // open, new and saveas replace this object as the root while it still runs.
  auto self = shared_from_this();
  std::string word = qvLower(command);
  std::string argument = qvUnquoted(qvTrim(arguments));
  if (word != "listresults") {
    std::vector<kulong>().swap(mCheckedFiles);
    std::vector<KolvoFileRecord>().swap(mCheckedRecords);
  }
  auto elapsedSince = [](std::chrono::steady_clock::time_point start) {
    return decimal(std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count());
  };
  if (word == "addinclude") {
    addToStringList(arguments, mIncludePatterns);
    results.push_back(qvkiAddedInclude.text({arguments}));
  } else if (word == "addroot") {
    addToStringList(arguments, mRootDirectories);
    results.push_back(qvkiAddedRootDir.text({arguments}));
  } else if (word == "addexclude") {
    addToStringList(arguments, mExcludePatterns);
    results.push_back(qvkiAddedExclude.text({arguments}));
  } else if (word == "build") {
    auto start = std::chrono::steady_clock::now();
    build();
    results.push_back(qvkiBuildCompleted.text({elapsedSince(start)}));
  } else if (word == "clearexcludes") {
    mExcludePatterns.clear();
    mTimeBase = 0;
    results.push_back(qvkiExcludesCleared.text());
  } else if (word == "clearincludes") {
    mIncludePatterns.clear();
    mTimeBase = 0;
    results.push_back(qvkiIncludesCleared.text());
  } else if (word == "clearroots") {
    mRootDirectories.clear();
    mTimeBase = 0;
    results.push_back(qvkiRootsCleared.text());
  } else if (word == "deleteindex") {
    bool deleted = deleteIndexNamed(argument);
    results.push_back((deleted ? qvkiIndexDeleted : qvkiCouldNotDeleteIndex).text({argument}));
  } else if (word == "new") {
    results.push_back(cmdNewIndex(argument));
  } else if (word == "open") {
    results.push_back(cmdOpen(argument));
  } else if (word == "save") {
    results.push_back(qvkiSavedIndex.text({saveWithoutBuild()}));
  } else if (word == "saveas") {
    results.push_back(cmdSaveAs(argument));
  } else if (word == "showincludes") {
    results.addLines(mIncludePatterns);
  } else if (word == "showexcludes") {
    results.addLines(mExcludePatterns);
  } else if (word == "showroots") {
    results.addLines(mRootDirectories);
  } else if (word == "test") {
    results.push_back(qvkiNoTest.text());
  } else if (word == "update") {
    auto start = std::chrono::steady_clock::now();
    update();
    results.push_back(qvkiUpdateCompleted.text({elapsedSince(start)}));
  } else if (word == "watch") {
    cmdWatch(results);
  } else if (word == "wordcount") {
    cmdWordCount(arguments, results);
  } else if (word == "check") {
    cmdCheck(results);
  } else if (word == "find") {
    std::vector<std::string> referralLines = qvSplit(cmdFind(arguments), '\n');
    if (!referralLines.empty() && referralLines.back().empty()) referralLines.pop_back();
    results.addLines(referralLines);
    std::string found = qvkiFound.text() + std::to_string(mResults.size()) + qvkiOccurrences.text() +
                        std::to_string(mResults.occurrences());
    // Each skipped term keeps its leading blank: programs and other indexes reading the
    // answer split it as " Skipped( " + (" " + term)... + " )".
    if (!mSkippedWords.empty()) found += qvkiSkipped.text({mSkippedWords});
    results.push_back(found);
  } else if (word == "listresults") {
    // "listresults -j [n]" lists them as JSON Lines.
    std::string count = qvTrim(argument);
    bool json = qvEqualsCaseless(count.substr(0, 2), "-j") && (count.size() == 2 || count[2] == ' ');
    if (json) count = qvTrim(count.substr(2));
    createResultsList(count.empty() ? -1 : toInt(count), results, json);
  } else if (word == "filecontents") {
    results.push_back(cmdFileContents(argument));
  } else if (word == "setsearchphrase") {
    mLastSearchPhrase = qvLower(qvTrim(qvToLatin1(arguments)));
    if (mLastSearchPhrase.empty()) mLastSearchPhrase = "*";
  } else {
    QvCommandParent::performCommand(command, arguments, results);
  }
}

std::string QvKolvoIndex::getValue(const std::string& name) {
  std::string key = qvLower(name);
  if (key == "addedchars") return mAddedChars;
  if (key == "addedtrailingchars") return mAddedTrailingChars;
  if (key == "basepath") return mBasePath;
  if (key == "defaultcharacterset") return std::to_string(mDefaultCharacterSet);
  if (key == "internationalchar") return std::to_string(mInternationalChar);
  if (key == "maxperfileread") return std::to_string(mMaxPerFileRead);
  if (key == "maxwordlength") return std::to_string(mMaxWordLength);
  if (key == "minwordlength") return std::to_string(mMinWordLength);
  if (key == "numberhandling") return std::to_string(mNumberHandling);
  if (key == "wordwrap") return std::to_string(mWordWrap);
  if (key == "hidetags") return boolText(mHideTags);
  if (key == "outline") return boolText(mOutlineContents);
  if (key == "trackall") return boolText(mTrackAll);
  if (key == "useranking") return boolText(mUseRanking);
  if (key == "numberbytesread") return std::to_string(mNumberBytesRead);
  if (key == "numberdirectoriesread") return std::to_string(mDirectoriesRead);
  if (key == "numberfilecontentsindexed") return std::to_string(mNumberFileContentsIndexed);
  if (key == "numberfilesindexed") return std::to_string(mNumberFilesIndexed);
  if (key == "numberwordsindexed") return std::to_string(mNumberWordsIndexed);
  if (key == "watchquiet") return std::to_string(mWatchQuiet);
  if (key == "watchlongest") return std::to_string(mWatchLongest);
  if (key == "watchfallback") return std::to_string(mWatchFallback);
  if (qvStartsWith(key, "result.")) {
    std::string number = qvTrim(key.substr(7));
    const std::vector<QvKolvoResults::Entry>& ranked = mResults.ranked();
    char* end = nullptr;
    long i = std::strtol(number.c_str(), &end, 10);
    if (number.empty() || *end != '\0' || i < 0 || static_cast<std::size_t>(i) >= ranked.size())
      throw QvCommandException(qvkiNoSuchResult, Arguments{number, std::to_string(ranked.size())});
    const std::string resultKey = ranked[static_cast<std::size_t>(i)].keyText();
    return mResults.resultOf(resultKey).asString() + "\t" + resultKey;
  }
  if (key == "timebase") {
    char text[64];
    std::snprintf(text, sizeof text, "%.17g", mTimeBase);
    return text;
  }
  return QvCommandParent::getValue(name);
}

void QvKolvoIndex::setValue(const std::string& name, const std::string& value) {
  std::string key = qvLower(name);
  auto setText = [this, &value](std::string& field) {
    std::string converted = qvToLatin1(value);
    if (converted != field) {
      field = converted;
      mTimeBase = 0;
    }
  };
  auto setNumber = [this, &value](int& field, bool resetsTimeBase) {
    field = toInt(value);
    if (resetsTimeBase) mTimeBase = 0;
  };
  auto setFlag = [this, &value](bool& field, bool resetsTimeBase) {
    bool on = qvEqualsCaseless(qvTrim(value), "true");
    if (on != field && resetsTimeBase) mTimeBase = 0;
    field = on;
  };
  if (key == "addedchars") setText(mAddedChars);
  else if (key == "addedtrailingchars") setText(mAddedTrailingChars);
  else if (key == "basepath") mBasePath = value;
  else if (key == "defaultcharacterset") setNumber(mDefaultCharacterSet, true);
  else if (key == "internationalchar") setNumber(mInternationalChar, true);
  else if (key == "maxperfileread") setNumber(mMaxPerFileRead, true);
  else if (key == "maxwordlength") setNumber(mMaxWordLength, true);
  else if (key == "minwordlength") setNumber(mMinWordLength, true);
  else if (key == "numberhandling") setNumber(mNumberHandling, true);
  else if (key == "wordwrap") setNumber(mWordWrap, false);
  else if (key == "hidetags") setFlag(mHideTags, false);
  else if (key == "outline") setFlag(mOutlineContents, false);
  else if (key == "trackall") setFlag(mTrackAll, true);
  else if (key == "useranking") setFlag(mUseRanking, true);
  else if (key == "numberbytesread") setNumber(mNumberBytesRead, false);
  else if (key == "numberdirectoriesread") setNumber(mDirectoriesRead, false);
  else if (key == "numberfilecontentsindexed") setNumber(mNumberFileContentsIndexed, false);
  else if (key == "numberfilesindexed") setNumber(mNumberFilesIndexed, false);
  else if (key == "numberwordsindexed") setNumber(mNumberWordsIndexed, false);
  else if (key == "watchquiet") setNumber(mWatchQuiet, false);
  else if (key == "watchlongest") setNumber(mWatchLongest, false);
  else if (key == "watchfallback") setNumber(mWatchFallback, false);
  else if (key == "timebase") mTimeBase = std::strtod(qvTrim(value).c_str(), nullptr);
  else if (key == "rootdirectory") { mRootDirectories.push_back(value); mTimeBase = 0; }
  else if (key == "includepattern") { mIncludePatterns.push_back(value); mTimeBase = 0; }
  else if (key == "excludepattern") { mExcludePatterns.push_back(value); mTimeBase = 0; }
  else if (key == "dozipped" || key == "encryptnewzips" || key == "numbercontentsindexed") return;
  else QvCommandParent::setValue(name, value);
}

void QvKolvoIndex::xmlBody(QvResults& lines) {
  QvCommandParent::xmlBody(lines);
  for (const char* property :
       {"addedChars", "addedTrailingChars", "defaultCharacterSet", "hideTags", "internationalChar", "maxPerFileRead",
        "maxWordLength", "minWordLength", "numberBytesRead", "numberDirectoriesRead", "numberFileContentsIndexed",
        "numberFilesIndexed", "numberWordsIndexed", "numberHandling", "outline", "trackAll", "useRanking",
        "wordWrap"})
    lines.push_back(xmlPropertyRepresentation(property));
  for (const std::string& root : mRootDirectories) lines.push_back(qvXmlValueElement("rootDirectory", root));
  for (const std::string& entry : mExcludePatterns) lines.push_back(qvXmlValueElement("excludePattern", entry));
  for (const std::string& entry : mIncludePatterns) lines.push_back(qvXmlValueElement("includePattern", entry));
  // Reading a list element back zeroes the time base, so it comes last.
  lines.push_back(xmlPropertyRepresentation("timeBase"));
}
