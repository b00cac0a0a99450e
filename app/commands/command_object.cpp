#include "app/commands/command_object.h"

#include <sys/stat.h>

#include "app/commands/command_exception.h"
#include "app/commands/command_interface.h"
#include "app/commands/command_parent.h"
#include "app/platform/child_process.h"
#include "app/platform/folder_item.h"

namespace {

using Arguments = std::vector<std::string>;

}  // namespace

QvCommandObject::QvCommandObject(const std::string& name, QvCommandParent& parent, const std::string& className)
    : mParent(std::static_pointer_cast<QvCommandParent>(parent.shared_from_this())),
      mCmdInterface(parent.commandInterface()),
      mName(name),
      mClassName(className) {}

QvCommandObject::QvCommandObject(const std::string& name, QvCommandInterface& commandInterface,
                                 const std::string& className)
    : mCmdInterface(&commandInterface), mName(name), mClassName(className) {}

QvCommandObject::~QvCommandObject() = default;

QvCommandInterface& QvCommandObject::interpreter() const {
  if (!mCmdInterface) throw QvCommandException(qvcoCommandNotFound, Arguments{mName});
  return *mCmdInterface;
}

void QvCommandObject::performCommand(const std::string& command, const std::string& arguments, QvResults& results) {
  std::string word = qvLower(command);
  if (word == "cd") {
    changeDefaultTo(qvUnquoted(arguments));
    results.push_back(qvcoChangedDefault.text({arguments}));
  } else if (word == "getinfo") {
    results.push_back(getInfo(arguments));
  } else if (word == "read") {
    interpreter().readCommandsFromFile(qvUnquoted(arguments), results);
  } else if (word == "renameto") {
    auto owner = parent();
    if (!owner) throw QvCommandException(qvcoNoParent, Arguments{getPath()});
    owner->performCommand("rename", qvQuotedTerm(mName) + " " + arguments, results);
  } else if (word == "undo") {
    interpreter().undo(results);
  } else if (word == "redo") {
    interpreter().redo(results);
  } else if (word == "save") {
    commandSave(qvUnquoted(arguments), results);
  } else if (word == "getvalue") {
    results.push_back(getValue(arguments));
  } else if (word == "rbscript") {
    interpreter().runScriptFile(qvUnquoted(arguments), results);
  } else if (word == "recordto") {
    interpreter().recordCommandsTo(qvUnquoted(arguments), results);
  } else if (word == "setvalue") {
    commandSetValue(arguments, results);
  } else if (word == "stoprecording") {
    interpreter().stopRecording(results);
  } else if (word == "system") {
    commandSystem(arguments, results);
  } else if (word == "tee") {
    results.push_back(interpreter().teeCommandOutput(arguments));
  } else if (word == "xml") {
    xmlRepresentation(results);
  } else if (word == "test") {
    results.push_back(qvcoNoTest.text());
  } else {
    throw QvCommandException(qvcoCommandNotFound, Arguments{command});
  }
}

void QvCommandObject::changeDefaultTo(const std::string& path) {
  QvCommandInterface& commands = interpreter();
  std::string here = getPath();
  commands.setDefaultToPath(path);
  commands.registerUndo(qvcoUndoCD.text(), "cd " + qvQuotedTerm(here));
}

void QvCommandObject::commandSetValue(const std::string& arguments, QvResults& results) {
  std::string name = qvTrim(arguments), value;
  std::size_t blank = name.find(' ');
  if (blank != std::string::npos) {
    value = qvTrim(name.substr(blank + 1));
    name = qvTrim(name.substr(0, blank));
  }
  std::string old = getValue(name);
  if (qvEqualsCaseless(old, value)) {
    results.push_back(qvcoUnchanged.text());
    return;
  }
  setValue(name, value);
  interpreter().registerUndo(qvcoUndoSetValue.text(), qvQuotedTerm(getPath()) + " setvalue " + name + " " + old);
  results.push_back(name + " = " + value);
}

void QvCommandObject::commandSave(const std::string& path, QvResults& results) {
  std::string text = xmlDocument().joined();
  auto item = QvCommandInterface::folderItemFromPath(path);
  if (!item || item->isDirectory() || !item->writeAll(text)) {
    throw QvCommandException(QvCommandInterface::qvciCmdCannotOpenFile, Arguments{path});
  }
  results.push_back(qvcoIndexSaved.text({mName, path}));
}

void QvCommandObject::commandSystem(const std::string& arguments, QvResults& results) {
  QvShellResult run = qvRunShellCommand(arguments);
  if (run.exitCode != 0) {
    results.push_back(qvcoErrorCode.text({std::to_string(run.exitCode)}));
    return;
  }
  for (const std::string& line : qvSplit(run.output, '\n')) results.push_back(qvTrimRight(line));
}

std::string QvCommandObject::getPath() const {
  auto owner = parent();
  if (!owner) return "/";
  std::string path = owner->getPath();
  return path + "." + mName;
}

std::shared_ptr<QvCommandParent> QvCommandObject::getRoot() const {
  return mCmdInterface ? mCmdInterface->root() : nullptr;
}

bool QvCommandObject::isWithin(const QvCommandObject& other) const {
  for (auto node = shared_from_this(); node; node = node->parent()) {
    if (node.get() == &other) return true;
  }
  return false;
}

