// Copies one file's bytes for the update, which starts each new build from a copy of
// the previous one: a clone that shares the blocks where the file system can make one
// (Btrfs, XFS), else a copy inside the kernel, with the copy's writing to disk begun at
// once so that the store at the end of the update finds most of it done. And the small
// files that name what is current, replaced whole and on the disk before they count.
#pragma once

#include <string>

// Makes to (replacing what is there) a copy of from with from's permissions; false
// with errno set when it cannot.
bool qvCopyFileContents(const std::string& from, const std::string& to);

// Replaces path with text, with the given permissions: written beside it, synced, and
// renamed over it, so that path holds the old text or the new, whole, even after a
// crash. False with errno set (path untouched, nothing left beside it) when it cannot.
bool qvReplaceFileDurably(const std::string& path, const std::string& text, unsigned mode);
