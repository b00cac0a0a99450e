#include "app/platform/folder_item.h"

#include <sys/stat.h>

#include <algorithm>
#include <chrono>
#include <fstream>
#include <sstream>
#include <system_error>

namespace fs = std::filesystem;

std::optional<QvFolderItem> QvFolderItem::fromShellPath(std::string_view path) {
  if (path.empty() || path.find('\0') != std::string_view::npos) return std::nullopt;
  std::error_code error;
  fs::path absolute = fs::absolute(fs::path(path), error);
  if (error) return std::nullopt;
  return QvFolderItem(absolute);
}

QvFolderItem::QvFolderItem(fs::path absolute) : location(absolute.lexically_normal()) {
  // "a/b/" and "a/b" are the same item; only the root keeps its slash.
  std::string text = location.string();
  if (text.size() > 1 && text.back() == '/') location = fs::path(text.substr(0, text.size() - 1));
}

bool QvFolderItem::exists() const {
  std::error_code error;
  return fs::exists(location, error);
}

bool QvFolderItem::isDirectory() const {
  std::error_code error;
  return fs::is_directory(location, error);
}

std::uintmax_t QvFolderItem::length() const {
  std::error_code error;
  if (fs::is_directory(location, error)) return 0;
  std::uintmax_t size = fs::file_size(location, error);
  return error ? 0 : size;
}

double QvFolderItem::modificationDate() const {
  struct stat info {};
  if (stat(location.c_str(), &info) != 0) return 0;
  return static_cast<double>(info.st_mtim.tv_sec) + static_cast<double>(info.st_mtim.tv_nsec) / 1e9 +
         kSecondsFrom1904To1970;
}

std::vector<QvFolderItem> QvFolderItem::children() const {
  std::vector<QvFolderItem> entries;
  std::error_code error;
  for (fs::directory_iterator it(location, error), end; !error && it != end; it.increment(error)) {
    entries.emplace_back(it->path());
  }
  std::sort(entries.begin(), entries.end(),
            [](const QvFolderItem& a, const QvFolderItem& b) { return a.location < b.location; });
  return entries;
}

bool QvFolderItem::createDirectory() const {
  std::error_code error;
  fs::create_directory(location, error);
  return !error && isDirectory();
}

bool QvFolderItem::createDirectories() const {
  std::error_code error;
  fs::create_directories(location, error);
  return !error && isDirectory();
}

bool QvFolderItem::remove() const {
  std::error_code error;
  return fs::remove(location, error) && !error;
}

bool QvFolderItem::removeTree() const {
  std::error_code error;
  fs::remove_all(location, error);
  return !error && !exists();
}

bool QvFolderItem::copyFileTo(const QvFolderItem& destination) const {
  std::error_code error;
  fs::copy_file(location, destination.location, fs::copy_options::overwrite_existing, error);
  return !error;
}

std::optional<std::string> QvFolderItem::readAll() const {
  if (isDirectory()) return std::nullopt;
  std::ifstream in(location, std::ios::binary);
  if (!in) return std::nullopt;
  std::ostringstream text;
  text << in.rdbuf();
  if (in.bad()) return std::nullopt;
  return text.str();
}

bool QvFolderItem::writeAll(std::string_view text) const {
  std::ofstream out(location, std::ios::binary | std::ios::trunc);
  if (!out) return false;
  out.write(text.data(), static_cast<std::streamsize>(text.size()));
  out.close();
  return !out.fail();
}

double qvSecondsSince1904() {
  auto now = std::chrono::system_clock::now().time_since_epoch();
  return std::chrono::duration<double>(now).count() + kSecondsFrom1904To1970;
}
