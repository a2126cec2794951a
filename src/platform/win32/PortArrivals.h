// Tells when COM ports may have come or gone: the system's device notifications for the COM port
// interface (RegisterDeviceNotificationW on a hidden message-only window; its WM_DEVICECHANGE
// comes through the loop's message dispatch), and a rescan of the port list every half second,
// which catches what no notification tells of (wine's ports mapped to Unix devices, virtual port
// drivers that announce nothing). Either way the caller lists the ports again. The same interface
// as posix::PortArrivals.
//
// (CM_Register_Notification would need no window, but wine 8 does not export it, and a program
// that imports it does not even load there.)
#pragma once

#include <chrono>
#include <functional>
#include <string>
#include <vector>

#include "platform/win32/Win32Loop.h"

namespace bm::win32 {

class PortArrivals {
 public:
  static constexpr std::chrono::milliseconds kRescanInterval{500};

  // `listPorts`: the names a rescan compares (the system's COM ports unless a test gives others).
  PortArrivals(Win32Loop& loop, std::function<void()> changed,
               std::function<std::vector<std::string>()> listPorts = {},
               std::chrono::milliseconds rescanInterval = kRescanInterval);
  ~PortArrivals();
  PortArrivals(const PortArrivals&) = delete;
  PortArrivals& operator=(const PortArrivals&) = delete;

  // "device notifications and a rescan" or, where the notifications could not be set up, "a rescan".
  const char* Source() const;
  // A device notification came: the window procedure's call.
  void Notified();

 private:
  void Rescan();
  void Schedule();

  Win32Loop& loop_;
  std::function<void()> changed_;
  std::function<std::vector<std::string>()> listPorts_;
  std::chrono::milliseconds interval_;
  std::vector<std::string> known_;  // the list as last seen
  void* window_ = nullptr;          // HWND
  void* notification_ = nullptr;    // HDEVNOTIFY
  CommandLoop::TimerId rescan_ = 0;
};

}  // namespace bm::win32
