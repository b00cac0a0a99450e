// A named node of the object tree that the command language addresses: its command
// table, its properties and user variables ("_name"), its path, and its XML form.
// The index object, the criteria and the referrals derive from it (or from
// QvCommandParent); nodes live in shared_ptrs, held by their parent.
#pragma once

#include <map>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "app/commands/command_results.h"
#include "app/commands/message.h"
#include "app/commands/text_tools.h"

class QvCommandInterface;
class QvCommandParent;
class QvFolderItem;

using QvXmlAttributes = std::map<std::string, std::string>;
// A processing instruction of an XML document: target and data.
using QvProcessingInstruction = std::pair<std::string, std::string>;

class QvCommandObject : public std::enable_shared_from_this<QvCommandObject> {
 public:
  // The new object does not enter its parent's children by itself: create it with
  // qvCreateChild, which hands it to the parent (childCreated).
  QvCommandObject(const std::string& name, QvCommandParent& parent, const std::string& className);
  virtual ~QvCommandObject();
  QvCommandObject(const QvCommandObject&) = delete;
  QvCommandObject& operator=(const QvCommandObject&) = delete;

  virtual void performCommand(const std::string& command, const std::string& arguments, QvResults& results);
  void changeDefaultTo(const std::string& path);
  std::string getPath() const;
  std::shared_ptr<QvCommandParent> getRoot() const;

  QvResults xmlDocument(const std::vector<QvProcessingInstruction>& processingInstructions = {});
  void xmlRepresentation(QvResults& lines);
  std::string xmlStartTag() const;
  std::string xmlEndTag() const;
  virtual std::string xmlClassName() const { return mClassName; }
  std::string xmlReference(const std::string& name, const QvCommandObject& object) const;

  virtual std::string getValue(const std::string& name);
  virtual void setValue(const std::string& name, const std::string& value);
  // Answers the object that the element fills: this one, or a new child.
  virtual std::shared_ptr<QvCommandObject> xmlStartElement(const std::string& name,
                                                           const QvXmlAttributes& attributes);
  virtual void xmlEndElement(const std::shared_ptr<QvCommandObject>& ended, const std::string& name,
                             const std::string& text);
  virtual void setReference(const std::string& name, const std::shared_ptr<QvCommandObject>& object);
  // Drops the links to parent and interpreter at the end of a run.
  virtual void cleanup();
  std::string xmlPropertyRepresentation(const std::string& name);
  virtual void xmlProcessingInstruction(const std::string& target, const std::string& data);
  // The mount point that holds the item ("/" when nothing else is known).
  static std::string GetVolumeName(const QvFolderItem& item);
  virtual std::string getInfo(const std::string& what);
  std::string propertyInfo(const std::string& type, const std::string& name, const std::string& label,
                           bool editable);
  virtual void xmlBody(QvResults& lines);

  const std::string& name() const { return mName; }
  const std::string& className() const { return mClassName; }
  std::shared_ptr<QvCommandParent> parent() const { return mParent.lock(); }
  QvCommandInterface* commandInterface() const { return mCmdInterface; }
  // True when this object is other or lies below it.
  bool isWithin(const QvCommandObject& other) const;

  static constexpr QvMessage qvcoCommandNotFound{"QvCommandObject.qvcoCommandNotFound",
                                                 "I don't understand the command %1%"};
  static constexpr QvMessage qvcoUndoCD{"QvCommandObject.qvcoUndoCD", "Change Default"};
  static constexpr QvMessage qvcoChangedDefault{"QvCommandObject.qvcoChangedDefault", "changed default to %1%"};
  static constexpr QvMessage qvcoIndexSaved{"QvCommandObject.qvcoIndexSaved", "%1% saved in %2%"};
  static constexpr QvMessage qvcoUndoSetValue{"QvCommandObject.qvcoUndoSetValue", "setValue"};
  static constexpr QvMessage qvcoUnchanged{"QvCommandObject.qvcoUnchanged", "Value unchanged"};
  static constexpr QvMessage qvcoPropertyNotFound{"QvCommandObject.qvcoPropertyNotFound",
                                                  "\"%2% does not have a property named %1%\""};
  static constexpr QvMessage qvcoClassName{"QvCommandObject.qvcoClassName", "Class Name"};
  static constexpr QvMessage qvcoObjectName{"QvCommandObject.qvcoObjectName", "Name"};
  static constexpr QvMessage qvcoClassNameDesc{"QvCommandObject.qvcoClassNameDesc",
                                               "The name of the class this object is an instance of"};
  static constexpr QvMessage qvcoNoTest{"QvCommandObject.qvcoNoTest", "No test defined"};
  static constexpr QvMessage qvcoErrorCode{"QvCommandObject.qvcoErrorCode", "Error code: %1%"};
  static constexpr QvMessage qvcoNoParent{"QvCommandObject.qvcoNoParent", "%1% has no parent"};

 protected:
  // A root: no parent; QvCommandParent's root constructor uses it.
  QvCommandObject(const std::string& name, QvCommandInterface& commandInterface, const std::string& className);
  // The interpreter, which every command needs; raises when the object was cleaned up.
  QvCommandInterface& interpreter() const;

  std::weak_ptr<QvCommandParent> mParent;
  QvCommandInterface* mCmdInterface = nullptr;
  std::string mName;
  std::string mClassName;
  // User variables, created on first use and dropped with the last one.
  std::unique_ptr<std::map<std::string, std::string, QvCaselessKey>> mVariables;

 private:
  friend class QvCommandParent;  // renameChild renames the child
  void commandSetValue(const std::string& arguments, QvResults& results);
  void commandSave(const std::string& arguments, QvResults& results);
  void commandSystem(const std::string& arguments, QvResults& results);
};

// A path as one term of a command line: quoted when it holds a blank.
std::string qvQuotedTerm(const std::string& term);
// The argument as one term: the quoted term when it begins with a quote, else all of it.
std::string qvUnquoted(const std::string& argument);
