// What a test needs to start a program in a child it forks: the environment and the
// argument lists made beforehand. Used by the kolvocmd runner, the kolvoserve fixture and
// the referral benchmark, which has no GoogleTest.
#pragma once

#include <string>
#include <vector>

namespace kolvotest {

// The test's environment with HOME and KOLVODIR set and LD_LIBRARY_PATH removed, for a
// child to exec with: made before the fork, since the child of a process that may have
// threads must not allocate or take the environment's lock.
std::vector<std::string> childEnvironment(const std::string& home, const std::string& kolvoDirectory);
// Pointers to the strings, ended by a null one, as execve wants them.
std::vector<char*> execList(std::vector<std::string>& words);

}  // namespace kolvotest
