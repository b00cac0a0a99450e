// CTextStorage: a hashed table of texts in a backing file, each entry a NUL-terminated
// text with a fixed block of caller data in front. The index keeps its words here (16
// bytes of word data each) and its skip words (no data). Entries are never removed.
#pragma once

#include <cstdint>
#include <cstdio>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "engine/filememory/file_memory.h"
#include "engine/filememory/le_fields.h"
#include "engine/storage/hash_stream.h"
#include "engine/storage/text_lookup_index.h"
#include "engine/storage/word_order.h"

// An entry at offset R: nextInBucket (u32), caller data (prefixSize - 4 bytes), the
// text and its NUL at R + prefixSize, which is the entry's word number. Chains run in
// the order entries were added, so every link of a sound chain points forward.
//
// A table made anew, as a build makes it, also keeps an in-memory accelerator: lookups
// read one slot of it instead of walking the stored chains. An opened table (an update,
// a search) walks the chains.
//
// While a table is being filled, new or opened for an update, indexing keeps the data
// of the words it meets in the slots only and leaves the entries alone; everything that
// reads or writes data otherwise (getData, getWritableData, the switch to read-only,
// closing) first writes all the copies back.
class CTextStorage : public CFileMemory {
 public:
  // An entry as indexing uses it: its word number (0 for none) and its slot, if any.
  struct Entry {
    uint32_t word = 0;
    kolvo::TextLookupIndex::Slot* slot = nullptr;
  };

  // A new, empty table; dataSize bytes of caller data per entry.
  CTextStorage(const std::string& path, uint32_t initialSize, uint32_t growIncrement, uint32_t dataSize,
               uint32_t bucketCount);
  // An existing table, read-only, with its section of the open "hash" stream.
  CTextStorage(const std::string& path, std::FILE* stream);
  ~CTextStorage() override;

  // Adds a new entry (callers look it up first) and returns its word number.
  uint32_t addText(const char* text);
  uint32_t lookup(const char* text) const;
  // The same with the text's key made already, for indexing, which prefetches.
  using Key = kolvo::TextLookupIndex::Key;
  uint32_t lookup(const Key& key, const char* text) const;
  // lookup and addText for indexing, which reads the data with dataOf and changes it
  // with setData; the entry stays valid until the table next changes.
  Entry findEntry(const Key& key, const char* text);
  Entry addEntry(const char* text);
  const unsigned char* dataOf(const Entry& entry) const {
    return copiesAhead ? entry.slot->data : getData(entry.word);
  }
  // Replaces an entry's caller data (dataSize bytes).
  void setData(const Entry& entry, const unsigned char* data);
  // Starts fetching what lookup(key) reads, for callers that know their next words.
  void prefetch(const Key& key) const {
    if (fast) fast->prefetch(key);
  }
  // For indexing into an opened table, which meets its words in the stored chains first:
  // the bucket of a text the accelerator does not hold yet, with its head being fetched
  // (noBucket when the accelerator holds it or the table keeps all its texts there); and
  // then the first entry of such a bucket being fetched.
  static constexpr uint32_t noBucket = UINT32_MAX;
  bool meetsWordsInChains() const { return partial; }
  uint32_t prefetchBucket(const Key& key, const char* text) const;
  void prefetchFirstInBucket(uint32_t bucket) const;
  uint32_t getFirst() const;
  uint32_t getNext(uint32_t word) const;
  // The words from cursor on (0: the first) whose text begins with prefix, byte for
  // byte: at most capacity of them are written to words, at most steps entries are
  // looked at, and cursor is left where the next call goes on (0 once all have been
  // looked at). Returns how many were written. With a sound order (attachOrder) the
  // words it covers come first, sorted by text and found by a binary search, then the
  // entries added after it in table order; without one, every entry in table order.
  uint32_t findPrefixed(std::string_view prefix, uint32_t& cursor, uint32_t* words, uint32_t capacity,
                        uint32_t steps) const;
  // Takes the sorted order of the words from the file at path for findPrefixed. It is
  // checked against the table when first used; a file that is missing, short, damaged
  // or made for another table is never used, and findPrefixed walks the table.
  void attachOrder(const std::string& path);
  // Whether findPrefixed finds the words through a sound order (for tests).
  bool hasSoundOrder() const { return soundOrder() != nullptr; }
  // What is wrong with the attached order, in one line; empty when there is none or it
  // is sound. Beyond the check made before first use, which a search can afford, it
  // makes sure that the order holds every word it covers once, in byte order: a
  // damaged order that passed the first check would make prefix searches miss words.
  std::string orderDamage() const;
  // Writes the sorted order of all the words to path, under a new inode (an older
  // build may share the file it replaces). With keepAttached, an attached sound order
  // whose tail is still small (limits::wordOrderTailDivisor) is kept as it is: the
  // caller says the file at path is that order's. False when the file cannot be written.
  bool storeOrder(const std::string& path, bool keepAttached) const;
  // The word numbers of the entries from word on (a word number, or 0 for all), sorted
  // by their text byte for byte.
  std::vector<uint32_t> sortedWords(uint32_t from) const;
  // The text of an entry; null when word is no entry of the used space.
  const char* getText(uint32_t word) const;
  // The caller data in front of an entry; null when word is no entry.
  const unsigned char* getData(uint32_t word) const;
  unsigned char* getWritableData(uint32_t word);

