// The indexes kolvoserve keeps open: every index the users file names is opened in the
// server itself, once, and opened anew when its current build changes. Each
// connection's child is forked with them open and ready, so that a request does not
// pay for opening its index; what the child does to them stays in the child.
#pragma once

#include <sys/stat.h>

#include <map>
#include <memory>
#include <string>

#include "app/commands/command_interface.h"

class QvWarmIndexes {
 public:
  struct Index {
    // An interpreter whose root is the index, as "open" left it.
    std::unique_ptr<QvCommandInterface> interpreter;
    // What "open" printed and answered, given again when a request opens the index.
    std::string openAnswer;
  };

  explicit QvWarmIndexes(std::string kolvoDirectory) : mKolvoDirectory(std::move(kolvoDirectory)) {}
  ~QvWarmIndexes();
  QvWarmIndexes(const QvWarmIndexes&) = delete;
  QvWarmIndexes& operator=(const QvWarmIndexes&) = delete;

  // Opens the indexes of the users file not open yet, opens anew those whose build has
  // changed, and closes those no longer named or no longer there.
  void refresh();
  // The open index of that name, or null.
  Index* find(const std::string& name);

 private:
  struct Kept {
    Index index;
    struct stat build {};  // the index's "current_build" when it was opened
    bool opened = false;   // false: the open failed, and is tried again when the build changes
  };
  void open(const std::string& name, Kept& kept);
  static void close(Kept& kept);

  std::string mKolvoDirectory;
  std::map<std::string, Kept> mIndexes;
};

// Whether two states of a file are the same file, unchanged: same inode, size and times.
bool qvSameFile(const struct stat& a, const struct stat& b);
