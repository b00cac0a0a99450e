#include "engine/storage/file_storage.h"

#include <algorithm>
#include <cstring>
#include <optional>

#include "engine/filememory/le_fields.h"
#include "engine/index/resource_limits.h"
#include "engine/kolvolib/error_reporting.h"
#include "engine/storage/hash_stream.h"
#include "engine/storage/table_hash.h"

using kolvo::throwKolvoError;

namespace {

// Offsets of the information fields, counted from the entry's start.
constexpr uint32_t parentField = 4;
constexpr uint32_t timeField = 8;
constexpr uint32_t sizeField = 12;
constexpr uint32_t attributesField = 16;

}  // namespace

CFileStorage::CFileStorage(const std::string& path, uint32_t bucketCount)
    : CFileMemory(path, 0xFFFF, 0xFFFFF), buckets(bucketCount == 0 ? 1 : bucketCount, 0) {}

CFileStorage::CFileStorage(const std::string& path, std::FILE* stream) : CFileMemory(path) {
  if (!read(stream)) throwKolvoError("StorageReadError", path);
  if (mapped() && used() > headerSize && !lastUsedByteIsNul()) throwKolvoError("StorageReadError", path);
}

uint32_t CFileStorage::getHash(const char* name) const {
  return kolvo::textHash(name) % static_cast<uint32_t>(buckets.size());
}

uint32_t CFileStorage::nextInChain(uint32_t file) const {
  const unsigned char* link = getPointer(file - prefixSize, 4);
  kolvo::kolvoCheck(link != nullptr, "file chain");
  uint32_t next = kolvo::loadU32(link);
  // Chains run in the order entries were added: a link that does not point forward is
  // damage, and would otherwise let a walk loop for ever.
  kolvo::kolvoCheck(next == 0 || (next > file && isEntry(next)), "file chain");
  return next;
}

void CFileStorage::ensureTails() {
  if (tailsKnown) return;
  // Every chain is walked to its end, several side by side, each link fetched ahead
  // while the others step: one walk after another would wait for memory at every link.
  tails.assign(buckets.size(), 0);
  chained = chainedSum = 0;
  std::vector<uint32_t> walking;  // the buckets whose walk goes on; tails[b] is where it stands
  walking.reserve(buckets.size());
  for (size_t bucket = 0; bucket < buckets.size(); ++bucket) {
    uint32_t file = buckets[bucket];
    if (file == 0) continue;
    kolvo::kolvoCheck(isEntry(file), "file bucket");
    tails[bucket] = file;
    ++chained;
    chainedSum += file;
    prefetch(file - prefixSize, false);
    walking.push_back(static_cast<uint32_t>(bucket));
  }
  while (!walking.empty()) {
    for (size_t w = 0; w < walking.size();) {
      uint32_t& file = tails[walking[w]];
      uint32_t next = nextInChain(file);
      if (next == 0) {
        walking[w] = walking.back();
        walking.pop_back();
        continue;
      }
      file = next;
      ++chained;
      chainedSum += next;
      prefetch(next - prefixSize, false);
      ++w;
    }
  }
  // The walk counts like the walks of lookups: the accelerator costs no more from here.
  chainSteps += chained;
  tailsKnown = true;
}

uint32_t CFileStorage::nextInChainRead(uint32_t file) const {
  unsigned char link[4];
  if (file < prefixSize || !readBytes(file - prefixSize, link, sizeof link)) return nextInChain(file);
  uint32_t next = kolvo::loadU32(link);
  kolvo::kolvoCheck(next == 0 || (next > file && isEntry(next)), "file chain");
  return next;
}

