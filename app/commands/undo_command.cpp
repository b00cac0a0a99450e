#include "app/commands/undo_command.h"

#include "app/commands/command_interface.h"

void QvUndoCommand::doUsingInterface(QvCommandInterface& commandInterface, QvResults& results) const {
  commandInterface.processCommand(mUndoCommand, results);
}
