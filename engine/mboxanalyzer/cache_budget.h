// CCacheBudget: how much one container (a mailbox) may write to the cache: each cache
// file at most a per-entry number of bytes, all files of the container together at most
// a per-container number. The mail analyzer asks it before every write.
#pragma once

#include <cstddef>
#include <cstdint>

#include "engine/index/resource_limits.h"

class CCacheBudget {
 public:
  explicit CCacheBudget(uint64_t perEntry = kolvo::limits::memberBytes,
                        uint64_t perContainer = kolvo::limits::containerBytes)
      : entryLimit(perEntry), containerLeft(perContainer) {}

  // A new cache file begins; it may take what is left of both bounds.
  void startEntry() { entryWritten = 0; }
  // Whether the file about to begin may hold any byte at all.
  bool hasRoom() const { return entryLimit > 0 && containerLeft > 0; }
  // How many of wanted bytes the current file may still write; they are counted as
  // written. Bytes refused are dropped: the file is cut there.
  size_t take(size_t wanted) {
    uint64_t entryLeft = entryLimit > entryWritten ? entryLimit - entryWritten : 0;
    uint64_t granted = wanted;
    if (granted > entryLeft) granted = entryLeft;
    if (granted > containerLeft) granted = containerLeft;
    entryWritten += granted;
    containerLeft -= granted;
    return static_cast<size_t>(granted);
  }
  uint64_t leftForContainer() const { return containerLeft; }

 private:
  uint64_t entryLimit;
  uint64_t containerLeft;
  uint64_t entryWritten = 0;
};
