#include "engine/storage/text_storage.h"

#include <algorithm>
#include <bit>
#include <cstring>
#include <utility>

#include "engine/filememory/le_fields.h"
#include "engine/filememory/posix_seam.h"
#include "engine/index/resource_limits.h"
#include "engine/kolvolib/error_reporting.h"
#include "engine/storage/hash_stream.h"
#include "engine/storage/table_hash.h"

using kolvo::throwKolvoError;

CTextStorage::CTextStorage(const std::string& path, uint32_t initialSize, uint32_t growIncrement,
                           uint32_t dataSize, uint32_t bucketCount)
    : CFileMemory(path, initialSize, growIncrement),
      prefixSize(dataSize + 4),
      buckets(bucketCount == 0 ? 1 : bucketCount, 0),
      fast(std::make_unique<kolvo::TextLookupIndex>(bucketCount)),
      copiesAhead(dataSize == kolvo::TextLookupIndex::dataBytes) {}

CTextStorage::~CTextStorage() {
  try {
    if (writable()) writeBackCopies();
  } catch (...) {
    // A table closed while its copies are ahead was never stored; nothing more to do.
  }
}

CTextStorage::CTextStorage(const std::string& path, std::FILE* stream) : CFileMemory(path) {
  if (!read(stream)) throwKolvoError("StorageReadError", path);
  // Every text must end inside the used space; the last used byte of a sound table is
  // the NUL of its last entry.
  if (mapped() && used() > headerSize && !lastUsedByteIsNul())
    throwKolvoError("StorageReadError", path);
  // Each entry takes at least its prefix and a NUL: a larger count is damage.
  if (entryCount > used() / (prefixSize + 1)) throwKolvoError("StorageReadError", path);
}

uint32_t CTextStorage::getHash(const char* text) const {
  return kolvo::textHash(text) % static_cast<uint32_t>(buckets.size());
}

uint32_t CTextStorage::nextInChain(uint32_t word) const {
  const unsigned char* link = getPointer(word - prefixSize, 4);
  kolvo::kolvoCheck(link != nullptr, "word chain");
  uint32_t next = kolvo::loadU32(link);
  kolvo::kolvoCheck(next == 0 || (next > word && isEntry(next)), "word chain");
  return next;
}

uint32_t CTextStorage::addText(const char* text) { return addEntry(text).word; }

CTextStorage::Entry CTextStorage::addEntry(const char* text) {
  // A text taken from this very table would move when the table grows: copy it first.
  if (mapped() && text >= reinterpret_cast<const char*>(base()) &&
      text < reinterpret_cast<const char*>(base()) + total()) {
    std::string copy(text);
    return addEntry(copy.c_str());
  }
  size_t length = std::strlen(text);
  if (length + 1 + prefixSize > increment()) throwKolvoError("GetHugeSpace", std::to_string(length + 1 + prefixSize));
  // The buckets grow before the new entry exists, and the count only once it does, so
  // a failed allocation leaves the table as it was.
  if (entryCount + 1 > buckets.size()) reHashFor(entryCount + 1);
  uint32_t entry = getNewSpace(static_cast<uint32_t>(prefixSize + length + 1));
  ++entryCount;
  uint32_t word = entry + prefixSize;
  std::memcpy(getWritablePointer(word, static_cast<uint32_t>(length + 1)), text, length + 1);
  addHash(text, word);
  return Entry{word, fast ? &fast->insert(Key(text, length), word, textOfEntry()) : nullptr};
}

void CTextStorage::clearAll() {
  CFileMemory::clearAll();
  buckets.assign(buckets.size(), 0);
  entryCount = 0;
  fast.reset();
  partial = false;
  copiesAhead = false;
  order.reset();
}

CTextStorage::Entry CTextStorage::findEntry(const Key& key, const char* text) {
  // An opened table that indexing writes to (an update) meets the same words over and
  // over: each is found in the chains once and then in an accelerator of the words met.
  if (!fast) {
    fast = std::make_unique<kolvo::TextLookupIndex>(1024);
    partial = true;
    copiesAhead = prefixSize - 4 == kolvo::TextLookupIndex::dataBytes;
  }
  if (kolvo::TextLookupIndex::Slot* slot = findSlot(key, text)) return Entry{slot->word, slot};
  if (partial)
    if (uint32_t word = lookupInChains(text)) {
      kolvo::TextLookupIndex::Slot& slot = fast->insert(key, word, textOfEntry());
      if (copiesAhead) std::memcpy(slot.data, getPointer(word - prefixSize + 4, prefixSize - 4), prefixSize - 4);
      return Entry{word, &slot};
    }
  return Entry{0, nullptr};
}

