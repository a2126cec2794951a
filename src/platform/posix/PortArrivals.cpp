#include "platform/posix/PortArrivals.h"

#include <libudev.h>
#include <unistd.h>

#include "platform/posix/FolderWatch.h"

namespace bm::posix {

bool UdevDaemonRuns() { return ::access("/run/udev/control", F_OK) == 0; }

PortArrivals::PortArrivals(PollLoop& loop, std::function<void()> changed)
    : loop_(loop), changed_(std::move(changed)) {
  if (UdevDaemonRuns() && (udev_ = udev_new()) != nullptr) {
    monitor_ = udev_monitor_new_from_netlink(udev_, "udev");
    if (monitor_ && udev_monitor_filter_add_match_subsystem_devtype(monitor_, "tty", nullptr) >= 0 &&
        udev_monitor_enable_receiving(monitor_) >= 0) {
      watch_ = loop_.WatchInput(udev_monitor_get_fd(monitor_), [this] { Receive(); });
      return;
    }
    if (monitor_) udev_monitor_unref(monitor_);
    monitor_ = nullptr;
  }
  devFolder_ = std::make_unique<FolderWatch>(loop_, [this](const std::string&) { changed_(); });
  devFolder_->Add("/dev");
}

PortArrivals::~PortArrivals() {
  if (watch_) loop_.Unwatch(watch_);
  if (monitor_) udev_monitor_unref(monitor_);
  if (udev_) udev_unref(udev_);
}

void PortArrivals::Receive() {
  bool any = false;
  while (udev_device* device = udev_monitor_receive_device(monitor_)) {
    udev_device_unref(device);
    any = true;
  }
  if (any) changed_();
}

}  // namespace bm::posix
