#include "app/commands/command_interface.h"

#include <string_view>

#include "app/commands/command_exception.h"
#include "app/commands/command_parent.h"
#include "app/commands/script.h"
#include "app/commands/text_tools.h"
#include "app/platform/event_pump.h"
#include "app/platform/regex.h"

namespace {

void letEventsRun() { QvEventPump::instance().runPending(); }

}  // namespace

QvCommandInterface::QvCommandInterface() = default;

QvCommandInterface::~QvCommandInterface() { cleanup(); }

void QvCommandInterface::setRoot(std::shared_ptr<QvCommandParent> root) {
  mRoot = root;
  mDefaultObject = std::move(root);
}

std::shared_ptr<QvCommandObject> QvCommandInterface::getStartOfPath(const std::string& path) const {
  if (path.empty()) return nullptr;
  switch (path[0]) {
    case '.': return mDefaultObject;
    case '/': return mRoot;
    case '^': return mDefaultObject ? std::shared_ptr<QvCommandObject>(mDefaultObject->parent()) : nullptr;
    default: return nullptr;
  }
}

std::shared_ptr<QvCommandObject> QvCommandInterface::setDefaultToPath(const std::string& path) {
  auto object = getObjectFromPath(path);
  if (!object) throw QvCommandException(qvciCmdCannotChangeDefault, std::vector<std::string>{path});
  mDefaultObject = object;
  return object;
}

std::shared_ptr<QvCommandObject> QvCommandInterface::followPath(const std::string& path,
                                                               std::shared_ptr<QvCommandObject> start) const {
  auto current = std::move(start);
  for (const std::string& name : qvSplit(path, '.')) {
    if (name.empty()) continue;
    auto parent = std::dynamic_pointer_cast<QvCommandParent>(current);
    if (!parent) continue;  // a leaf has no children to walk into
    current = parent->childNamed(name);
    if (!current) return nullptr;
  }
  return current;
}

std::shared_ptr<QvCommandObject> QvCommandInterface::getObjectFromPath(const std::string& path) const {
  auto start = getStartOfPath(path);
  if (!start) return nullptr;
  return followPath(path.substr(1), start);
}

void QvCommandInterface::processCommand(const std::string& line, QvResults& results) {
  if (qvStartsWith(qvTrimLeft(line), "#")) return;
  auto [term, rest] = getNextTerm(line);
  if (term.empty()) return;
  if (mRecordTo) {
    *mRecordTo << line << '\n';
    mRecordTo->flush();
    if (!*mRecordTo) throw QvCommandException(qvciCmdCannotOpenFile, std::vector<std::string>{mRecordToPath});
  }
  std::string word;
  auto object = getObjectFromPath(term);
  if (object) {
    std::tie(word, rest) = getNextTerm(rest);
  } else {
    object = mDefaultObject;
    word = term;
  }
  if (word.empty()) word = "ls";
  if (!object) throw QvCommandException(QvCommandObject::qvcoCommandNotFound, std::vector<std::string>{word});
  QvResults output;
  try {
    object->performCommand(word, rest, output);
  } catch (...) {
    // What was answered before the failure (the commands of a "read" file before the
    // failing one) is still shown, ahead of the error.
    results.append(std::move(output));
    throw;
  }
  if (mOutputTee) {
    for (std::string_view text : output.texts()) mOutputTee->write(text.data(), static_cast<std::streamsize>(text.size()));
    mOutputTee->flush();
    if (!*mOutputTee) throw QvCommandException(qvciCmdNotTeeTo, std::vector<std::string>{mOutputTeePath});
  }
  // The lines are handed on whole: a listing may hold a hundred thousand of them.
  results.append(std::move(output));
  letEventsRun();
}

void QvCommandInterface::processCommand(const std::string& line) {
  QvResults dropped;
  processCommand(line, dropped);
}

std::vector<std::string> QvCommandInterface::splitCommandString(const std::string& text) {
  std::vector<std::string> commands;
  std::string joined = qvTrim(text);
  if (joined.empty()) return commands;
  // A semicolon between two other characters separates commands; ";;" is a semicolon.
  static const QvRegex separator("([^;]);([^;])");
  static const QvRegex doubled(";;");
  joined = doubled.replaceAll(separator.replaceAll(joined, "$1\n$2"), ";");
  std::vector<std::string> lines = qvSplit(joined, '\n');
  for (std::size_t i = 0; i < lines.size();) {
    std::string line = qvTrim(lines[i++]);
    if (qvEndsWith(line, "__")) {
      line.pop_back();
    } else {
      while (qvEndsWith(line, "_") && i < lines.size()) {
        line.pop_back();
        line += '\n';
        line += lines[i++];
      }
    }
    commands.push_back(std::move(line));
  }
  return commands;
}

void QvCommandInterface::processCommandString(const std::string& text, QvResults& results) {
  for (const std::string& line : splitCommandString(text)) {
    processCommand(line, results);
    letEventsRun();
  }
}

void QvCommandInterface::registerUndo(const std::string& description, const std::string& undoCommand) {
  if (mUndoLock) {
    mRedoStack.emplace_back(description, undoCommand);
    return;
  }
  mUndoStack.emplace_back(description, undoCommand);
  while (mUndoStack.size() > static_cast<std::size_t>(mMaxUndoStack)) mUndoStack.erase(mUndoStack.begin());
  if (!mRedoLock) mRedoStack.clear();
}

