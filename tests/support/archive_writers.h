// Archives made by the tests themselves: tar archives written byte by byte (with every
// header form and fault the tar reader must meet), gzip files through zlib and zip
// archives through minizip's writer. Nothing is read from the machine's own files.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace kolvotest {

struct TarEntry {
  // How a name longer than the 100-byte field is written.
  enum class NameForm { field, ustarPrefix, gnuLongName, pax };
  TarEntry(std::string entryName, std::string bytes, char entryType = '0', int64_t time = 1'600'000'000,
           NameForm nameForm = NameForm::field)
      : name(std::move(entryName)), data(std::move(bytes)), type(entryType), modified(time), form(nameForm) {}
  std::string name;
  std::string data;
  char type = '0';
  int64_t modified = 1'600'000'000;
  NameForm form = NameForm::field;
  std::optional<uint64_t> statedSize;  // a size that lies about the data written
  bool badChecksum = false;
};
// The bytes of a tar archive; with endBlocks its two zero blocks close it.
std::string tarArchive(const std::vector<TarEntry>& entries, bool endBlocks = true);

// The bytes of a gzip file holding data.
std::string gzipOf(const std::string& data);
// Writes a gzip file holding zeros: a bomb of little size on disk.
void writeGzipOfZeros(const std::string& path, uint64_t bytes);

struct ZipEntry {
  ZipEntry(std::string entryName, std::string bytes, int entryMethod = 8)
      : name(std::move(entryName)), data(std::move(bytes)), method(entryMethod) {}
  std::string name;
  std::string data;
  // 0 stored, 8 deflated; any other method is written raw, as an archiver that knows
  // it would, so a reader that does not cannot open the entry.
  int method = 8;
  int year = 2020, month = 5, day = 17, hour = 10, minute = 30, second = 12;  // local time
};
// The Unix seconds of an entry's date and time, read as local time as a zip reader does.
int64_t zipEntrySeconds(const ZipEntry& entry);
// Writes a zip archive at path.
void writeZip(const std::string& path, const std::vector<ZipEntry>& entries);
// The bytes of a zip archive (written through a file beside hint, removed again).
std::string zipArchive(const std::vector<ZipEntry>& entries, const std::string& scratchFolder);

std::string readFileBytes(const std::string& path);

}  // namespace kolvotest
