// The options of kolvocmd's command line in one table: the application's argument walk
// looks each option up here and --help is printed from it, so an option added to the
// table is parsed and documented at once.
#pragma once

#include <array>
#include <string>
#include <string_view>

#include "app/commands/message.h"

enum class QvOptionAction { build, update, watch, check, read, interactive, open, json, help, version };

struct QvCommandLineOption {
  const char* name;     // as typed: "-b", "--help"
  const char* operand;  // what the option takes from the arguments after it; null: nothing
  QvOptionAction action;
  QvMessage help;
};

inline constexpr std::array<QvCommandLineOption, 10> kQvCommandLineOptions{{
    {"-b", nullptr, QvOptionAction::build, {"QvCommandLine.qvclBuild", "build the open index, then end"}},
    {"-u", nullptr, QvOptionAction::update,
     {"QvCommandLine.qvclUpdate", "update the open index (only what changed), then end"}},
    {"-w", nullptr, QvOptionAction::watch,
     {"QvCommandLine.qvclWatch", "watch the open index's roots and update it as files change, until interrupted"}},
    {"-c", nullptr, QvOptionAction::check,
     {"QvCommandLine.qvclCheck", "check the open index, then end (status 1 when it is damaged)"}},
    {"-r", "file", QvOptionAction::read, {"QvCommandLine.qvclRead", "run the commands of file, then end"}},
    {"-i", nullptr, QvOptionAction::interactive,
     {"QvCommandLine.qvclInteractive", "show the prompt after the other arguments"}},
    {"-o", "name", QvOptionAction::open, {"QvCommandLine.qvclOpen", "open an index (the default for a bare name)"}},
    {"-j", "phrase", QvOptionAction::json,
     {"QvCommandLine.qvclJson", "search the open index and print every result as a JSON line, then end"}},
    {"--help", nullptr, QvOptionAction::help, {"QvCommandLine.qvclHelp", "show this help and end"}},
    {"--version", nullptr, QvOptionAction::version,
     {"QvCommandLine.qvclVersion", "show the versions of kolvocmd and of its engine and end"}},
}};

// The option an argument names, or null. Single-letter options compare without regard
// to case ("-B" builds); the whole text after the dash must be the letter.
const QvCommandLineOption* qvFindOption(std::string_view argument);

// The usage: a synopsis, every option of the table and two common examples.
std::string qvUsage();
// "<program> <version>" and the engine's version and file, or why it could not be loaded.
std::string qvVersionText(std::string_view program, std::string_view programVersion);
