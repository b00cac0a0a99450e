// An interpreter with a root made of QvCommandParent, run inside a temporary current
// directory, for the tests of the command language. The root also understands
// "echo" (answers its arguments as one line) and counts the command lines it is given.
#pragma once

#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "app/commands/command_interface.h"
#include "app/commands/command_parent.h"
#include "tests/support/temp_dir.h"

class EchoRoot : public QvCommandParent {
 public:
  using QvCommandParent::QvCommandParent;
  void performCommand(const std::string& command, const std::string& arguments, QvResults& results) override;
  std::vector<std::string> seen;  // every "echo" argument, in order
};

class InterpreterTest : public ::testing::Test {
 protected:
  void SetUp() override;
  void TearDown() override;

  // Runs a command string and answers its result lines.
  QvResults run(const std::string& text);
  // Runs a command string that must fail and answers the error's message.
  std::string failure(const std::string& text);
  // A file of the temporary current directory.
  std::string fileText(const std::string& name) const { return temp.read(name); }

  kolvotest::TempDir temp;
  std::filesystem::path previous;
  QvCommandInterface commands;
  std::shared_ptr<EchoRoot> root;
};
