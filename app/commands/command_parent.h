// A node of the object tree with named children: "ls", "rm", "create" and "rename",
// and the children's part of the XML form. The index object, the root of the tree,
// and the referrals container are parents.
#pragma once

#include <map>
#include <memory>
#include <string>
#include <utility>

#include "app/commands/command_interface.h"
#include "app/commands/command_object.h"

class QvCommandParent : public QvCommandObject {
 public:
  using Children = std::map<std::string, std::shared_ptr<QvCommandObject>, QvCaselessKey>;

  QvCommandParent(const std::string& name, QvCommandParent& parent, const std::string& className);
  // A root: create it with qvCreateRoot, which makes it the interpreter's root and default.
  QvCommandParent(const std::string& name, QvCommandInterface& commandInterface, const std::string& className);

  void performCommand(const std::string& command, const std::string& arguments, QvResults& results) override;
  std::shared_ptr<QvCommandObject> xmlStartElement(const std::string& name,
                                                   const QvXmlAttributes& attributes) override;
  void cleanup() override;
  void xmlBody(QvResults& lines) override;

  bool removeChildNamed(const std::string& name);
  std::shared_ptr<QvCommandObject> childNamed(const std::string& name) const;
  void listChildNames(const std::string& pattern, QvResults& results) const;
  // "QvCommandObject" and "QvCommandParent"; subclasses add their own classes. None for
  // a class it does not know.
  virtual std::shared_ptr<QvCommandObject> createChild(const std::string& className, const std::string& name);
  // Stores the object under name, replacing one of the same name.
  void childCreated(const std::string& name, std::shared_ptr<QvCommandObject> object);
  void renameChild(const std::string& oldName, const std::string& newName);
  const Children& children() const { return mChildren; }

  static constexpr QvMessage qvcpUndoCreateChild{"QvCommandParent.qvcpUndoCreateChild", "create"};
  static constexpr QvMessage qvcpChildNotFound{"QvCommandParent.qvcpChildNotFound",
                                               "%1% does not have a child named %2%"};
  static constexpr QvMessage qvcpChildRemoved{"QvCommandParent.qvcpChildRemoved", "Removed %2% from %1%"};
  static constexpr QvMessage qvcpChildRenamed{"QvCommandParent.qvcpChildRenamed", "Renamed %1% to %2%"};
  static constexpr QvMessage qvcpUndoRename{"QvCommandParent.qvcpUndoRename", "Rename"};
  static constexpr QvMessage qvcpNameAlreadyUsed{"QvCommandParent.qvcpNameAlreadyUsed",
                                                 "The name %1% is already in use"};
  static constexpr QvMessage qvcpChildCreated{"QvCommandParent.qvcpChildCreated",
                                              "created child %1% of class %2% in %3%"};
  static constexpr QvMessage qvcpCouldNotCreateChild{"QvCommandParent.qvcpCouldNotCreateChild",
                                                     "Could not create a child named %1% of class %2% in %3%"};

 protected:
  Children mChildren;

 private:
  void commandCreate(const std::string& arguments, QvResults& results);
  void commandRename(const std::string& arguments, QvResults& results);
  void commandRemove(const std::string& arguments, QvResults& results);
  void keepDefaultInTree(const QvCommandObject& leaving);
};

// Makes an object of class T (constructed as T(name, parent, args...)) and hands it to
// its parent, which then holds it.
template <class T, class... Args>
std::shared_ptr<T> qvCreateChild(QvCommandParent& parent, const std::string& name, Args&&... args) {
  auto child = std::make_shared<T>(name, parent, std::forward<Args>(args)...);
  parent.childCreated(name, child);
  return child;
}

// Makes a root of class T (constructed as T(name, interpreter, args...)) and makes it the
// interpreter's root and default object.
template <class T, class... Args>
std::shared_ptr<T> qvCreateRoot(QvCommandInterface& commandInterface, const std::string& name, Args&&... args) {
  auto root = std::make_shared<T>(name, commandInterface, std::forward<Args>(args)...);
  commandInterface.setRoot(root);
  return root;
}