kolvo::TextLookupIndex::TextOf CTextStorage::textOfEntry() const {
  return [this](uint32_t word) { return getText(word); };
}

void CTextStorage::setData(const Entry& entry, const unsigned char* data) {
  if (copiesAhead) {
    std::memcpy(entry.slot->data, data, kolvo::TextLookupIndex::dataBytes);
    return;
  }
  kolvo::kolvoCheck(isEntry(entry.word) && prefixSize > 4, "word data");
  std::memcpy(getWritablePointer(entry.word - prefixSize + 4, prefixSize - 4), data, prefixSize - 4);
}

void CTextStorage::writeBackCopies() {
  if (!copiesAhead) return;
  // The slots are read in order but their entries lie anywhere: each entry is fetched
  // some slots ahead of its write.
  constexpr size_t ahead = 16;
  const kolvo::TextLookupIndex::Slot* pending[ahead];
  size_t seen = 0;
  auto writeBack = [&](const kolvo::TextLookupIndex::Slot& slot) {
    std::memcpy(getWritablePointer(slot.word - prefixSize + 4, prefixSize - 4), slot.data, prefixSize - 4);
  };
  fast->forEachSlot([&](const kolvo::TextLookupIndex::Slot& slot) {
    __builtin_prefetch(getPointer(slot.word - prefixSize + 4, prefixSize - 4), 1);
    if (seen >= ahead) writeBack(*pending[seen % ahead]);
    pending[seen++ % ahead] = &slot;
  });
  for (size_t i = seen > ahead ? seen - ahead : 0; i < seen; ++i) writeBack(*pending[i % ahead]);
  copiesAhead = false;
}

void CTextStorage::releaseAccelerator() {
  if (writable()) writeBackCopies();
  fast.reset();
  partial = false;
  copiesAhead = false;
}

bool CTextStorage::disableWrite() {
  if (writable()) writeBackCopies();
  return CFileMemory::disableWrite();
}

void CTextStorage::addHash(const char* text, uint32_t word) {
  uint32_t& head = buckets.writable(getHash(text));
  if (head == 0) {
    head = word;
    return;
  }
  kolvo::kolvoCheck(isEntry(head), "word bucket");
  uint32_t last = head;
  for (uint32_t next = nextInChain(last); next != 0; next = nextInChain(last)) last = next;
  kolvo::storeU32(getWritablePointer(last - prefixSize, 4), word);
}

void CTextStorage::reHash() { reHashFor(entryCount); }

void CTextStorage::reHashFor(uint32_t entries) {
  size_t count = buckets.size();
  while (entries > count) count *= 2;
  buckets.assign(count, 0);
  // Chains are rebuilt in file order; a tail per bucket spares walking each chain.
  std::vector<uint32_t> tails(count, 0);
  for (uint32_t word = getFirst(); word != 0; word = getNext(word))
    kolvo::storeU32(getWritablePointer(word - prefixSize, 4), 0);
  for (uint32_t word = getFirst(); word != 0; word = getNext(word)) {
    uint32_t bucket = getHash(getText(word));
    if (tails[bucket] == 0)
      buckets.writable(bucket) = word;
    else
      kolvo::storeU32(getWritablePointer(tails[bucket] - prefixSize, 4), word);
    tails[bucket] = word;
  }
}

// Without an accelerator the key is not needed: the chains are walked by the table's hash.
uint32_t CTextStorage::lookup(const char* text) const { return fast ? lookup(Key(text), text) : lookupInChains(text); }

uint32_t CTextStorage::lookup(const Key& key, const char* text) const {
  if (!fast) return lookupInChains(text);
  const kolvo::TextLookupIndex::Slot* slot = findSlot(key, text);
  if (slot) return slot->word;
  return partial ? lookupInChains(text) : 0;
}

uint32_t CTextStorage::lookupInChains(const char* text) const {
  uint32_t word = buckets[getHash(text)];
  if (word == 0) return 0;
  kolvo::kolvoCheck(isEntry(word), "word bucket");
  for (; word != 0; word = nextInChain(word))
    if (kolvo::sameTextIgnoringCase(reinterpret_cast<const char*>(getPointer(word)), text)) return word;
  return 0;
}

