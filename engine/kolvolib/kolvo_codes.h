// The one table of every code that leaves kolvolib through its callbacks: errors,
// warnings and status reports, with their detail fields and the message the program
// shows. The engine raises only codes listed here; kolvocmd takes its texts from here.
#pragma once

#include <array>
#include <cstring>
#include <string_view>

namespace kolvo {

enum class CodeKind { error, warning, status, appOnly };

struct CodeEntry {
  const char* code;
  CodeKind kind;
  const char* detail;   // what the detail text holds; TAB separates fields
  const char* message;  // English text, %1% and %2% filled from the detail; null: the code itself
};

inline constexpr auto kolvoCodes = std::to_array<CodeEntry>({
    // Errors
    {"StorageReadError", CodeKind::error, "path", "Error reading %1%"},
    {"AssertionFailed", CodeKind::error, "empty or the failing check", nullptr},
    {"SkipOpenFail", CodeKind::error, "skip-file path", "Could not open skip file %1%"},
    {"HaltRequested", CodeKind::error, "empty", "Halt requested by user"},
    {"PruneParentError", CodeKind::error, "empty", nullptr},
    {"externalAnalyzersFileTooBig", CodeKind::error, "path", nullptr},
    {"CannotOpenContentsFile", CodeKind::error, "path", "Cannot open content file: %1%"},
    {"NoMemory", CodeKind::error, "empty", "Could not allocate any more memory"},
    {"EndOfContents", CodeKind::error, "path", "Already at end of contents"},
    {"NoFileContentsForDir", CodeKind::error, "path", nullptr},
    {"ArchivesNestedTooDeep", CodeKind::error, "path", nullptr},
    {"ArchiveExtractError", CodeKind::error, "path", nullptr},
    {"MemFileOpenFail", CodeKind::error, "path", "Failed to open memory file %1%"},
    {"MemFileExtendFail", CodeKind::error, "size", "Could not extend memory file to %1% bytes"},
    {"FileMapOpenRWFail", CodeKind::error, "path", "Failed to map %1% for read/write"},
    {"FileMapWriteFail", CodeKind::error, "path", "Could not map %1% for writing"},
    {"GetHugeSpace", CodeKind::error, "size", "Request for %1% bytes is too large"},
    {"UnmapFail", CodeKind::error, "path", "Could not unmap memory file %1%"},
    // Warnings
    {"AnalyzerNotFound", CodeKind::warning, "analyzer name",
     "The analyzer for  \"%1%\" could not be found."},
    {"ExternalAnalyzerRefused", CodeKind::warning, "analyzer name",
     "The external analyzer \"%1%\" was left out: its command must name both the input and the output file"},
    {"ConverterFailed", CodeKind::warning, "path",
     "The converter for %1% failed or was stopped; its contents were not indexed"},
    {"PdfStreamTooLarge", CodeKind::warning, "path",
     "A stream of %1% is larger than the indexer reads; only its first part was taken"},
    // Status reports
    {"IndexingFile", CodeKind::status, "path\tdirectories read",
     "%2% directories indexed - now indexing file %1%"},
    {"Skipped Kolvo Directory", CodeKind::status, "empty", nullptr},
    {"IndexingExcluded", CodeKind::status, "empty", nullptr},
    {"BytesIndexing", CodeKind::status, "bytes read\tpath", "Total Bytes %1% - Indexing %2%"},
    {"DecodingGeneric", CodeKind::status, "path", "Decoding %1%"},
    {"DecodingPdf", CodeKind::status, "path", "Decoding %1%"},
    {"UpdatingStatus", CodeKind::status, "done/total", "Updating %1%"},
    {"CountingCompress", CodeKind::status, "percentage", "Building Links %1%%"},
    {"CompLinksFmt", CodeKind::status, "done\ttotal", "Resolving links %1% -  %2%"},
    {"Done", CodeKind::status, "empty", nullptr},
    // Texts the program keeps for codes the library never raises
    {"DirectoriesIndexed", CodeKind::appOnly, "count\tpath", "Indexed %1% directories so far - now on %2%"},
    {"MallocFailed", CodeKind::appOnly, "place", "Failed to allocate memory in %1%"},
    {"PluginNotFound", CodeKind::appOnly, "name", "The %1% plugin could not be found"},
    {"StatFailure", CodeKind::appOnly, "path", "Could not stat %1%"},
    // A warning of the walk: a tree deeper than the walk follows
    {"DirectoryTooDeep", CodeKind::warning, "path", "Folder %1% is nested too deeply; its contents were not indexed"},
    // Warnings of the archives: bounds on nesting and on the bytes written for members
    {"ArchiveTooDeep", CodeKind::warning, "path",
     "Archive %1% lies too deep inside other archives; it was recorded but not opened"},
    {"ArchiveMemberCut", CodeKind::warning, "container path\tmember name",
     "Member %2% of %1% is larger than the bound on an extracted member; only its first part was indexed"},
    {"ArchiveBytesBound", CodeKind::warning, "path",
     "Archive %1% holds more than the bound on bytes extracted from one archive; the rest was not indexed"},
});

// The entry of a code, or null when the table does not know it.
inline const CodeEntry* findKolvoCode(std::string_view code) {
  for (const CodeEntry& entry : kolvoCodes)
    if (code == entry.code) return &entry;
  return nullptr;
}

}  // namespace kolvo
