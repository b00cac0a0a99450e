// The language of kolvocmd's messages follows the environment: LANGUAGE or a messages
// locale asks for the shipped German catalog; none, or the plain C locale, leaves the
// English texts.
#include <gtest/gtest.h>

#include <cstdlib>
#include <optional>

#include "tests/cli/kolvocmd_runner.h"

using kolvotest::KolvocmdRun;
using kolvotest::KolvocmdRunner;

namespace {

constexpr const char* kLanguageVariables[] = {"LANGUAGE", "LC_ALL", "LC_MESSAGES", "LANG"};

// Sets the language variables for the children of one case, and puts back the test's own.
class LanguageEnvironment {
 public:
  LanguageEnvironment(const std::vector<std::pair<const char*, const char*>>& settings) {
    for (const char* name : kLanguageVariables) {
      const char* value = std::getenv(name);
      saved.emplace_back(name, value ? std::optional<std::string>(value) : std::nullopt);
      unsetenv(name);
    }
    for (const auto& [name, value] : settings) setenv(name, value, 1);
  }
  ~LanguageEnvironment() {
    for (const auto& [name, value] : saved)
      if (value)
        setenv(name, value->c_str(), 1);
      else
        unsetenv(name);
  }

 private:
  std::vector<std::pair<const char*, std::optional<std::string>>> saved;
};

TEST(KolvocmdLanguage, MessagesFollowTheEnvironment) {
  const std::string english = "ERROR I don't understand the command nosuch";
  const std::string german = "ERROR Den Befehl nosuch verstehe ich nicht";
  struct Case {
    std::vector<std::pair<const char*, const char*>> settings;
    std::string expected;
  } cases[] = {
      {{}, english},
      {{{"LANG", "C"}}, english},
      {{{"LC_ALL", "POSIX"}, {"LANG", "C.UTF-8"}}, english},
      {{{"LANGUAGE", "de"}}, german},
      {{{"LANGUAGE", "de"}, {"LANG", "C"}}, german},
      {{{"LANGUAGE", "de"}, {"LC_ALL", "C.UTF-8"}}, german},
  };
  KolvocmdRunner runner;
  for (const Case& c : cases) {
    std::string shown;
    for (const auto& [name, value] : c.settings) shown += std::string(name) + "=" + value + " ";
    LanguageEnvironment environment(c.settings);
    KolvocmdRun run = runner.run("nosuch\n");
    EXPECT_EQ(run.status, 0) << shown << run.err;
    auto answers = run.answers();
    ASSERT_GE(answers.size(), 2u) << shown << run.out;
    EXPECT_EQ(answers[1], std::vector<std::string>{c.expected}) << shown;
  }
}

}  // namespace
