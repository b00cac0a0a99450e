// The program's handle on one named index and the root of its object tree: the index's
// settings, its numbered build directories under the kolvo directory, and the commands
// that build, update, save, open and count it through the engine library.
#pragma once
#include <array>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "app/commands/command_exception.h"
#include "app/commands/command_parent.h"
#include "app/search/kolvo_results.h"
#include "include/kolvolib.h"

// A command that needs the engine index while none is open.
class QvNilObjectException : public QvCommandException {
 public:
  QvNilObjectException();
};

class QvReferrals;
class QvResultListing;
class QvSearchCriteria;

class QvKolvoIndex : public QvCommandParent {
 public:
  QvKolvoIndex(const std::string& name, QvCommandInterface& commandInterface);
  ~QvKolvoIndex() override;
  // Makes the index object the interpreter's root, clears it (which runs the kolvo
  // directory's "startup.script") and makes its temporary directory.
  static std::shared_ptr<QvKolvoIndex> create(const std::string& name, QvCommandInterface& commandInterface);

  void clear(const std::string& name);
  void setCharacterMasks();
  void performCommand(const std::string& command, const std::string& arguments, QvResults& results) override;
  std::string getValue(const std::string& name) override;
  void setValue(const std::string& name, const std::string& value) override;
  void xmlBody(QvResults& lines) override;
  void cleanup() override;

  void build();
  void update();
  // Updates the named paths only, into a new build; the time base moves on only when
  // advanceTimeBase says nothing else can have changed.
  void updatePaths(const std::vector<std::string>& paths, bool advanceTimeBase);
  // Watches the roots and keeps the index current until SIGINT or SIGTERM.
  void cmdWatch(QvResults& results);
  std::string saveWithoutBuild();
  std::string cmdOpen(const std::string& argument);
  std::string cmdNewIndex(const std::string& name);
  std::string cmdSaveAs(const std::string& name);
  bool deleteIndexNamed(const std::string& name);
  void cmdWordCount(const std::string& arguments, QvResults& results);
  // Checks the tables of the current build; lastCheckSound tells the outcome.
  void cmdCheck(QvResults& results);
  bool lastCheckSound() const { return mLastCheckSound; }
  void close();
  std::shared_ptr<QvCommandObject> createChild(const std::string& className, const std::string& name) override;

  // Searching: the phrase language evaluated against the word, file and link tables,
  // the criteria, the contents check of phrases and near words, the referrals' answers.
  std::string cmdFind(const std::string& phrase);
  void find(const std::string& phrase, QvKolvoResults& results);
  void findPhrase(const std::string& phrase, QvKolvoResults& results, bool first);
  void findToken(const std::string& token, QvKolvoResults& results, bool first);
  void addAll(QvKolvoResults& results);
  // Whether the file of record passes the criteria; folders are read through listing.
  bool doesCriteriaMatch(const KolvoFileRecord& record, QvResultListing& listing);
  void addWordFiles(kulong word, QvKolvoResults& results);
  void addWordList(kulong list, QvKolvoResults& results);
  // Adds the files (with their ranks) that are live entries and pass the criteria; the
  // records of all are read in one call. During a search that checks at its end, adds
  // them unchecked.
  void addToResults(const std::vector<kulong>& files, const std::vector<int32_t>& ranks, QvKolvoResults& results);
  // Drops the local files of results that are no live entries or fail the criteria.
  void keepListable(QvKolvoResults& results);
  // The records of files (in their order) as the last search's final check read them,
  // or false if it read not all of them.
  bool checkedRecords(const std::vector<kulong>& files, std::vector<KolvoFileRecord>& records) const;
  // The phrase as the engine's hit patterns read it: quoted words and near operators
  // become near terms.
  std::string parseSearchPhrase(const std::string& phrase) const;
  // The file's display text, or null when it cannot be read; free with kfcDeleteContentsObject.
  CFileContents* fileContents(kulong file);
  // The best count results (all for a negative count) between <RESULTS> and </RESULTS>,
  // or as JSON Lines without the frame.
  void createResultsList(int count, QvResults& lines, bool json = false);
  std::string cmdFileContents(const std::string& argument);
  // Waits, letting events run, until no referral runs or their time is up.
  void awaitReferralResults();
  // Name, parent folders, time and size of a local file, for listing.
  QvKolvoResult describeFile(kulong file);
  QvKolvoResults& results() { return mResults; }
  QvSearchCriteria& criteria() const;
  QvReferrals& referrals() const;
  const std::string& lastSearchPhrase() const { return mLastSearchPhrase; }

