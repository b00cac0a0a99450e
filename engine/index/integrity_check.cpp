#include "engine/index/integrity_check.h"

#include <algorithm>
#include <cstdint>

#include "engine/index/kolvo_index.h"
#include "engine/index/resource_limits.h"
#include "engine/index/word_data.h"
#include "engine/storage/file_links.h"
#include "engine/storage/file_storage.h"
#include "engine/storage/text_storage.h"

namespace kolvo {

namespace {

// The entries of a table in table order, as its walk from the first entry finds them;
// a number is an entry only if it is one of these.
class EntryList {
 public:
  template <typename Table>
  explicit EntryList(const Table& table) {
    for (uint32_t entry = table.getFirst(); entry != 0; entry = table.getNext(entry)) numbers.push_back(entry);
    reached.assign(numbers.size(), 0);
  }
  // The position of number in the list, or -1 when it is no entry.
  long find(uint32_t number) const {
    auto at = std::lower_bound(numbers.begin(), numbers.end(), number);
    return at != numbers.end() && *at == number ? static_cast<long>(at - numbers.begin()) : -1;
  }
  bool contains(uint32_t number) const { return find(number) >= 0; }

  std::vector<uint32_t> numbers;
  std::vector<char> reached;
};

class Checker {
 public:
  explicit Checker(const CKolvoIndex& checked) : index(checked) {}

  std::vector<std::string> run() {
    if (!index.files || !index.words || !index.skippedWords || !index.fileLinks) {
      report("the index lacks one of its tables");
      return damage;
    }
    EntryList files(*index.files);
    EntryList words(*index.words);
    EntryList skipped(*index.skippedWords);
    checkChains("files", *index.files, files, [&](uint32_t file) { return index.files->isObsolete(file); });
    checkChains("words", *index.words, words, [](uint32_t) { return false; });
    checkChains("skipped", *index.skippedWords, skipped, [](uint32_t) { return false; });
    checkCount("words", *index.words, words);
    checkCount("skipped", *index.skippedWords, skipped);
    checkParents(files);
    checkLinks(words, files);
    if (std::string wrong = index.words->orderDamage(); !wrong.empty()) report("wordorder: " + wrong);
    if (unreported > 0) damage.push_back("and " + std::to_string(unreported) + " more damages");
    return damage;
  }

 private:
  void report(std::string line) {
    if (damage.size() < static_cast<size_t>(limits::checkDamageLines))
      damage.push_back(std::move(line));
    else
      ++unreported;
  }

  // Every bucket's chain runs forward through entries of that bucket only, and every
  // entry is on exactly one chain. keepsNoHash: entries whose text no longer gives
  // their bucket (an obsolete file keeps the chain of its old name).
  template <typename Table, typename KeepsNoHash>
  void checkChains(const std::string& name, const Table& table, EntryList& entries, KeepsNoHash keepsNoHash) {
    for (uint32_t bucket = 0; bucket < table.getBucketCount(); ++bucket) {
      uint32_t entry = table.bucketHead(bucket);
      if (entry == 0) continue;
      if (!entries.contains(entry)) {
        report(name + ": bucket " + std::to_string(bucket) + " starts at " + std::to_string(entry) +
               ", which is no entry");
        continue;
      }
      // A chain visits each entry at most once; a longer one loops.
      for (size_t steps = 0; entry != 0 && steps <= entries.numbers.size(); ++steps) {
        long at = entries.find(entry);
        if (entries.reached[static_cast<size_t>(at)]++) {
          report(name + ": entry " + std::to_string(entry) + " is on more than one chain");
          break;
        }
        if (!keepsNoHash(entry) && table.getHash(table.getText(entry)) != bucket)
          report(name + ": entry " + std::to_string(entry) + " is on the chain of another bucket");
        uint32_t next = table.chainLink(entry);
        if (next != 0 && (next <= entry || !entries.contains(next))) {
          report(name + ": the chain link of entry " + std::to_string(entry) + " points to " +
                 std::to_string(next) + ", which is no later entry");
          break;
        }
        entry = next;
      }
    }
    size_t missing = static_cast<size_t>(std::count(entries.reached.begin(), entries.reached.end(), 0));
    if (missing > 0) {
      size_t first = static_cast<size_t>(std::find(entries.reached.begin(), entries.reached.end(), 0) -
                                         entries.reached.begin());
      report(name + ": " + std::to_string(missing) + " entries are on no chain, the first " +
             std::to_string(entries.numbers[first]));
    }
  }

