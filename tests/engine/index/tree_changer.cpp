#include "tests/engine/index/tree_changer.h"

#include <sys/stat.h>
#include <sys/time.h>

#include <filesystem>
#include <fstream>

namespace kolvotest {

namespace fs = std::filesystem;

namespace {

const std::vector<std::string> vocabulary = {"apple", "brook",  "cedar", "delta", "ember", "fjord", "grove",
                                             "heron", "inlet",  "juniper", "kelp", "larch", "maple", "nectar",
                                             "orchid", "pebble", "quartz", "raven", "sorrel", "thistle"};

}  // namespace

void ageTree(const std::string& root, int32_t when) {
  struct timeval times[2] = {{when, 0}, {when, 0}};
  for (const fs::directory_entry& entry : fs::recursive_directory_iterator(root))
    lutimes(entry.path().c_str(), times);
  lutimes(root.c_str(), times);
}

std::string TreeChanger::text() {
  std::string words;
  for (int i = pick(6) + 1; i > 0; --i) words += vocabulary[pick(vocabulary.size())] + " ";
  return words;
}

void TreeChanger::write(const std::string& path, const std::string& contents) {
  fs::create_directories(fs::path(path).parent_path());
  std::ofstream(path, std::ios::binary | std::ios::trunc) << contents;
}

void TreeChanger::populate(int files) {
  for (int i = 0; i < files; ++i) write(root + "/" + randomRelative(i), text());
}

std::vector<std::string> TreeChanger::change(int serial) {
  std::vector<std::string> files, folders;
  for (const fs::directory_entry& entry : fs::recursive_directory_iterator(root)) {
    if (entry.is_symlink()) continue;
    (entry.is_directory() ? folders : files).push_back(entry.path().string());
  }
  folders.push_back(root);
  const std::string fresh = "n" + std::to_string(serial);
  const std::string folder = folders[pick(folders.size())];
  switch (files.empty() ? 0 : pick(11)) {
    case 0: {  // a new file
      std::string path = folder + "/" + fresh + ".txt";
      write(path, text());
      return {path};
    }
    case 1: {  // a file deleted
      std::string path = files[pick(files.size())];
      fs::remove(path);
      return {path};
    }
    case 2:
    case 3: {  // a file written again
      std::string path = files[pick(files.size())];
      write(path, text() + "revised");
      return {path};
    }
    case 4: {  // a file moved to another folder or name
      std::string from = files[pick(files.size())], to = folder + "/" + fresh + ".txt";
      fs::rename(from, to);
      return {from, to};
    }
    case 5: {  // a new folder with subfolders: only its top is named
      std::string top = folder + "/" + fresh;
      write(top + "/a/b/deep.txt", text());
      write(top + "/a/mid.txt", text());
      write(top + "/top.txt", text());
      return {top};
    }
    case 6: {  // a folder removed with all it holds
      if (folder == root) return {};
      fs::remove_all(folder);
      return {folder};
    }
    case 7: {  // a folder moved
      if (folder == root) return {};
      std::string to = root + "/" + fresh;
      fs::rename(folder, to);
      return {folder, to};
    }
    case 8: {  // a file replaced by a folder
      std::string path = files[pick(files.size())];
      fs::remove(path);
      write(path + "/inside.txt", text());
      return {path};
    }
    case 9: {  // a folder replaced by a file
      if (folder == root) return {};
      fs::remove_all(folder);
      write(folder, text());
      return {folder};
    }
    default: {  // symbolic links to a file, to a folder of the tree, to one outside it
      std::string toFile = folder + "/" + fresh + "f", toFolder = folder + "/" + fresh + "d",
                  away = folder + "/" + fresh + "o";
      fs::create_symlink(files[pick(files.size())], toFile);
      fs::create_directory_symlink(root, toFolder);
      fs::create_directory_symlink(outside, away);
      return {toFile, toFolder, away};
    }
  }
}

std::string TreeChanger::randomRelative(int i) {
  std::string path;
  for (int depth = static_cast<int>(pick(3)); depth > 0; --depth) path += "d" + std::to_string(pick(4)) + "/";
  return path + "f" + std::to_string(i) + ".txt";
}

}  // namespace kolvotest
