// The COM ports of this machine. SetupAPI describes the ports of real devices (the COM port
// interface and the Ports class: the port's name from its device key, the friendly name, the USB
// vendor and product and the adapter's serial number from its IDs); ports that SetupAPI does not
// know (wine maps its COM ports to Unix devices without a device node; some virtual port
// drivers) are found among the system's DOS device names. Each port once, in number order.
#pragma once

#include <string>
#include <vector>

#include "platform/SerialPort.h"

namespace bm::win32 {

struct SystemPort {
  std::string name;         // "COM3"
  std::string description;  // "USB Serial Port", else the system's device name ("\Device\Serial2")
  PortIdentity identity;
};

std::vector<SystemPort> SystemPorts();
// The names alone, as a rescan compares them.
std::vector<std::string> SystemPortNames();

// The ports SetupAPI lists, and the COM names among the DOS device names with their targets.
std::vector<SystemPort> SetupApiPorts();
std::vector<SystemPort> DosDevicePorts();

// What a device's hardware ID and instance ID tell of a USB adapter: "USB\VID_0403&PID_6001\A50285BI"
// is 0403:6001 with serial number A50285BI; the FTDI driver's own bus
// ("FTDIBUS\VID_0403+PID_6001+A50285BIA\0000") appends the port's letter to the serial number.
// An instance ID the system made up (it holds '&') carries no serial number. Empty fields where
// the IDs say nothing.
PortIdentity IdentityFromIds(const std::string& hardwareId, const std::string& instanceId);

// "COM2" before "COM10"; names that are not COMn after those that are, by name.
bool PortNameOrder(const std::string& a, const std::string& b);

}  // namespace bm::win32