void QvCommandInterface::runUndoRecord(std::vector<QvUndoCommand>& stack, bool& lock, const QvMessage& nothingLeft,
                                       QvResults& results) {
  if (stack.empty()) {
    results.push_back(nothingLeft.text());
    return;
  }
  QvUndoCommand record = std::move(stack.back());
  stack.pop_back();
  lock = true;
  try {
    record.doUsingInterface(*this, results);
  } catch (...) {
    lock = false;
    throw;
  }
  lock = false;
}

void QvCommandInterface::undo(QvResults& results) { runUndoRecord(mUndoStack, mUndoLock, qvciNothingToUndo, results); }

void QvCommandInterface::redo(QvResults& results) { runUndoRecord(mRedoStack, mRedoLock, qvciNothingToRedo, results); }

std::string QvCommandInterface::readCommandFile(const std::string& path) const {
  auto item = folderItemFromPath(path);
  std::optional<std::string> text;
  if (item && item->exists()) text = item->readAll();
  if (!text) throw QvCommandException(qvciCmdCannotOpenFile, std::vector<std::string>{path});
  return *text;
}

void QvCommandInterface::readCommandsFromFile(const std::string& path, QvResults& results) {
  processCommandString(readCommandFile(path), results);
}

void QvCommandInterface::cleanup() {
  if (mRoot) mRoot->cleanup();
  mRoot.reset();
  mDefaultObject.reset();
  mUndoStack.clear();
  mRedoStack.clear();
}

std::string QvCommandInterface::teeCommandOutput(const std::string& argument) {
  mOutputTee.reset();
  mOutputTeePath.clear();
  if (argument.empty()) return qvciCmdTeeCancelled.text();
  std::ios::openmode mode = std::ios::out | std::ios::binary;
  std::string target;
  if (qvStartsWith(argument, ">>")) {
    target = qvUnquoted(argument.substr(2));
    mode |= std::ios::app;
  } else if (qvStartsWith(argument, ">")) {
    target = qvUnquoted(argument.substr(1));
    mode |= std::ios::trunc;
  } else {
    target = qvUnquoted(argument);
    auto existing = folderItemFromPath(target);
    if (existing && existing->exists()) {
      throw QvCommandException(qvciCmdTeeFileExists, std::vector<std::string>{argument});
    }
    mode |= std::ios::trunc;
  }
  auto item = folderItemFromPath(target);
  std::unique_ptr<std::ofstream> stream;
  if (item && !item->isDirectory()) stream = std::make_unique<std::ofstream>(item->path(), mode);
  if (!stream || !*stream) throw QvCommandException(qvciCmdNotTeeTo, std::vector<std::string>{argument});
  mOutputTee = std::move(stream);
  mOutputTeePath = item->shellPath();
  return std::string();
}

void QvCommandInterface::runScriptFile(const std::string& path, QvResults& results) {
  std::string source = readCommandFile(path);
  QvScript script(*this, source, results);
  script.run();
}

void QvCommandInterface::recordCommandsTo(const std::string& path, QvResults& results) {
  stopRecording(results);
  auto item = folderItemFromPath(path);
  if (!item) throw QvCommandException(qvcPathInvalid, std::vector<std::string>{path});
  std::unique_ptr<std::ofstream> stream;
  if (!item->isDirectory()) {
    stream = std::make_unique<std::ofstream>(item->path(), std::ios::out | std::ios::app | std::ios::binary);
  }
  if (!stream || !*stream) throw QvCommandException(qvciCmdCannotOpenFile, std::vector<std::string>{path});
  mRecordTo = std::move(stream);
  mRecordToPath = item->shellPath();
  results.push_back(qvcRecordingTo.text({pathFromFolderItem(*item)}));
}

void QvCommandInterface::stopRecording(QvResults& results) {
  if (!mRecordTo) return;
  mRecordTo.reset();
  mRecordToPath.clear();
  results.push_back(qvcRecordingStopped.text());
}

std::pair<std::string, std::string> QvCommandInterface::getNextTerm(const std::string& text) {
  std::string trimmed = qvTrim(text);
  if (trimmed.empty()) return {std::string(), std::string()};
  char first = trimmed[0];
  if (first == '"' || first == '\'') {
    std::size_t closing = trimmed.find(first, 1);
    if (closing == std::string::npos) return {qvTrim(trimmed.substr(1)), std::string()};
    return {qvTrim(trimmed.substr(1, closing - 1)), qvTrim(trimmed.substr(closing + 1))};
  }
  std::size_t blank = trimmed.find(' ');
  if (blank == std::string::npos) return {trimmed, std::string()};
  return {qvTrim(trimmed.substr(0, blank)), qvTrim(trimmed.substr(blank + 1))};
}

std::optional<QvFolderItem> QvCommandInterface::folderItemFromPath(const std::string& path) {
  return QvFolderItem::fromShellPath(path);
}

std::string QvCommandInterface::pathFromFolderItem(const QvFolderItem& item) { return item.shellPath(); }
