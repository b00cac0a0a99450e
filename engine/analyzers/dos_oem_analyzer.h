// CDosOemAnalyzer: the generic analyzer for text in code page 850 (DOS OEM);
// each chunk is converted to the index's character set before it is split or shown.
#pragma once

#include "engine/analyzers/file_analyzer.h"

class CDosOemAnalyzer : public CFileAnalyzer {
 public:
  explicit CDosOemAnalyzer(CKolvoIndex* owner) : CFileAnalyzer(owner) {}
  void convertRawBuffer(char* buffer, uint32_t length) override;
};