void CFileStorage::ensureIndexed() {
  if (indexed) {
    if (notYetIndexed) {
      uint32_t file = notYetIndexed;
      notYetIndexed = 0;
      names.insert(file, kolvo::textHash(getText(file)), getParent(file));
    }
    return;
  }
  names.clear();
  notYetIndexed = 0;
  // The tails come from the stored chains, which alone know the bucket of an obsolete
  // entry; they also tell which entries a lookup can reach.
  ensureTails();
  // The names go in in table order, where a folder's files lie together, so that each
  // folder's group is filled while it is in the cache. A damaged table, whose chains do
  // not hold every entry once, has them taken from the chains instead.
  uint64_t listed = 0, listedSum = 0;
  for (uint32_t file = getFirst(); file != 0;) {
    // The group of a folder is sized once for the run of its files.
    uint32_t parent = getParent(file);
    uint32_t end = file;
    size_t run = 0;
    for (; end != 0 && getParent(end) == parent; end = getNext(end)) ++run;
    names.reserve(parent, run);
    for (; file != end; file = getNext(file)) {
      names.insert(file, kolvo::textHash(getText(file)), parent);
      ++listed;
      listedSum += file;
    }
  }
  if (listed != chained || listedSum != chainedSum) {
    names.clear();
    for (size_t bucket = 0; bucket < buckets.size(); ++bucket)
      for (uint32_t file = buckets[bucket]; file != 0; file = nextInChain(file))
        names.insert(file, kolvo::textHash(getText(file)), getParent(file));
  }
  indexed = true;
}

bool CFileStorage::walkChainsInstead() {
  return !indexed && chainSteps < used() / kolvo::limits::fileChainBytesPerStep;
}

uint32_t CFileStorage::chainTail(uint32_t bucket) {
  uint32_t file = buckets[bucket];
  if (file == 0) return 0;
  kolvo::kolvoCheck(isEntry(file), "file bucket");
  for (uint32_t next = nextInChain(file); next != 0; next = nextInChain(next)) {
    file = next;
    ++chainSteps;
  }
  return file;
}

void CFileStorage::releaseAccelerator() {
  names = kolvo::FileNameIndex();
  tails = std::vector<uint32_t>();
  indexed = false;
  tailsKnown = false;
  tailWalks = 0;
  notYetIndexed = 0;
  releasePagesBelow(used());
}

uint32_t CFileStorage::addFile(const char* name) {
  // A text taken from this very table would move when the table grows: copy it first.
  if (mapped() && name >= reinterpret_cast<const char*>(base()) &&
      name < reinterpret_cast<const char*>(base()) + total()) {
    std::string copy(name);
    return addFile(copy.c_str());
  }
  // A few additions walk their own bucket's chain; more take every chain's tail in one
  // walk, which is all an addition needs: the accelerator waits for a name lookup.
  const bool byChains = !indexed && !tailsKnown && tailWalks < kolvo::limits::fileChainTailWalks &&
                        walkChainsInstead();
  if (indexed) ensureIndexed();
  else if (!byChains) ensureTails();
  size_t length = std::strlen(name);
  if (length + 1 + prefixSize > increment()) throwKolvoError("GetHugeSpace", std::to_string(length + 1 + prefixSize));
  uint32_t bucket = getHash(name);
  if (byChains) ++tailWalks;
  uint32_t tail = byChains ? chainTail(bucket) : tails[bucket];
  uint32_t entry = getNewSpace(static_cast<uint32_t>(prefixSize + length + 1));
  uint32_t file = entry + prefixSize;
  std::memcpy(getWritablePointer(file, static_cast<uint32_t>(length + 1)), name, length + 1);
  if (buckets[bucket] == 0)
    buckets.writable(bucket) = file;
  else
    kolvo::storeU32(getWritablePointer(tail - prefixSize, 4), file);
  // Without the tails, the chains are all there is: they are walked again later.
  if (byChains) return file;
  tails[bucket] = file;
  ++chained;
  chainedSum += file;
  // Without the accelerator, its later build takes the entry from the table.
  if (indexed) notYetIndexed = file;
  return file;
}

uint32_t CFileStorage::lookupFile(const char* name, uint32_t parentId) {
  if (walkChainsInstead()) return lookupFileByChain(name, parentId);
  ensureIndexed();
  return names.find(kolvo::textHash(name), parentId, [&](uint32_t file) {
    return std::strcmp(getText(file), name) == 0 && getParent(file) == parentId;
  });
}