  // With shareTables (a new build's folder from the previous one's), the tables the
  // engine only appends to are linked, so that both builds share one file.
  static void copyDirectoryTree(const std::string& from, const std::string& to, bool shareTables = false);
  static void makeDirectoriesTo(const std::string& path);
  static std::string getKolvoDirectory();
  static int getBuildNumber(const std::string& basePath);
  static std::string addedLanguageCharacters(int international);

  bool hasEngineIndex() const { return mIndex != nullptr; }
  CKolvoIndex* engineIndex() const;
  const std::string& indexPath() const { return mIndexPath; }
  const std::string& basePath() const { return mBasePath; }
  double timeBase() const { return mTimeBase; }
  const std::array<bool, 256>& validAnywhere() const { return mValidAnywhere; }
  const std::array<bool, 256>& validTrailing() const { return mValidTrailing; }
  const std::string& validAnywhereStr() const { return mValidAnywhereStr; }
  const std::string& validTrailingStr() const { return mValidTrailingStr; }

  static constexpr QvMessage qvkiMakeDirNotDir{
      "QvKolvoIndex.qvkiMakeDirNotDir", "Cannot make directory %1% as it already exists and is not a directory"};
  static constexpr QvMessage qvkiNewIndexCreated{"QvKolvoIndex.qvkiNewIndexCreated", "Create new index named %1%"};
  static constexpr QvMessage qvkiOpenedIndex{"QvKolvoIndex.qvkiOpenedIndex", "Opened index %1% from %2%"};
  static constexpr QvMessage qvkiBuildCompleted{"QvKolvoIndex.qvkiBuildCompleted", "build completed in %1% seconds"};
  static constexpr QvMessage qvkiCouldNotOpenIndex{"QvKolvoIndex.qvkiCouldNotOpenIndex",
                                                   "Could not open an index at %1%"};
  static constexpr QvMessage qvkiAddedInclude{"QvKolvoIndex.qvkiAddedInclude", "Added %1% to include patterns"};
  static constexpr QvMessage qvkiAddedRootDir{"QvKolvoIndex.qvkiAddedRootDir", "Added %1% as root directory"};
  static constexpr QvMessage qvkiIndexingRoot{"QvKolvoIndex.qvkiIndexingRoot", "Indexing %1%"};
  static constexpr QvMessage qvkiCouldNotReadBuildNumber{"QvKolvoIndex.qvkiCouldNotReadBuildNumber",
                                                         "Could not read the build number for %1%"};
  static constexpr QvMessage qvkiIncludesCleared{"QvKolvoIndex.qvkiIncludesCleared", "Includes cleared"};
  static constexpr QvMessage qvkiExcludesCleared{"QvKolvoIndex.qvkiExcludesCleared", "Excludes cleared"};
  static constexpr QvMessage qvkiRootsCleared{"QvKolvoIndex.qvkiRootsCleared", "Root paths cleared"};
  static constexpr QvMessage qvkiHaltRequested{"QvKolvoIndex.qvkiHaltRequested", "Halt requested by user"};
  static constexpr QvMessage qvkiCannotDeleteOpenIndex{"QvKolvoIndex.qvkiCannotDeleteOpenIndex",
                                                       "You cannot delete the currently open index"};
  static constexpr QvMessage qvkiExclusionError{"QvKolvoIndex.qvkiExclusionError",
                                                "Error indexing excluded words: %1% "};
  static constexpr QvMessage qvkiIndexDeleted{"QvKolvoIndex.qvkiIndexDeleted", "Index %1% deleted"};
  static constexpr QvMessage qvkiCouldNotDeleteIndex{"QvKolvoIndex.qvkiCouldNotDeleteIndex",
                                                     "Could not delete index %1%"};
  static constexpr QvMessage qvkiAddedExclude{"QvKolvoIndex.qvkiAddedExclude", "Added %1% to exclude paths"};
  static constexpr QvMessage qvkiCopyIndexError{"QvKolvoIndex.qvkiCopyIndexError", "Could not copy from %1% to %2%."};
  static constexpr QvMessage qvkiUpdateCompleted{"QvKolvoIndex.qvkiUpdateCompleted",
                                                 "update completed in %1% seconds"};
  static constexpr QvMessage qvkiSavedIndex{"QvKolvoIndex.qvkiSavedIndex", "Saved to %1%"};
  static constexpr QvMessage qvkiIndexAlreadyExists{"QvKolvoIndex.qvkiIndexAlreadyExists",
                                                    "An index named %1% already exists"};
  static constexpr QvMessage qvkiBadIndexName{
      "QvKolvoIndex.qvkiBadIndexName",
      "\"%1%\" is not a valid index name: it must not be empty nor hold \"/\" or \"..\""};
  static constexpr QvMessage qvkiNoTest{"QvKolvoIndex.qvkiNoTest", "no test defined"};
  static constexpr QvMessage qvkiSearchPhraseNumberError{
      "QvKolvoIndex.qvkiSearchPhraseNumberError",
      "Search token (%1%) contains numbers that the current number handling setting doesn't allow"};
  static constexpr QvMessage qvkiParenMismatch{"QvKolvoIndex.qvkiParenMismatch",
                                               "Parenthesis mismatch in phrase \"%1%\""};
  static constexpr QvMessage qvkiPhraseTooDeep{"QvKolvoIndex.qvkiPhraseTooDeep",
                                               "Parentheses nested more than %1% deep in phrase \"%2%\""};
  static constexpr QvMessage qvkiNeedsToBeBuild{"QvKolvoIndex.qvkiNeedsToBeBuild",
                                                "The index needs to be rebuilt before using it further"};
  static constexpr QvMessage qvReferralNotFinished{"QvKolvoIndex.qvReferralNotFinished",
                                                   "Request did not complete for referral: "};
  static constexpr QvMessage qvkiFound{"QvKolvoIndex.qvkiFound", "Found "};
  static constexpr QvMessage qvkiOccurrences{"QvKolvoIndex.qvkiOccurrences", " Occurrences: "};
  static constexpr QvMessage qvkiSkipped{"QvKolvoIndex.qvkiSkipped", " Skipped( %1% )"};
  static constexpr QvMessage qvZeroResultsRequested{"QvKolvoIndex.qvZeroResultsRequested", "Zero results requested"};
  static constexpr QvMessage qvkiNoSuchResult{"QvKolvoIndex.qvkiNoSuchResult",
                                              "There is no result %1%: the last search found %2%"};
  static constexpr QvMessage qvkiNoSuchFile{"QvKolvoIndex.qvkiNoSuchFile",
                                            "%1% is not the key of a file in this index"};
  static constexpr QvMessage qvkiBadTokenRegex{"QvKolvoIndex.qvkiBadTokenRegex", "%1%"};
  static constexpr QvMessage qvkiIndexSound{"QvKolvoIndex.qvkiIndexSound", "Index %1% is sound"};
  static constexpr QvMessage qvkiCheckNoBuild{"QvKolvoIndex.qvkiCheckNoBuild", "Index %1% has no build to check"};
  static constexpr QvMessage qvkiCheckNoDocument{"QvKolvoIndex.qvkiCheckNoDocument", "%1% is missing"};
  static constexpr QvMessage qvkiWatchNoRoots{"QvKolvoIndex.qvkiWatchNoRoots", "The index has no root to watch"};
  static constexpr QvMessage qvkiWatchCannot{"QvKolvoIndex.qvkiWatchCannot", "Cannot watch the roots: %1%"};
  static constexpr QvMessage qvkiWatchStarted{"QvKolvoIndex.qvkiWatchStarted",
                                              "watching %1% folders under %2%; interrupt to end"};
  static constexpr QvMessage qvkiWatchUpdated{"QvKolvoIndex.qvkiWatchUpdated", "updated %1% in %2% seconds"};
  static constexpr QvMessage qvkiWatchFullUpdate{"QvKolvoIndex.qvkiWatchFullUpdate",
                                                 "full update (%1%) in %2% seconds"};
  static constexpr QvMessage qvkiWatchMore{"QvKolvoIndex.qvkiWatchMore", "%1% and %2% more"};
  static constexpr QvMessage qvkiWatchFailed{"QvKolvoIndex.qvkiWatchFailed",
                                             "an update failed (%1%); the previous build stays the index"};
  static constexpr QvMessage qvkiWatchLimit{
      "QvKolvoIndex.qvkiWatchLimit",
      "the per-user limit of inotify watches (%1%, /proc/sys/fs/inotify/max_user_watches) is reached: %2% "
      "folders are not watched and are brought up to date by a full update every %3% seconds. Raise the "
      "limit with \"sysctl fs.inotify.max_user_watches=524288\" (as root; add it to /etc/sysctl.d/ to keep it)"};
  static constexpr QvMessage qvkiWatchOverflow{
      "QvKolvoIndex.qvkiWatchOverflow",
      "the kernel's queue of file events overflowed (its limit is %1%, /proc/sys/fs/inotify/max_queued_events): "
      "a full update takes in what was missed. Raise the limit with "
      "\"sysctl fs.inotify.max_queued_events=65536\" (as root; add it to /etc/sysctl.d/ to keep it)"};
  static constexpr QvMessage qvkiWatchEnded{"QvKolvoIndex.qvkiWatchEnded", "watch ended"};

