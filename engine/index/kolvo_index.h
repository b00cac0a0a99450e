// CKolvoIndex: the engine's object for one open index. It owns the four tables (and the
// temporary link table while links are built), holds every setting the program passes
// through the C interface, the character classes that decide what a word is, the
// progress counters, the walk's patterns and the registry of analyzers.
#pragma once

#include <array>
#include <cstdint>
#include <cstdio>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "engine/index/member_account.h"
#include "engine/index/resource_limits.h"
#include "engine/index/walk_support.h"
#include "engine/storage/file_links.h"
#include "engine/storage/file_storage.h"
#include "engine/storage/text_storage.h"

class CWordBatch;
#include "engine/storage/word_links.h"

class CFileAnalyzer;
class CReadAhead;

class CKolvoIndex {
 public:
  using CharMask = std::array<unsigned char, 256>;

  // A new index creates "files", "words", "skipped" and "links" in indexPath (which
  // ends with '/'); an existing one is opened read-only from them and "hash". Opening
  // raises "StorageReadError" when any of them is missing, short or damaged.
  CKolvoIndex(bool isNew, const std::string& indexPath);
  ~CKolvoIndex();
  CKolvoIndex(const CKolvoIndex&) = delete;
  CKolvoIndex& operator=(const CKolvoIndex&) = delete;

  // Settings back to their defaults; tables, analyzers and patterns released.
  // Counters, status level, maxPerFileRead, time base, paths and masks are kept.
  void clear();
  void freeMemFiles();
  // New, empty file and word tables and no links table, for a fresh build.
  void emptyIndex();
  void enableWrite(bool on);
  // Writes each table's header, maps the tables read-only and writes "hash".
  void storeStorage(const std::string& directory);

  void setValidCharMask(int c, bool on) { setMask(validCharMask, c, on); }
  void setValidTrailingMask(int c, bool on) { setMask(validTrailingMask, c, on); }
  void setValidViewableMask(int c, bool on) { setMask(validViewableMask, c, on); }
  void setNonAlphaCharMask(int c, bool on) { setMask(nonAlphaCharMask, c, on); }

  // Decodes the text after '&' of a character reference (without its ';').
  unsigned char htmlChar(const char* reference) const;

  // Records one occurrence of an already lower-cased word in a file.
  void indexWord(const char* word, uint32_t fileId);
  // Records the words of one chunk, as indexWord would one after another.
  void indexWords(const CWordBatch& batch, uint32_t fileId);
  // Counts the bytes of a chunk read from path, with a report at status level 2.
  void noteBytesRead(size_t got, const char* path);
  uint32_t indexExcludedWord(const char* word);
  // Rebuilds the skip-word table from the skip file.
  void indexExclusions();
  void indexExcludeBuffer(char* buffer, uint32_t length);
  // The skip file that indexExclusions reads.
  std::string skipFile() const;

  // ---- Analyzer registry ----
  // Creates the built-in analyzers and those of "externanalyzers.txt".
  void createAnalyzers();
  void clearAnalyzers();
  // The analyzer of the first include pattern that name matches (fileNameMatch); null.
  CFileAnalyzer* analyzerThatMatches(const char* name) const;
  // Extracts a member of a container file into the temporary directory for display;
  // the path of the extracted file, or empty.
  std::string extractToTempFile(const char* containerPath, const char* memberName, uint32_t fileId);

  // ---- Matching ----
  // A stored word against one search term; '*' and '?' are literals when word characters.
  bool doesWordMatch(const char* word, const char* pattern) const;
  // Whether a directory can lie at or below the directory part of a path pattern.
  bool dirMatch(const char* directory, const char* pattern) const;

  // ---- The walk, link compression and update ----
  void setIncludeCount(int count);
  void setIncludePattern(int i, const char* pattern, const char* analyzerName);
  void setExcludeCount(int count);
  void setExcludePattern(int i, const char* pattern);
  bool isExcluded(const char* path) const;
  void indexDirectory(const char* path, uint32_t dirId);
  void newFileLinks();
  void compressLinks();
  void prune();
  // Brings the index up to date for the named absolute paths only, as a full update
  // would for them: a named file is read again when changed, added when new, marked
  // obsolete when gone; a named folder is treated as a modified folder is by prune (its
  // known entries checked, its new ones added, new subfolders walked whole). A path
  // whose folder is not in the index brings in its nearest ancestor that is. Nothing
  // else of the tree is visited. Same preconditions and sequel as prune.
  void updatePaths(const std::vector<std::string>& paths);
  // Whether a throttled report would go out now: callers make its detail only then.
  bool reportDue() const;
  // A throttled report; a halt answer raises "HaltRequested".
  void reportProgress(const char* code, const std::string& detail);
  // Looks up a file's entry under its parent (a folder, an archive or a mailbox) or adds
  // it, and writes its record: the one place an entry of a file or member is made.
  uint32_t recordFile(const char* name, uint32_t parentId, int32_t modified, uint32_t size);

  // Tables; null where absent.
  CTextStorage* words = nullptr;
  CFileStorage* files = nullptr;
  CTextStorage* skippedWords = nullptr;
  CFileLinks* fileLinks = nullptr;
  CWordLinks* wordLinks = nullptr;

