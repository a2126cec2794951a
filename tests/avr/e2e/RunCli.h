// brindlemark-cli as the emulated-chip tests run it.
#pragma once

#include <sys/stat.h>

#include <string>
#include <vector>

#include "ChipProcess.h"
#include "Processes.h"

namespace avrtest {

// Generous: a full 1284P image takes about half a minute at 57600 baud.
constexpr double kCliTimeLimit = 180;

inline RunResult cli(const std::vector<std::string> &args, std::vector<std::string> *argvOut = nullptr) {
  std::vector<std::string> argv = {BRINDLEMARK_CLI};
  argv.insert(argv.end(), args.begin(), args.end());
  if (argvOut) *argvOut = argv;
  return runProgram(argv, kCliTimeLimit);
}

// The run and, since the test is failing anyway, what the chip saw.
inline std::string explain(const std::vector<std::string> &argv, const RunResult &run, ChipProcess &chip) {
  return describe(argv, run) + "chip log:\n" + chip.stop().harnessLog;
}

inline bool cliBuilt() {
  struct stat st {};
  return stat(BRINDLEMARK_CLI, &st) == 0;
}

}  // namespace avrtest