  uint32_t getHash(const char* text) const;
  void addHash(const char* text, uint32_t word);
  void reHash();

  bool store(std::FILE* stream) const;
  bool read(std::FILE* stream);

  uint32_t dataSize() const { return prefixSize - 4; }
  uint32_t getEntryCount() const { return entryCount; }
  uint32_t getBucketCount() const { return static_cast<uint32_t>(buckets.size()); }
  // The stored chains as they are, unchecked, for the integrity check: the first entry
  // of a bucket, and the link of an entry to the next of its chain (0 when unreadable).
  uint32_t bucketHead(uint32_t bucket) const { return bucket < buckets.size() ? buckets[bucket] : 0; }
  uint32_t chainLink(uint32_t entry) const {
    const unsigned char* link = entry >= prefixSize ? getPointer(entry - prefixSize, 4) : nullptr;
    return link ? kolvo::loadU32(link) : 0;
  }
  // Bytes of memory held by the accelerator (0 without one).
  size_t acceleratorBytes() const { return fast ? fast->bytes() : 0; }
  // Writes the data copies back and frees the accelerator, for when indexing is over
  // for a while (link compression reads every entry once): lookups walk the chains, and
  // indexing that resumes builds an accelerator of the words it meets again.
  void releaseAccelerator();
  // Empties the table, its chains and its accelerator.
  void clearAll() override;
  // Writes the data copies back before the table turns read-only.
  bool disableWrite() override;
  // Whether word can be an entry: past the first prefix and inside the used space.
  bool isEntry(uint32_t word) const { return word >= headerSize + prefixSize && inUse(word); }

 private:
  // The next entry of word's chain; "AssertionFailed" for a link that does not point
  // forward into the used space (a damaged table).
  uint32_t nextInChain(uint32_t word) const;
  // Rebuilds the chains under enough buckets for entries.
  void reHashFor(uint32_t entries);
  // The accelerator's way to a slot's text when it grows.
  kolvo::TextLookupIndex::TextOf textOfEntry() const;
  kolvo::TextLookupIndex::Slot* findSlot(const Key& key, const char* text) const;
  uint32_t lookupInChains(const char* text) const;
  // Writes every slot's data to its entry; from then on the entries hold the data.
  void writeBackCopies();
  // The attached order once it proved sound against this table; null otherwise.
  const kolvo::WordOrder* soundOrder() const;
  bool checkOrder(const kolvo::WordOrder& sorted) const;
  // findPrefixed's walk of the entries in table order from cursor on.
  uint32_t walkPrefixed(std::string_view prefix, uint32_t& cursor, uint32_t* words, uint32_t capacity,
                        uint32_t steps) const;
  // Whether the text of word, an entry checked against the order, begins with prefix,
  // and whether it sorts before prefix.
  bool beginsWith(uint32_t word, std::string_view prefix) const;
  bool sortsBefore(uint32_t word, std::string_view prefix) const;

  uint32_t prefixSize = 4;
  kolvo::BucketArray buckets;
  uint32_t entryCount = 0;
  std::unique_ptr<kolvo::TextLookupIndex> fast;
  // Whether the accelerator holds only the texts indexing has met, as on a table that
  // was opened and is updated: a text it does not hold may still be in the chains.
  bool partial = false;
  // Whether the slots hold the data and the entries may be behind.
  bool copiesAhead = false;
  std::unique_ptr<kolvo::WordOrder> order;
};
