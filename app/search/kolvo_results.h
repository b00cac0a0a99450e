// The result set of a search: the files found, each with its rank, keyed by the file's
// number in the local file table or by a referral's name and the key it answered with.
// The index object fills, combines and lists it; referral answers are merged into it.
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "include/kolvolib.h"

class QvKolvoIndex;

// One found file as it is listed: name, parent folders, rank, time and size.
class QvKolvoResult {
 public:
  QvKolvoResult() = default;
  explicit QvKolvoResult(int32_t rank) : mRank(rank) {}
  // From the five fields a referral lists: name, parent path, rank, time, size.
  explicit QvKolvoResult(const std::vector<std::string_view>& fields);

  // name TAB parent path TAB rank TAB time TAB size.
  std::string asString() const;

  int32_t mRank = 0;
  std::string mFileName;
  // Each parent folder's name followed by "/", outermost first.
  std::string mParentPath;
  double mTimeLastWritten = 0;
  std::string mSize = "0";
};

class QvKolvoResults {
 public:
  // What a key is in the listing order.
  struct Entry {
    // A referral's key; empty for a local file, whose key is its number (keyText).
    std::string key;
    int32_t rank;
    // The local file of the key; 0 for any other key.
    kulong file = 0;
    std::string keyText() const { return file != 0 ? std::to_string(file) : key; }
  };

  static constexpr const char* kAllKey = "__all__";

  QvKolvoResults() = default;
  explicit QvKolvoResults(QvKolvoIndex* index) : mKolvoIndex(index) {}

  // A new key gets the rank; a known one has its rank raised by rank + 1.
  void addResult(kulong file, int32_t rank);
  void addResult(const std::string& key, int32_t rank);
  // A line a referral listed: five fields, then the key on its side.
  void addResult(const std::string& referralName, std::string_view line);
  void addAllKey();
  bool hasAllKey() const { return mAll; }
  void removeAllKey() { mAll = false; }
  // Drops the files listed, in any order, all in one pass; files not in the set are
  // passed over. The check of a phrase drops thousands of candidates at a time.
  void removeResults(std::vector<kulong> files);

  // Results of this AND, OR, or AND NOT the other set; ranks of common keys add up.
  void andResults(QvKolvoResults& other);
  void orResults(QvKolvoResults& other);
  void notResults(QvKolvoResults& other);

  // The sum of rank + 1 over all results.
  int64_t occurrences();
  // The number of keys, the all key included.
  std::size_t size();
  bool empty() { return size() == 0; }
  void clear();
  // The local file numbers, in ascending order.
  std::vector<kulong> localFiles();
  // Keeps the local files whose place in localFiles() is marked non-zero in kept.
  void keepLocal(const std::vector<char>& kept);

  // Best first: descending rank, ties in ascending key (local files by number first).
  // Kept until the set changes, so reading "result." + i for every i stays linear.
  const std::vector<Entry>& ranked();
  // The result of a key; a local file is described by the set's index (none: its rank only).
  QvKolvoResult resultOf(const std::string& key);
  // A referral's result as it is kept, or null for a key of no referral's result.
  const QvKolvoResult* remoteResult(const std::string& key) const;

  QvKolvoIndex* kolvoIndex() const { return mKolvoIndex; }

 private:
  struct Local {
    kulong file;
    int32_t rank;
  };
  // Local files are appended as they come and put in order (duplicates merged) before
  // anything reads them, so that a search adds tens of thousands of files cheaply.
  void normalise();
  void changed() { mRankedValid = false; }

  QvKolvoIndex* mKolvoIndex = nullptr;
  std::vector<Local> mLocal;
  bool mSorted = true;
  std::map<std::string, QvKolvoResult> mRemote;
  bool mAll = false;
  std::vector<Entry> mRanked;
  bool mRankedValid = false;
};

// A time as results list it: printf's "%.17g", enough digits to read back the same
// number.
void qvAppendDecimal(std::string& out, double value);
// The most bytes qvWriteResultFields adds to its three texts.
constexpr std::size_t kResultFieldsSlack = 64;
// Writes name TAB parent path TAB rank TAB time TAB size at out, which has room for the
// three texts and kResultFieldsSlack bytes more; answers where the text ends.
char* qvWriteResultFields(char* out, std::string_view name, std::string_view parentPath, int32_t rank,
                          double timeLastWritten, std::string_view size);
// A result's fields as listed: name TAB parent path TAB rank TAB time TAB size.
void qvAppendResultFields(std::string& line, std::string_view name, std::string_view parentPath, int32_t rank,
                          double timeLastWritten, std::string_view size);

// A key for a local file is its number in decimal.
bool qvIsLocalKey(const std::string& key, kulong* file = nullptr);
// Where a referral's result key splits into the referral's name and the key it answered
// with ("}" when that key was a referral's key itself, else "|"); npos for a local key.
std::size_t qvReferralSplit(const std::string& key);
