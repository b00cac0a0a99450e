// The program kolvocmd as one object: its start-up (callbacks, interpreter, the root
// index object), the command-line arguments and the console loop that reads one command
// line per input line until "quit" or the end of input.
#pragma once
#include <iosfwd>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "app/commands/command_interface.h"
#include "app/commands/message.h"
#include "app/index/kolvo_index.h"

class QvKolvoApplication {
 public:
  // Runs the program over its arguments (element 0 is the program) and answers the exit
  // status: 0, or 1 when a command of the command line failed.
  int run(const std::vector<std::string>& arguments, std::istream& input);

  static constexpr QvMessage qvNoIndexLoaded{"QvKolvoApplication.qvNoIndexLoaded",
                                             "No index has been built or loaded yet"};
  static constexpr QvMessage qvNilObjectException{"QvKolvoApplication.qvNilObjectException",
                                                  "An attempt was made to reference a Nil object"};

 private:
  void execute(const std::string& commandText, bool print);
  void consoleLoop(std::istream& input);
  // Searches the open index for the phrase and prints its results as JSON Lines only.
  void printJsonResults(const std::string& phrase);
  void refreshRoot();
  static void writeRaw(std::string_view text);
  // Each line followed by a line feed; nothing for no lines.
  static void writeResults(const QvResults& results);

  std::unique_ptr<QvCommandInterface> mCommandInterface;
  std::shared_ptr<QvKolvoIndex> mKolvoIndex;
};
