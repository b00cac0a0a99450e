#include "engine/taranalyzer/tar_reader.h"

#include <sys/stat.h>

#include <algorithm>
#include <climits>
#include <cstring>
#include <optional>
#include <string_view>

#include "engine/index/resource_limits.h"

namespace {

// Header fields: offset and width.
struct Field {
  size_t at, width;
};
constexpr Field nameField{0, 100};
constexpr Field sizeField{124, 12};
constexpr Field timeField{136, 12};
constexpr Field checksumField{148, 8};
constexpr size_t typeAt = 156;
constexpr Field magicField{257, 6};
constexpr Field prefixField{345, 155};

std::string_view fieldOf(const unsigned char* block, Field field) {
  return {reinterpret_cast<const char*>(block) + field.at, field.width};
}

// A text field up to its first NUL or its whole width (a name may fill it all).
std::string textOf(const unsigned char* block, Field field) {
  std::string_view bytes = fieldOf(block, field);
  return std::string(bytes.substr(0, std::min(bytes.find('\0'), bytes.size())));
}

// A number field: octal text (leading non-digits skipped, digits up to the first
// non-digit), or GNU's base-256 form, marked by the high bit of its first byte. None
// when it does not fit in 63 bits or is negative.
std::optional<uint64_t> numberOf(const unsigned char* block, Field field) {
  std::string_view bytes = fieldOf(block, field);
  auto first = static_cast<unsigned char>(bytes[0]);
  uint64_t value = 0;
  if (first & 0x80) {
    if (first & 0x40) return std::nullopt;  // negative
    value = first & 0x3F;
    for (size_t i = 1; i < bytes.size(); ++i) {
      if (value > (UINT64_MAX >> 9)) return std::nullopt;
      value = (value << 8) | static_cast<unsigned char>(bytes[i]);
    }
    return value;
  }
  size_t i = 0;
  while (i < bytes.size() && (bytes[i] < '0' || bytes[i] > '7')) ++i;
  for (; i < bytes.size() && bytes[i] >= '0' && bytes[i] <= '7'; ++i) {
    if (value > (UINT64_MAX >> 4)) return std::nullopt;
    value = value * 8 + static_cast<uint64_t>(bytes[i] - '0');
  }
  return value;
}

// The checksum: the sum of the header's bytes with its own field read as spaces. Old
// archivers summed signed bytes; either sum is accepted.
bool checksumHolds(const unsigned char* block) {
  std::optional<uint64_t> stored = numberOf(block, checksumField);
  if (!stored) return false;
  int64_t unsignedSum = 0, signedSum = 0;
  for (size_t i = 0; i < CTarReader::blockSize; ++i) {
    bool inField = i >= checksumField.at && i < checksumField.at + checksumField.width;
    unsigned char byte = inField ? ' ' : block[i];
    unsignedSum += byte;
    signedSum += static_cast<signed char>(byte);
  }
  return static_cast<int64_t>(*stored) == unsignedSum || static_cast<int64_t>(*stored) == signedSum;
}

// The "path" of a pax header's records ("length key=value\n" each), or empty.
std::string paxPath(std::string_view records) {
  std::string path;
  while (!records.empty()) {
    size_t space = records.find(' ');
    if (space == std::string_view::npos) break;
    uint64_t length = 0;
    for (size_t i = 0; i < space; ++i) {
      if (records[i] < '0' || records[i] > '9' || length > records.size()) return path;
      length = length * 10 + static_cast<uint64_t>(records[i] - '0');
    }
    if (length <= space + 1 || length > records.size()) break;
    std::string_view record = records.substr(space + 1, length - space - 1);
    if (!record.empty() && record.back() == '\n') record.remove_suffix(1);
    if (record.substr(0, 5) == "path=") path = std::string(record.substr(5));
    records.remove_prefix(length);
  }
  return path;
}

}  // namespace

CTarReader::CTarReader(std::FILE* file) : in(file) {
  struct stat status {};
  if (in && fstat(fileno(in), &status) == 0) fileSize = static_cast<uint64_t>(status.st_size);
  ended = in == nullptr;
}

bool CTarReader::readBlock(unsigned char* block) {
  if (std::fread(block, 1, blockSize, in) != blockSize) return false;
  position += blockSize;
  return true;
}

bool CTarReader::skip(uint64_t bytes) {
  if (bytes == 0) return true;
  if (bytes > static_cast<uint64_t>(LONG_MAX) || std::fseek(in, static_cast<long>(bytes), SEEK_CUR) != 0) return false;
  position += bytes;
  return true;
}

bool CTarReader::readRecordText(uint64_t size, std::string& text) {
  uint64_t padded = (size + blockSize - 1) / blockSize * blockSize;
  if (size > kolvo::limits::memberNameBytes) {
    // Too long to be a name: passed over, and the member it names keeps its own.
    text.clear();
    return skip(padded);
  }
  text.resize(static_cast<size_t>(size));
  if (size > 0 && std::fread(text.data(), 1, text.size(), in) != text.size()) return false;
  position += size;
  return skip(padded - size);
}

bool CTarReader::next(Member& member) {
  if (ended) return false;
  if (!skip(dataLeft + padding)) return ended = true, false;
  dataLeft = padding = 0;
  std::string longName, longPath;
  unsigned char block[blockSize];
  for (;;) {
    if (!readBlock(block) || block[0] == '\0' || !checksumHolds(block)) break;
    std::optional<uint64_t> size = numberOf(block, sizeField);
    if (!size || *size > fileSize - std::min(fileSize, position)) break;
    uint64_t padded = (*size + blockSize - 1) / blockSize * blockSize;
    char type = static_cast<char>(block[typeAt]);
    if (type == 'L' || type == 'x') {
      std::string text;
      if (!readRecordText(*size, text)) break;
      if (type == 'L') longName = text.substr(0, std::min(text.find('\0'), text.size()));
      else longPath = paxPath(text);
      continue;
    }
    if (type != '0' && type != '\0' && type != '7') {
      // Folders, links, devices, global pax headers and the like are no members.
      if (!skip(padded)) break;
      longName.clear();
      longPath.clear();
      continue;
    }
    if (!longPath.empty()) {
      member.name = longPath;
    } else if (!longName.empty()) {
      member.name = longName;
    } else {
      member.name = textOf(block, nameField);
      // Only a POSIX ustar header has a prefix there; GNU's keeps other fields in it.
      std::string prefix = fieldOf(block, magicField) == std::string_view("ustar\0", 6) ? textOf(block, prefixField)
                                                                                         : std::string();
      if (!prefix.empty()) member.name = prefix + "/" + member.name;
    }
    member.size = *size;
    std::optional<uint64_t> time = numberOf(block, timeField);
    member.modified = static_cast<int32_t>(std::min<uint64_t>(time.value_or(0), INT32_MAX));
    dataLeft = *size;
    padding = padded - *size;
    return true;
  }
  ended = true;
  return false;
}

long CTarReader::read(char* buffer, size_t size) {
  size_t want = static_cast<size_t>(std::min<uint64_t>(size, dataLeft));
  if (want == 0) return 0;
  size_t got = std::fread(buffer, 1, want, in);
  if (got == 0) return std::ferror(in) ? -1 : 0;
  dataLeft -= got;
  position += got;
  return static_cast<long>(got);
}
