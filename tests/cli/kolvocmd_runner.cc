#include "tests/cli/kolvocmd_runner.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string_view>

namespace kolvotest {

namespace {

std::string shellQuoted(const std::string& text) {
  std::string out = "'";
  for (char c : text) out += c == '\'' ? std::string("'\\''") : std::string(1, c);
  return out + "'";
}

}  // namespace

std::vector<std::string> lines(const std::string& text) {
  std::vector<std::string> result;
  std::string line;
  std::istringstream stream(text);
  while (std::getline(stream, line)) result.push_back(line);
  return result;
}

std::vector<std::string> fieldsOf(const std::string& line) {
  std::vector<std::string> fields;
  std::size_t from = 0;
  for (std::size_t tab; (tab = line.find('\t', from)) != std::string::npos; from = tab + 1)
    fields.push_back(line.substr(from, tab - from));
  fields.push_back(line.substr(from));
  return fields;
}

std::vector<std::vector<std::string>> KolvocmdRun::answers() const {
  std::vector<std::vector<std::string>> chunks(1);
  for (const std::string& line : lines(out)) {
    if (line == "> ") {
      chunks.emplace_back();
    } else {
      chunks.back().push_back(line);
    }
  }
  return chunks;
}

KolvocmdRunner::KolvocmdRunner() {
  std::filesystem::create_directories(kolvoDirectory());
  // An empty skip file, so that builds do not warn about a missing one.
  temp.write("kolvo/skipfile.txt", "");
}

KolvocmdRun KolvocmdRunner::run(const std::string& input, const std::vector<std::string>& arguments,
                                const std::string& program) const {
  std::string in = temp.write("run/stdin", input);
  std::string out = (temp.path() / "run/stdout").string(), err = (temp.path() / "run/stderr").string();
  std::string command = "cd " + shellQuoted(temp.path().string()) + " && env -u LD_LIBRARY_PATH HOME=" +
                        shellQuoted(temp.path().string()) + " KOLVODIR=" + shellQuoted(kolvoDirectory()) + " " +
                        shellQuoted(program);
  for (const std::string& argument : arguments) command += " " + shellQuoted(argument);
  command += " <" + shellQuoted(in) + " >" + shellQuoted(out) + " 2>" + shellQuoted(err);
  KolvocmdRun run;
  int status = std::system(command.c_str());
  run.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  run.out = temp.read("run/stdout");
  run.err = temp.read("run/stderr");
  return run;
}

std::vector<std::vector<std::string>> KolvocmdRunner::answersAfter(const std::string& setUp,
                                                                   const std::string& commands,
                                                                   std::string* printed) const {
  KolvocmdRun done = run(setUp + commands);
  EXPECT_EQ(done.status, 0) << done.err;
  if (printed) *printed = done.out + done.err;
  auto answers = done.answers();
  // What comes before the first prompt, and one answer for each set-up line.
  std::size_t skipped = 1 + lines(setUp).size();
  EXPECT_GE(answers.size(), skipped) << done.out;
  if (answers.size() < skipped) return {};
  answers.erase(answers.begin(), answers.begin() + static_cast<std::ptrdiff_t>(skipped));
  if (!answers.empty() && answers.back().empty()) answers.pop_back();
  return answers;
}

int KolvocmdRunner::start(const std::vector<std::string>& arguments, int* output) const {
  std::vector<std::string> words{KOLVOCMD_PATH};
  words.insert(words.end(), arguments.begin(), arguments.end());
  std::string home = temp.path().string();
  std::vector<std::string> environment = childEnvironment(home, kolvoDirectory());
  std::vector<char*> argv = execList(words), envp = execList(environment);
  int ends[2] = {-1, -1};
  if (output && pipe2(ends, O_CLOEXEC) != 0) return -1;
  pid_t child = fork();
  if (child != 0) {
    if (output) {
      close(ends[1]);
      *output = ends[0];
    }
    return child;
  }
  // In the child: only calls that are safe after fork, then exec.
  int null = open("/dev/null", O_RDWR);
  dup2(null, 0);
  dup2(output ? ends[1] : null, 1);
  dup2(output ? ends[1] : null, 2);
  if (chdir(home.c_str()) != 0) _exit(127);
  execve(argv[0], argv.data(), envp.data());
  _exit(127);
}

}  // namespace kolvotest
