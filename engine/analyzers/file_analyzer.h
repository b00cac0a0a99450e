// CFileAnalyzer: the base of every analyzer, and itself the "generic" one. It turns the
// bytes of one file into index words and into display text; the registry of each index
// holds one instance per analyzer name.
#pragma once

#include <cstdint>

class CKolvoIndex;

class CFileAnalyzer {
 public:
  explicit CFileAnalyzer(CKolvoIndex* owner) : index(owner) {}
  virtual ~CFileAnalyzer() = default;
  CFileAnalyzer(const CFileAnalyzer&) = delete;
  CFileAnalyzer& operator=(const CFileAnalyzer&) = delete;

  // Reads the file's words into the index under fileId; false when it cannot be read.
  virtual bool indexFile(const char* path, uint32_t fileId) {
    (void)path;
    (void)fileId;
    return false;
  }

 protected:
  CKolvoIndex* index;
};
