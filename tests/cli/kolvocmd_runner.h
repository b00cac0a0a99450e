// Runs the built kolvocmd in a temporary kolvo directory with commands on its standard
// input, for the end-to-end tests of the program and of its index object.
#pragma once

#include <string>
#include <vector>

#include "tests/cli/child_launch.h"
#include "tests/support/temp_dir.h"

namespace kolvotest {

struct KolvocmdRun {
  int status = -1;
  std::string out, err;
  // The output split at each prompt: answers[0] comes before the first prompt,
  // answers[i] is what the i-th input line printed.
  std::vector<std::vector<std::string>> answers() const;
};

class KolvocmdRunner {
 public:
  KolvocmdRunner();
  // The kolvo directory of the runs (KOLVODIR), below the test's own folder.
  std::string kolvoDirectory() const { return (temp.path() / "kolvo").string(); }
  // A folder of documents below the test's folder.
  std::string documents() const { return (temp.path() / "docs").string(); }
  const TempDir& folder() const { return temp; }
  KolvocmdRun run(const std::string& input, const std::vector<std::string>& arguments = {},
                  const std::string& program = KOLVOCMD_PATH) const;
  // Starts kolvocmd with the arguments, no input and its output dropped, and returns at
  // once with its process id; the caller waits for it (or kills it). With output, its
  // standard output and error go to a pipe whose reading end output receives.
  int start(const std::vector<std::string>& arguments, int* output = nullptr) const;
  // Runs the set-up lines and then the commands, expecting success; answers what each
  // command printed (the set-up's answers dropped) and, with printed, all the output.
  std::vector<std::vector<std::string>> answersAfter(const std::string& setUp, const std::string& commands,
                                                     std::string* printed = nullptr) const;

 private:
  TempDir temp;
};

// The lines of text, split at line feeds (a last empty piece is dropped).
std::vector<std::string> lines(const std::string& text);
// The TAB-separated fields of a listed line, empty ones kept.
std::vector<std::string> fieldsOf(const std::string& line);

}  // namespace kolvotest
