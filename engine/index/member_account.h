// What an index keeps while it reads containers (archives, mailboxes): how deep it is
// inside them, the bytes written to temporary files for the top-level container, and
// the names members are known by. Held by CKolvoIndex, used through CContainerLevel.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "engine/index/resource_limits.h"

struct MemberAccount {
  // The bounds in force: those of the limits header unless a test lowers them.
  uint64_t memberBound = kolvo::limits::memberBytes;
  uint64_t containerBound = kolvo::limits::containerBytes;
  size_t depthBound = kolvo::limits::containerDepth;

  // Containers open now, the outermost first, each by the path a user knows it by
  // (an archive's own path, or for a nested one its container's path, '/', its name).
  std::vector<std::string> openContainers;
  // Bytes written to temporary files since the outermost container was opened.
  uint64_t containerBytes = 0;
  // The outermost container's bound was reached and said so.
  bool containerCutTold = false;
  // A member being handed to its analyzer as a temporary file: that file, and the
  // member's own path, which the analyzer's containers take as theirs.
  std::string memberFile;
  std::string memberPath;
  // Bytes in temporary files now, and the most at any one time.
  uint64_t extractedNow = 0;
  uint64_t extractedPeak = 0;
  // Temporary files a halted or killed run left behind were removed.
  bool leftoversRemoved = false;
};
