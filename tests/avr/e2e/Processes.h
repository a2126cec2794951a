// Running the programs under test from the end-to-end tests: a command with
// a time limit whose combined stdout and stderr is captured.
#pragma once

#include <string>
#include <vector>

namespace avrtest {

struct RunResult {
  int exitCode = -1;  // -1 when it did not exit normally (signal, time limit)
  bool timedOut = false;
  std::string output;  // stdout and stderr, interleaved as written
  double seconds = 0;  // wall time from start to exit
};

RunResult runProgram(const std::vector<std::string> &argv, double timeLimitSeconds);

// "sent ... | exit 1 | output: ..." for failure messages.
std::string describe(const std::vector<std::string> &argv, const RunResult &result);

}  // namespace avrtest
