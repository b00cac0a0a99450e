#include "tests/support/pdf_writer.h"

#include <zlib.h>

#include <cstdio>
#include <stdexcept>

namespace kolvotest {

std::string deflated(const std::string& data) {
  uLongf size = compressBound(static_cast<uLong>(data.size()));
  std::string out(size, '\0');
  if (compress2(reinterpret_cast<Bytef*>(out.data()), &size, reinterpret_cast<const Bytef*>(data.data()),
                static_cast<uLong>(data.size()), Z_DEFAULT_COMPRESSION) != Z_OK)
    throw std::runtime_error("compress2 failed");
  out.resize(size);
  return out;
}

PdfWriter& PdfWriter::page(const std::string& content) {
  pages.push_back({deflated(content), true});
  return *this;
}

PdfWriter& PdfWriter::plainPage(const std::string& content) {
  pages.push_back({content, false});
  return *this;
}

PdfWriter& PdfWriter::rawFlatePage(const std::string& bytes) {
  pages.push_back({bytes, true});
  return *this;
}

std::string PdfWriter::bytes() const {
  // Objects: 1 catalog, 2 page tree, 3 font, then a page and its content for each page.
  std::string out = "%PDF-1.4\n%\xE2\xE3\xCF\xD3\n";
  std::vector<size_t> offsets;
  auto object = [&](const std::string& body) {
    offsets.push_back(out.size());
    out += std::to_string(offsets.size()) + " 0 obj\n" + body + "\nendobj\n";
  };
  std::string kids;
  for (size_t i = 0; i < pages.size(); ++i) kids += std::to_string(4 + 2 * i) + " 0 R ";
  object("<< /Type /Catalog /Pages 2 0 R >>");
  object("<< /Type /Pages /Kids [" + kids + "] /Count " + std::to_string(pages.size()) + " >>");
  object("<< /Type /Font /Subtype /Type1 /BaseFont /Helvetica >>");
  for (size_t i = 0; i < pages.size(); ++i) {
    const Stream& stream = pages[i];
    object("<< /Type /Page /Parent 2 0 R /MediaBox [0 0 612 792] /Resources << /Font << /F1 3 0 R >> >> /Contents " +
           std::to_string(5 + 2 * i) + " 0 R >>");
    object("<< /Length " + std::to_string(stream.data.size()) + (stream.flate ? " /Filter /FlateDecode" : "") +
           " >>\nstream\n" + stream.data + "\nendstream");
  }
  size_t xref = out.size();
  out += "xref\n0 " + std::to_string(offsets.size() + 1) + "\n0000000000 65535 f \n";
  for (size_t offset : offsets) {
    char line[32];
    std::snprintf(line, sizeof line, "%010zu 00000 n \n", offset);
    out += line;
  }
  out += "trailer\n<< /Size " + std::to_string(offsets.size() + 1) + " /Root 1 0 R >>\nstartxref\n" +
         std::to_string(xref) + "\n%%EOF\n";
  return out;
}

}  // namespace kolvotest
