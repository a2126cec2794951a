// brindlemark-cli: the headless front of the same logic the desktop program runs.
//
// The command line is read, and `--version`, the help and `load` are answered, before the Qt
// application object exists: none of them needs it, and a script that checks files pays less.
#include <QCoreApplication>
#include <iostream>
#include <string>
#include <vector>

#include "app/cli/CommandLine.h"
#include "app/cli/Commands.h"
#include "app/cli/EventLog.h"
#include "app/cli/ExitCodes.h"
#include "app/cli/Version.h"

int main(int argc, char** argv) {
  const std::vector<std::string> args(argv + 1, argv + argc);
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
    case Command::Download:
    case Command::Erase:
    case Command::Gang:
    case Command::Station:
      break;
  }

  QCoreApplication app(argc, argv);
  switch (line.command) {
    case Command::Ports:
      return Ports(line);
    case Command::Gang:
      return Gang(line);
    case Command::Station:
      return Station(line);
    default:
      return Run(line);
  }
}
