// The serial port of both programs on Windows, over a COM port's HANDLE, with no toolkit: the
// system's COM ports plus ports named on the command line.
//
// Win32SerialPort keeps the promises of SerialPort, with the same model of the line as
// posix::PosixSerialPort:
//  - the line is 8 data bits, no parity, 2 stop bits, no flow control (DTR and RTS raised, as a
//    port does when it opens), binary, at the chosen rate; the port is opened without sharing, so
//    a port another program holds is "busy" (Windows says ERROR_ACCESS_DENIED);
//  - Write queues the bytes unchanged and returns at once: a writer thread hands them to the
//    driver (an overlapped WriteFile), all that were written since its last one in one call, so
//    a system slow to take a call (wine: a round trip to its server each) still keeps up with
//    the line. Drain waits until the driver has them (XmitWait only while more than 4 ms of them
//    wait), at most twice their line time plus a second. XmitWait paces the writer by the model
//    of the line (4 ms of line time ahead at most, 2 ms after a wait); Drain is exactly one
//    FlushFileBuffers per call (the driver's drain); BytesOnTheWay is what the model still has
//    on the line; LineCounts counts the WriteFile calls;
//  - Flush discards received bytes only (ours and the driver's, PurgeComm with PURGE_RXCLEAR);
//    written bytes still go out;
//  - Close drains, waits out the model's line time plus one frame, then lets the port go;
//  - Read and BytesAvailable never block. A reader thread waits for received bytes (an
//    overlapped ReadFile, and WaitCommEvent where a read returns at once with nothing) and hands
//    them over; while open, its event is among win32::ReceivingLines(), so an event loop ends a
//    reply wait when bytes arrive;
//  - a port that fails (an unplugged adapter: its reads and writes fail) behaves as closed from
//    then on; its first error is kept in ErrorText() and nothing else is reported;
//  - while a port is open the system's timer runs at 1 ms (timeBeginPeriod), so the line pacing
//    and the reply waits are not rounded up to 15.6 ms.
// Windows has no call for an adapter's low-latency mode: an FTDI adapter's latency timer is a
// setting of its driver (docs/windows.md), left as it is.
#pragma once

#include <atomic>
#include <chrono>
#include <memory>
#include <string>
#include <vector>

#include "platform/SerialPort.h"

namespace bm::win32 {

class Win32SerialPort : public SerialPort {
 public:
  // `name`: "COM3", or a device path such as "\\.\COM10".
  explicit Win32SerialPort(std::string name);
  ~Win32SerialPort() override;
  Win32SerialPort(const Win32SerialPort&) = delete;
  Win32SerialPort& operator=(const Win32SerialPort&) = delete;

  bool Open() override;
  void Close() override;
  bool IsOpen() const override { return io_ != nullptr; }
  void SetBaudRate(int baud) override;
  int BaudRate() const override { return baud_; }
  void Write(std::string_view bytes) override;
  void XmitWait() override;
  void Drain() override;
  int BytesOnTheWay() const override;
  Counts LineCounts() const override { return {writeCalls_.load(), counts_.drains}; }
  void Flush() override;
  int BytesAvailable() override;
  std::string Read(int n) override;
  OpenFailure LastOpenFailure() const override { return openFailure_; }

  // Written bytes the writer thread has not taken yet.
  int BytesNotTaken() const;
  // The first error since the last Open; empty when none.
  const std::string& ErrorText() const { return error_; }

 private:
  struct Io;  // the handle, the reader and the writer thread

  bool Refuse(OpenFailure failure);   // a failed Open: why, kept; false
  void Fail(const std::string& why);  // the device failed: the first error kept, the port let go
  void Release();                     // off the receiving lines, threads stopped, handle closed
  void Pull();                        // moves what the reader received into `in_`
  // Waits until the driver has every written byte (or, given `waiting`, until no more than that
  // line time of them waits for the writer), within the bound.
  void PassWritesToOs(std::chrono::nanoseconds waiting = {});
  void WaitForLine();  // keeps the written bytes' line time from running ahead

  std::string name_;
  std::unique_ptr<Io> io_;  // null while closed
  int baud_ = 9600;
  std::string in_;                                      // received, not yet read
  std::chrono::steady_clock::time_point lineFreeAt_{};  // when the bytes written so far are out
  std::string error_;
  OpenFailure openFailure_;
  Counts counts_;
  std::atomic<int64_t> writeCalls_{0};  // counted by the writer thread
};

// Why a port would not open, from the error of CreateFileW: ERROR_ACCESS_DENIED (and a sharing
// violation) is another program holding it, a port that is not there is NoDevice; anything
// else keeps the system's words only. There is no permission to join on Windows.
OpenFailure ExplainOpenFailure(unsigned long error, const std::string& systemText);

// The path CreateFileW opens for a port name: "COM3" and "COM10" as "\\.\COM3" and "\\.\COM10"
// (the prefix that every COM port above 9 needs); a name that is a path already as it is.
std::string DevicePath(const std::string& name);
// One spelling per port, for telling two names of one port apart: "com10" and "\\.\COM10" are
// both "COM10". Other names as given.
std::string CanonicalPortName(const std::string& name);

// The COM ports the system lists (see SystemPorts.h) when it is made, followed by the named ports.
class Win32SerialService : public SerialService {
 public:
  explicit Win32SerialService(bool systemPorts = true, std::vector<std::string> extraPorts = {});

  int Count() override { return static_cast<int>(entries_.size()); }
  std::string PortName(int index) override;
  std::string Description(int index) override;
  PortIdentity Identity(int index) override;
  std::unique_ptr<SerialPort> Bind(int index) override;
  bool Refresh() override;

 private:
  struct Entry {
    std::string name;
    std::string description;
    PortIdentity identity;
  };
  bool systemPorts_;
  std::vector<std::string> extraPorts_;
  std::vector<Entry> entries_;
};

}  // namespace bm::win32