uint32_t CFileStorage::lookupFileByChain(const char* name, uint32_t parentId) const {
  uint32_t file = buckets[getHash(name)];
  if (file == 0) return 0;
  kolvo::kolvoCheck(isEntry(file), "file bucket");
  for (; file != 0; file = nextInChain(file)) {
    ++chainSteps;
    if (std::strcmp(getText(file), name) == 0 && getParent(file) == parentId) return file;
  }
  return 0;
}

uint32_t CFileStorage::getFirst() const {
  uint32_t first = headerSize + prefixSize;
  return isEntry(first) ? first : 0;
}

uint32_t CFileStorage::getNext(uint32_t file) const {
  const char* name = getText(file);
  if (!name) return 0;
  uint64_t next = static_cast<uint64_t>(file) + std::strlen(name) + 1 + prefixSize;
  return next < used() ? static_cast<uint32_t>(next) : 0;
}

const char* CFileStorage::getText(uint32_t file) const {
  if (!isEntry(file)) return nullptr;
  return reinterpret_cast<const char*>(getPointer(file));
}

const unsigned char* CFileStorage::getData(uint32_t file) const {
  if (!isEntry(file)) return nullptr;
  return getPointer(file - infoSize, infoSize);
}

uint32_t CFileStorage::infoField(uint32_t file, uint32_t at) const {
  kolvo::kolvoCheck(isEntry(file), "file record");
  return kolvo::loadU32(getPointer(file - prefixSize + at, 4));
}

void CFileStorage::setInfoField(uint32_t file, uint32_t at, uint32_t value) {
  kolvo::kolvoCheck(isEntry(file), "file record");
  kolvo::storeU32(getWritablePointer(file - prefixSize + at, 4), value);
}

uint32_t CFileStorage::getParent(uint32_t file) const { return infoField(file, parentField); }
int32_t CFileStorage::getTime(uint32_t file) const { return static_cast<int32_t>(infoField(file, timeField)); }
uint32_t CFileStorage::getSize(uint32_t file) const { return infoField(file, sizeField); }
uint32_t CFileStorage::getAttributes(uint32_t file) const { return infoField(file, attributesField); }

void CFileStorage::setParent(uint32_t file, uint32_t parentId) {
  uint32_t old = getParent(file);
  if (old == parentId) return;
  getWritablePointer(file - prefixSize, prefixSize);  // refuse before the accelerator changes
  if (indexed && file != notYetIndexed) {
    uint32_t key = kolvo::textHash(getText(file));
    names.erase(file, key, old);
    names.insert(file, key, parentId);
  }
  setInfoField(file, parentField, parentId);
}

void CFileStorage::setTime(uint32_t file, int32_t unixSeconds) {
  setInfoField(file, timeField, static_cast<uint32_t>(unixSeconds));
}
void CFileStorage::setSize(uint32_t file, uint32_t size) { setInfoField(file, sizeField, size); }
void CFileStorage::setAttributes(uint32_t file, uint32_t attributes) {
  setInfoField(file, attributesField, attributes);
}

void CFileStorage::markObsolete(uint32_t file) {
  const char* name = getText(file);
  kolvo::kolvoCheck(name != nullptr, "file record");
  if (name[0] == 0) return;
  unsigned char* first = getWritablePointer(file, 1);
  if (indexed && file != notYetIndexed) {
    uint32_t parent = getParent(file);
    names.erase(file, kolvo::textHash(name), parent);
    *first = obsoleteMark;
    names.insert(file, kolvo::textHash(name), parent);
  } else {
    *first = obsoleteMark;
  }
}

bool CFileStorage::isObsolete(uint32_t file) const {
  const char* name = getText(file);
  return name && static_cast<unsigned char>(name[0]) == obsoleteMark;
}

uint32_t CFileStorage::fileOfInfo(const void* pointer) {
  const unsigned char* at = static_cast<const unsigned char*>(pointer);
  if (!mapped() || at < base()) return 0;
  uint64_t offset = static_cast<uint64_t>(at - base()) + infoSize;
  if (offset > UINT32_MAX || !isFileNumber(static_cast<uint32_t>(offset))) return 0;
  return static_cast<uint32_t>(offset);
}

