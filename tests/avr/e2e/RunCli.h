// brindlemark-cli as the emulated-chip tests run it.
#pragma once

#include <sys/stat.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "ChipProcess.h"
#include "Processes.h"

namespace avrtest {

// Generous: a full 1284P image takes about half a minute at 57600 baud.
constexpr double kCliTimeLimit = 180;

// The reply window of these runs. The emulated chip shares the machine with everything else; on
// a busy one it may not be scheduled for a few hundred milliseconds, which a chip on its own
// silicon never is. These tests prove what lands in the chip, not how fast it answers, so the
// host gives each reply a second, as a user on a slow link would (--reply-timeout). The other
// way round, a host that is not scheduled holds the chip's clock (harness/HostWatch.h).
constexpr const char *kReplyTimeoutMs = "1000";

inline RunResult cli(const std::vector<std::string> &args, std::vector<std::string> *argvOut = nullptr) {
  std::vector<std::string> argv = {BRINDLEMARK_CLI};
  argv.insert(argv.end(), args.begin(), args.end());
  if (argvOut) *argvOut = argv;
  setenv("BRINDLEMARK_REPLY_TIMEOUT", kReplyTimeoutMs, 1);
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
