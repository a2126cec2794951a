// The serial port of both programs on a POSIX system, over termios and a file descriptor, with
// no toolkit: the machine's serial ports plus devices named on the command line (pseudo-terminals
// the system does not list).
//
// PosixSerialPort keeps the promises of SerialPort:
//  - the line is raw, 8 data bits, no parity, 2 stop bits, no flow control, CLOCAL and CREAD, at
//    the chosen rate: a rate of the classic table through cfsetspeed, any other (250000,
//    1000000) as the driver's own divisor (termios2, BOTHER);
//  - Write queues the bytes unchanged and returns at once: the descriptor is non-blocking, and
//    what the kernel will not take yet stays in our own output buffer. XmitWait and Drain push it
//    out, waiting at most twice its line time plus a second, so a reader that stopped reading
//    never freezes the program. XmitWait paces the writer by the port's model of the line (no
//    kernel drain); Drain is exactly one kernel drain per call; BytesOnTheWay is what the model
//    still has on the line (after a drain, what a pseudo-terminal or an adapter that reports
//    drained early did not send yet);
//  - Flush discards received bytes only (ours and the kernel's); written bytes still go out;
//  - Close drains, waits out the model's line time plus one frame (an adapter that reports
//    drained while its own buffer still holds a farewell "X"), then lets the device go;
//  - Read and BytesAvailable never block: they pull what the kernel holds into our own buffer.
//    While open, the descriptor is among posix::ReceivingLines(), so an event loop ends a reply
//    wait when bytes arrive;
//  - a device that hangs up (unplugged adapter, closed pseudo-terminal) fails the port: it behaves
//    as closed from then on, its first error is kept in ErrorText() and nothing else is reported;
//  - exclusive use: while open the port holds a flock on the device and, on a real serial device,
//    its exclusive flag (TIOCEXCL). A device another program holds (its exclusive flag or a
//    flock) is "busy": it is looked at before anything on it changes, so a second instance never
//    disturbs a running one, and no lock file is ever made. A pseudo-terminal does not get the
//    exclusive flag: its flag outlives every descriptor while the other side stays open, so a
//    killed run would leave the device "busy" for everyone; the flock dies with the run;
//  - on open the driver's low-latency flag is set where it is offered, and restored on close.
#pragma once

#include <chrono>
#include <optional>
#include <string>
#include <vector>

#include "platform/SerialPort.h"
#include "platform/posix/PosixLine.h"

namespace bm::posix {

class PosixSerialPort : public SerialPort {
 public:
  // `flags` reaches the driver's serial flags (the low-latency flag); tests give a stand-in.
  explicit PosixSerialPort(std::string device, SerialFlagsIo flags = DriverSerialFlags());
  ~PosixSerialPort() override;
  PosixSerialPort(const PosixSerialPort&) = delete;
  PosixSerialPort& operator=(const PosixSerialPort&) = delete;

  bool Open() override;
  void Close() override;
  bool IsOpen() const override { return fd_ >= 0; }
  void SetBaudRate(int baud) override;
  int BaudRate() const override { return baud_; }
  void Write(std::string_view bytes) override;
  void XmitWait() override;
  void Drain() override;
  int BytesOnTheWay() const override;
  Counts LineCounts() const override { return counts_; }
  void Flush() override;
  int BytesAvailable() override;
  std::string Read(int n) override;
  OpenFailure LastOpenFailure() const override { return openFailure_; }

  // The descriptor of the open device (-1 when closed), for checking the line settings.
  int Handle() const { return fd_; }
  // Written bytes the kernel has not taken yet.
  int BytesNotTaken() const { return static_cast<int>(out_.size()); }
  // The first error since the last Open; empty when none.
  const std::string& ErrorText() const { return error_; }

 private:
  bool Refuse(OpenFailure failure);   // a failed Open: why, kept; false
  void Fail(const std::string& why);  // the device failed: the first error kept, the port let go
  void Release();                     // flags back, off the receiving lines, descriptor closed
  void Pull();                        // moves what the kernel holds into `in_`, never blocking
  void PushOut();                     // hands `out_` to the kernel as far as it takes it now
  void PassWritesToOs();              // PushOut until `out_` is empty, within the bound
  void WaitForLine();                 // keeps the written bytes' line time from running ahead

  std::string device_;
  int fd_ = -1;
  int baud_ = 9600;
  bool exclusive_ = false;                              // we set the exclusive flag (a real serial device)
  std::string in_;                                      // received, not yet read
  std::string out_;                                     // written, not yet taken by the kernel
  std::chrono::steady_clock::time_point lineFreeAt_{};  // when the bytes written so far are out
  std::string error_;
  OpenFailure openFailure_;
  SerialFlagsIo flagsIo_;
  std::optional<int> serialFlags_;  // the driver's flags before low latency was set
  Counts counts_;
};

// Why a device would not open, from the errno of open(): EACCES or EPERM is a permission problem
// with `access` (a group safe to join, the owner and mode), EBUSY another program's exclusive
// flag, ENOENT, ENXIO or ENODEV a device that is not there; anything else keeps the system's
// words only.
OpenFailure ExplainOpenFailure(int openErrno, const DeviceAccess& access, const std::string& systemText);

// The ports the system lists (see SystemPorts.h) when it is made, followed by the named devices.
class PosixSerialService : public SerialService {
 public:
  explicit PosixSerialService(bool systemPorts = true, std::vector<std::string> extraDevices = {});

  int Count() override { return static_cast<int>(entries_.size()); }
  std::string PortName(int index) override;
  std::string Description(int index) override;
  PortIdentity Identity(int index) override;
  std::unique_ptr<SerialPort> Bind(int index) override;
  // The system's ports as they are now, the named devices after them.
  bool Refresh() override;

 private:
  struct Entry {
    std::string name;    // shown after "COMport "
    std::string device;  // what the port opens
    std::string description;
    PortIdentity identity;
  };
  bool systemPorts_;
  std::vector<std::string> extraDevices_;
  std::vector<Entry> entries_;
};

}  // namespace bm::posix
