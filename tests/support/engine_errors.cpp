#include "tests/support/engine_errors.h"

namespace kolvotest {

namespace {

std::vector<std::string> errorLog;
std::vector<std::string> warningLog;

void onError(const char* code, const char* detail) { errorLog.push_back(std::string(code) + "|" + detail); }
void onWarning(const char* code, const char* detail) { warningLog.push_back(std::string(code) + "|" + detail); }

}  // namespace

EngineErrors::EngineErrors() {
  clear();
  kSetThrowCallBack(onError);
  kSetWarningCallBack(onWarning);
}

EngineErrors::~EngineErrors() {
  kSetThrowCallBack(nullptr);
  kSetWarningCallBack(nullptr);
}

const std::vector<std::string>& EngineErrors::errors() const { return errorLog; }
const std::vector<std::string>& EngineErrors::warnings() const { return warningLog; }

std::vector<std::string> EngineErrors::codes() const {
  std::vector<std::string> codes;
  for (const std::string& entry : errorLog) codes.push_back(entry.substr(0, entry.find('|')));
  return codes;
}

void EngineErrors::clear() {
  errorLog.clear();
  warningLog.clear();
}

}  // namespace kolvotest
