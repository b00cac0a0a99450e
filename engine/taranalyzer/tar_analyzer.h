// CTarAnalyzer: the "tar" analyzer. Each regular file of a tar archive becomes an entry
// under the archive's, indexed by the analyzer its name matches; members are read in
// order straight from the archive (see CTarReader).
#pragma once

#include <cstdint>

#include "engine/analyzers/file_analyzer.h"

class CTarAnalyzer : public CFileAnalyzer {
 public:
  using CFileAnalyzer::CFileAnalyzer;

  bool canUseIndexBuffer() override { return false; }
  bool indexFile(const char* path, uint32_t fileId) override;
  // Writes the first member named exactly memberName (case counts) to destinationPath.
  bool extractToTempFile(const char* containerPath, const char* memberName, const char* destinationPath,
                         uint32_t fileId) override;
};