 private:
  // findPhrase at a depth of parentheses; deeper than kMaxPhraseNesting is refused.
  void findPhrase(const std::string& phrase, QvKolvoResults& results, bool first, int depth);
  // kidxGetFileContents with this index's settings; an engine error raises.
  CFileContents* openContents(kulong file);
  // Drops the candidates whose text lacks the phrase's quoted words or near words.
  void checkContents(const std::string& phrase, QvKolvoResults& results);
  // The referral that the text before a "|" or "}" of a result key names.
  std::shared_ptr<class QvReferral> referralNamed(const std::string& name) const;
  // The hits of the last phrase, "position:length" TAB each, with the text made an
  // outline first when the outline setting is on.
  std::string hitsOf(CFileContents* contents, std::string& text);
  std::string tokenRegexHits(std::string& text);
  bool isWordLengthShown(kulong length) const;

  struct Paths {
    std::string kolvoDirectory, temporaryDirectory, indexDirectory, basePath, indexPath;
  };
  static Paths determineIndexFileNames(const std::string& name);
  void addToStringList(const std::string& text, std::vector<std::string>& list);
  void loadParameters();
  void indexSkipFile();
  void emptyIndex();
  std::vector<std::string> createRootDirList() const;
  void scanFiles();
  // The one pass over a copy of the current build that every update runs: settings
  // loaded, pass run, links merged and the copy stored as the next build.
  void updateWith(const std::function<void()>& pass, bool advanceTimeBase);
  // Whether the watch leaves path alone: the kolvo directory, an excluded path.
  bool isUnwatchable(const std::string& path) const;
  void saveBuild(int n);
  void putBuildNumber(int n);
  void deleteOtherBuilds(int keep);
  void indexExclusions();
  // Moves to build n of the base path: the index and temporary paths, with the cache made.
  void enterBuildDirectory(int n);
  // After a failed build, update or save: the half-made build goes, the previous one stays.
  void restoreAfterFailure(int n, const std::string& oldIndexPath, const std::string& oldTemporary,
                           double oldTimeBase);
  // Copies the current build n to build n + 1, opens the copy and lets work finish it
  // as build n + 1; when that fails, build n stays the index.
  void continueFromCopy(const std::function<void(int next)>& work);
  // Refuses names that would lead outside the indexes directory.
  static void checkIndexName(const std::string& name);
  std::shared_ptr<QvKolvoIndex> replaceRoot(const std::string& name);

