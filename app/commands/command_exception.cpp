#include "app/commands/command_exception.h"

QvCommandException::QvCommandException(const std::string& message) : std::runtime_error(message) {}

QvCommandException::QvCommandException(const std::string& message, const std::vector<std::string>& arguments)
    : std::runtime_error(qvFillPlaceholders(message, arguments)) {}

QvCommandException::QvCommandException(const std::string& message, const QvTabbedArguments& arguments)
    : std::runtime_error(qvFillPlaceholders(message, qvSplitArguments(arguments.text))) {}

std::vector<std::string> qvSplitArguments(const std::string& text) {
  std::vector<std::string> pieces;
  if (text.empty()) return pieces;
  std::size_t at = 0;
  for (;;) {
    std::size_t tab = text.find(kQvArgSep, at);
    pieces.push_back(text.substr(at, tab == std::string::npos ? std::string::npos : tab - at));
    if (tab == std::string::npos) break;
    at = tab + 1;
  }
  return pieces;
}