kolvo::TextLookupIndex::Slot* CTextStorage::findSlot(const Key& key, const char* text) const {
  return fast->find(key, [&](uint32_t word) {
    const char* stored = getText(word);
    return stored && kolvo::sameTextIgnoringCase(stored, text);
  });
}

uint32_t CTextStorage::prefetchBucket(const Key& key, const char* text) const {
  if (!partial || findSlot(key, text)) return noBucket;
  uint32_t bucket = getHash(text);
  __builtin_prefetch(buckets.address(bucket));
  return bucket;
}

void CTextStorage::prefetchFirstInBucket(uint32_t bucket) const {
  if (bucket == noBucket) return;
  uint32_t head = buckets[bucket];
  if (head != 0 && isEntry(head)) __builtin_prefetch(getPointer(head - prefixSize, prefixSize));
}

uint32_t CTextStorage::getFirst() const {
  uint32_t first = headerSize + prefixSize;
  return isEntry(first) ? first : 0;
}

uint32_t CTextStorage::getNext(uint32_t word) const {
  const char* text = getText(word);
  if (!text) return 0;
  uint64_t next = static_cast<uint64_t>(word) + std::strlen(text) + 1 + prefixSize;
  return next < used() ? static_cast<uint32_t>(next) : 0;
}

namespace {

// The length of the text at text, whose NUL lies before end; npos when none does. Words
// are short: eight bytes are looked at together before the library's search is called.
std::size_t textLength(const char* text, const char* end) {
  const char* at = text;
  if constexpr (std::endian::native == std::endian::little) {
    constexpr uint64_t ones = 0x0101010101010101ULL, highs = 0x8080808080808080ULL;
    while (end - at >= 8) {
      uint64_t bytes;
      std::memcpy(&bytes, at, 8);
      if (uint64_t zero = (bytes - ones) & ~bytes & highs)
        return static_cast<std::size_t>(at - text) + static_cast<std::size_t>(__builtin_ctzll(zero) >> 3);
      at += 8;
    }
  }
  const void* nul = std::memchr(at, 0, static_cast<std::size_t>(end - at));
  return nul ? static_cast<std::size_t>(static_cast<const char*>(nul) - text) : std::string_view::npos;
}

}  // namespace

uint32_t CTextStorage::walkPrefixed(std::string_view prefix, uint32_t& cursor, uint32_t* words, uint32_t capacity,
                                    uint32_t steps) const {
  uint32_t word = cursor == 0 ? getFirst() : cursor;
  uint32_t found = 0;
  // The entries lie one after another: each text's NUL is followed by the next one's
  // prefix. The used space is read in place, each text's end found within it.
  const char* all = reinterpret_cast<const char*>(base());
  while (word != 0 && found < capacity && steps-- > 0) {
    if (!isEntry(word)) {
      word = 0;
      break;
    }
    const char* text = all + word;
    std::size_t length = textLength(text, all + used());
    // A text that runs to the end of the used space ends the table.
    if (length == std::string_view::npos) {
      word = 0;
      break;
    }
    if (length >= prefix.size() && (prefix.empty() || text[0] == prefix[0]) &&
        std::memcmp(text, prefix.data(), prefix.size()) == 0)
      words[found++] = word;
    uint64_t next = static_cast<uint64_t>(word) + length + 1 + prefixSize;
    word = next < used() ? static_cast<uint32_t>(next) : 0;
  }
  cursor = word;
  return found;
}

uint32_t CTextStorage::findPrefixed(std::string_view prefix, uint32_t& cursor, uint32_t* words, uint32_t capacity,
                                    uint32_t steps) const {
  const kolvo::WordOrder* sorted = soundOrder();
  if (!sorted) return walkPrefixed(prefix, cursor, words, capacity, steps);
  // A cursor from 1 to the order's count is a position in it (plus one); the tail's
  // word numbers all lie above, since every covered entry takes more than one byte.
  const uint32_t count = sorted->count();
  uint32_t found = 0;
  if (cursor <= count) {
    uint32_t position = cursor - 1;
    if (cursor == 0) {
      uint32_t low = 0, high = count;
      while (low < high) {
        uint32_t middle = low + (high - low) / 2;
        if (sortsBefore(sorted->at(middle), prefix))
          low = middle + 1;
        else
          high = middle;
      }
      position = low;
    }
    for (; position < count && found < capacity && steps > 0; ++position, --steps) {
      uint32_t word = sorted->at(position);
      if (!beginsWith(word, prefix)) {
        position = count;
        break;
      }
      words[found++] = word;
    }
    if (position < count) {
      cursor = position + 1;
      return found;
    }
    uint64_t tail = static_cast<uint64_t>(sorted->coveredUsed()) + prefixSize;
    cursor = tail < used() ? static_cast<uint32_t>(tail) : 0;
    if (cursor == 0 || found == capacity || steps == 0) return found;
  }
  return found + walkPrefixed(prefix, cursor, words + found, capacity - found, steps);
}

