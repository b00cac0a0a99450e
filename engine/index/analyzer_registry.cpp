// The analyzer registry of an index: the built-in analyzers, those declared in
// "externanalyzers.txt", and the choice of an analyzer by name pattern.
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "engine/analyzers/dos_oem_analyzer.h"
#include "engine/analyzers/external_analyzer.h"
#include "engine/analyzers/file_analyzer.h"
#include "engine/analyzers/html_analyzer.h"
#include "engine/analyzers/mac_roman_analyzer.h"
#include "engine/analyzers/rtf_analyzer.h"
#include "engine/gzipanalyzer/gzip_analyzer.h"
#include "engine/index/container_level.h"
#include "engine/index/kolvo_index.h"
#include "engine/index/name_matching.h"
#include "engine/index/walk_support.h"
#include "engine/kolvolib/error_reporting.h"
#include "engine/mboxanalyzer/mbox_analyzer.h"
#include "engine/pdfanalyzer/pdf_analyzer.h"
#include "engine/taranalyzer/tar_analyzer.h"
#include "engine/zipanalyzer/zip_analyzer.h"

namespace {

// The external analyzers file must be shorter than this.
constexpr size_t externalFileLimit = 65535;

// The values of the file's lines: a line ends at LF or a lone CR; its value ends at '#'
// or at the CR of a CR LF pair, without trailing spaces and TABs; empty values and a
// last line without a break give none.
std::vector<std::string> valueLines(const std::vector<char>& text) {
  std::vector<std::string> values;
  size_t lineStart = 0;
  for (size_t at = 0; at < text.size(); ++at) {
    char c = text[at];
    bool loneCR = c == '\r' && (at + 1 == text.size() || text[at + 1] != '\n');
    if (c != '\n' && !loneCR) continue;
    size_t end = lineStart;
    while (end < at && text[end] != '#' && text[end] != '\r') ++end;
    while (end > lineStart && (text[end - 1] == ' ' || text[end - 1] == '\t')) --end;
    if (end > lineStart) values.emplace_back(text.data() + lineStart, end - lineStart);
    lineStart = at + 1;
  }
  return values;
}

}  // namespace

void CKolvoIndex::clearAnalyzers() { analyzerMap.clear(); }

void CKolvoIndex::createAnalyzers() {
  clearAnalyzers();
  analyzerMap["generic"] = std::make_unique<CFileAnalyzer>(this);
  analyzerMap["macroman"] = std::make_unique<CMacRomanAnalyzer>(this);
  analyzerMap["dosoem"] = std::make_unique<CDosOemAnalyzer>(this);
  analyzerMap["html"] = std::make_unique<CHtmlAnalyzer>(this);
  analyzerMap["rtf"] = std::make_unique<CRtfAnalyzer>(this);
  analyzerMap["zip"] = std::make_unique<CZipAnalyzer>(this);
  analyzerMap["pdf"] = std::make_unique<CPdfAnalyzer>(this);
  analyzerMap["tar"] = std::make_unique<CTarAnalyzer>(this);
  analyzerMap["gzip"] = std::make_unique<CGZipAnalyzer>(this);
  analyzerMap["mbox"] = std::make_unique<CMBoxAnalyzer>(this);

  // An index path too short to have a kolvo directory has no external analyzers.
  if (kolvoDirectory.empty()) return;
  std::string path = kolvoDirectory + "/externanalyzers.txt";
  std::unique_ptr<std::FILE, int (*)(std::FILE*)> in(std::fopen(path.c_str(), "rb"), std::fclose);
  if (!in) return;
  std::vector<char> text(externalFileLimit);
  size_t got = std::fread(text.data(), 1, text.size(), in.get());
  if (got == externalFileLimit) kolvo::throwKolvoError("externalAnalyzersFileTooBig", path);
  text.resize(got);

  std::vector<std::string> values = valueLines(text);
  for (size_t at = 0; at + 2 < values.size(); at += 3) {
    const std::string& name = values[at];
    const std::string& command = values[at + 2];
    // A command that cannot name both files would run the converter on the wrong ones.
    if (CExternalAnalyzer::countPlaceholders(command) < 2) {
      kolvo::tellWarning("ExternalAnalyzerRefused", name);
      continue;
    }
    analyzerMap[name] = std::make_unique<CExternalAnalyzer>(this, values[at + 1], command);
  }
}

CFileAnalyzer* CKolvoIndex::analyzerThatMatches(const char* name) const {
  for (size_t i = 0; i < includePatterns.size() && i < includeAnalyzers.size(); ++i)
    if (kolvo::fileNameMatch(name, includePatterns[i].c_str())) return includeAnalyzers[i];
  return nullptr;
}

std::string CKolvoIndex::extractToTempFile(const char* containerPath, const char* memberName, uint32_t fileId) {
  // A container that is itself an extracted member (a file of the temporary directory)
  // is chosen by its name, as it was when indexed; any other by its path, as the walk
  // chose it.
  std::string path = containerPath;
  CFileAnalyzer* container = nullptr;
  if (!temporaryDirectory.empty() && path.rfind(temporaryDirectory + "/", 0) == 0) {
    container = analyzerThatMatches(kolvo::memberBaseName(path).c_str());
  } else {
    for (size_t i = 0; i < includePatterns.size() && i < includeAnalyzers.size(); ++i) {
      if (kolvo::termMatch(containerPath, includePatterns[i].c_str())) {
        container = includeAnalyzers[i];
        break;
      }
    }
  }
  if (!container) return std::string();
  // The member's name gives only a safe extension: whatever it holds, the file lies
  // in the temporary directory.
  if (temporaryDirectory.empty()) return std::string();
  std::string member = kolvo::memberBaseName(memberName);
  size_t dot = member.rfind('.');
  std::string extension = kolvo::safeFileName(dot == std::string::npos ? member : member.substr(dot + 1));
  std::string destination = kolvo::joinPath(temporaryDirectory, "tmp" + std::to_string(fileId) + "." + extension);
  // A failed extraction may have written part of the destination; none of it stays.
  bool written = false;
  try {
    written = container->extractToTempFile(containerPath, memberName, destination.c_str(), fileId);
  } catch (...) {
    std::remove(destination.c_str());
    throw;
  }
  if (written) return destination;
  std::remove(destination.c_str());
  return std::string();
}
