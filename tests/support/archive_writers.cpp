#include "tests/support/archive_writers.h"

#include <minizip/zip.h>
#include <zlib.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <fstream>
#include <sstream>
#include <stdexcept>

namespace kolvotest {

int64_t zipEntrySeconds(const ZipEntry& entry) {
  std::tm when{};
  when.tm_year = entry.year - 1900;
  when.tm_mon = entry.month - 1;
  when.tm_mday = entry.day;
  when.tm_hour = entry.hour;
  when.tm_min = entry.minute;
  when.tm_sec = entry.second;
  when.tm_isdst = -1;
  return static_cast<int64_t>(std::mktime(&when));
}

namespace {

constexpr size_t block = 512;

void putText(std::string& header, size_t at, size_t width, const std::string& text) {
  std::memcpy(header.data() + at, text.data(), std::min(width, text.size()));
}

void putOctal(std::string& header, size_t at, size_t width, uint64_t value) {
  char digits[32];
  std::snprintf(digits, sizeof digits, "%0*llo", static_cast<int>(width - 1), static_cast<unsigned long long>(value));
  putText(header, at, width - 1, digits);
}

std::string padded(const std::string& data) {
  std::string out = data;
  out.resize((data.size() + block - 1) / block * block, '\0');
  return out;
}

// One header; the name goes in the field as it is (cut at 100 bytes).
std::string header(const std::string& name, const std::string& prefix, uint64_t size, char type, int64_t modified,
                   bool gnu, bool badChecksum) {
  std::string h(block, '\0');
  putText(h, 0, 100, name);
  putOctal(h, 100, 8, 0644);
  putOctal(h, 108, 8, 0);
  putOctal(h, 116, 8, 0);
  putOctal(h, 124, 12, size);
  putOctal(h, 136, 12, static_cast<uint64_t>(modified));
  h[156] = type;
  if (gnu) {
    putText(h, 257, 8, std::string("ustar  \0", 8));
  } else {
    putText(h, 257, 6, std::string("ustar\0", 6));
    putText(h, 263, 2, "00");
    putText(h, 345, 155, prefix);
  }
  putText(h, 148, 8, "        ");
  unsigned sum = 0;
  for (unsigned char c : h) sum += c;
  if (badChecksum) sum += 1;
  char field[8];
  std::snprintf(field, sizeof field, "%06o", sum);
  putText(h, 148, 7, field);
  h[154] = '\0';
  h[155] = ' ';
  return h;
}

}  // namespace

std::string tarArchive(const std::vector<TarEntry>& entries, bool endBlocks) {
  std::string out;
  for (const TarEntry& e : entries) {
    std::string name = e.name, prefix;
    bool gnu = false;
    switch (e.form) {
      case TarEntry::NameForm::field:
        break;
      case TarEntry::NameForm::ustarPrefix: {
        size_t split = std::string::npos;
        for (size_t at = name.find('/'); at != std::string::npos && split == std::string::npos; at = name.find('/', at + 1))
          if (name.size() - at - 1 <= 100) split = at;
        if (split == std::string::npos || split > 155) throw std::runtime_error("name cannot be split: " + name);
        prefix = name.substr(0, split);
        name = name.substr(split + 1);
        break;
      }
      case TarEntry::NameForm::gnuLongName: {
        gnu = true;
        std::string longName = e.name + '\0';
        out += header("././@LongLink", "", longName.size(), 'L', 0, true, false) + padded(longName);
        name = e.name.substr(0, 100);
        break;
      }
      case TarEntry::NameForm::pax: {
        std::string record = " path=" + e.name + "\n";
        // The length counts its own digits.
        size_t total = record.size() + 1;
        while (std::to_string(total).size() + record.size() != total) total = std::to_string(total).size() + record.size();
        std::string length = std::to_string(total);
        record = length + record;
        out += header("PaxHeaders/entry", "", record.size(), 'x', 0, false, false) + padded(record);
        name = e.name.substr(0, 100);
        break;
      }
    }
    uint64_t size = e.statedSize.value_or(e.data.size());
    out += header(name, prefix, size, e.type, e.modified, gnu, e.badChecksum) + padded(e.data);
  }
  if (endBlocks) out += std::string(2 * block, '\0');
  return out;
}

std::string gzipOf(const std::string& data) {
  z_stream stream{};
  if (deflateInit2(&stream, Z_DEFAULT_COMPRESSION, Z_DEFLATED, 15 + 16, 8, Z_DEFAULT_STRATEGY) != Z_OK)
    throw std::runtime_error("deflateInit2");
  std::string out(deflateBound(&stream, data.size()) + 64, '\0');
  stream.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(data.data()));
  stream.avail_in = static_cast<uInt>(data.size());
  stream.next_out = reinterpret_cast<Bytef*>(out.data());
  stream.avail_out = static_cast<uInt>(out.size());
  int result = deflate(&stream, Z_FINISH);
  deflateEnd(&stream);
  if (result != Z_STREAM_END) throw std::runtime_error("deflate");
  out.resize(stream.total_out);
  return out;
}

