#include "app/index/kolvo_lib.h"

#include <dlfcn.h>

#include <filesystem>
#include <iostream>
#include <map>
#include <optional>
#include <utility>

#include "app/commands/command_exception.h"
#include "app/commands/command_interface.h"
#include "app/commands/text_tools.h"
#include "app/platform/halt_request.h"
#include "app/platform/program_folder.h"
#include "app/platform/progress_line.h"

namespace {

constexpr const char* kLibraryName = "kolvolib.so";

// The library stays loaded for the whole run once found.
void* gLibrary = nullptr;
std::map<std::string, void*, std::less<>> gEntries;
std::optional<std::pair<std::string, std::string>> gPendingError;

void* library() {
  if (gLibrary) return gLibrary;
  std::filesystem::path installed = qvFindBesideProgram({".", KOLVO_ENGINE_FROM_PROGRAM}, kLibraryName);
  if (!installed.empty()) gLibrary = dlopen(installed.c_str(), RTLD_NOW | RTLD_LOCAL);
  if (!gLibrary) gLibrary = dlopen(kLibraryName, RTLD_NOW | RTLD_LOCAL);
  if (!gLibrary) {
    const char* why = dlerror();
    throw QvCommandException(QvKolvoLib::qvklLibraryNotFound,
                             std::vector<std::string>{kLibraryName, why ? why : ""});
  }
  return gLibrary;
}

// The engine's throw callback must not unwind through the library: the error is kept and
// raised once the entry has returned.
void throwCallback(const char* code, const char* detail) {
  if (!gPendingError) gPendingError.emplace(code ? code : "", detail ? detail : "");
}

void warningCallback(const char* code, const char* detail) {
  if (QvProgressLine* progress = QvProgressLine::active()) progress->interrupt();
  printStatus(code ? code : "", detail ? detail : "", true);
}

// The message of a report (the code's text when translate is set, else the code itself)
// with %1%, %2% ... filled from the TAB-separated detail.
std::string reportText(const std::string& code, const std::string& detail, bool translate) {
  std::string message = translate ? klibMessage(code) : code;
  return detail.empty() ? message : qvFillPlaceholders(message, qvSplitArguments(detail));
}

// Where a progress report stands: the folder of the path in its detail, or else its
// message.
std::string reportedPlace(const std::string& code, const std::string& detail, bool translate) {
  struct PathField {
    const char* code;
    std::size_t field;
  };
  static constexpr PathField kPathFields[] = {
      {"IndexingFile", 0}, {"BytesIndexing", 1}, {"DecodingGeneric", 0}, {"DecodingPdf", 0}};
  for (const PathField& entry : kPathFields) {
    if (!translate || code != entry.code) continue;
    std::vector<std::string> fields = qvSplitArguments(detail);
    if (entry.field < fields.size()) return std::filesystem::path(fields[entry.field]).parent_path().string();
  }
  return reportText(code, detail, translate);
}

kbool statusCallback(const char* code, const char* detail, int origin) {
  bool goOn = true;
  if (QvProgressLine* progress = QvProgressLine::active()) {
    progress->show(reportedPlace(code ? code : "", detail ? detail : "", origin != 0));
  } else {
    goOn = printStatus(code ? code : "", detail ? detail : "", origin != 0);
  }
  // The engine stops a walk, a prune or a display text when the user asked to halt.
  return goOn && !qvHaltRequested() ? 1 : 0;
}

// Message constants of the engine's codes: "QvKolvoLib.qvkl" + code, except where the
// program names them otherwise.
std::string qualifiedName(std::string_view code) {
  if (code == "HaltRequested") return "QvKolvoIndex.qvkiHaltRequested";
  if (code == "SkipOpenFail") return "QvKolvoLib.qvklSkipFailOpen";
  return "QvKolvoLib.qvkl" + std::string(code);
}

}  // namespace

void* QvKolvoLib::entry(const char* name) {
  auto found = gEntries.find(name);
  if (found != gEntries.end()) return found->second;
  void* address = dlsym(library(), name);
  if (!address) throw QvCommandException(qvklFunctionNotFound, std::vector<std::string>{name, kLibraryName});
  gEntries.emplace(name, address);
  return address;
}

void QvKolvoLib::loadLibrary(const std::string& path) {
  if (gLibrary) return;
  // An empty path: the engine is linked into the running program itself.
  gLibrary = dlopen(path.empty() ? nullptr : path.c_str(), RTLD_NOW | RTLD_LOCAL);
  if (!gLibrary) {
    const char* why = dlerror();
    throw QvCommandException(qvklLibraryNotFound, std::vector<std::string>{path, why ? why : ""});
  }
}

void QvKolvoLib::clearPendingError() { gPendingError.reset(); }

void QvKolvoLib::raisePendingError() {
  if (!gPendingError) return;
  auto [code, detail] = std::move(*gPendingError);
  gPendingError.reset();
  throw QvCommandException(klibMessage(code), QvTabbedArguments{detail});
}

void QvKolvoLib::registerThrowCallback() { klib(kSetThrowCallBack)(throwCallback); }

void QvKolvoLib::registerStatusCallbacks() {
  klib(kSetStatusCallBack)(statusCallback);
  klib(kSetWarningCallBack)(warningCallback);
}

std::string klibMessage(const std::string& key) {
  // Called from inside the engine's callbacks too.
  const char* english = nullptr;
  try {
    english = klibInCallback(kCodeMessage)(key.c_str());
  } catch (const QvCommandException&) {
    // Without the library there is no text to show but the key.
  }
  if (!english) return key;
  return QvMessage(qualifiedName(key).c_str(), english).text();
}

bool printStatus(const std::string& code, const std::string& detail, bool translate) {
  std::cout << reportText(code, detail, translate) << '\n' << std::flush;
  return true;
}

void showWarning(const std::string& text) {
  if (QvProgressLine* progress = QvProgressLine::active()) progress->interrupt();
  std::cout << QvCommandInterface::qvciWarning.text() << text << '\n' << std::flush;
}
