// The serial ports of this machine: tty devices with a real device behind them (a USB adapter, a
// CDC-ACM board, a PCI or platform UART that answered), never the virtual consoles nor the
// phantom ttyS entries a UART driver makes for addresses where no UART answered (their `type` is
// 0, "unknown").
//
// The udev database tells the most (the model's name from the USB ID database, the links in
// /dev/serial/by-id); where no udev daemon runs (a container: no /run/udev/control) or it has not
// described a device, the same facts are read from sysfs: the USB device above the tty gives
// idVendor, idProduct, serial and product, the driver names the rest.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "platform/SerialPort.h"

namespace bm::posix {

struct SystemPort {
  std::string name;         // the kernel's short name: "ttyUSB0"
  std::string device;       // its device file: "/dev/ttyUSB0"
  std::string description;  // the model's name, else the driver's
  PortIdentity identity;
};

enum class PortSource { Udev, Sysfs };

// The machine's serial ports in name order ("ttyUSB2" before "ttyUSB10"); `source` tells where the
// list came from.
std::vector<SystemPort> SystemPorts(PortSource* source = nullptr);

// Whether the udev daemon runs (its control socket is there).
bool UdevRuns(const std::string& control = "/run/udev/control");

// The list from the udev database; a device it has not described (no daemon runs) is read from
// sysfs. Nothing when udev cannot be asked.
std::optional<std::vector<SystemPort>> UdevPorts();

// The list from sysfs alone, under `sysRoot` (a test gives a tree made in a folder of its own);
// stable names are looked up in `byIdFolder`.
std::vector<SystemPort> SysfsPorts(const std::string& sysRoot = "/sys",
                                   const std::string& byIdFolder = "/dev/serial/by-id");

}  // namespace bm::posix
