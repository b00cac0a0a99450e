// CGZipAnalyzer: the "gzip" analyzer. A gzip file holds one member, named after the file
// without its last extension (a .tgz holds a .tar), which is indexed by the analyzer its
// name matches; so a .tar.gz is opened as a tar archive inside.
#pragma once

#include <cstdint>
#include <string>

#include "engine/analyzers/file_analyzer.h"

class CGZipAnalyzer : public CFileAnalyzer {
 public:
  using CFileAnalyzer::CFileAnalyzer;

  bool canUseIndexBuffer() override { return false; }
  bool indexFile(const char* path, uint32_t fileId) override;
  // Decompresses the whole file into destinationPath; the member's name is not needed.
  bool extractToTempFile(const char* containerPath, const char* memberName, const char* destinationPath,
                         uint32_t fileId) override;

  // The member of a gzip file with this base name: report.txt.gz gives report.txt,
  // backup.tgz gives backup.tar.
  static std::string memberName(const std::string& containerName);
};