bool CTextStorage::beginsWith(uint32_t word, std::string_view prefix) const {
  // Checked words lie below the covered size, whose last byte is a NUL.
  const char* text = reinterpret_cast<const char*>(base()) + word;
  return std::strncmp(text, prefix.data(), prefix.size()) == 0;
}

bool CTextStorage::sortsBefore(uint32_t word, std::string_view prefix) const {
  const char* text = reinterpret_cast<const char*>(base()) + word;
  return std::strncmp(text, prefix.data(), prefix.size()) < 0;
}

void CTextStorage::attachOrder(const std::string& path) { order = kolvo::WordOrder::map(path); }

const kolvo::WordOrder* CTextStorage::soundOrder() const {
  if (!order || !mapped()) return nullptr;
  return order->sound([this](const kolvo::WordOrder& sorted) { return checkOrder(sorted); }) ? order.get() : nullptr;
}

std::string CTextStorage::orderDamage() const {
  if (!order) return "";
  const kolvo::WordOrder* sorted = soundOrder();
  if (!sorted) return "does not fit the word table, and prefix searches walk every word";
  // The entries it covers, in table order, which is the order of their numbers.
  const uint32_t covered = sorted->coveredUsed();
  std::vector<uint32_t> entries;
  for (uint32_t word = getFirst(); word != 0 && word < covered; word = getNext(word)) entries.push_back(word);
  const char* previous = nullptr;
  for (uint32_t position = 0; position < sorted->count(); ++position) {
    uint32_t word = sorted->at(position);
    if (!std::binary_search(entries.begin(), entries.end(), word))
      return "place " + std::to_string(position) + " holds " + std::to_string(word) + ", which is no word it covers";
    const char* text = getText(word);
    if (previous && std::strcmp(previous, text) >= 0)
      return "\"" + std::string(text) + "\" at place " + std::to_string(position) + " is out of order";
    previous = text;
  }
  // Distinct words in a strict order: all of them when there are as many.
  if (sorted->count() != entries.size())
    return "holds " + std::to_string(sorted->count()) + " words of the " + std::to_string(entries.size()) +
           " it covers";
  return "";
}

bool CTextStorage::checkOrder(const kolvo::WordOrder& sorted) const {
  const uint64_t covered = sorted.coveredUsed(), count = sorted.count();
  // The covered space is a run of whole entries at the table's start: it ends with a
  // text's NUL, and the tail, if any, begins with an entry.
  if (covered < headerSize || covered > used() || count > entryCount) return false;
  if (count * (prefixSize + 1) > covered - headerSize) return false;
  if (covered > headerSize && *getPointer(static_cast<uint32_t>(covered - 1)) != 0) return false;
  if (covered < used() && !isEntry(static_cast<uint32_t>(covered + prefixSize))) return false;
  if ((count == 0) != (covered == headerSize)) return false;
  // Every word an entry of the covered space. The numbers are looked at in blocks of a
  // fixed size, which the compiler checks several at a time: the pass costs little
  // beside the walk of the table it spares.
  const uint32_t least = headerSize + prefixSize;
  const uint32_t span = static_cast<uint32_t>(covered) - least;
  constexpr uint32_t block = 64;
  uint32_t position = 0;
  uint32_t outside = 0;
  for (; position + block <= count; position += block) {
    uint32_t numbers[block];
    std::memcpy(numbers, sorted.bytesAt(position), sizeof numbers);
    for (uint32_t i = 0; i < block; ++i) outside |= static_cast<uint32_t>(numbers[i] - least >= span);
    if (outside) return false;
  }
  for (; position < count; ++position) outside |= static_cast<uint32_t>(sorted.at(position) - least >= span);
  return outside == 0;
}

namespace {

// The first eight bytes of a text as a number that sorts as the bytes do; a shorter
// text is padded with zeros, which sort first, as its end does.
uint64_t sortKey(const char* text) {
  uint64_t key = 0;
  int i = 0;
  for (; i < 8 && text[i] != 0; ++i) key = (key << 8) | static_cast<unsigned char>(text[i]);
  return key << (8 * (8 - i));
}

}  // namespace

