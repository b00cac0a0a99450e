// CMacRomanAnalyzer: the generic analyzer for text in the Mac OS Roman character set;
// each chunk is converted to the index's character set before it is split or shown.
#pragma once

#include "engine/analyzers/file_analyzer.h"

class CMacRomanAnalyzer : public CFileAnalyzer {
 public:
  explicit CMacRomanAnalyzer(CKolvoIndex* owner) : CFileAnalyzer(owner) {}
  // The conversion is a fixed table, so the walk may split on its reader thread.
  bool canReadAhead() const override { return true; }
  void convertRawBuffer(char* buffer, uint32_t length) override;
};
