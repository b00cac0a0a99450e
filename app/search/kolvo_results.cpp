#include "app/search/kolvo_results.h"

#include <algorithm>
#include <charconv>
#include <cstdlib>
#include <limits>
#include <utility>
#include <cmath>
#include <cstring>

#include "app/commands/text_tools.h"
#include "app/index/kolvo_index.h"

namespace {

// Ranks of a file found by many words add up; they stop at the largest int32.
int32_t raised(int32_t rank, int32_t by) {
  int64_t sum = static_cast<int64_t>(rank) + by + 1;
  return static_cast<int32_t>(std::min<int64_t>(sum, std::numeric_limits<int32_t>::max()));
}

// Sets as large as a common word's files are sorted a digit at a time; the sort is
// stable either way, so files met twice keep the order they came in.
constexpr std::size_t kRadixSortFrom = 1024;

template <typename Item>
void sortByFile(std::vector<Item>& items) {
  auto byFile = [](const Item& a, const Item& b) { return a.file < b.file; };
  if (items.size() < kRadixSortFrom) {
    std::stable_sort(items.begin(), items.end(), byFile);
    return;
  }
  constexpr int kDigitBits = 11;
  constexpr std::size_t kDigits = std::size_t{1} << kDigitBits;
  std::vector<Item> other(items.size());
  std::vector<std::size_t> starts(kDigits);
  for (int shift = 0; shift < 32; shift += kDigitBits) {
    std::fill(starts.begin(), starts.end(), 0);
    for (const Item& item : items) ++starts[(item.file >> shift) & (kDigits - 1)];
    std::size_t at = 0;
    for (std::size_t& start : starts) at += std::exchange(start, at);
    for (const Item& item : items) other[starts[(item.file >> shift) & (kDigits - 1)]++] = item;
    items.swap(other);
  }
}

}  // namespace

namespace {

// The time's text at out, which has room for 32 bytes.
char* writeDecimal(char* out, double value) {
  // The files of a listing mostly share a few times (a tree copied or unpacked at once):
  // the text of the time written last is copied rather than made again.
  thread_local double lastValue = 0;
  thread_local char lastText[32] = {'0'};
  thread_local std::size_t lastLength = 1;
  if (value == lastValue && !std::signbit(value) == !std::signbit(lastValue)) {
    std::memcpy(out, lastText, lastLength);
    return out + lastLength;
  }
  char* end = nullptr;
  // A whole number of fewer than 17 digits is written as the integer it is; the file
  // times of a listing are all such.
  if (value == std::trunc(value) && std::fabs(value) < 1e16 && value != 0) {
    // Times until 2040 fit 32 bits, whose digits come quicker.
    if (value > 0 && value <= std::numeric_limits<uint32_t>::max())
      end = std::to_chars(out, out + 32, static_cast<uint32_t>(value)).ptr;
    else
      end = std::to_chars(out, out + 32, static_cast<int64_t>(value)).ptr;
  } else {
    end = std::to_chars(out, out + 32, value, std::chars_format::general, 17).ptr;
  }
  // A NaN equals nothing, so it is never taken from here.
  lastValue = value;
  lastLength = static_cast<std::size_t>(end - out);
  std::memcpy(lastText, out, lastLength);
  return end;
}

char* writeText(char* out, std::string_view text) {
  if (!text.empty()) std::memcpy(out, text.data(), text.size());
  return out + text.size();
}

}  // namespace

void qvAppendDecimal(std::string& out, double value) {
  char text[32];
  out.append(text, writeDecimal(text, value));
}

char* qvWriteResultFields(char* out, std::string_view name, std::string_view parentPath, int32_t rank,
                          double timeLastWritten, std::string_view size) {
  out = writeText(out, name);
  *out++ = '\t';
  out = writeText(out, parentPath);
  *out++ = '\t';
  out = std::to_chars(out, out + 16, rank).ptr;
  *out++ = '\t';
  out = writeDecimal(out, timeLastWritten);
  *out++ = '\t';
  return writeText(out, size);
}

void qvAppendResultFields(std::string& line, std::string_view name, std::string_view parentPath, int32_t rank,
                          double timeLastWritten, std::string_view size) {
  std::size_t at = line.size();
  line.resize(at + name.size() + parentPath.size() + size.size() + kResultFieldsSlack);
  line.resize(static_cast<std::size_t>(qvWriteResultFields(line.data() + at, name, parentPath, rank, timeLastWritten, size) -
                                       line.data()));
}

