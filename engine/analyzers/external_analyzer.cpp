// The external analyzer: builds the converter's command line with both paths quoted
// for the shell, runs it in a child under a time and a memory limit, and hands its
// output to the analyzer that matches the output's name.
#include "engine/analyzers/external_analyzer.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <thread>

#include "engine/index/kolvo_index.h"
#include "engine/kolvolib/error_reporting.h"

namespace {

bool isPlaceholderAt(const std::string& text, size_t at) {
  return text[at] == '%' && at + 1 < text.size() && (text[at + 1] == 'i' || text[at + 1] == 'o');
}

// Runs command through /bin/sh in a process group of its own. True when it ended by
// itself with status 0; a converter still running at the deadline is killed.
bool runWithLimits(const std::string& command, double seconds, unsigned long long memoryBytes) {
  pid_t child = fork();
  if (child < 0) return false;
  if (child == 0) {
    setpgid(0, 0);
    rlimit memory{static_cast<rlim_t>(memoryBytes), static_cast<rlim_t>(memoryBytes)};
    setrlimit(RLIMIT_AS, &memory);
    // A converter must not read the console that drives the program.
    int nothing = open("/dev/null", O_RDONLY);
    if (nothing >= 0) dup2(nothing, 0);
    execl("/bin/sh", "sh", "-c", command.c_str(), static_cast<char*>(nullptr));
    _exit(127);
  }
  setpgid(child, child);
  auto deadline = std::chrono::steady_clock::now() + std::chrono::duration<double>(seconds);
  auto pause = std::chrono::milliseconds(1);
  for (;;) {
    int status = 0;
    pid_t done = waitpid(child, &status, WNOHANG);
    if (done == child) return WIFEXITED(status) && WEXITSTATUS(status) == 0;
    if (done < 0 && errno != EINTR) return errno == ECHILD;  // reaped by someone else: not ours to judge
    if (std::chrono::steady_clock::now() >= deadline) {
      kill(-child, SIGKILL);
      kill(child, SIGKILL);
      while (waitpid(child, &status, 0) < 0 && errno == EINTR) {
      }
      return false;
    }
    std::this_thread::sleep_for(pause);
    pause = std::min(pause * 2, std::chrono::milliseconds(50));
  }
}

bool fileExists(const std::string& path) {
  struct stat info {};
  return stat(path.c_str(), &info) == 0;
}

char* emptyText() {
  auto* text = static_cast<char*>(std::malloc(1));
  if (!text) kolvo::throwKolvoError("NoMemory", "");
  text[0] = '\0';
  return text;
}

}  // namespace

CExternalAnalyzer::CExternalAnalyzer(CKolvoIndex* owner, const std::string& extension,
                                     const std::string& commandTemplate)
    : CFileAnalyzer(owner), outputExtension(extension) {
  int found = 0;
  size_t partStart = 0;
  for (size_t at = 0; at < commandTemplate.size() && found < 2; ++at) {
    if (!isPlaceholderAt(commandTemplate, at)) continue;
    if (found == 0) {
      commandPart1 = commandTemplate.substr(0, at);
    } else {
      commandPart2 = commandTemplate.substr(partStart, at - partStart);
      secondPlaceholder = commandTemplate[at + 1];
    }
    partStart = at + 2;
    ++at;
    ++found;
  }
  if (found == 0) commandPart1 = commandTemplate;
  else if (found == 1) commandPart2 = commandTemplate.substr(partStart);
  else commandPart3 = commandTemplate.substr(partStart);
}

int CExternalAnalyzer::countPlaceholders(const std::string& commandTemplate) {
  int found = 0;
  for (size_t at = 0; at < commandTemplate.size(); ++at) {
    if (isPlaceholderAt(commandTemplate, at)) {
      ++found;
      ++at;
    }
  }
  return found;
}

std::string CExternalAnalyzer::shellQuoted(const std::string& text) {
  std::string quoted = "'";
  for (char c : text) {
    if (c == '\'') quoted += "'\\''";
    else quoted += c;
  }
  return quoted + "'";
}

std::string CExternalAnalyzer::commandFor(const char* inputPath, const char* outputPath) const {
  bool inputFirst = secondPlaceholder == 'o';
  return commandPart1 + shellQuoted(inputFirst ? inputPath : outputPath) + commandPart2 +
         shellQuoted(inputFirst ? outputPath : inputPath) + commandPart3;
}

std::string CExternalAnalyzer::makeTemporaryPath(const char* inputPath, uint32_t fileId) const {
  std::string path = index->temporaryDirectory + "/" + std::to_string(fileId);
  if (outputExtension != "...") return path + "." + outputExtension;
  std::string input = inputPath;
  size_t slash = input.find_last_of('/');
  std::string name = slash == std::string::npos ? input : input.substr(slash + 1);
  size_t first = name.find('.');
  size_t last = name.rfind('.');
  if (first != std::string::npos && first != last) path += name.substr(first, last - first);
  return path;
}

bool CExternalAnalyzer::createTemporaryFile(const char* inputPath, const char* outputPath) {
  if (!index->analyzerThatMatches(outputPath)) return false;
  if (runWithLimits(commandFor(inputPath, outputPath), timeLimitSeconds, memoryLimitBytes)) return true;
  // Whatever a failed or stopped converter left behind is not the file's text.
  std::remove(outputPath);
  kolvo::tellWarning("ConverterFailed", inputPath);
  return false;
}

bool CExternalAnalyzer::indexFile(const char* path, uint32_t fileId) {
  std::string outputPath = makeTemporaryPath(path, fileId);
  if (!createTemporaryFile(path, outputPath.c_str())) return false;
  CFileAnalyzer* reader = index->analyzerThatMatches(outputPath.c_str());
  if (!reader) return false;
  bool result = reader->indexFile(outputPath.c_str(), fileId);
  // Output that can be read in chunks stays as a cache for display.
  if (!reader->canUseIndexBuffer()) std::remove(outputPath.c_str());
  return result;
}

char* CExternalAnalyzer::fillDisplayBuffer(const char* path, uint32_t fileId, uint32_t maxBytes, int wrapWidth,
                                           bool stripMarkup) {
  std::string outputPath = makeTemporaryPath(path, fileId);
  if (!fileExists(outputPath) && !createTemporaryFile(path, outputPath.c_str())) return emptyText();
  // A converter that wrote nothing leaves nothing to show.
  if (!fileExists(outputPath)) return emptyText();
  CFileAnalyzer* reader = index->analyzerThatMatches(outputPath.c_str());
  if (!reader) return emptyText();
  return reader->fillDisplayBuffer(outputPath.c_str(), fileId, maxBytes, wrapWidth, stripMarkup);
}
