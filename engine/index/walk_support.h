// Small helpers of the walk and the updates: listing a folder, joining paths, and the
// status of an entry as the stored fields keep it.
#pragma once

#include <sys/types.h>

#include <cstdint>
#include <string>
#include <vector>

namespace kolvo {

// The names a folder lists, without "." and "..", in the system's order; reading stops
// if "." comes a second time. False when the folder cannot be opened.
bool listDirectory(const std::string& path, std::vector<std::string>& names);
// The same with each name's type as the listing gives it (DT_DIR, DT_REG, DT_LNK, ...,
// or DT_UNKNOWN when the file system does not say).
bool listDirectory(const std::string& path, std::vector<std::string>& names, std::vector<unsigned char>& types);

// path + "/" + name, without doubling the '/' of the root.
inline std::string joinPath(const std::string& path, const std::string& name) {
  return path == "/" ? "/" + name : path + "/" + name;
}

// What an update needs of a status, as the stored fields keep it.
struct EntryStatus {
  bool found = false;
  mode_t mode = 0;
  int32_t modified = 0;
  uint32_t size = 0;
};

// A status found on disk as the stored fields keep it: a size or time beyond them at
// their limits, as the walk records it. Every way of taking a status goes through here.
EntryStatus foundStatus(mode_t mode, int64_t modified, uint64_t size);

// The status of name relative to the folder descriptor (AT_FDCWD: a path), taken never
// through a symbolic link.
EntryStatus statusOf(int folder, const char* name);

}  // namespace kolvo
