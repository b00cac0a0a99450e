// A temporary folder for one test, removed with everything in it when the test ends.
// Tests make all their data below one of these and never touch the machine's own files.
#pragma once

#include <filesystem>
#include <string>

namespace kolvotest {

class TempDir {
 public:
  TempDir();
  ~TempDir();
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;

  const std::filesystem::path& path() const { return root; }
  // The folder's path with a trailing '/', as the engine wants index paths.
  std::string slashed() const { return root.string() + "/"; }
  // Writes a file below the folder (creating its parents) and returns its full path.
  std::string write(const std::string& relative, const std::string& contents) const;
  std::string read(const std::string& relative) const;

 private:
  std::filesystem::path root;
};

}  // namespace kolvotest
