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
#include "engine/kolvolib/kolvo_codes.h"

namespace {

constexpr const char* kLibraryName = "kolvolib.so";

// The library stays loaded for the whole run once found.
void* gLibrary = nullptr;
std::map<std::string, void*, std::less<>> gEntries;
std::optional<std::pair<std::string, std::string>> gPendingError;

std::string besideExecutable() {
  std::error_code error;
  std::filesystem::path self = std::filesystem::read_symlink("/proc/self/exe", error);
  if (error) return {};
  return (self.parent_path() / kLibraryName).string();
}

void* library() {
  if (gLibrary) return gLibrary;
  std::string beside = besideExecutable();
  if (!beside.empty() && std::filesystem::exists(beside)) gLibrary = dlopen(beside.c_str(), RTLD_NOW | RTLD_LOCAL);
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
  printStatus(code ? code : "", detail ? detail : "", true);
}

kbool statusCallback(const char* code, const char* detail, int origin) {
  // The engine stops a walk, a prune or a display text when the user asked to halt.
  bool goOn = printStatus(code ? code : "", detail ? detail : "", origin != 0);
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
  for (const kolvo::CodeEntry& entry : kolvo::kolvoCodes) {
    if (!entry.message || !qvEqualsCaseless(key, entry.code)) continue;
    std::string name = qualifiedName(entry.code);
    return QvMessage(name.c_str(), entry.message).text();
  }
  return key;
}

bool printStatus(const std::string& code, const std::string& detail, bool translate) {
  std::string message = translate ? klibMessage(code) : code;
  if (!detail.empty()) message = qvFillPlaceholders(message, qvSplitArguments(detail));
  std::cout << message << '\n' << std::flush;
  return true;
}

void showWarning(const std::string& text) {
  std::cout << QvCommandInterface::qvciWarning.text() << text << '\n' << std::flush;
}