  // Settings.
  bool useRanking = true;
  uint32_t minWordLength = 3;
  uint32_t maxWordLength = 16;  // 0: no maximum
  uint32_t maxPerFileRead = 0;
  int32_t statusLevel = 0;
  bool isUpdate = false;
  bool trackAll = true;
  // A build's walk reads and splits files on a second thread while this one fills the
  // tables; off, it does both in turn.
  bool walkReadsAhead = true;
  // Threads besides this one that take an update's statuses ahead of its visit; with
  // none, the visit takes them itself, a window at a time. Either way the same update.
  unsigned updateStatusThreads = kolvo::limits::updateStatusThreads;
  // Statuses asked many to a system call where the kernel allows; false asks each alone.
  bool batchedStatuses = true;
  std::string temporaryDirectory;
  // Carries an unfinished word or markup fragment from one chunk to the next.
  std::string pendingText;
  std::map<std::string, unsigned char> entityMap;

  // Counters.
  uint32_t contentsIndexed = 0;
  uint32_t filesIndexed = 0;
  uint32_t wordsIndexed = 0;
  double bytesRead = 0;
  int32_t timeBase = 0;  // Unix seconds
  uint32_t directoriesRead = 0;
  int32_t lastStatusTime = 0;

  // Containers being read, and the bytes written for them (see CContainerLevel).
  MemberAccount members;

  // The analyzer registry, owning, by name.
  std::map<std::string, std::unique_ptr<CFileAnalyzer>> analyzerMap;

  const std::string indexPath;
  const std::string kolvoDirectory;
  std::string skipFilePath;
  int32_t internationalChar = 0;

  // The walk's patterns; includeAnalyzers runs parallel to includePatterns, not owning.
  std::vector<std::string> includePatterns;
  std::vector<CFileAnalyzer*> includeAnalyzers;
  std::vector<std::string> excludePatterns;

  bool savePassword = false;
  int32_t numberHandling = 0;
  CharMask validCharMask{};
  CharMask validTrailingMask{};
  CharMask validViewableMask{};
  CharMask nonAlphaCharMask{};
  // Fixed: the byte values 1 to 6, 8 and 14 to 31.
  const CharMask controlCharMask;

  // The kolvo directory of an index path: the path cut before the fourth '/' counted
  // from its end; empty when the path has fewer.
  static std::string kolvoDirectoryOf(const std::string& indexPath);

 private:
  static void setMask(CharMask& mask, int c, bool on);
  static CharMask makeControlMask();
  void openStoredTables();

  // The walk and the update.
  CFileAnalyzer* includedAnalyzer(const char* path) const;
  CFileAnalyzer* chooseAnalyzer(const char* path) const;
  bool isKolvoDirectory(const std::string& path) const;
  uint32_t recordDirectory(const std::string& path, int32_t modified);
  void walkDirectory(const std::string& path, uint32_t dirId, int depth);
  void updateDirectory(const std::string& path, uint32_t dirId);
  // A new entry of a folder (as its listing names it; type DT_UNKNOWN when not known):
  // recorded, and read or walked whole, unless it is known, excluded or a link. Answers
  // the stored entry of a name found known, else 0.
  uint32_t addNewEntry(const std::string& path, uint32_t dirId, const std::string& name, unsigned char type);
  // What both updates do first: links of their own, writable tables, the limits of the
  // pass.
  void beginUpdatePass();
  // Whether a stored file must be read again: with a time or size other than its
  // record's, or written after the time base but not after the pass began. A file put
  // back with an older time (a copy that keeps times, a restored backup, an older file
  // moved over it) has changed too.
  bool fileChanged(uint32_t entry, const kolvo::EntryStatus& status) const;
  // A stored file found modified: its record takes the new status, and when an analyzer
  // takes it, it is read again under a new entry and the old one marked obsolete (true).
  bool refreshFile(uint32_t entry, uint32_t parent, const std::string& path, const kolvo::EntryStatus& status);
  // The path update's pieces (see updatePaths).
  struct PathPass;
  void updatePath(const std::string& path, PathPass& pass);
  void refreshFolder(const std::string& path, uint32_t dirId, PathPass& pass);
  void markGone(uint32_t entry, const std::string& path, bool isFolder, PathPass& pass);
  void sweepGone(PathPass& pass);
  // Writes "deadkolvo.txt" and raises "PruneParentError".
  [[noreturn]] void pruneParentError(uint32_t file, uint32_t parent);
  void indexWord(const char* word, const CTextStorage::Key& key, uint32_t fileId, uint32_t occurrences);
  // The walk's reader while a build's walk runs; null otherwise.
  CReadAhead* walkReader = nullptr;
  // indexWords' keys, kept for their memory.
  std::vector<CTextStorage::Key> batchKeys;


 public:
  // Word numbers from here on were made in the current link pass (see compressLinks).
  uint32_t passWordLimit = 0;
  // When the current update began, Unix seconds (see fileChanged).
  int32_t passBegan = 0;
  // Folders deeper than this below a root are not entered (a warning names them).
  int maxWalkDepth = kolvo::limits::walkDepth;
  // The link fill writes the links table a window of about this many bytes at a time.
  uint32_t linkFillWindow = kolvo::limits::linkFillWindowBytes;
  // And fills the windows after the first on up to this many threads.
  unsigned linkFillThreads = kolvo::limits::linkFillThreads;
};
