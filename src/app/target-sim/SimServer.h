// Serves a simulated target on the master side of a pseudo-terminal until told to stop.
//
// One thread, one poll() over the master, standard input and a signal pipe; the wait ends at
// the due time of the next queued reply, so paced replies leave on time without spinning.
// While no host has the device open, presence is checked every few milliseconds. Each new
// opening of the device resets the board (when the target is so configured), as a DTR reset
// does. A target that vanished closes the master: the host's device fails like an unplugged
// adapter, and the tool keeps running until it is told to stop, so its images still get saved.
#pragma once

#include <functional>
#include <string>

#include "app/target-sim/PtyLine.h"
#include "platform/sim/SimTarget.h"

namespace bm::targetsim {

struct ServeOptions {
  bool exitAfterStop = false;
  bool trace = false;
  bool watchStdin = false;  // end of input or a "quit" line ends the run
  int signalFd = -1;        // readable when a termination signal came
};

void Serve(sim::SimTarget& target, PtyLine& line, const ServeOptions& options,
           const std::function<double()>& nowMs);

}  // namespace bm::targetsim
