// CExternalAnalyzer: a converter program declared in "externanalyzers.txt" turns a file
// into another one (usually plain text), which the analyzer matching the converted
// file's name then reads. The registry creates one per declared entry.
#pragma once

#include <string>

#include "engine/analyzers/file_analyzer.h"
#include "engine/index/resource_limits.h"

class CExternalAnalyzer : public CFileAnalyzer {
 public:
  // commandTemplate holds the placeholders %i (input path) and %o (output path).
  CExternalAnalyzer(CKolvoIndex* owner, const std::string& outputExtension, const std::string& commandTemplate);

  bool canUseIndexBuffer() override { return false; }
  bool indexFile(const char* path, uint32_t fileId) override;
  char* fillDisplayBuffer(const char* path, uint32_t fileId, uint32_t maxBytes, int wrapWidth,
                          bool stripMarkup) override;

  // The converter's output path in the temporary directory: the file number and the
  // output extension, or for "..." the input name's inner extensions (a.txt.gz: .txt).
  std::string makeTemporaryPath(const char* inputPath, uint32_t fileId) const;
  // Runs the converter from inputPath to outputPath and waits, within the time and
  // memory limits. False when no analyzer would read the output (nothing is run), or
  // when the converter failed or was stopped (a warning names the input file).
  bool createTemporaryFile(const char* inputPath, const char* outputPath);
  // The command line run for the two paths, each passed to the shell as one word.
  std::string commandFor(const char* inputPath, const char* outputPath) const;

  // How many of the placeholders %i and %o a command template holds.
  static int countPlaceholders(const std::string& commandTemplate);
  // Quotes text for /bin/sh as a single word.
  static std::string shellQuoted(const std::string& text);

  // Limits of one converter run.
  double timeLimitSeconds = kolvo::limits::converterSeconds;
  unsigned long long memoryLimitBytes = kolvo::limits::converterMemoryBytes;

 private:
  std::string outputExtension;
  std::string commandPart1;
  std::string commandPart2;
  std::string commandPart3;
  char secondPlaceholder = 'o';
};