bool CFileStorage::isFileNumber(uint32_t file) {
  if (!isEntry(file)) return false;
  if (!walked.empty() && file <= walked.back()) return std::binary_search(walked.begin(), walked.end(), file);
  const char* name = getText(file);
  // Until a name lookup needs the accelerator, a search of a freshly opened index must
  // not build it: entries known from earlier answers, or else the stored chain of the
  // name's bucket, answer for a live entry; an obsolete entry, whose name no longer
  // hashes to its chain, is left to the accelerator.
  if (!indexed) {
    if (std::optional<bool> known = knownFromConfirmed(file)) return *known;
    for (uint32_t entry = buckets[getHash(name)]; entry != 0 && entry <= file && isEntry(entry);
         entry = nextInChainRead(entry)) {
      // Every entry of the chain is one: each becomes a place to walk on from.
      if (confirmed.size() < kolvo::limits::confirmedFileNumbers) confirmed.insert(entry);
      if (entry == file) return true;
    }
  }
  // Every entry is in the accelerator under the hash of its name and its parent; an
  // offset inside a name is in it under no key at all.
  ensureIndexed();
  return names.find(kolvo::textHash(name), getParent(file), [&](uint32_t candidate) { return candidate == file; }) ==
         file;
}

std::optional<bool> CFileStorage::knownFromConfirmed(uint32_t file) {
  // The entries follow one another in the table: from a known entry shortly before file,
  // stepping entry by entry reaches file exactly when it is one.
  uint32_t from = getFirst();
  auto after = confirmed.upper_bound(file);
  if (after != confirmed.begin()) from = std::max(from, *std::prev(after));
  if (from == 0 || from > file || file - from > kolvo::limits::fileStepBytes) return std::nullopt;
  uint32_t entry = from;
  while (entry != 0 && entry < file) entry = getNext(entry);
  if (entry != file) return false;
  if (confirmed.size() < kolvo::limits::confirmedFileNumbers) confirmed.insert(file);
  return true;
}

