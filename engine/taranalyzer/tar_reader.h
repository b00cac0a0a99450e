// CTarReader: walks the regular files of a tar archive in order and reads their data.
// Every header is checked (its checksum, and a size within the file) before it is
// used; names are whole: the ustar prefix, GNU long names and pax paths are joined in.
// Used by the tar analyzer for indexing and for extracting one member.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>

class CTarReader {
 public:
  struct Member {
    std::string name;
    uint64_t size = 0;
    int32_t modified = 0;  // Unix seconds
  };

  // Reads the archive open in file, from its start; the file stays the caller's.
  explicit CTarReader(std::FILE* file);

  // The next regular file, whose data read() then gives. False at the end of the
  // archive: an end block, a short or damaged header, or a member that runs past the
  // end of the file (the members before it stand).
  bool next(Member& member);
  // Up to size bytes of the current member's data; 0 at its end, -1 when the file fails.
  long read(char* buffer, size_t size);

  static constexpr size_t blockSize = 512;

 private:
  bool readBlock(unsigned char* block);
  bool skip(uint64_t bytes);
  // The data of a record that names the next member (a GNU long name, a pax header).
  bool readRecordText(uint64_t size, std::string& text);

  std::FILE* in;
  uint64_t fileSize = 0;
  uint64_t position = 0;  // bytes consumed from the start
  uint64_t dataLeft = 0;  // of the current member
  uint64_t padding = 0;   // after the current member's data
  bool ended = false;
};
