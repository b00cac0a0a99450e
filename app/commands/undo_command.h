// One undo (or redo) record of the interpreter: a command line that reverses an
// action, and a short label. Executing it through the interpreter registers the
// opposite record in turn.
#pragma once

#include <string>
#include <utility>
#include <vector>

#include "app/commands/command_results.h"

class QvCommandInterface;

class QvUndoCommand {
 public:
  QvUndoCommand(std::string description, std::string command)
      : mUndoCommand(std::move(command)), mDescription(std::move(description)) {}

  void doUsingInterface(QvCommandInterface& commandInterface, QvResults& results) const;

  std::string mUndoCommand;
  std::string mDescription;
};
