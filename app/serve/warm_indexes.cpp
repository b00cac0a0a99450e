#include "app/serve/warm_indexes.h"

#include <iostream>
#include <set>

#include "app/index/kolvo_index.h"
#include "app/index/kolvo_lib.h"
#include "app/referrals/referral_commands.h"
#include "app/referrals/referral_limits.h"
#include "app/serve/printed_text.h"
#include "app/serve/serve_users.h"

bool qvSameFile(const struct stat& a, const struct stat& b) {
  return a.st_dev == b.st_dev && a.st_ino == b.st_ino && a.st_size == b.st_size &&
         a.st_mtim.tv_sec == b.st_mtim.tv_sec && a.st_mtim.tv_nsec == b.st_mtim.tv_nsec &&
         a.st_ctim.tv_sec == b.st_ctim.tv_sec && a.st_ctim.tv_nsec == b.st_ctim.tv_nsec;
}

QvWarmIndexes::~QvWarmIndexes() {
  for (auto& [name, kept] : mIndexes) close(kept);
}

QvWarmIndexes::Index* QvWarmIndexes::find(const std::string& name) {
  auto found = mIndexes.find(name);
  return found != mIndexes.end() && found->second.opened ? &found->second.index : nullptr;
}

void QvWarmIndexes::refresh() {
  std::set<std::string> named;
  try {
    named = QvServeUsers::load(mKolvoDirectory + "/" + QvServeUsers::kFileName).indexes();
  } catch (const std::exception&) {
    // An unreadable users file lets nobody in; what is open stays until it is read again.
    return;
  }
  for (auto it = mIndexes.begin(); it != mIndexes.end();) {
    if (named.count(it->first) != 0) {
      ++it;
      continue;
    }
    close(it->second);
    it = mIndexes.erase(it);
  }
  for (const std::string& name : named) {
    // Only names a login may name: no path leads out of the indexes' folder.
    if (!qvIsSendableIndexName(name)) continue;
    struct stat build {};
    bool exists = stat((mKolvoDirectory + "/indexes/" + name + "/current_build").c_str(), &build) == 0;
    auto found = mIndexes.find(name);
    if (!exists) {
      if (found != mIndexes.end()) {
        close(found->second);
        mIndexes.erase(found);
      }
      continue;
    }
    if (found != mIndexes.end() && qvSameFile(found->second.build, build)) continue;
    if (found == mIndexes.end()) {
      // Beyond the bound, a request opens its index itself.
      if (mIndexes.size() >= kolvo::limits::serveOpenIndexes) continue;
      found = mIndexes.emplace(name, Kept{}).first;
    }
    close(found->second);
    found->second.build = build;
    open(name, found->second);
  }
}

void QvWarmIndexes::open(const std::string& name, Kept& kept) {
  auto interpreter = std::make_unique<QvCommandInterface>();
  QvPrintedText printed;
  QvResults results;
  try {
    QvKolvoIndex::create("default", *interpreter);
    QvKolvoLib::registerStatusCallbacks();
    interpreter->processCommand("open " + name, results);
    auto root = std::dynamic_pointer_cast<QvKolvoIndex>(interpreter->root());
    if (!root || root->name() != name) {
      interpreter->cleanup();
      return;
    }
    // The first question about a file builds the table's lookup of names; asked here,
    // every child finds it built.
    static const auto first = klib(kfsGetFirst);
    static const auto info = klib(kfsGetInfo);
    CFileStorage* files = klib(kidxGetFiles)(root->engineIndex());
    if (kulong file = first(files); file != 0) info(files, file);
  } catch (const std::exception& error) {
    interpreter->cleanup();
    std::cerr << "kolvoserve: index " << name << " not kept open: " << error.what() << std::endl;
    return;
  }
  kept.index.openAnswer = printed.take();
  results.appendTextTo(kept.index.openAnswer);
  kept.index.interpreter = std::move(interpreter);
  kept.opened = true;
}

void QvWarmIndexes::close(Kept& kept) {
  if (kept.index.interpreter) kept.index.interpreter->cleanup();
  kept.index.interpreter.reset();
  kept.index.openAnswer.clear();
  kept.opened = false;
}
