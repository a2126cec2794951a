// The pseudo-terminal the simulated target listens on: the master side stays with the tool,
// the slave's path is what the host opens as its serial device.
#pragma once

#include <string>

namespace bm::targetsim {

struct PtyLine {
  int master = -1;     // non-blocking
  std::string device;  // the slave's path, e.g. /dev/pts/7
  int opens = -1;      // inotify descriptor telling each opening and closing of the device; -1 without one
};

// Opens a master, unlocks its slave and sets the slave raw with no echo (so the tool never reads
// back its own replies). False with `error` set on failure.
bool OpenPtyLine(PtyLine& line, std::string& error);

// The rate the host set on its side, in baud; 0 when unknown. On Linux the line settings of a
// pseudo-terminal pair are the slave's, and the master reads them.
int HostBaud(int master);

}  // namespace bm::targetsim