bool qvIsLocalKey(const std::string& key, kulong* file) {
  if (key.empty() || key.size() > 10) return false;
  unsigned long long value = 0;
  auto [end, error] = std::from_chars(key.data(), key.data() + key.size(), value);
  if (error != std::errc() || end != key.data() + key.size() || value > std::numeric_limits<kulong>::max())
    return false;
  if (file) *file = static_cast<kulong>(value);
  return true;
}

std::size_t qvReferralSplit(const std::string& key) {
  std::size_t split = key.find('}');
  return split != std::string::npos ? split : key.find('|');
}

QvKolvoResult::QvKolvoResult(const std::vector<std::string_view>& fields) {
  auto field = [&fields](std::size_t i) { return i < fields.size() ? fields[i] : std::string_view(); };
  mFileName = field(0);
  mParentPath = field(1);
  mRank = static_cast<int32_t>(std::strtol(std::string(field(2)).c_str(), nullptr, 10));
  mTimeLastWritten = std::strtod(std::string(field(3)).c_str(), nullptr);
  mSize = field(4).empty() ? std::string_view("0") : field(4);
}

std::string QvKolvoResult::asString() const {
  std::string line;
  qvAppendResultFields(line, mFileName, mParentPath, mRank, mTimeLastWritten, mSize);
  return line;
}

void QvKolvoResults::addResult(kulong file, int32_t rank) {
  changed();
  if (!mLocal.empty() && mLocal.back().file >= file) mSorted = false;
  mLocal.push_back({file, rank});
}

void QvKolvoResults::addResult(const std::string& key, int32_t rank) {
  kulong file = 0;
  if (qvIsLocalKey(key, &file)) return addResult(file, rank);
  if (key == kAllKey) return addAllKey();
  changed();
  auto [found, added] = mRemote.try_emplace(key, rank);
  if (!added) found->second.mRank = raised(found->second.mRank, rank);
}

void QvKolvoResults::addResult(const std::string& referralName, std::string_view line) {
  changed();
  // The fields up to the key on the referral's side, the sixth; what follows is not read.
  std::vector<std::string_view> fields;
  for (std::size_t at = 0; fields.size() < 6;) {
    std::size_t tab = line.find('\t', at);
    fields.push_back(line.substr(at, tab == std::string_view::npos ? std::string_view::npos : tab - at));
    if (tab == std::string_view::npos) break;
    at = tab + 1;
  }
  std::string_view remoteKey = fields.size() > 5 ? fields[5] : std::string_view();
  std::string key = referralName;
  key += remoteKey.find('|') == std::string_view::npos ? '|' : '}';
  key += remoteKey;
  QvKolvoResult result(fields);
  auto [found, added] = mRemote.try_emplace(std::move(key), std::move(result));
  if (!added) found->second.mRank = raised(found->second.mRank, result.mRank);
}

void QvKolvoResults::addAllKey() {
  changed();
  mAll = true;
}

void QvKolvoResults::removeResults(std::vector<kulong> files) {
  if (files.empty()) return;
  changed();
  normalise();
  std::sort(files.begin(), files.end());
  std::erase_if(mLocal, [&files](const Local& local) { return std::binary_search(files.begin(), files.end(), local.file); });
}

void QvKolvoResults::normalise() {
  if (mSorted) return;
  sortByFile(mLocal);
  std::size_t kept = 0;
  for (std::size_t i = 0; i < mLocal.size(); ++i) {
    if (kept > 0 && mLocal[kept - 1].file == mLocal[i].file) {
      mLocal[kept - 1].rank = raised(mLocal[kept - 1].rank, mLocal[i].rank);
    } else {
      mLocal[kept++] = mLocal[i];
    }
  }
  mLocal.resize(kept);
  mSorted = true;
}

void QvKolvoResults::andResults(QvKolvoResults& other) {
  changed();
  if (other.mAll) return;
  if (mAll) {
    other.normalise();
    mLocal = other.mLocal;
    mRemote = other.mRemote;
    mAll = false;
    mSorted = true;
    return;
  }
  normalise();
  other.normalise();
  std::vector<Local> both;
  auto mine = mLocal.begin();
  auto theirs = other.mLocal.begin();
  while (mine != mLocal.end() && theirs != other.mLocal.end()) {
    if (mine->file < theirs->file) {
      ++mine;
    } else if (theirs->file < mine->file) {
      ++theirs;
    } else {
      both.push_back({mine->file, raised(mine->rank, theirs->rank)});
      ++mine;
      ++theirs;
    }
  }
  mLocal = std::move(both);
  for (auto it = mRemote.begin(); it != mRemote.end();) {
    auto found = other.mRemote.find(it->first);
    if (found == other.mRemote.end()) {
      it = mRemote.erase(it);
    } else {
      it->second.mRank = raised(it->second.mRank, found->second.mRank);
      ++it;
    }
  }
}

