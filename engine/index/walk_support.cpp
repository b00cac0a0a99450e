#include "engine/index/walk_support.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>

#include <cstring>
#include <memory>

#include "engine/storage/file_storage.h"

namespace kolvo {

bool listDirectory(const std::string& path, std::vector<std::string>& names) {
  std::vector<unsigned char> types;
  return listDirectory(path, names, types);
}

bool listDirectory(const std::string& path, std::vector<std::string>& names, std::vector<unsigned char>& types) {
  std::unique_ptr<DIR, int (*)(DIR*)> folder(opendir(path.c_str()), closedir);
  if (!folder) return false;
  bool seenDot = false;
  while (dirent* entry = readdir(folder.get())) {
    if (std::strcmp(entry->d_name, ".") == 0) {
      if (seenDot) break;  // a listing that starts over
      seenDot = true;
      continue;
    }
    if (std::strcmp(entry->d_name, "..") == 0) continue;
    names.emplace_back(entry->d_name);
    types.push_back(entry->d_type);
  }
  return true;
}

EntryStatus foundStatus(mode_t mode, int64_t modified, uint64_t size) {
  return EntryStatus{true, mode, CFileStorage::recordableTime(modified), CFileStorage::recordableSize(size)};
}

EntryStatus statusOf(int folder, const char* name) {
  struct stat status {};
  if (fstatat(folder, name, &status, AT_SYMLINK_NOFOLLOW) != 0) return EntryStatus{};
  return foundStatus(status.st_mode, status.st_mtime, static_cast<uint64_t>(status.st_size));
}

}  // namespace kolvo
