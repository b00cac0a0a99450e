#include "tests/cli/child_launch.h"

#include <unistd.h>

#include <string_view>

namespace kolvotest {

std::vector<std::string> childEnvironment(const std::string& home, const std::string& kolvoDirectory) {
  std::vector<std::string> environment;
  for (char** entry = environ; *entry; ++entry) {
    std::string_view name(*entry);
    name = name.substr(0, name.find('='));
    if (name != "HOME" && name != "KOLVODIR" && name != "LD_LIBRARY_PATH") environment.emplace_back(*entry);
  }
  environment.push_back("HOME=" + home);
  environment.push_back("KOLVODIR=" + kolvoDirectory);
  return environment;
}

std::vector<char*> execList(std::vector<std::string>& words) {
  std::vector<char*> list;
  for (std::string& word : words) list.push_back(word.data());
  list.push_back(nullptr);
  return list;
}

}  // namespace kolvotest
