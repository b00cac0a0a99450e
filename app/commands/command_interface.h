// The command interpreter: splits command strings into lines and lines into terms,
// finds the object a leading path names, and hands the command to it. It keeps the
// undo and redo stacks, the recording and "tee" files, and runs command files, Lua
// scripts ("rbscript") and shell commands. Every input of kolvocmd ends here.
#pragma once

#include <fstream>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "app/commands/command_results.h"
#include "app/commands/message.h"
#include "app/commands/undo_command.h"
#include "app/platform/folder_item.h"

class QvCommandObject;
class QvCommandParent;

class QvCommandInterface {
 public:
  QvCommandInterface();
  ~QvCommandInterface();
  QvCommandInterface(const QvCommandInterface&) = delete;
  QvCommandInterface& operator=(const QvCommandInterface&) = delete;

  void setRoot(std::shared_ptr<QvCommandParent> root);
  std::shared_ptr<QvCommandObject> getStartOfPath(const std::string& path) const;
  std::shared_ptr<QvCommandObject> setDefaultToPath(const std::string& path);
  std::shared_ptr<QvCommandObject> followPath(const std::string& path, std::shared_ptr<QvCommandObject> start) const;
  std::shared_ptr<QvCommandObject> getObjectFromPath(const std::string& path) const;
  void processCommand(const std::string& line, QvResults& results);
  void processCommandString(const std::string& text, QvResults& results);
  void registerUndo(const std::string& description, const std::string& undoCommand);
  void undo(QvResults& results);
  void redo(QvResults& results);
  void readCommandsFromFile(const std::string& path, QvResults& results);
  void cleanup();
  std::string teeCommandOutput(const std::string& argument);
  void runScriptFile(const std::string& path, QvResults& results);
  void processCommand(const std::string& line);
  void recordCommandsTo(const std::string& path, QvResults& results);
  void stopRecording(QvResults& results);

  // The command lines of a command string: split at single semicolons and line feeds,
  // ";;" made one semicolon, lines ending in "_" joined to the next ("__" keeps one "_").
  static std::vector<std::string> splitCommandString(const std::string& text);
  // The first term of text and the rest, both trimmed; a term may be quoted with " or '.
  static std::pair<std::string, std::string> getNextTerm(const std::string& text);
  static std::optional<QvFolderItem> folderItemFromPath(const std::string& path);
  static std::string pathFromFolderItem(const QvFolderItem& item);

  std::shared_ptr<QvCommandParent> root() const { return mRoot; }
  std::shared_ptr<QvCommandObject> defaultObject() const { return mDefaultObject; }
  // Used when the default object leaves the tree.
  void setDefaultObject(std::shared_ptr<QvCommandObject> object) { mDefaultObject = std::move(object); }
  std::size_t undoCount() const { return mUndoStack.size(); }
  std::size_t redoCount() const { return mRedoStack.size(); }

  static constexpr QvMessage qvciCmdCannotChangeDefault{"QvCommandInterface.qvciCmdCannotChangeDefault",
                                                        "Can't change the default to %1%"};
  static constexpr QvMessage qvciNothingToUndo{"QvCommandInterface.qvciNothingToUndo", "There is nothing to undo"};
  static constexpr QvMessage qvciNothingToRedo{"QvCommandInterface.qvciNothingToRedo", "There is nothing to redo"};
  static constexpr QvMessage qvciCmdCannotOpenFile{"QvCommandInterface.qvciCmdCannotOpenFile",
                                                   "Cannot open the file at path %1%"};
  static constexpr QvMessage qvciWarning{"QvCommandInterface.qvciWarning", "WARNING: "};
  static constexpr QvMessage qvciCmdNotTeeTo{"QvCommandInterface.qvciCmdNotTeeTo", "Could not tee to file %1%"};
  static constexpr QvMessage qvciCmdTeeFileExists{
      "QvCommandInterface.qvciCmdTeeFileExists",
      "The file %1% already exists use tee > to overwrite or tee >> to append"};
  static constexpr QvMessage qvciCmdTeeCancelled{"QvCommandInterface.qvciCmdTeeCancelled",
                                                 "Output is not being copied to a file"};
  static constexpr QvMessage qvcRecordingStopped{"QvCommandInterface.qvcRecordingStopped", "Recording Stopped"};
  static constexpr QvMessage qvcRecordingTo{"QvCommandInterface.qvcRecordingTo",
                                            "All commands are being appended to %1%"};
  static constexpr QvMessage qvcPathInvalid{"QvCommandInterface.qvcPathInvalid",
                                            "This appears to be an invalid path: %1%"};

  static constexpr int kMaxUndoStack = 500;

 private:
  // Runs one record with the given lock set; the lock is cleared also when it fails.
  void runUndoRecord(std::vector<QvUndoCommand>& stack, bool& lock, const QvMessage& nothingLeft,
                     QvResults& results);
  // The whole text of a command or script file, or QvCommandException.
  std::string readCommandFile(const std::string& path) const;

  std::shared_ptr<QvCommandParent> mRoot;
  std::shared_ptr<QvCommandObject> mDefaultObject;
  std::vector<QvUndoCommand> mUndoStack;
  std::vector<QvUndoCommand> mRedoStack;
  int mMaxUndoStack = kMaxUndoStack;
  bool mUndoLock = false;
  bool mRedoLock = false;
  std::unique_ptr<std::ofstream> mOutputTee;
  std::string mOutputTeePath;
  std::unique_ptr<std::ofstream> mRecordTo;
  std::string mRecordToPath;
};