  int mDefaultCharacterSet = 0;
  std::string mKolvoDirectory, mTemporaryDirectory, mIndexDirectory, mBasePath, mIndexPath;
  int mMinWordLength = 3;
  int mMaxWordLength = 32;
  int mMaxPerFileRead = 10000000;
  bool mIsUpdate = false;
  int mInternationalChar = 0;
  bool mUseRanking = true;
  bool mTrackAll = true;
  bool mShowStatus = true;
  int mNumberHandling = 0;
  std::string mAddedChars, mAddedTrailingChars;
  std::vector<std::string> mIncludePatterns, mExcludePatterns;
  double mTimeBase = 0;
  int mNumberFilesIndexed = 0, mNumberWordsIndexed = 0, mNumberBytesRead = 0, mDirectoriesRead = 0,
      mNumberFileContentsIndexed = 0;
  std::array<bool, 256> mValidAnywhere{}, mValidTrailing{}, mValidViewable{}, mNonAlphaCharacters{};
  std::string mValidAnywhereStr, mValidTrailingStr;
  CKolvoIndex* mIndex = nullptr;
  bool mSavePassword = false;
  std::vector<std::string> mRootDirectories;
  bool mHideTags = true;
  int mWordWrap = 120;
  bool mOutlineContents = true;

  std::shared_ptr<QvSearchCriteria> mSearchCriteria;
  std::shared_ptr<QvReferrals> mReferrals;
  QvKolvoResults mResults{this};
  std::string mSkippedWords;
  std::string mLastSearchPhrase = "*";
  int mSearchCount = 0;
  // Whether the search under way checks its files once at its end.
  bool mCheckAtEnd = false;
  // The records the last search's final check read, by ascending file number, so the
  // listing after it reads the table only once. Every other command drops them, as it
  // may change the table they point into.
  std::vector<kulong> mCheckedFiles;
  std::vector<KolvoFileRecord> mCheckedRecords;
  bool mLastCheckSound = false;
  // The watch's timing, for this session only; a watch's updates make no reports.
  int mWatchQuiet, mWatchLongest, mWatchFallback;
  bool mWatching = false;
  bool mExclusionsTold = false;

 public:
  static constexpr int kMaxPhraseNesting = 100;
};
