// Reads a saved object-tree document back into objects, on Expat: child elements
// create and fill children, property elements set properties through setValue, and
// references to objects not yet read are set once those objects end.
// The index object's "open" and the XML round trip of "save" use it.
#pragma once

#include <map>
#include <memory>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "app/commands/command_object.h"

class QvxmlReader {
 public:
  explicit QvxmlReader(std::shared_ptr<QvCommandObject> root);

  // Parses the whole document into the root. A malformed document raises
  // QvCommandException(qvxrParseError); what was read before the fault stays.
  // Errors of the objects themselves pass on unchanged.
  void parse(std::string_view text);

  static constexpr QvMessage qvxrParseError{"QvxmlReader.qvxrParseError",
                                            "The XML document could not be read: %1% at line %2%"};

  // Expat's callbacks; public only so that the C handlers reach them.
  void startElement(const std::string& name, const QvXmlAttributes& attributes);
  void endElement(const std::string& name);
  void characters(std::string_view text) { mCurrentCharacters.append(text); }
  void processingInstruction(const std::string& target, const std::string& data);

 private:
  std::vector<std::string> mCharacterStack;
  // Per open element: its text was written as Latin-1 bytes in UTF-8 characters.
  std::vector<bool> mLatin1Stack;
  std::string mCurrentCharacters;
  std::vector<std::shared_ptr<QvCommandObject>> mElementStack;
  std::shared_ptr<QvCommandObject> mCurrentElement;
  QvCommandInterface* mCmdInterface;
  // Path of an object not read yet -> (path of the object waiting for it, reference name).
  std::map<std::string, std::vector<std::pair<std::string, std::string>>> mReferences;
  std::shared_ptr<QvCommandObject> mRoot;
};
