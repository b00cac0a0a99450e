#include "app/startup/kolvo_application.h"

#include <cstdio>
#include <iostream>

#include "app/commands/command_exception.h"
#include "app/commands/text_tools.h"
#include "app/index/kolvo_lib.h"
#include "app/platform/event_pump.h"
#include "app/platform/halt_request.h"

void QvKolvoApplication::writeRaw(const std::string& text) {
  std::cout.flush();
  try {
    if (klib(kRawStdoutWrite)(text.c_str()) >= 0) return;
  } catch (const QvCommandException&) {
    // Without the library the text still reaches the console.
  }
  std::fwrite(text.data(), 1, text.size(), stdout);
  std::fflush(stdout);
}

void QvKolvoApplication::refreshRoot() {
  auto root = std::dynamic_pointer_cast<QvKolvoIndex>(mCommandInterface->root());
  if (root) mKolvoIndex = root;
}

void QvKolvoApplication::writeResults(const QvResults& results) {
  std::string text;
  for (const std::string& result : results) text += result + "\n";
  if (!text.empty()) writeRaw(text);
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
  std::string text;
  for (std::size_t i = 0; i < results.size(); ++i) text += (i ? "\n" : "") + results[i];
  writeRaw(text + "\n");
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
      std::string prefix = "open ";
      for (std::size_t i = 1; i < arguments.size(); ++i) {
        std::string argument = qvTrim(arguments[i]);
        if (argument.empty()) continue;
        if (argument[0] != '-') {
          execute(prefix + arguments[i], true);
          continue;
        }
        std::string option = qvLower(argument.substr(1));
        if (option == "b") {
          execute("build", true);
          interactive = false;
        } else if (option == "u") {
          execute("update", true);
          interactive = false;
        } else if (option == "c") {
          execute("check", true);
          interactive = false;
          if (mKolvoIndex && !mKolvoIndex->lastCheckSound()) status = 1;
        } else if (option == "r") {
          prefix = "read ";
          interactive = false;
        } else if (option == "i") {
          interactive = true;
        } else if (option == "o") {
          prefix = "open ";
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
