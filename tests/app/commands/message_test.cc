// Message constants through gettext: the English defaults stand without a catalog,
// and switching the language to the shipped German catalog changes them.
#include "app/commands/message.h"

#include <gtest/gtest.h>

#include "app/commands/command_interface.h"
#include "app/commands/command_object.h"
#include "app/commands/command_parent.h"
#include "tests/app/commands/interpreter_fixture.h"

namespace {

class Messages : public InterpreterTest {
 protected:
  void SetUp() override {
    InterpreterTest::SetUp();
    qvBindMessageCatalogs(KOLVO_BUILD_LOCALE_DIR);
  }
  void TearDown() override {
    qvSetMessageLanguage("en");
    InterpreterTest::TearDown();
  }
};

TEST_F(Messages, EnglishWithoutATranslation) {
  qvSetMessageLanguage("en");
  EXPECT_EQ(QvCommandInterface::qvciNothingToUndo.text(), "There is nothing to undo");
  EXPECT_EQ(QvCommandParent::qvcpChildNotFound.text({"/", "x"}), "/ does not have a child named x");
}

TEST_F(Messages, SwitchingTheLanguageChangesThem) {
  qvSetMessageLanguage("de");
  EXPECT_EQ(QvCommandInterface::qvciNothingToUndo.text(), "Es gibt nichts rückgängig zu machen");
  EXPECT_EQ(QvCommandParent::qvcpChildNotFound.text({"/", "x"}), "/ hat kein Kind namens x");
  EXPECT_EQ(run("undo"), (std::vector<std::string>{"Es gibt nichts rückgängig zu machen"}));
  EXPECT_EQ(failure("nosuch"), "Den Befehl nosuch verstehe ich nicht");
  // A message the catalog does not hold keeps its English text.
  EXPECT_EQ(QvCommandInterface::qvciCmdTeeCancelled.text(), "Output is not being copied to a file");
  qvSetMessageLanguage("en");
  EXPECT_EQ(run("undo"), (std::vector<std::string>{"There is nothing to undo"}));
}

TEST_F(Messages, TheContextSeparatesEqualTexts) {
  qvSetMessageLanguage("de");
  // Same English text, another qualified name: not translated by the other's entry.
  constexpr QvMessage lookalike{"QvOther.qvNothing", "There is nothing to undo"};
  EXPECT_EQ(lookalike.text(), "There is nothing to undo");
}

}  // namespace
