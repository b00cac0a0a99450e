// How kolvolib talks back: the three process-wide callback slots, raising an error or
// a warning (which unwinds to the entry with the abort token), and status reports.
// Used by every engine component; the slots are plain variables, one thread only.
#pragma once

#include <string>

#include "include/kolvolib.h"

namespace kolvo {

// Unwinds an aborted operation to the library entry; all it had to say already went
// to a callback. It never leaves the library: every entry catches it (entry_guard.h).
struct AbortToken {};

// Tells the throw callback, then aborts the current operation.
[[noreturn]] void throwKolvoError(const char* code, const std::string& detail = std::string());
// Tells the warning callback, then aborts the current operation as an error does.
[[noreturn]] void postWarning(const char* code, const std::string& detail = std::string());
// Tells the warning callback without aborting: for a problem with one item (a file, a
// folder, an entry of a list) after which the operation goes on.
void tellWarning(const char* code, const std::string& detail = std::string());
// Reports progress with origin 1; true means go on. Without a status callback it is always true.
bool setStatus(const std::string& code, const std::string& detail);

// Raises "AssertionFailed" unless the check holds; for damaged stored data and misuse.
inline void kolvoCheck(bool holds, const char* what = "") {
  if (!holds) throwKolvoError("AssertionFailed", what);
}

}  // namespace kolvo