QvResults QvCommandObject::xmlDocument(const std::vector<QvProcessingInstruction>& processingInstructions) {
  QvResults lines;
  lines.push_back("<?xml version=\"1.0\" encoding=\"UTF-8\"?>");
  for (const auto& [target, data] : processingInstructions) lines.push_back("<?" + target + " " + data + "?>");
  lines.push_back("<QvXmlDocument>");
  lines.push_back("<QvNewRoot name=\"" + qvXmlEscapeAttribute(mName) + "\" path=\"" +
                  qvXmlEscapeAttribute(getPath()) + "\"/>");
  xmlBody(lines);
  lines.push_back("</QvXmlDocument>");
  return lines;
}

void QvCommandObject::xmlRepresentation(QvResults& lines) {
  lines.push_back(xmlStartTag());
  xmlBody(lines);
  lines.push_back(xmlEndTag());
}

std::string QvCommandObject::xmlStartTag() const {
  return "<" + xmlClassName() + " childnamed=\"" + qvXmlEscapeAttribute(mName) + "\">";
}

std::string QvCommandObject::xmlEndTag() const { return "</" + xmlClassName() + ">"; }

std::string QvCommandObject::xmlReference(const std::string& name, const QvCommandObject& object) const {
  return "<reference name=\"" + qvXmlEscapeAttribute(name) + "\" path=\"" + qvXmlEscapeAttribute(object.getPath()) +
         "\"/>\n";
}

std::string QvCommandObject::getValue(const std::string& name) {
  if (qvEqualsCaseless(name, "name")) return mName;
  if (qvEqualsCaseless(name, "classname")) return mClassName;
  if (qvStartsWith(name, "_")) {
    if (!mVariables) return std::string();
    auto found = mVariables->find(name);
    return found == mVariables->end() ? std::string() : found->second;
  }
  throw QvCommandException(qvcoPropertyNotFound, Arguments{name, getPath()});
}

void QvCommandObject::setValue(const std::string& name, const std::string& value) {
  if (!qvStartsWith(name, "_")) throw QvCommandException(qvcoPropertyNotFound, Arguments{name, getPath()});
  if (value.empty()) {
    if (!mVariables) return;
    mVariables->erase(name);
    if (mVariables->empty()) mVariables.reset();
    return;
  }
  if (!mVariables) mVariables = std::make_unique<std::map<std::string, std::string, QvCaselessKey>>();
  (*mVariables)[name] = value;
}

std::shared_ptr<QvCommandObject> QvCommandObject::xmlStartElement(const std::string&, const QvXmlAttributes&) {
  return shared_from_this();
}

void QvCommandObject::xmlEndElement(const std::shared_ptr<QvCommandObject>& ended, const std::string& name,
                                    const std::string& text) {
  if (ended.get() == this && name != "QvNewRoot") setValue(name, text);
}

void QvCommandObject::setReference(const std::string& name, const std::shared_ptr<QvCommandObject>& object) {
  auto newParent = std::dynamic_pointer_cast<QvCommandParent>(object);
  if (!qvEqualsCaseless(name, "parent") || !newParent) {
    throw QvCommandException(qvcoPropertyNotFound, Arguments{name, getPath()});
  }
  mParent = newParent;
}

void QvCommandObject::cleanup() {
  mParent.reset();
  mCmdInterface = nullptr;
}

std::string QvCommandObject::xmlPropertyRepresentation(const std::string& name) {
  return qvXmlValueElement(name, getValue(name));
}

void QvCommandObject::xmlProcessingInstruction(const std::string&, const std::string&) {}

std::string QvCommandObject::GetVolumeName(const QvFolderItem& item) {
  // Walk up while the device stays the same: the last folder on it is the mount point.
  std::filesystem::path path = item.path();
  struct stat info {};
  while (stat(path.c_str(), &info) != 0 && path.has_parent_path() && path != path.parent_path()) {
    path = path.parent_path();
  }
  dev_t device = info.st_dev;
  while (path.has_parent_path() && path != path.parent_path()) {
    struct stat above {};
    if (stat(path.parent_path().c_str(), &above) != 0 || above.st_dev != device) break;
    path = path.parent_path();
  }
  return path.string();
}

std::string QvCommandObject::getInfo(const std::string& what) {
  std::vector<std::string> parts = qvSplit(what, '.');
  if (qvEqualsCaseless(qvTrim(parts[0]), "properties")) {
    return propertyInfo("S", "classname", qvcoClassName.text(), false) +
           propertyInfo("S", "name", qvcoObjectName.text(), false);
  }
  if (parts.size() > 1 && qvEqualsCaseless(qvTrim(parts[0]), "classname") &&
      qvEqualsCaseless(qvTrim(parts[1]), "description")) {
    return qvcoClassNameDesc.text();
  }
  return std::string();
}

std::string QvCommandObject::propertyInfo(const std::string& type, const std::string& name, const std::string& label,
                                          bool editable) {
  std::string record = type + "\t" + name + "\t" + label + "\t";
  if (type == "S" || type == "P") {
    record += std::string("\t") + (editable ? "1" : "0") + "\t" + getValue(name);
  }
  return record + "\n";
}

void QvCommandObject::xmlBody(QvResults& lines) {
  if (!mVariables) return;
  for (const auto& entry : *mVariables) lines.push_back(xmlPropertyRepresentation(entry.first));
}

std::string qvQuotedTerm(const std::string& term) {
  if (term.find(' ') == std::string::npos) return term;
  return term.find('"') == std::string::npos ? "\"" + term + "\"" : "'" + term + "'";
}

std::string qvUnquoted(const std::string& argument) {
  std::string trimmed = qvTrim(argument);
  if (trimmed.empty() || (trimmed[0] != '"' && trimmed[0] != '\'')) return trimmed;
  return QvCommandInterface::getNextTerm(trimmed).first;
}
