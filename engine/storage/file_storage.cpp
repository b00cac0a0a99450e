#include "engine/storage/file_storage.h"

#include <cstring>

#include "engine/filememory/le_fields.h"
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
  if (mapped() && used() > headerSize && *getPointer(used() - 1) != 0) throwKolvoError("StorageReadError", path);
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
  tails.assign(buckets.size(), 0);
  uint64_t chained = 0, chainedSum = 0;
  for (size_t bucket = 0; bucket < buckets.size(); ++bucket) {
    uint32_t file = buckets[bucket];
    if (file == 0) continue;
    kolvo::kolvoCheck(isEntry(file), "file bucket");
    for (; file != 0; file = nextInChain(file)) {
      tails[bucket] = file;
      ++chained;
      chainedSum += file;
    }
  }
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
    for (uint32_t head : buckets)
      for (uint32_t file = head; file != 0; file = nextInChain(file))
        names.insert(file, kolvo::textHash(getText(file)), getParent(file));
  }
  indexed = true;
}

void CFileStorage::releaseAccelerator() {
  names = kolvo::FileNameIndex();
  tails = std::vector<uint32_t>();
  indexed = false;
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
  ensureIndexed();
  size_t length = std::strlen(name);
  if (length + 1 + prefixSize > increment()) throwKolvoError("GetHugeSpace", std::to_string(length + 1 + prefixSize));
  uint32_t entry = getNewSpace(static_cast<uint32_t>(prefixSize + length + 1));
  uint32_t file = entry + prefixSize;
  std::memcpy(getWritablePointer(file, static_cast<uint32_t>(length + 1)), name, length + 1);
  uint32_t bucket = getHash(name);
  if (buckets[bucket] == 0)
    buckets[bucket] = file;
  else
    kolvo::storeU32(getWritablePointer(tails[bucket] - prefixSize, 4), file);
  tails[bucket] = file;
  notYetIndexed = file;
  return file;
}

uint32_t CFileStorage::lookupFile(const char* name, uint32_t parentId) {
  ensureIndexed();
  return names.find(kolvo::textHash(name), parentId, [&](uint32_t file) {
    return kolvo::sameTextIgnoringCase(getText(file), name) && getParent(file) == parentId;
  });
}

uint32_t CFileStorage::lookupFileByChain(const char* name, uint32_t parentId) const {
  uint32_t file = buckets[getHash(name)];
  if (file == 0) return 0;
  kolvo::kolvoCheck(isEntry(file), "file bucket");
  for (; file != 0; file = nextInChain(file))
    if (kolvo::sameTextIgnoringCase(getText(file), name) && getParent(file) == parentId) return file;
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
  const char* name = getText(file);
  // Until a name lookup needs the accelerator, the stored chain of the name's bucket
  // answers for a live entry, so that a search of a freshly opened index does not build
  // it; an obsolete entry, whose name no longer hashes to its chain, is left to it.
  if (!indexed) {
    for (uint32_t entry = buckets[getHash(name)]; entry != 0 && entry <= file && isEntry(entry); entry = nextInChain(entry))
      if (entry == file) return true;
  }
  // Every entry is in the accelerator under the hash of its name and its parent; an
  // offset inside a name is in it under no key at all.
  ensureIndexed();
  return names.find(kolvo::textHash(name), getParent(file), [&](uint32_t candidate) { return candidate == file; }) ==
         file;
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
  return kolvo::readHashEntries(stream, buckets);
}
