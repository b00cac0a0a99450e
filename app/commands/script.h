// The script engine behind "rbscript": runs a Lua 5.4 script with the interpreter as
// its context. print output becomes result lines; processCommand(line) and
// processCommandString(text) run commands and answer their output lines as a table;
// compile and run-time errors become "Error number N on Line L" and the message.
#pragma once

#include <string>
#include <vector>

#include "app/commands/command_results.h"

class QvCommandInterface;

class QvScript {
 public:
  QvScript(QvCommandInterface& context, std::string source, QvResults& results);

  void run();

  // Lua's status codes serve as the error numbers of the two kinds of failure.
  static int compileErrorNumber();
  static int runErrorNumber();

 private:
  void reportError(int number, int line, const std::string& message);

  QvCommandInterface& context;
  std::string source;
  QvResults& results;
};
