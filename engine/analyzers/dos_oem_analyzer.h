// CDosOemAnalyzer: the generic analyzer for text in code page 850 (DOS OEM);
// each chunk is converted to the index's character set before it is split or shown.
#pragma once

#include "engine/analyzers/file_analyzer.h"

class CDosOemAnalyzer : public CFileAnalyzer {
 public:
  explicit CDosOemAnalyzer(CKolvoIndex* owner) : CFileAnalyzer(owner) {}
  // The conversion is a fixed table, so the walk may split on its reader thread.
  bool canReadAhead() const override { return true; }
  void convertRawBuffer(char* buffer, uint32_t length) override;
};
