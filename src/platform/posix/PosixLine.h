// What the serial port needs from the operating system beyond termios, in one place: draining
// the output, a rate outside the classic table, the driver's low-latency flag, a non-blocking look
// for input or a hang-up, and why a device file cannot be opened. This is the POSIX version,
// toolkit-free; a Windows build has its own port.
#pragma once

#include <functional>
#include <optional>
#include <string>

namespace bm::posix {

// Returns when every byte written to `fd` has left the port (the kernel's drain).
void Drain(int fd);

// Sets a rate outside the classic table (250000, 1000000) as the driver's own divisor (termios2,
// BOTHER), for output and input alike. False when the driver refuses it.
bool SetOtherRate(int fd, int baud);
// The rates the device has now, as termios2 reads them; zeros when it cannot be read.
struct LineRates {
  int input = 0;
  int output = 0;
  bool otherRate = false;  // set as a divisor of its own (BOTHER), not from the table
};
LineRates RatesOf(int fd);

// The driver's serial flags, read and written (TIOCGSERIAL, TIOCSSERIAL); a test puts a stand-in
// in their place. `get` gives nothing when the driver does not offer them.
struct SerialFlagsIo {
  std::function<std::optional<int>(int fd)> get;
  std::function<bool(int fd, int flags)> set;
};
SerialFlagsIo DriverSerialFlags();
// The low-latency bit among the serial flags.
int LowLatencyFlag();

// Sets the driver's low-latency flag (an FTDI adapter then delivers received bytes after 1 ms
// instead of its 16 ms latency timer). Returns the serial flags as they were, to restore on
// close, or nothing when the driver does not offer them (a pseudo-terminal, many drivers):
// that is normal, not an error.
std::optional<int> SetLowLatency(int fd, const SerialFlagsIo& io);
// Puts the flags back as they were, touching nothing when they still are (a flag that was set
// before the port opened stays set).
void RestoreSerialFlags(int fd, int flags, const SerialFlagsIo& io);

struct InputState {
  bool readable = false;
  bool hungUp = false;  // the other end is gone (adapter unplugged, pseudo-terminal closed)
};
InputState LookForInput(int fd);

// The link in /dev/serial/by-id that leads to `device` (the name that stays the same whichever
// USB socket the adapter is in), or empty when there is none.
std::string StableName(const std::string& device, const std::string& folder = "/dev/serial/by-id");

// The device file of a port name: "ttyUSB0" is /dev/ttyUSB0; a name with a slash is a path.
std::string DeviceFile(const std::string& device);
// errno of access(file, read and write), 0 when the user may read and write it.
int AccessError(const std::string& file);
// Who may use a device file, for the hint after "permission denied".
struct DeviceAccess {
  std::string group;  // a group the user could join to use it; empty when none is safe to suggest
  std::string owner;  // "root:root, crw-------": whom it belongs to and its mode (empty when unknown)
};
DeviceAccess AccessOf(const std::string& file);
// The group worth joining: one that may read and write the device and is not root (joining root
// to reach a port would give away the machine). Empty when there is none.
std::string JoinableGroup(unsigned gid, unsigned mode, const std::string& groupName);

}  // namespace bm::posix
