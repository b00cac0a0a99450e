// The application's one error type: a message whose placeholders %1%, %2% ... were
// filled from a list or from the engine's TAB-separated detail text. Commands raise it;
// only the console loop catches it and prints "ERROR " and the message.
#pragma once

#include <stdexcept>
#include <string>
#include <vector>

#include "app/commands/message.h"

// The engine's argument separator inside one detail text.
inline constexpr char kQvArgSep = '\t';

// A detail text whose TAB-separated pieces fill %1%, %2% ...
struct QvTabbedArguments {
  std::string text;
};

class QvCommandException : public std::runtime_error {
 public:
  explicit QvCommandException(const std::string& message);
  QvCommandException(const std::string& message, const std::vector<std::string>& arguments);
  // An empty argument text leaves the message as it is.
  QvCommandException(const std::string& message, const QvTabbedArguments& arguments);

  explicit QvCommandException(const QvMessage& message) : QvCommandException(message.text()) {}
  QvCommandException(const QvMessage& message, const std::vector<std::string>& arguments)
      : QvCommandException(message.text(), arguments) {}
  QvCommandException(const QvMessage& message, const QvTabbedArguments& arguments)
      : QvCommandException(message.text(), arguments) {}

  std::string message() const { return what(); }
};

// The TAB-separated pieces of a detail text ("" gives none, "a\t" gives "a" and "").
std::vector<std::string> qvSplitArguments(const std::string& text);
