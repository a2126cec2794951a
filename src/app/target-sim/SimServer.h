// Serves a simulated target on the master side of a pseudo-terminal until told to stop.
//
// One thread, one poll() over the master, standard input and a signal pipe; the wait ends at
// the due time of the next queued reply, so paced replies leave on time without spinning.
// Each opening of the device is seen (inotify on the device's path; where that is missing, a
// look every few milliseconds while no host has it open) and resets the board when the target
// is so configured, as a DTR reset does; a close and an immediate reopen are two sessions. A target that
// vanished closes the master: the host's device fails like an unplugged adapter, and the tool keeps running
// until it is told to stop, so its images still get saved. With an adapter latency, replies that
// crossed the line are held as a USB-serial adapter holds them (AdapterBuffer) before the host
// can read them.
#pragma once

#include <functional>
#include <string>

#include "app/target-sim/PtyLine.h"
#include "platform/sim/SimTarget.h"

namespace bm::targetsim {

struct ServeOptions {
  bool exitAfterStop = false;
  bool trace = false;
  bool watchStdin = false;      // end of input or a "quit" line ends the run
  int signalFd = -1;            // readable when a termination signal came
  double adapterLatencyMs = 0;  // > 0: replies pass an adapter's buffer with this latency timer
};

void Serve(sim::SimTarget& target, PtyLine& line, const ServeOptions& options,
           const std::function<double()>& nowMs);

}  // namespace bm::targetsim
