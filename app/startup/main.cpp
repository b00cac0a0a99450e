// kolvocmd: a console program that builds, updates and searches full-text indexes
// through kolvolib.so, with a small command language on its standard input.
#include <iostream>
#include <string>
#include <vector>

#include "app/commands/message.h"
#include "app/startup/command_line.h"
#include "app/startup/kolvo_application.h"

int main(int argc, char** argv) {
  std::vector<std::string> arguments(argv, argv + argc);
  qvBindMessageCatalogs(qvInstalledCatalogDirectory());
  for (std::size_t i = 1; i < arguments.size(); ++i) {
    const QvCommandLineOption* option = qvFindOption(arguments[i]);
    if (option && option->action == QvOptionAction::help) {
      std::cout << qvUsage();
      return 0;
    }
    if (option && option->action == QvOptionAction::version) {
      std::cout << qvVersionText("kolvocmd", KOLVO_VERSION);
      return 0;
    }
  }
  QvKolvoApplication application;
  return application.run(arguments, std::cin);
}
