// One program run to its end as a whole process, for the benchmarks that time programs
// as a user meets them: its output, its wall and CPU time, and its peak resident memory.
#pragma once

#include <string>
#include <vector>

namespace kolvobench {

struct ProcessRun {
  int status = -1;           // exit status, 128 + signal when killed
  double wallSeconds = 0;    // from the spawn to the end of the process
  double cpuSeconds = 0;     // user and system time of the process
  double peakMiB = 0;        // its peak resident memory
  std::string output;        // what it wrote on standard output
};

// Runs arguments[0] with the given arguments in workingDirectory, with the variables of
// environment ("NAME=value") set over those of this process; its standard error is
// passed through. Raises std::runtime_error when the program cannot be started.
ProcessRun runProcess(const std::vector<std::string>& arguments, const std::vector<std::string>& environment = {},
                      const std::string& workingDirectory = ".");

}  // namespace kolvobench
