#include "app/startup/command_line.h"

#include <dlfcn.h>

#include "app/commands/command_exception.h"
#include "app/commands/text_tools.h"
#include "app/index/kolvo_lib.h"

namespace {

constexpr QvMessage qvclUsage{"QvCommandLine.qvclUsage",
                              "Usage: kolvocmd [index-name | option] ...\n"
                              "The arguments run in order; a bare name opens that index. Without -b, -u, -r or -j\n"
                              "the program reads one command per line after the prompt \"> \" until \"quit\"\n"
                              "or the end of input. Indexes live under $KOLVODIR/indexes, else ~/.kolvo/indexes.\n"};
constexpr QvMessage qvclExamples{"QvCommandLine.qvclExamples",
                                 "Examples:\n"
                                 "  kolvocmd notes -u                 update the index \"notes\"\n"
                                 "  kolvocmd notes -j 'flour salt'    its results for a search, as JSON Lines\n"
                                 "See kolvocmd(1) for the command and search languages.\n"};
constexpr QvMessage qvclEngineMissing{"QvCommandLine.qvclEngineMissing", "kolvolib: %1%"};

}  // namespace

const QvCommandLineOption* qvFindOption(std::string_view argument) {
  for (const QvCommandLineOption& option : kQvCommandLineOptions) {
    std::string_view name = option.name;
    bool letter = name.size() == 2;
    if (letter ? qvEqualsCaseless(argument, name) : argument == name) return &option;
  }
  return nullptr;
}

std::string qvUsage() {
  std::string text = qvclUsage.text() + "\nOptions:\n";
  for (const QvCommandLineOption& option : kQvCommandLineOptions) {
    std::string synopsis = std::string(option.name) + (option.operand ? std::string(" ") + option.operand : "");
    text += "  " + synopsis + std::string(synopsis.size() < 12 ? 12 - synopsis.size() : 1, ' ') +
            option.help.text() + "\n";
  }
  return text + "\n" + qvclExamples.text();
}

std::string qvVersionText(std::string_view program, std::string_view programVersion) {
  std::string text = std::string(program) + " " + std::string(programVersion) + "\n";
  try {
    const char* engine = klib(kGetVersion)();
    Dl_info where{};
    bool located = dladdr(QvKolvoLib::entry("kGetVersion"), &where) != 0 && where.dli_fname;
    text += "kolvolib " + std::string(engine ? engine : "?") +
            (located ? std::string(" (") + where.dli_fname + ")" : std::string()) + "\n";
  } catch (const QvCommandException& error) {
    text += qvclEngineMissing.text({error.what()}) + "\n";
  }
  return text;
}
