// What the program prints on standard output, caught in a string: the server answers a
// request with the text kolvocmd would have printed for it.
#pragma once

#include <iostream>
#include <sstream>
#include <string>

class QvPrintedText {
 public:
  QvPrintedText() : old(std::cout.rdbuf(text.rdbuf())) {}
  ~QvPrintedText() { std::cout.rdbuf(old); }
  QvPrintedText(const QvPrintedText&) = delete;
  QvPrintedText& operator=(const QvPrintedText&) = delete;
  // What was printed since the last take.
  std::string take() {
    std::string taken = text.str();
    text.str(std::string());
    return taken;
  }

 private:
  std::ostringstream text;
  std::streambuf* old;
};