  void checkCount(const std::string& name, const CTextStorage& table, const EntryList& entries) {
    if (table.getEntryCount() != entries.numbers.size())
      report(name + ": the count says " + std::to_string(table.getEntryCount()) + " entries, the table holds " +
             std::to_string(entries.numbers.size()));
  }

  // Each file's parent is 0 (a root) or an entry, and its chain of parents ends.
  void checkParents(const EntryList& files) {
    const CFileStorage& table = *index.files;
    for (uint32_t file : files.numbers) {
      uint32_t at = file;
      int depth = 0;
      for (; depth <= limits::fileAncestors; ++depth) {
        uint32_t parent = table.getParent(at);
        if (parent == 0) break;
        if (!files.contains(parent)) {
          report("files: the parent of entry " + std::to_string(at) + " is " + std::to_string(parent) +
                 ", which is no entry");
          break;
        }
        at = parent;
      }
      if (depth > limits::fileAncestors) {
        report("files: entry " + std::to_string(file) + " has more than " +
               std::to_string(limits::fileAncestors) + " parents");
      }
    }
  }

  // The blocks of each word: file numbers of entries up to a zero record, then the
  // number of the word's older block, which lies before.
  void checkLinks(const EntryList& words, const EntryList& files) {
    const CFileLinks& links = *index.fileLinks;
    const uint32_t record = links.recordSize();
    for (uint32_t word : words.numbers) {
      const unsigned char* data = index.words->getData(word);
      if (!data) {
        report("words: entry " + std::to_string(word) + " has no word data");
        continue;
      }
      std::string named = std::string("word \"") + index.words->getText(word) + "\"";
      uint32_t current = WordData::currentFile(data);
      if (current != 0 && !files.contains(current))
        report("words: the last file of " + named + " is " + std::to_string(current) + ", which is no file");
      uint32_t block = WordData::chainHead(data);
      for (size_t blocks = 0; block != 0; ++blocks) {
        if (blocks > words.numbers.size() || !links.inUse(block, record)) {
          report("links: the block at " + std::to_string(block) + " of " + named + " lies outside the table");
          break;
        }
        uint32_t offset = block;
        bool bad = false;
        for (;;) {
          if (!links.inUse(offset, record)) {
            report("links: the block at " + std::to_string(block) + " of " + named + " has no end");
            bad = true;
            break;
          }
          uint8_t rank = 0;
          uint32_t file = links.getFile(offset, rank);
          if (file == 0) break;
          if (!files.contains(file)) {
            report("links: " + named + " links to " + std::to_string(file) + ", which is no file");
            bad = true;
            break;
          }
        }
        if (bad) break;
        if (!links.inUse(offset, 4)) {
          report("links: the block at " + std::to_string(block) + " of " + named + " has no end");
          break;
        }
        uint32_t older = links.getNextList(offset);
        if (older >= block) {
          report("links: the block at " + std::to_string(block) + " of " + named + " chains to " +
                 std::to_string(older) + ", which is no older block");
          break;
        }
        block = older;
      }
    }
  }

  const CKolvoIndex& index;
  std::vector<std::string> damage;
  size_t unreported = 0;
};

}  // namespace

std::vector<std::string> checkIndex(const CKolvoIndex& index) { return Checker(index).run(); }

}  // namespace kolvo
