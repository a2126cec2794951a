// The serial port service over Qt Serial Port: the machine's serial ports plus devices named on
// the command line (pseudo-terminals the system does not list).
//
// QtSerialPort keeps the promises of SerialPort with a QSerialPort underneath:
//  - the line is 8 data bits, no parity, 2 stop bits, no flow control, at the chosen rate;
//  - Write hands the bytes to the OS at once; XmitWait paces the writer by the port's model of
//    the line (no kernel drain); Drain empties Qt's buffer into the OS and waits for the kernel's
//    drain; BytesOnTheWay is what the model still has on the line (after a drain, what a
//    pseudo-terminal or an adapter that reports drained early did not send yet);
//  - a device another program holds (its exclusive flag, or a flock) is "busy" and never opened;
//    while open, the port holds a flock of its own;
//  - on open the driver's low-latency flag is set where it is offered (and restored on close);
//  - Flush first passes every written byte to the OS, then discards received bytes in Qt's
//    buffer and in the OS input queue; Close lets written bytes leave before closing, since Qt
//    drops unwritten data on close;
//  - Read and BytesAvailable never block and pull waiting bytes from the OS themselves, so a
//    caller that polls without an event-loop turn still sees them. Received bytes end a running
//    reply-wait pass of QtEventLoop early.
//  - A device that fails (unplugged adapter) behaves as closed from then on; its first error is
//    kept in ErrorText() and nothing else is reported.
#pragma once

#include <chrono>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "platform/SerialPort.h"
#include "platform/posix/PosixLine.h"

class QSerialPort;

namespace bm::qt {

class QtSerialPort : public SerialPort {
 public:
  // `flags` reaches the driver's serial flags (the low-latency flag); tests give a stand-in.
  explicit QtSerialPort(std::string device, posix::SerialFlagsIo flags = posix::DriverSerialFlags());
  ~QtSerialPort() override;

  bool Open() override;
  void Close() override;
  bool IsOpen() const override;
  void SetBaudRate(int baud) override;
  int BaudRate() const override;
  void Write(std::string_view bytes) override;
  void XmitWait() override;
  void Drain() override;
  int BytesOnTheWay() const override;
  Counts LineCounts() const override { return counts_; }
  void Flush() override;
  int BytesAvailable() override;
  std::string Read(int n) override;
  OpenFailure LastOpenFailure() const override { return openFailure_; }

  // The OS handle of the open device (-1 when closed), for checking the line settings.
  int Handle() const;
  // The first error since the last successful Open; empty when none.
  const std::string& ErrorText() const { return error_; }

 private:
  bool Usable();          // open and not failed; closes a port whose device failed
  void PassWritesToOs();  // empties Qt's write buffer into the OS (bounded)
  void Pull();            // moves bytes the OS holds into Qt's buffer, without blocking
  void WaitForLine();     // keeps the written bytes' line time from running ahead (see .cpp)

  std::string device_;
  std::chrono::steady_clock::time_point lineFreeAt_{};  // when the bytes written so far are out
  int baud_ = 9600;
  std::unique_ptr<QSerialPort> port_;
  bool failed_ = false;
  std::string error_;
  OpenFailure openFailure_;
  posix::SerialFlagsIo flagsIo_;
  std::optional<int> serialFlags_;  // the driver's flags before low latency was set
  posix::DeviceLock lock_;          // our flock on the device while it is open
  Counts counts_;
};

// Why QSerialPort would not open a device: `permissionError` (Qt's PermissionError) with the
// device file not readable and writable for this user (`accessErrno` EACCES or EPERM from
// access()) is a permission problem, with `access` (a group safe to join, the owner and mode); Qt's
// permission error on a file the user may use means another program holds the port (its exclusive lock or
// lock file). `notFound`: Qt's DeviceNotFoundError.
OpenFailure ExplainOpenFailure(bool permissionError, bool notFound, int accessErrno,
                               const posix::DeviceAccess& access, const std::string& systemText);

// The ports the system lists when it is created (the list is not refreshed), followed by the
// extra devices.
class QtSerialService : public SerialService {
 public:
  explicit QtSerialService(bool systemPorts = true, std::vector<std::string> extraDevices = {});

  int Count() override;
  std::string PortName(int index) override;
  std::string Description(int index) override;
  PortIdentity Identity(int index) override;
  std::unique_ptr<SerialPort> Bind(int index) override;
  // The system's ports as they are now, the named devices after them.
  bool Refresh() override;

 private:
  struct Entry {
    std::string name;    // shown after "COMport "
    std::string device;  // what QSerialPort opens
    std::string description;
    PortIdentity identity;
  };
  bool systemPorts_;
  std::vector<std::string> extraDevices_;
  std::vector<Entry> entries_;
};

}  // namespace bm::qt
