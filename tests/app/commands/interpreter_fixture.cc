#include "tests/app/commands/interpreter_fixture.h"

#include "app/commands/command_exception.h"

void EchoRoot::performCommand(const std::string& command, const std::string& arguments, QvResults& results) {
  if (qvEqualsCaseless(command, "echo")) {
    seen.push_back(arguments);
    results.push_back(arguments);
    return;
  }
  QvCommandParent::performCommand(command, arguments, results);
}

void InterpreterTest::SetUp() {
  previous = std::filesystem::current_path();
  std::filesystem::current_path(temp.path());
  root = qvCreateRoot<EchoRoot>(commands, "root", std::string("QvCommandParent"));
}

void InterpreterTest::TearDown() {
  commands.cleanup();
  root.reset();
  std::filesystem::current_path(previous);
}

QvResults InterpreterTest::run(const std::string& text) {
  QvResults results;
  commands.processCommandString(text, results);
  return results;
}

std::string InterpreterTest::failure(const std::string& text) {
  try {
    run(text);
  } catch (const std::exception& error) {
    return error.what();
  }
  return "(no error)";
}