void writeGzipOfZeros(const std::string& path, uint64_t bytes) {
  // One gzip member of 64 MiB of zeros, repeated: a reader takes the members one after
  // another as one stream, and making it costs a sixteenth of deflating it all.
  constexpr uint64_t piece = 64ULL << 20;
  std::string member = gzipOf(std::string(piece, '\0'));
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  for (uint64_t done = 0; done < bytes; done += piece) {
    if (bytes - done < piece) member = gzipOf(std::string(bytes - done, '\0'));
    out.write(member.data(), static_cast<std::streamsize>(member.size()));
  }
  if (!out) throw std::runtime_error("cannot write " + path);
}

namespace {

// Sets the method of the entry named name, in its local header and in the directory.
void patchMethod(std::string& bytes, const std::string& name, int method) {
  auto patchAt = [&](const std::string& signature, size_t lengthAt, size_t nameAt, size_t methodAt) {
    for (size_t at = bytes.find(signature); at != std::string::npos; at = bytes.find(signature, at + 1)) {
      if (at + nameAt + name.size() > bytes.size()) break;
      size_t length = static_cast<unsigned char>(bytes[at + lengthAt]) |
                      static_cast<size_t>(static_cast<unsigned char>(bytes[at + lengthAt + 1])) << 8;
      if (length != name.size() || bytes.compare(at + nameAt, length, name) != 0) continue;
      bytes[at + methodAt] = static_cast<char>(method & 0xFF);
      bytes[at + methodAt + 1] = static_cast<char>(method >> 8);
    }
  };
  patchAt(std::string("PK\x03\x04", 4), 26, 30, 8);
  patchAt(std::string("PK\x01\x02", 4), 28, 46, 10);
}

}  // namespace

void writeZip(const std::string& path, const std::vector<ZipEntry>& entries) {
  zipFile zip = zipOpen(path.c_str(), APPEND_STATUS_CREATE);
  if (!zip) throw std::runtime_error("zipOpen " + path);
  for (const ZipEntry& e : entries) {
    zip_fileinfo info{};
    info.tmz_date.tm_year = static_cast<uInt>(e.year);
    info.tmz_date.tm_mon = static_cast<uInt>(e.month - 1);
    info.tmz_date.tm_mday = static_cast<uInt>(e.day);
    info.tmz_date.tm_hour = static_cast<uInt>(e.hour);
    info.tmz_date.tm_min = static_cast<uInt>(e.minute);
    info.tmz_date.tm_sec = static_cast<uInt>(e.second);
    // The writer knows only stored and deflated: another method is written stored and
    // its number set afterwards.
    int method = e.method == Z_DEFLATED ? Z_DEFLATED : 0;
    if (zipOpenNewFileInZip(zip, e.name.c_str(), &info, nullptr, 0, nullptr, 0, nullptr, method,
                            Z_DEFAULT_COMPRESSION) != ZIP_OK)
      throw std::runtime_error("zipOpenNewFileInZip " + e.name);
    if (!e.data.empty() && zipWriteInFileInZip(zip, e.data.data(), static_cast<unsigned>(e.data.size())) != ZIP_OK)
      throw std::runtime_error("zipWriteInFileInZip " + e.name);
    zipCloseFileInZip(zip);
  }
  zipClose(zip, nullptr);
  bool patched = false;
  std::string bytes;
  for (const ZipEntry& e : entries) {
    if (e.method == 0 || e.method == Z_DEFLATED) continue;
    if (!patched) bytes = readFileBytes(path);
    patched = true;
    patchMethod(bytes, e.name, e.method);
  }
  if (patched) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
  }
}

std::string readFileBytes(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) throw std::runtime_error("cannot read " + path);
  std::stringstream bytes;
  bytes << in.rdbuf();
  return bytes.str();
}

std::string zipArchive(const std::vector<ZipEntry>& entries, const std::string& scratchFolder) {
  std::string path = scratchFolder + "/zip-scratch.zip";
  writeZip(path, entries);
  std::string bytes = readFileBytes(path);
  std::remove(path.c_str());
  return bytes;
}

}  // namespace kolvotest
