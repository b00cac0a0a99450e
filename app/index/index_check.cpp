// The "check" command of the index object: opens the current build apart from the
// open index, lets the engine walk its tables, and answers "Index NAME is sound" or
// one line per damage. kolvocmd -c ends with status 1 when damage was found.
#include <filesystem>
#include <memory>

#include "app/commands/text_tools.h"
#include "app/index/kolvo_index.h"
#include "app/index/kolvo_lib.h"

namespace {

struct EngineText {
  void operator()(char* text) const { klib(kDeleteChar)(text); }
};

struct CheckedIndex {
  void operator()(CKolvoIndex* index) const {
    try {
      klib(kidxClearIndex)(index);
    } catch (const QvCommandException&) {
      // Closing a damaged index may report again; the check has said what it found.
    }
  }
};

}  // namespace

void QvKolvoIndex::cmdCheck(QvResults& results) {
  mLastCheckSound = false;
  int n = getBuildNumber(mBasePath);
  if (n == 0) {
    results.push_back(qvkiCheckNoBuild.text({name()}));
    return;
  }
  std::string path = mBasePath + "build_" + std::to_string(n) + "/";
  QvResults damage;
  if (!std::filesystem::exists(path + "index")) damage.push_back(qvkiCheckNoDocument.text({path + "index"}));
  std::unique_ptr<CKolvoIndex, CheckedIndex> checked;
  try {
    checked.reset(klib(kCreateNewIndex)(false, path.c_str()));
  } catch (const QvCommandException& error) {
    // Tables that do not even open (a damaged "hash", a missing file) are one damage.
    damage.push_back(error.what());
  }
  if (checked) {
    std::unique_ptr<char, EngineText> text(klib(kidxCheckIndex)(checked.get()));
    if (text) {
      for (std::string& line : qvSplit(text.get(), '\n'))
        if (!line.empty()) damage.push_back(line);
    }
  }
  if (damage.empty()) {
    mLastCheckSound = true;
    results.push_back(qvkiIndexSound.text({name()}));
    return;
  }
  results.append(std::move(damage));
}