void CFileStorage::checkFileNumbers(const uint32_t* files, size_t count, unsigned char* isFile) {
  // Numbers as dense as a search's answer are settled by one walk of the entries in
  // table order, each following the one before: no name is hashed.
  if (!indexed && count > 0 && used() / count <= kolvo::limits::fileWalkBytesPerNumber) {
    std::vector<size_t> order(count);
    for (size_t i = 0; i < count; ++i) order[i] = i;
    if (!std::is_sorted(files, files + count))
      std::sort(order.begin(), order.end(), [files](size_t a, size_t b) { return files[a] < files[b]; });
    uint32_t entry = getFirst();
    // The entries passed are kept, for the numbers asked one by one after (folders).
    walked.clear();
    bool keep = true;
    for (size_t i : order) {
      while (entry != 0 && entry < files[i]) {
        if (keep) walked.push_back(entry);
        entry = getNext(entry);
      }
      isFile[i] = entry != 0 && entry == files[i] ? 1 : 0;
      if (keep && walked.size() >= kolvo::limits::walkedFileNumbers) {
        std::vector<uint32_t>().swap(walked);
        keep = false;
      }
    }
    if (keep && entry != 0) walked.push_back(entry);
    return;
  }
  // Until a bucket's chain would be walked several times over, one by one is cheaper.
  // Without the accelerator the largest number goes first: its chain's walk spans the
  // table below it and leaves known entries all along, from which each smaller number
  // is a short step rather than a walk of its own.
  if (indexed || count <= 2 * buckets.size()) {
    std::vector<size_t> order(count);
    for (size_t i = 0; i < count; ++i) order[i] = i;
    if (!indexed) std::sort(order.begin(), order.end(), [files](size_t a, size_t b) { return files[a] > files[b]; });
    for (size_t i : order) isFile[i] = isFileNumber(files[i]) ? 1 : 0;
    return;
  }
  // The numbers grouped by bucket (a counting sort), ascending within each group as
  // the chains run, so that one walk of a chain settles every number of its group.
  constexpr uint32_t noBucket = UINT32_MAX;
  std::vector<uint32_t> bucketOf(count, noBucket);
  std::vector<size_t> groupEnd(buckets.size() + 1, 0);
  for (size_t i = 0; i < count; ++i) {
    isFile[i] = 0;
    if (!isEntry(files[i])) continue;
    bucketOf[i] = getHash(getText(files[i]));
    ++groupEnd[bucketOf[i] + 1];
  }
  for (size_t bucket = 1; bucket < groupEnd.size(); ++bucket) groupEnd[bucket] += groupEnd[bucket - 1];
  std::vector<size_t> order(groupEnd.back());
  std::vector<size_t> fill(groupEnd.begin(), groupEnd.end() - 1);
  for (size_t i = 0; i < count; ++i)
    if (bucketOf[i] != noBucket) order[fill[bucketOf[i]]++] = i;
  auto byNumber = [files](size_t a, size_t b) { return files[a] < files[b]; };
  // Several chains are walked side by side, each link fetched ahead while the others
  // step, so that the walks wait for memory together rather than one after another.
  struct Walk {
    size_t at, last;  // the group's numbers not yet settled
    uint32_t entry;   // where the chain's walk stands; 0 once it has ended
  };
  std::vector<Walk> walks;
  size_t nextBucket = 0;
  auto startWalk = [&]() -> std::optional<Walk> {
    for (; nextBucket < buckets.size(); ++nextBucket) {
      size_t first = groupEnd[nextBucket], last = groupEnd[nextBucket + 1];
      if (first == last) continue;
      std::sort(order.begin() + static_cast<std::ptrdiff_t>(first), order.begin() + static_cast<std::ptrdiff_t>(last),
                byNumber);
      uint32_t head = buckets[nextBucket++];
      uint32_t entry = isEntry(head) ? head : 0;
      if (entry != 0) prefetch(entry - prefixSize, false);
      return Walk{first, last, entry};
    }
    return std::nullopt;
  };
  while (walks.size() < kolvo::limits::fileChainWalksAtOnce)
    if (auto walk = startWalk()) walks.push_back(*walk);
    else break;
  while (!walks.empty()) {
    for (size_t w = 0; w < walks.size();) {
      Walk& walk = walks[w];
      // A number below where the walk stands, or past its end, is in no place of it.
      for (; walk.at != walk.last && (walk.entry == 0 || files[order[walk.at]] <= walk.entry); ++walk.at)
        if (files[order[walk.at]] == walk.entry) isFile[order[walk.at]] = 1;
      if (walk.at == walk.last) {
        if (auto another = startWalk()) {
          walk = *another;
        } else {
          walk = walks.back();
          walks.pop_back();
        }
        continue;
      }
      // The walk stops, unchecked, where a link does not point forward to an entry: a
      // number it did not reach is asked one by one below, which reports such damage.
      uint32_t next = chainLink(walk.entry);
      walk.entry = next > walk.entry && isEntry(next) ? next : 0;
      if (walk.entry != 0) prefetch(walk.entry - prefixSize, false);
      ++w;
    }
  }
  // An obsolete entry no longer hashes to its chain, and an offset inside a name is in
  // none: the numbers left are answered as isFileNumber answers them.
  for (size_t i = 0; i < count; ++i)
    if (bucketOf[i] != noBucket && !isFile[i]) isFile[i] = isFileNumber(files[i]) ? 1 : 0;
}

bool CFileStorage::store(std::FILE* stream) const {
  return kolvo::writeU32(stream, kolvo::fileTableTag) && kolvo::writeU32(stream, prefixSize) &&
         kolvo::writeHashEntries(stream, buckets);
}

bool CFileStorage::read(std::FILE* stream) {
  uint32_t tag = 0, prefix = 0;
  if (!kolvo::readU32(stream, tag) || tag != kolvo::fileTableTag || !kolvo::readU32(stream, prefix) ||
      prefix != prefixSize)
    return false;
  indexed = false;
  tailsKnown = false;
  confirmed.clear();
  walked.clear();
  return kolvo::readHashEntries(stream, buckets);
}

void CFileStorage::clearAll() {
  CFileMemory::clearAll();
  confirmed.clear();
  walked.clear();
  tailsKnown = false;
}
