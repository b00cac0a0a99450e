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

// A helper thread's failure, held for the thread that started it: on a thread that
// holds its reports, throwKolvoError and postWarning throw this instead of telling a
// callback, so that every callback still happens on the caller's thread.
struct HeldReport {
  bool warning = false;
  std::string code, detail;
  // Tells the callback now, on this thread, and aborts as the failure would have.
  [[noreturn]] void raise() const;
};
// Held reports for the life of the object, on the thread that makes it.
class HoldReports {
 public:
  HoldReports();
  ~HoldReports();
  HoldReports(const HoldReports&) = delete;
  HoldReports& operator=(const HoldReports&) = delete;
};

// Raises "AssertionFailed" unless the check holds; for damaged stored data and misuse.
inline void kolvoCheck(bool holds, const char* what = "") {
  if (!holds) throwKolvoError("AssertionFailed", what);
}

}  // namespace kolvo
