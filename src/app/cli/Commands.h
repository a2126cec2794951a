// The commands of brindlemark-cli. Each takes its parsed command line and returns the process
// exit status (ExitCodes.h).
#pragma once

#include "app/cli/CommandLine.h"

namespace bm::cli {

int Ports(const CommandLine& line);
int Load(const CommandLine& line);
int Run(const CommandLine& line);  // download and erase
int Gang(const CommandLine& line);
int Station(const CommandLine& line);  // flash each board as its port appears
int Loaders(const CommandLine& line);  // the loader images that come with the program
int Records(const CommandLine& line);  // what the production record holds

}  // namespace bm::cli
