#include "engine/kolvolib/error_reporting.h"

#include <cctype>

#include "engine/kolvolib/entry_guard.h"
#include "engine/kolvolib/kolvo_codes.h"

namespace {

KolvoErrorCallback throwSlot = nullptr;
KolvoErrorCallback warningSlot = nullptr;
KolvoStatusCallback statusSlot = nullptr;
// In the static block of each thread: a program may unload the library while its threads
// live on, and a dynamic block freed by the unload is still walked by leak checkers at exit.
__attribute__((tls_model("initial-exec"))) thread_local bool reportsHeld = false;

}  // namespace

namespace kolvo {

HoldReports::HoldReports() { reportsHeld = true; }
HoldReports::~HoldReports() { reportsHeld = false; }

void HeldReport::raise() const {
  if (warning) postWarning(code.c_str(), detail);
  throwKolvoError(code.c_str(), detail);
}

void throwKolvoError(const char* code, const std::string& detail) {
  if (reportsHeld) throw HeldReport{false, code, detail};
  if (throwSlot) throwSlot(code, detail.c_str());
  throw AbortToken{};
}

void postWarning(const char* code, const std::string& detail) {
  if (reportsHeld) throw HeldReport{true, code, detail};
  if (warningSlot) warningSlot(code, detail.c_str());
  throw AbortToken{};
}

void tellWarning(const char* code, const std::string& detail) {
  if (warningSlot) warningSlot(code, detail.c_str());
}

bool setStatus(const std::string& code, const std::string& detail) {
  if (!statusSlot) return true;
  return statusSlot(code.c_str(), detail.c_str(), 1) != 0;
}

}  // namespace kolvo

extern "C" {

KOLVO_EXPORT void kSetThrowCallBack(KolvoErrorCallback callback) { throwSlot = callback; }
KOLVO_EXPORT void kSetWarningCallBack(KolvoErrorCallback callback) { warningSlot = callback; }
KOLVO_EXPORT void kSetStatusCallBack(KolvoStatusCallback callback) { statusSlot = callback; }

KOLVO_EXPORT const char* kCodeMessage(const char* code) {
  if (!code) return nullptr;
  // Codes are ASCII keys; the program may hand back one in another case.
  auto sameCaseless = [](std::string_view a, std::string_view b) {
    if (a.size() != b.size()) return false;
    for (std::size_t i = 0; i < a.size(); ++i)
      if (std::tolower(static_cast<unsigned char>(a[i])) != std::tolower(static_cast<unsigned char>(b[i]))) return false;
    return true;
  };
  for (const kolvo::CodeEntry& entry : kolvo::kolvoCodes)
    if (sameCaseless(code, entry.code)) return entry.message;
  return nullptr;
}

KOLVO_EXPORT kbool kSetStatus(const char* code, const char* detail) {
  return kolvo::guardEntry<kbool>(1, [&]() -> kbool {
    if (!statusSlot) return 1;
    return statusSlot(code ? code : "", detail ? detail : "", 0) != 0 ? 1 : 0;
  });
}

}  // extern "C"
