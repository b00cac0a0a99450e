#include "app/startup/kolvo_application.h"

#include <iostream>

#include "app/commands/command_exception.h"
#include "app/commands/text_tools.h"
#include "app/index/kolvo_lib.h"
#include "app/platform/console_output.h"
#include "app/platform/event_pump.h"
#include "app/platform/halt_request.h"
#include "app/startup/command_line.h"

void QvKolvoApplication::writeRaw(std::string_view text) {
  // The same way as the answers: unbuffered, and whole whatever interrupts the write.
  std::cout.flush();
  qvWriteOutput(1, {text});
}

void QvKolvoApplication::refreshRoot() {
  auto root = std::dynamic_pointer_cast<QvKolvoIndex>(mCommandInterface->root());
  if (root) mKolvoIndex = root;
}

void QvKolvoApplication::writeResults(const QvResults& results) {
  // The lines already lie in a few large pieces with their line ends: they are written
  // as they stand, with no copy of the whole answer.
  std::cout.flush();
  qvWriteOutput(1, results.texts());
}

void QvKolvoApplication::execute(const std::string& commandText, bool print) {
  QvResults results;
  try {
    // Ctrl-C stops the command, not the program.
    QvHaltScope haltScope;
    mCommandInterface->processCommandString(commandText, results);
  } catch (...) {
    // The answers of the commands before the failing one come before its error.
    if (print) writeResults(results);
    throw;
  }
  refreshRoot();
  if (!print) return;
  // No answer at all still prints its line end.
  if (results.empty()) writeRaw("\n");
  writeResults(results);
}

int QvKolvoApplication::run(const std::vector<std::string>& arguments, std::istream& input) {
  try {
    QvKolvoLib::registerThrowCallback();
  } catch (const QvCommandException&) {
    // A missing library is reported by the first command that needs it.
  }
  mCommandInterface = std::make_unique<QvCommandInterface>();
  int status = 0;
  try {
    mKolvoIndex = QvKolvoIndex::create("default", *mCommandInterface);
    try {
      QvKolvoLib::registerStatusCallbacks();
    } catch (const QvCommandException&) {
    }
    bool interactive = true;
    if (arguments.size() > 1 && !qvTrim(arguments[1]).empty()) {
      // A bare argument is opened, read or searched, as the option before it chose.
      QvOptionAction bare = QvOptionAction::open;
      // A run that prints JSON prints nothing else, so its output goes to jq as it is.
      bool print = true;
      for (const std::string& argument : arguments) {
        const QvCommandLineOption* option = qvFindOption(qvTrim(argument));
        if (option && option->action == QvOptionAction::json) print = false;
      }
      for (std::size_t i = 1; i < arguments.size(); ++i) {
        std::string argument = qvTrim(arguments[i]);
        if (argument.empty()) continue;
        if (argument[0] != '-') {
          if (bare == QvOptionAction::json) {
            printJsonResults(arguments[i]);
          } else {
            execute((bare == QvOptionAction::read ? "read " : "open ") + arguments[i], print);
          }
          continue;
        }
        // Other words after a dash are ignored.
        const QvCommandLineOption* option = qvFindOption(argument);
        if (!option) continue;
        switch (option->action) {
          case QvOptionAction::build:
            execute("build", print);
            interactive = false;
            break;
          case QvOptionAction::update:
            execute("update", print);
            interactive = false;
            break;
          case QvOptionAction::watch:
            execute("watch", print);
            interactive = false;
            break;
          case QvOptionAction::check:
            execute("check", print);
            interactive = false;
            if (mKolvoIndex && !mKolvoIndex->lastCheckSound()) status = 1;
            break;
          case QvOptionAction::read:
          case QvOptionAction::json:
            bare = option->action;
            interactive = false;
            break;
          case QvOptionAction::interactive:
            interactive = true;
            break;
          case QvOptionAction::open:
            bare = QvOptionAction::open;
            break;
          case QvOptionAction::help:
          case QvOptionAction::version:
            // Answered before the program starts.
            break;
        }
      }
    }
    if (interactive) consoleLoop(input);
  } catch (const std::exception& error) {
    // A failed command of the command line or of the start-up script ends the run, and
    // scripts must be able to tell.
    std::cout.flush();
    std::cerr << "ERROR " << error.what() << std::endl;
    status = 1;
  }
  mCommandInterface->cleanup();
  mKolvoIndex.reset();
  mCommandInterface.reset();
  return status;
}

void QvKolvoApplication::printJsonResults(const std::string& phrase) {
  // The phrase is one command: its semicolons are doubled (a semicolon, not a separator)
  // and its line ends are blanks.
  std::string command = "find ";
  for (char c : phrase) command += c == ';' ? std::string(";;") : std::string(1, c == '\n' || c == '\r' ? ' ' : c);
  execute(command, false);
  QvResults results;
  mCommandInterface->processCommandString("listresults -j", results);
  writeResults(results);
}

void QvKolvoApplication::consoleLoop(std::istream& input) {
  for (;;) {
    std::cout << "> " << std::flush;
    std::string line;
    if (!std::getline(input, line)) break;
    if (!line.empty() && line.back() == '\r') line.pop_back();
    std::cout << '\n' << std::flush;
    if (qvEqualsCaseless(qvTrim(line), "quit")) break;
    // The answers of the commands before a failing one are shown ahead of its error.
    QvResults results;
    try {
      mCommandInterface->processCommandString(line, results);
      writeResults(results);
      refreshRoot();
    } catch (const QvNilObjectException&) {
      writeResults(results);
      refreshRoot();
      bool open = mKolvoIndex && mKolvoIndex->hasEngineIndex();
      writeRaw((open ? qvNilObjectException : qvNoIndexLoaded).text() + "\n");
    } catch (const std::exception& error) {
      writeResults(results);
      refreshRoot();
      writeRaw("ERROR " + std::string(error.what()) + "\n");
    }
    QvEventPump::instance().runPending();
  }
}
