#include "app/commands/undo_command.h"

#include "app/commands/command_interface.h"

void QvUndoCommand::doUsingInterface(QvCommandInterface& commandInterface, std::vector<std::string>& results) const {
  commandInterface.processCommand(mUndoCommand, results);
}
