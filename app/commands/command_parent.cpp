#include "app/commands/command_parent.h"

#include <algorithm>

#include "app/commands/command_exception.h"
#include "app/platform/event_pump.h"
#include "app/platform/regex.h"

namespace {

using Arguments = std::vector<std::string>;

}  // namespace

QvCommandParent::QvCommandParent(const std::string& name, QvCommandParent& parent, const std::string& className)
    : QvCommandObject(name, parent, className) {}

QvCommandParent::QvCommandParent(const std::string& name, QvCommandInterface& commandInterface,
                                 const std::string& className)
    : QvCommandObject(name, commandInterface, className) {}

void QvCommandParent::performCommand(const std::string& command, const std::string& arguments, QvResults& results) {
  std::string word = qvLower(command);
  if (word == "ls") {
    listChildNames(arguments, results);
  } else if (word == "rm") {
    commandRemove(arguments, results);
  } else if (word == "create") {
    commandCreate(arguments, results);
  } else if (word == "rename") {
    commandRename(arguments, results);
  } else {
    QvCommandObject::performCommand(command, arguments, results);
  }
}

void QvCommandParent::commandRemove(const std::string& arguments, QvResults& results) {
  std::string name = qvUnquoted(arguments);
  if (!removeChildNamed(name)) throw QvCommandException(qvcpChildNotFound, Arguments{getPath(), arguments});
  results.push_back(qvcpChildRemoved.text({getPath(), arguments}));
}

void QvCommandParent::commandCreate(const std::string& arguments, QvResults& results) {
  auto [childClass, rest] = QvCommandInterface::getNextTerm(arguments);
  std::string name = QvCommandInterface::getNextTerm(rest).first;
  if (!createChild(childClass, name)) {
    throw QvCommandException(qvcpCouldNotCreateChild, Arguments{name, childClass, getPath()});
  }
  interpreter().registerUndo(qvcpUndoCreateChild.text() + name, qvQuotedTerm(getPath()) + " rm " + name);
  results.push_back(qvcpChildCreated.text({name, childClass, getPath()}));
}

void QvCommandParent::commandRename(const std::string& arguments, QvResults& results) {
  auto [oldName, rest] = QvCommandInterface::getNextTerm(arguments);
  std::string newName = QvCommandInterface::getNextTerm(rest).first;
  renameChild(oldName, newName);
  interpreter().registerUndo(qvcpUndoRename.text(), qvQuotedTerm(getPath()) + " rename " + qvQuotedTerm(newName) +
                                                        " " + qvQuotedTerm(oldName));
  results.push_back(qvcpChildRenamed.text({oldName, newName}));
}

std::shared_ptr<QvCommandObject> QvCommandParent::xmlStartElement(const std::string& name,
                                                                  const QvXmlAttributes& attributes) {
  auto childName = attributes.find("childnamed");
  if (childName == attributes.end()) return shared_from_this();
  auto child = createChild(name, childName->second);
  if (!child) throw QvCommandException(qvcpCouldNotCreateChild, Arguments{childName->second, name, getPath()});
  return child;
}

void QvCommandParent::cleanup() {
  for (auto& entry : mChildren) {
    entry.second->cleanup();
    QvEventPump::instance().runPending();
  }
  mChildren.clear();
  QvCommandObject::cleanup();
}

void QvCommandParent::xmlBody(QvResults& lines) {
  QvCommandObject::xmlBody(lines);
  for (auto& entry : mChildren) entry.second->xmlRepresentation(lines);
}

bool QvCommandParent::removeChildNamed(const std::string& name) {
  auto found = mChildren.find(name);
  if (found == mChildren.end()) return false;
  std::shared_ptr<QvCommandObject> removed = found->second;
  mChildren.erase(found);
  keepDefaultInTree(*removed);
  return true;
}

void QvCommandParent::keepDefaultInTree(const QvCommandObject& leaving) {
  // The default object must stay in the tree, or paths from it would lead nowhere.
  if (!mCmdInterface) return;
  auto current = mCmdInterface->defaultObject();
  if (current && current->isWithin(leaving)) mCmdInterface->setDefaultObject(shared_from_this());
}

std::shared_ptr<QvCommandObject> QvCommandParent::childNamed(const std::string& name) const {
  auto found = mChildren.find(name);
  return found == mChildren.end() ? nullptr : found->second;
}

void QvCommandParent::listChildNames(const std::string& pattern, QvResults& results) const {
  std::optional<QvRegex> filter;
  if (!pattern.empty()) filter.emplace(pattern);
  std::vector<std::string> names;
  for (const auto& entry : mChildren) {
    if (!filter || filter->foundIn(entry.first)) names.push_back(entry.first);
    QvEventPump::instance().runPending();
  }
  std::stable_sort(names.begin(), names.end(), QvCaseless());
  for (const std::string& name : names) results.push_back(name);
}

std::shared_ptr<QvCommandObject> QvCommandParent::createChild(const std::string& className, const std::string& name) {
  if (name.empty()) return nullptr;
  if (qvEqualsCaseless(className, "QvCommandObject")) {
    return qvCreateChild<QvCommandObject>(*this, name, std::string("QvCommandObject"));
  }
  if (qvEqualsCaseless(className, "QvCommandParent")) {
    return qvCreateChild<QvCommandParent>(*this, name, std::string("QvCommandParent"));
  }
  return nullptr;
}

void QvCommandParent::childCreated(const std::string& name, std::shared_ptr<QvCommandObject> object) {
  auto replaced = mChildren.find(name);
  if (replaced != mChildren.end()) {
    std::shared_ptr<QvCommandObject> old = replaced->second;
    mChildren.erase(replaced);
    if (old != object) keepDefaultInTree(*old);
  }
  mChildren.emplace(name, std::move(object));
}

void QvCommandParent::renameChild(const std::string& oldName, const std::string& newName) {
  auto found = mChildren.find(oldName);
  if (found == mChildren.end()) throw QvCommandException(qvcpChildNotFound, Arguments{getPath(), oldName});
  std::shared_ptr<QvCommandObject> child = found->second;
  auto taken = mChildren.find(newName);
  // Only a change of case may reuse the child's own name.
  if (newName.empty() || (taken != mChildren.end() && taken->second != child)) {
    throw QvCommandException(qvcpNameAlreadyUsed, Arguments{newName});
  }
  mChildren.erase(found);
  child->mName = newName;
  mChildren.emplace(newName, std::move(child));
}
