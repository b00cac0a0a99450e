// A file-system item: a file or folder named by an absolute path, which may or may not
// exist. The commands, the index object and its builds do all their file work through
// it; times are seconds since 1904-01-01 00:00 UTC, as everywhere in the program.
#pragma once

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

class QvFolderItem {
 public:
  // A shell path: absolute, or relative to the current directory. None for an empty
  // path or one holding a NUL byte.
  static std::optional<QvFolderItem> fromShellPath(std::string_view path);
  explicit QvFolderItem(std::filesystem::path absolute);

  // The absolute, lexically normal path.
  std::string shellPath() const { return location.string(); }
  const std::filesystem::path& path() const { return location; }
  std::string name() const { return location.filename().string(); }
  QvFolderItem parent() const { return QvFolderItem(location.parent_path()); }
  QvFolderItem child(std::string_view childName) const { return QvFolderItem(location / childName); }

  // Symbolic links are followed for these, as a user naming a file expects.
  bool exists() const;
  bool isDirectory() const;
  std::uintmax_t length() const;  // 0 when missing
  double modificationDate() const;  // 0 when missing
  // The entries of a folder, sorted by name; empty for anything else.
  std::vector<QvFolderItem> children() const;

  // Each answers false when the file system refused, and leaves errno-free state.
  bool createDirectory() const;
  bool createDirectories() const;
  bool remove() const;  // a file or an empty folder
  bool removeTree() const;  // a folder and everything in it, or a file
  bool copyFileTo(const QvFolderItem& destination) const;  // replaces an existing file

  // The whole content, or none when the item cannot be opened and read as a file.
  std::optional<std::string> readAll() const;
  // Creates (replaces) the file with text; false when it cannot be written completely.
  bool writeAll(std::string_view text) const;

 private:
  std::filesystem::path location;
};

// Seconds between 1904-01-01 and 1970-01-01, both UTC.
constexpr double kSecondsFrom1904To1970 = 2082844800.0;
// The clock, in seconds since 1904-01-01 00:00 UTC.
double qvSecondsSince1904();