void QvKolvoResults::orResults(QvKolvoResults& other) {
  changed();
  if (other.mAll) {
    mAll = true;
    return;
  }
  if (mAll) return;
  // Appending keeps every rank; normalise merges the common files as addResult would.
  for (const Local& local : other.mLocal) addResult(local.file, local.rank);
  for (const auto& [key, result] : other.mRemote) {
    auto [found, added] = mRemote.try_emplace(key, result);
    if (!added) found->second.mRank = raised(found->second.mRank, result.mRank);
  }
}

void QvKolvoResults::notResults(QvKolvoResults& other) {
  changed();
  if (other.mAll) {
    clear();
    return;
  }
  if (mAll) return;
  normalise();
  other.normalise();
  std::vector<Local> kept;
  auto theirs = other.mLocal.begin();
  for (const Local& local : mLocal) {
    while (theirs != other.mLocal.end() && theirs->file < local.file) ++theirs;
    if (theirs == other.mLocal.end() || theirs->file != local.file) kept.push_back(local);
  }
  mLocal = std::move(kept);
  for (const auto& entry : other.mRemote) mRemote.erase(entry.first);
}

int64_t QvKolvoResults::occurrences() {
  normalise();
  int64_t sum = mAll ? 1 : 0;
  for (const Local& local : mLocal) sum += static_cast<int64_t>(local.rank) + 1;
  for (const auto& entry : mRemote) sum += static_cast<int64_t>(entry.second.mRank) + 1;
  return sum;
}

std::size_t QvKolvoResults::size() {
  normalise();
  return mLocal.size() + mRemote.size() + (mAll ? 1 : 0);
}

void QvKolvoResults::clear() {
  changed();
  mLocal.clear();
  mRemote.clear();
  mAll = false;
  mSorted = true;
}

std::vector<kulong> QvKolvoResults::localFiles() {
  normalise();
  std::vector<kulong> files;
  files.reserve(mLocal.size());
  for (const Local& local : mLocal) files.push_back(local.file);
  return files;
}

void QvKolvoResults::keepLocal(const std::vector<char>& kept) {
  changed();
  normalise();
  std::size_t at = 0;
  for (std::size_t i = 0; i < mLocal.size(); ++i)
    if (i < kept.size() && kept[i]) mLocal[at++] = mLocal[i];
  mLocal.resize(at);
}

const std::vector<QvKolvoResults::Entry>& QvKolvoResults::ranked() {
  if (mRankedValid) return mRanked;
  normalise();
  // Local files already stand in ascending order of number, remote keys of text, so a
  // stable sort by rank leaves ties in ascending key.
  mRanked.clear();
  mRanked.reserve(size());
  // A local file's key is made only when asked for (keyText): a listing writes the number.
  for (const Local& local : mLocal) mRanked.push_back({local.file != 0 ? std::string() : "0", local.rank, local.file});
  for (const auto& [key, result] : mRemote) mRanked.push_back({key, result.mRank});
  if (mAll) mRanked.push_back({kAllKey, 0});
  auto better = [](const Entry& a, const Entry& b) { return a.rank > b.rank; };
  // Many searches rank every file alike; their order needs no sort.
  if (!std::is_sorted(mRanked.begin(), mRanked.end(), better))
    std::stable_sort(mRanked.begin(), mRanked.end(), better);
  mRankedValid = true;
  return mRanked;
}

const QvKolvoResult* QvKolvoResults::remoteResult(const std::string& key) const {
  auto found = mRemote.find(key);
  return found != mRemote.end() ? &found->second : nullptr;
}

QvKolvoResult QvKolvoResults::resultOf(const std::string& key) {
  kulong file = 0;
  if (qvIsLocalKey(key, &file)) {
    normalise();
    auto at = std::lower_bound(mLocal.begin(), mLocal.end(), file,
                               [](const Local& local, kulong number) { return local.file < number; });
    QvKolvoResult result = mKolvoIndex ? mKolvoIndex->describeFile(file) : QvKolvoResult();
    result.mRank = at != mLocal.end() && at->file == file ? at->rank : 0;
    return result;
  }
  auto found = mRemote.find(key);
  return found != mRemote.end() ? found->second : QvKolvoResult();
}
