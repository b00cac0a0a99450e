// Records what the engine tells its throw and warning callbacks during one test, so a
// test can say which code a failure raised.
#pragma once

#include <string>
#include <vector>

#include "include/kolvolib.h"

namespace kolvotest {

class EngineErrors {
 public:
  EngineErrors();
  ~EngineErrors();
  EngineErrors(const EngineErrors&) = delete;
  EngineErrors& operator=(const EngineErrors&) = delete;

  // "code|detail" of every error, then of every warning, in the order raised.
  const std::vector<std::string>& errors() const;
  const std::vector<std::string>& warnings() const;
  // The codes alone.
  std::vector<std::string> codes() const;
  void clear();
};

}  // namespace kolvotest
