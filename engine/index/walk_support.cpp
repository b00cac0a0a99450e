#include "engine/index/walk_support.h"

#include <dirent.h>

#include <cstring>
#include <memory>

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

}  // namespace kolvo
