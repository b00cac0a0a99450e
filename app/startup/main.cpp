// kolvocmd: a console program that builds, updates and searches full-text indexes
// through kolvolib.so, with a small command language on its standard input.
#include <iostream>
#include <string>
#include <vector>

#include "app/commands/message.h"
#include "app/startup/kolvo_application.h"

namespace {

constexpr const char* kUsage =
    "Usage: kolvocmd [index-name | -b | -u | -r file | -i | -o index-name] ...\n"
    "  index-name  open that index (kept under $KOLVODIR/indexes, else ~/.kolvo/indexes)\n"
    "  -b          build the open index, then end\n"
    "  -u          update the open index, then end\n"
    "  -c          check the open index, then end (status 1 when it is damaged)\n"
    "  -r file     run the commands of file, then end\n"
    "  -i          show the prompt after the other arguments\n"
    "  -o name     open an index (the default for a bare name)\n"
    "Without -b, -u or -r the program reads one command per line after the prompt \"> \"\n"
    "until \"quit\" or the end of input.\n";

}  // namespace

int main(int argc, char** argv) {
  std::vector<std::string> arguments(argv, argv + argc);
  for (std::size_t i = 1; i < arguments.size(); ++i) {
    if (arguments[i] == "--help") {
      std::cout << kUsage;
      return 0;
    }
    if (arguments[i] == "--version") {
      std::cout << "kolvocmd " << KOLVO_VERSION << "\n";
      return 0;
    }
  }
  qvBindMessageCatalogs(qvInstalledCatalogDirectory());
  QvKolvoApplication application;
  return application.run(arguments, std::cin);
}
