// The program's binding to the engine: every entry of kolvolib.so is looked up by name
// when it is called, so a missing library or entry is an ordinary command error. Also
// the engine's message texts and the callbacks that bring its reports to the user.
#pragma once
#include <string>
#include <type_traits>

#include "app/commands/message.h"
#include "include/kolvolib.h"

class QvKolvoLib {
 public:
  // The address of the entry name in kolvolib.so, found next to the executable or at
  // its installed place relative to it first, then on the system's library path; raises QvCommandException when either is missing.
  static void* entry(const char* name);
  // Uses the library at path instead of searching for it (a program that embeds the
  // index object, or a test); an empty path means the engine linked into the program
  // itself (which then exports its entries). Nothing changes once a library is loaded.
  static void loadLibrary(const std::string& path);
  // An error the engine reported during the last call raises here, once.
  static void raisePendingError();
  static void clearPendingError();
  // Registers the throw callback; the status and warning callbacks come later.
  static void registerThrowCallback();
  static void registerStatusCallbacks();

  static constexpr QvMessage qvklLibraryNotFound{"QvKolvoLib.qvklLibraryNotFound",
                                                 "The engine library %1% could not be loaded: %2%"};
  static constexpr QvMessage qvklFunctionNotFound{"QvKolvoLib.qvklFunctionNotFound",
                                                  "The function %1% was not found in the engine library %2%"};
};

// The message of an engine code (case-insensitive); any other key comes back unchanged.
std::string klibMessage(const std::string& key);
// Prints a report on its own line; the message is the code's text when translate is set,
// else the code itself, with %1%, %2% ... filled from the TAB-separated detail.
bool printStatus(const std::string& code, const std::string& detail, bool translate);
// "WARNING: " and the text, on its own line.
void showWarning(const std::string& text);

template <class F>
class QvEngineEntry;

template <class R, class... A>
class QvEngineEntry<R (*)(A...)> {
 public:
  explicit QvEngineEntry(const char* name) : mName(name) {}
  R operator()(A... args) const {
    if (!mAddress) mAddress = QvKolvoLib::entry(mName);
    auto function = reinterpret_cast<R (*)(A...)>(mAddress);
    QvKolvoLib::clearPendingError();
    if constexpr (std::is_void_v<R>) {
      function(args...);
      QvKolvoLib::raisePendingError();
    } else {
      R answer = function(args...);
      QvKolvoLib::raisePendingError();
      return answer;
    }
  }

 private:
  const char* mName;
  // Found at the first call; the library stays loaded for the whole run.
  mutable void* mAddress = nullptr;
};

// klib(kidxSetMinWordLength)(index, 3) calls the engine's entry of that name.
#define klib(name) QvEngineEntry<decltype(&::name)>(#name)
// The entry itself, without the error bookkeeping of klib: for calls made from inside
// the engine's callbacks, which must not clear an error the engine is reporting, and
// only of entries that raise nothing.
#define klibInCallback(name) reinterpret_cast<decltype(&::name)>(QvKolvoLib::entry(#name))
