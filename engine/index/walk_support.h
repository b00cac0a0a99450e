// Small helpers of the walk and the update: listing a folder and joining paths.
#pragma once

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

}  // namespace kolvo