std::vector<uint32_t> CTextStorage::sortedWords(uint32_t from) const {
  struct Keyed {
    uint64_t key;
    uint32_t word;
  };
  std::vector<Keyed> keyed;
  if (from == 0) keyed.reserve(entryCount);
  for (uint32_t word = from == 0 ? getFirst() : from; word != 0 && isEntry(word); word = getNext(word))
    keyed.push_back(Keyed{sortKey(getText(word)), word});
  const char* all = reinterpret_cast<const char*>(base());
  // Most words differ in their first eight bytes; only texts that share them and go on
  // are compared further.
  std::sort(keyed.begin(), keyed.end(), [all](const Keyed& a, const Keyed& b) {
    if (a.key != b.key) return a.key < b.key;
    if ((a.key & 0xFF) == 0) return false;
    return std::strcmp(all + a.word + 8, all + b.word + 8) < 0;
  });
  std::vector<uint32_t> words(keyed.size());
  for (size_t i = 0; i < keyed.size(); ++i) words[i] = keyed[i].word;
  return words;
}

bool CTextStorage::storeOrder(const std::string& path, bool keepAttached) const {
  const kolvo::WordOrder* sorted = soundOrder();
  uint32_t count = sorted ? sorted->count() : 0;
  uint32_t tail = entryCount - count;
  if (sorted && keepAttached && static_cast<uint64_t>(tail) * kolvo::limits::wordOrderTailDivisor <= count)
    return true;
  std::vector<uint32_t> words;
  if (!sorted) {
    words = sortedWords(0);
  } else {
    // The covered words are sorted already: only the tail is, and then merged in.
    uint64_t first = static_cast<uint64_t>(sorted->coveredUsed()) + prefixSize;
    std::vector<uint32_t> added = first < used() ? sortedWords(static_cast<uint32_t>(first)) : std::vector<uint32_t>();
    words.resize(count + added.size());
    const char* all = reinterpret_cast<const char*>(base());
    auto before = [all](uint32_t a, uint32_t b) { return std::strcmp(all + a, all + b) < 0; };
    size_t at = 0, next = 0;
    for (uint32_t position = 0; position < count; ++position) {
      uint32_t word = sorted->at(position);
      while (next < added.size() && before(added[next], word)) words[at++] = added[next++];
      words[at++] = word;
    }
    while (next < added.size()) words[at++] = added[next++];
  }
  return kolvo::replaceFileDurably(path, kolvo::WordOrder::encode(words, used()));
}

const char* CTextStorage::getText(uint32_t word) const {
  if (!isEntry(word)) return nullptr;
  return reinterpret_cast<const char*>(getPointer(word));
}

const unsigned char* CTextStorage::getData(uint32_t word) const {
  if (!isEntry(word)) return nullptr;
  // Tables are made by new, never as const objects: bringing the entries up to date
  // here keeps the copies invisible to every reader.
  if (copiesAhead) const_cast<CTextStorage*>(this)->writeBackCopies();
  return getPointer(word - prefixSize + 4, prefixSize - 4 == 0 ? 1 : prefixSize - 4);
}

unsigned char* CTextStorage::getWritableData(uint32_t word) {
  kolvo::kolvoCheck(isEntry(word) && prefixSize > 4, "word data");
  writeBackCopies();
  return getWritablePointer(word - prefixSize + 4, prefixSize - 4);
}

bool CTextStorage::store(std::FILE* stream) const {
  return kolvo::writeU32(stream, kolvo::wordTableTag) && kolvo::writeU32(stream, prefixSize) &&
         kolvo::writeU32(stream, entryCount) && kolvo::writeHashEntries(stream, buckets);
}

bool CTextStorage::read(std::FILE* stream) {
  uint32_t tag = 0, prefix = 0, count = 0;
  if (!kolvo::readU32(stream, tag) || tag != kolvo::wordTableTag || !kolvo::readU32(stream, prefix) ||
      !kolvo::readU32(stream, count))
    return false;
  // A prefix holds the chain link and at most a few words of data.
  if (prefix < 4 || prefix > 1024) return false;
  if (!kolvo::readHashEntries(stream, buckets)) return false;
  prefixSize = prefix;
  entryCount = count;
  // The entries are no longer the ones the accelerator holds.
  fast.reset();
  partial = false;
  copiesAhead = false;
  return true;
}
