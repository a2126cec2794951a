// The port list both programs offer: the system's serial ports, devices named with
// --port DEVICE (repeatable; pseudo-terminals the system does not list) and, only when asked
// (--simulated-target or --port sim), the simulated target as port "sim".
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "platform/PortList.h"
#include "platform/sim/SimTarget.h"

namespace bm::app {

struct PortOptions {
  std::vector<std::string> devices;  // from --port, in order; "sim" means the simulated target
  bool simulatedTarget = false;      // --simulated-target
  bool onlyNamed = false;            // search only the --port devices, not the system's ports
};

// Takes --port DEVICE, --port=DEVICE and --simulated-target out of args; leaves the rest.
PortOptions TakePortOptions(std::vector<std::string>& args);

struct Ports {
  std::unique_ptr<PortList> list;
  std::shared_ptr<sim::SimTarget> simTarget;  // null unless offered
};

// Builds the list: the system's serial port service (termios on POSIX, COM ports on Windows) and
// the named devices. The simulated target is our example board (platform/sim/ExampleBoard.h).
Ports MakePorts(const PortOptions& options);

// What a byte trace should say first about this system's ports: what they cannot do that a
// user may count on (on Windows, an adapter's latency timer is its driver's setting); empty
// when there is nothing to say.
std::string PortTraceNote();

}  // namespace bm::app
