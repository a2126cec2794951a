// The command line of brindlemark-target-sim: the simulated board's parameters, injected
// faults, files to preload and to save, and how the tool ends.
#pragma once

#include <string>
#include <vector>

#include "platform/sim/SimTarget.h"

namespace bm::targetsim {

struct SimOptions {
  sim::SimTargetConfig config;
  std::vector<sim::Fault> faults;
  std::string link;                 // symlink to the device, made at start, removed at exit
  std::string flashIn, eepromIn;    // raw images preloaded from offset 0
  std::string flashOut, eepromOut;  // whole flash and EEPROM, raw, written on exit
  bool exitAfterStop = false;       // exit once the loader received "X"
  bool trace = false;               // every byte both ways on stderr
  double adapterLatencyMs = 0;      // > 0: replies reach the host as through a USB-serial adapter
};

// What parsing found: run, print the usage or the version and succeed, or a usage error (`error`
// says which).
enum class ParseResult { Run, Help, Version, Error };

// Starts from `defaults` (the example board); `args` excludes the program name.
ParseResult ParseSimOptions(const std::vector<std::string>& args, const sim::SimTargetConfig& defaults,
                            SimOptions& options, std::string& error);

std::string SimUsage();

}  // namespace bm::targetsim
