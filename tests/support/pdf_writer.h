// Makes PDF files for the tests and benchmarks: one page per content text, each page's
// content in a stream of its own, Flate-compressed with zlib unless asked otherwise, and
// a cross-reference table that points at every object.
#pragma once

#include <string>
#include <vector>

namespace kolvotest {

class PdfWriter {
 public:
  // A page whose content stream holds content, Flate-compressed.
  PdfWriter& page(const std::string& content);
  // A page whose content stream is stored as it is, without a filter.
  PdfWriter& plainPage(const std::string& content);
  // A page whose stream claims /FlateDecode but holds exactly these bytes.
  PdfWriter& rawFlatePage(const std::string& bytes);
  // The whole file.
  std::string bytes() const;

 private:
  struct Stream {
    std::string data;
    bool flate;
  };
  std::vector<Stream> pages;
};

// data in zlib's format, as a /FlateDecode stream holds it.
std::string deflated(const std::string& data);

}  // namespace kolvotest
