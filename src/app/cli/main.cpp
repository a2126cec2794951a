// brindlemark-cli: the headless front of the same logic the desktop program runs.
//
// Ctrl-C and SIGTERM are caught before anything else happens, so a signal during a long load or
// after the result line never kills the program half-way or changes its exit status.
#include <iostream>
#include <string>
#include <vector>

#include "app/cli/CommandLine.h"
#include "app/cli/Commands.h"
#include "app/cli/EventLog.h"
#include "app/cli/ExitCodes.h"
#include "app/cli/Version.h"
#include "platform/CommandLoop.h"

namespace {

// What a command reports must reach its reader: when standard output could not take it (a closed
// pipe, a full disk), a run that was done ends as output-failed, never as a silent success.
int Reported(int status) {
  std::cout.flush();
  const bool lost = !std::cout || std::fflush(stdout) != 0 || std::ferror(stdout) != 0;
  if (!lost || status != bm::cli::kExitDone) return status;
  std::cerr << "brindlemark-cli: what the command reports could not be written to standard output (a closed "
               "pipe or a full disk)\n";
  return bm::cli::kExitOutputFailed;
}

int RunCommand(const std::vector<std::string>& args) {
  using namespace bm::cli;
  if (AsksForVersion(args)) {
    std::cout << kVersionText;
    return kExitDone;
  }
  const ParsedCommandLine parsed = ParseCommandLine(args);
  if (!parsed.line) {
    if (parsed.exitCode == kExitDone) {
      std::cout << parsed.text;
    } else {
      std::cerr << parsed.text << (parsed.text.empty() || parsed.text.back() == '\n' ? "" : "\n");
      if (parsed.wantsJson) {
        EventLog log(std::cout, true);
        log.Emit("message", {{"kind", "error"}, {"text", parsed.text}});
        EmitResult(log, Outcome::Usage);
      }
    }
    return parsed.exitCode;
  }
  const CommandLine& line = *parsed.line;
  switch (line.command) {
    case Command::Load:
      return Load(line);
    case Command::Loaders:
      return Loaders(line);
    case Command::Help:
      std::cout << HelpText();
      return kExitDone;
    case Command::Ports:
      return Ports(line);
    case Command::Gang:
      return Gang(line);
    case Command::Station:
      return Station(line);
    case Command::Records:
      return Records(line);
    default:
      return Run(line);
  }
}

}  // namespace

int main(int argc, char** argv) {
  bm::InstallInterruptHandlers();
  return Reported(RunCommand(bm::ProgramArguments(argc, argv)));
}
