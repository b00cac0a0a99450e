// The XML form: saving a subtree and reading it back gives the same text byte for
// byte; references to objects not read yet are set when those objects end; faults
// of the document or of the objects are reported.
#include "app/commands/xml_reader.h"

#include <gtest/gtest.h>

#include "app/commands/command_exception.h"
#include "tests/app/commands/interpreter_fixture.h"

namespace {

using Lines = std::vector<std::string>;

using XmlForm = InterpreterTest;

const char* const kAwkwardValues[] = {
    "a<b", "x & y", "already &amp; escaped", "&lt;not a tag&gt;", "]]> ends", "quote \" and ' apostrophe",
    "two\nlines", "carriage\rreturn", "tab\there", "caf\xc3\xa9",
    // Latin-1 settings and file names that are no UTF-8.
    "caf\xe9", "\xff\xfe<both>", "cut \xc3",
};

TEST_F(XmlForm, SubtreeRoundTripsByteForByte) {
  run("create QvCommandParent box\n/.box create QvCommandParent \"in ner\"\n/.box create QvCommandObject leaf");
  auto box = commands.getObjectFromPath("/.box");
  auto inner = commands.getObjectFromPath("/.box.in ner");
  auto leaf = commands.getObjectFromPath("/.box.leaf");
  int i = 0;
  for (const char* value : kAwkwardValues) {
    std::string name = "_v" + std::to_string(i++);
    box->setValue(name, value);
    leaf->setValue(name, value);
  }
  inner->setValue("_only", "<inner>");
  inner->setValue("_name", "A&B");
  run("/.box save box.xml");
  std::string saved = fileText("box.xml");
  EXPECT_NE(saved.find("<_v0>a&lt;b</_v0>"), std::string::npos);
  EXPECT_NE(saved.find("<_v2>already &amp;amp; escaped</_v2>"), std::string::npos);
  EXPECT_NE(saved.find("<QvCommandParent childnamed=\"in ner\">"), std::string::npos);
  EXPECT_TRUE(qvIsValidUtf8(saved));
  EXPECT_NE(saved.find("<_v10 encoding=\"latin1\">caf\xc3\xa9</_v10>"), std::string::npos);

  // A second tree, with an empty box of the same name, reads the document back.
  QvCommandInterface other;
  auto otherRoot = qvCreateRoot<QvCommandParent>(other, "root", std::string("QvCommandParent"));
  auto otherBox = otherRoot->createChild("QvCommandParent", "box");
  QvxmlReader(otherBox).parse(saved);
  int j = 0;
  for (const char* value : kAwkwardValues) {
    EXPECT_EQ(otherBox->getValue("_v" + std::to_string(j)), value) << value;
    EXPECT_EQ(other.getObjectFromPath("/.box.leaf")->getValue("_v" + std::to_string(j)), value) << value;
    ++j;
  }
  EXPECT_EQ(other.getObjectFromPath("/.box.in ner")->getValue("_only"), "<inner>");
  EXPECT_EQ(otherBox->xmlDocument().joined(), saved);
  other.cleanup();
}

TEST_F(XmlForm, WholeTreeRoundTripsAndRestoresVariables) {
  run("setvalue _note hello\ncreate QvCommandParent a\n/.a create QvCommandParent b\n/.a.b setvalue _deep 1<2");
  run("save all.xml");
  std::string saved = fileText("all.xml");
  QvCommandInterface other;
  auto otherRoot = qvCreateRoot<QvCommandParent>(other, "root", std::string("QvCommandParent"));
  QvxmlReader(otherRoot).parse(saved);
  EXPECT_EQ(otherRoot->getValue("_note"), "hello");
  EXPECT_EQ(other.getObjectFromPath("/.a.b")->getValue("_deep"), "1<2");
  EXPECT_EQ(otherRoot->xmlDocument().joined(), saved);
  other.cleanup();
}

TEST_F(XmlForm, ProcessingInstructionsAreWrittenAndIgnored) {
  QvResults document = root->xmlDocument({{"kolvo", "version=\"1\""}});
  ASSERT_GE(document.size(), 3u);
  EXPECT_EQ(document[0], "<?xml version=\"1.0\" encoding=\"UTF-8\"?>");
  EXPECT_EQ(document[1], "<?kolvo version=\"1\"?>");
  EXPECT_EQ(document[2], "<QvXmlDocument>");
  QvxmlReader(root).parse(document.joined());
  EXPECT_EQ(run("ls"), Lines{});
}

TEST_F(XmlForm, FaultsOfTheDocumentAndTheObjects) {
  try {
    QvxmlReader(root).parse("<QvXmlDocument>\n<_a>1</_a>\n<_b>2</_c>\n</QvXmlDocument>");
    FAIL() << "a broken document was read";
  } catch (const QvCommandException& error) {
    EXPECT_EQ(std::string(error.what()).rfind("The XML document could not be read: ", 0), 0u) << error.what();
    EXPECT_NE(std::string(error.what()).find("at line 3"), std::string::npos) << error.what();
  }
  EXPECT_EQ(root->getValue("_a"), "1");  // what came before the fault stays
  EXPECT_THROW(QvxmlReader(root).parse(""), QvCommandException);
  try {
    QvxmlReader(root).parse("<QvXmlDocument><QvStrange childnamed=\"s\"></QvStrange></QvXmlDocument>");
    FAIL();
  } catch (const QvCommandException& error) {
    EXPECT_STREQ(error.what(), "Could not create a child named s of class QvStrange in /");
  }
  try {
    QvxmlReader(root).parse("<QvXmlDocument><plain>1</plain></QvXmlDocument>");
    FAIL();
  } catch (const QvCommandException& error) {
    EXPECT_STREQ(error.what(), "\"/ does not have a property named plain\"");
  }
}

// Objects that point at each other, to read references before and after their target.
class LinkObject : public QvCommandObject {
 public:
  using QvCommandObject::QvCommandObject;
  void setReference(const std::string& name, const std::shared_ptr<QvCommandObject>& object) override {
    if (name == "target") {
      target = object;
    } else {
      QvCommandObject::setReference(name, object);
    }
  }
  void xmlBody(QvResults& lines) override {
    QvCommandObject::xmlBody(lines);
    if (auto linked = target.lock()) lines.push_back(xmlReference("target", *linked));
  }
  std::weak_ptr<QvCommandObject> target;
};

class LinkRoot : public QvCommandParent {
 public:
  using QvCommandParent::QvCommandParent;
  std::shared_ptr<QvCommandObject> createChild(const std::string& className, const std::string& name) override {
    if (className == "LinkObject") return qvCreateChild<LinkObject>(*this, name, className);
    return QvCommandParent::createChild(className, name);
  }
};

TEST(XmlReferences, PendingReferencesAreSetWhenTheTargetEnds) {
  QvCommandInterface commands;
  auto root = qvCreateRoot<LinkRoot>(commands, "root", std::string("LinkRoot"));
  const std::string document =
      "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<QvXmlDocument>\n<QvNewRoot name=\"root\" path=\"/\"/>\n"
      "<LinkObject childnamed=\"first\">\n<reference name=\"target\" path=\"/.second\"/>\n\n</LinkObject>\n"
      "<LinkObject childnamed=\"second\">\n<_v>2</_v>\n<reference name=\"target\" path=\"/.first\"/>\n\n"
      "</LinkObject>\n</QvXmlDocument>";
  QvxmlReader(root).parse(document);
  auto first = std::dynamic_pointer_cast<LinkObject>(root->childNamed("first"));
  auto second = std::dynamic_pointer_cast<LinkObject>(root->childNamed("second"));
  ASSERT_TRUE(first && second);
  EXPECT_EQ(first->target.lock(), second);
  EXPECT_EQ(second->target.lock(), first);
  EXPECT_EQ(second->getValue("_v"), "2");
  EXPECT_EQ(root->xmlDocument().joined(), document);
  commands.cleanup();
}

}  // namespace

namespace {

TEST(Utf8Check, AcceptsOnlyWellFormedUtf8) {
  struct Case {
    const char* text;
    bool valid;
  };
  for (const Case& c : {Case{"", true}, Case{"plain", true}, Case{"caf\xc3\xa9", true}, Case{"\xe2\x82\xac", true},
                        Case{"\xf0\x9f\x98\x80", true}, Case{"caf\xe9", false}, Case{"\xc3", false},
                        Case{"\xc0\xaf", false}, Case{"\xed\xa0\x80", false}, Case{"\xe0\x80\xaf", false},
                        Case{"\xf4\x90\x80\x80", false}, Case{"\xe2\x82", false}, Case{"\x80", false}})
    EXPECT_EQ(qvIsValidUtf8(c.text), c.valid) << c.text;
  EXPECT_EQ(qvLatin1ToUtf8("caf\xe9 \xff"), "caf\xc3\xa9 \xc3\xbf");
  EXPECT_EQ(qvToLatin1(qvLatin1ToUtf8("\x80\xa0\xe9\xff")), "\x80\xa0\xe9\xff");
}

}  // namespace
