// CZipAnalyzer: the "zip" analyzer. Each file of a zip archive becomes an entry under
// the archive's, in the order of the archive's directory, indexed by the analyzer its
// name matches; minizip reads the directory and inflates the members.
#pragma once

#include <cstdint>

#include "engine/analyzers/file_analyzer.h"

class CZipAnalyzer : public CFileAnalyzer {
 public:
  using CFileAnalyzer::CFileAnalyzer;

  bool canUseIndexBuffer() override { return false; }
  // False when the archive cannot be opened or its directory cannot be walked to the end.
  bool indexFile(const char* path, uint32_t fileId) override;
  // Writes the first member named exactly memberName to destinationPath.
  bool extractToTempFile(const char* containerPath, const char* memberName, const char* destinationPath,
                         uint32_t fileId) override;
};
