// Tells when serial ports may have come or gone: the udev daemon's events for the tty subsystem
// (sent once the device is set up, its permissions and /dev/serial/by-id links in place), or,
// where no udev daemon runs (a container, a minimal system), the system's file notifications
// on /dev. Either way the caller lists the ports again.
#pragma once

#include <functional>
#include <memory>

#include "platform/posix/PollLoop.h"

struct udev;
struct udev_monitor;

namespace bm::posix {

class FolderWatch;

class PortArrivals {
 public:
  PortArrivals(PollLoop& loop, std::function<void()> changed);
  ~PortArrivals();
  PortArrivals(const PortArrivals&) = delete;
  PortArrivals& operator=(const PortArrivals&) = delete;

  // "udev" or "/dev": what it listens to.
  const char* Source() const { return monitor_ ? "udev" : "/dev"; }

 private:
  void Receive();

  PollLoop& loop_;
  std::function<void()> changed_;
  udev* udev_ = nullptr;
  udev_monitor* monitor_ = nullptr;
  PollLoop::WatchId watch_ = 0;
  std::unique_ptr<FolderWatch> devFolder_;
};

// Whether a udev daemon runs (its control socket is there).
bool UdevDaemonRuns();

}  // namespace bm::posix
