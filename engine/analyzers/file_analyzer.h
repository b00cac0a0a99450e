// CFileAnalyzer: the base of every analyzer, and itself the "generic" one. It turns the
// bytes of one file into index words and into display text; the registry of each index
// holds one instance per analyzer name.
#pragma once

class CKolvoIndex;

class CFileAnalyzer {
 public:
  explicit CFileAnalyzer(CKolvoIndex* owner) : index(owner) {}
  virtual ~CFileAnalyzer() = default;
  CFileAnalyzer(const CFileAnalyzer&) = delete;
  CFileAnalyzer& operator=(const CFileAnalyzer&) = delete;

 protected:
  CKolvoIndex* index;
};
