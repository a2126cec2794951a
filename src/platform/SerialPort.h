// The serial port service as the protocol code sees it.
//
// A SerialService lists the ports it can reach and binds a SerialPort object to one of them;
// binding does not open the port. A SerialPort is one device with the fixed line settings of
// the bootloader link: the chosen rate, 8 data bits, no parity, 2 stop bits, no handshake.
//
// What callers rely on:
//  - Write queues the bytes unchanged and returns at once.
//  - XmitWait paces the writer: it returns when the bytes written so far are at most a few
//    milliseconds of line time ahead of the wire (the port's own model of the line; no kernel
//    drain, which costs a USB round trip per call on an adapter). A page goes out one byte at a
//    time with an XmitWait after each.
//  - Drain returns when every written byte has left the port. It is called once where a reply
//    window must not start before the bytes are out: after a page's last data byte, before a
//    rate change, and before close. Some ports cannot keep that promise (a pseudo-terminal
//    drains at once, some adapters report drained while their own buffer still holds the
//    bytes): BytesOnTheWay says how many may still be on the line.
//  - BytesOnTheWay gives the written bytes that by the port's own model of the line may not
//    have left yet: a command just written, or what a Drain that returned early did not prove
//    gone. A reply window covers their line time as well as the reply's.
//  - Flush discards received bytes only: a read afterwards returns only bytes that arrived after
//    it. Bytes already written still go out (a command written just before a flush must arrive).
//  - Close drains first (a farewell "X" must reach the target), then closes; reads afterwards
//    return nothing.
//  - Read(n) returns at once with up to n waiting bytes, possibly none; it never blocks.
//  - A port that fails (device unplugged) behaves as closed from then on and reports no error
//    storm: the caller sees short reads.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>

namespace bm {

// Why a port would not open, told apart by the error the system gave.
struct OpenFailure {
  enum class Kind {
    None,
    PermissionDenied,  // the user may not read and write the device file
    Busy,              // another program holds the port
    NoDevice,          // the device is not there (unplugged)
    Other,
  };
  Kind kind = Kind::None;
  std::string group;   // PermissionDenied: a group that may use the device, safe to join; or empty
  std::string detail;  // the system's own words
  std::string owner;   // PermissionDenied: "root:root, crw-------", the device file's owner and mode
};

class SerialPort {
 public:
  virtual ~SerialPort() = default;

  virtual bool Open() = 0;
  virtual void Close() = 0;
  virtual bool IsOpen() const = 0;
  virtual void SetBaudRate(int baud) = 0;  // may be called while closed; applies on open
  virtual int BaudRate() const = 0;
  virtual void Write(std::string_view bytes) = 0;
  virtual void XmitWait() = 0;
  virtual void Drain() = 0;
  // 0 for a port without a model of the line (its Drain keeps its promise).
  virtual int BytesOnTheWay() const { return 0; }
  virtual void Flush() = 0;
  virtual int BytesAvailable() = 0;
  virtual std::string Read(int n) = 0;
  // Why the last Open() failed; Kind::None after a successful one.
  virtual OpenFailure LastOpenFailure() const { return {}; }

  // What the port asked of the operating system since it was made, for benchmarks and tests.
  struct Counts {
    int64_t writes = 0;  // write calls handed to the OS
    int64_t drains = 0;  // kernel drains
  };
  virtual Counts LineCounts() const { return {}; }
};

// What the system knows of a port beyond its name, for telling adapters apart; empty fields where
// it knows nothing (a pseudo-terminal, a built-in UART).
struct PortIdentity {
  std::string stableName;    // /dev/serial/by-id/...: the same name whichever USB socket it is in
  std::string usbId;         // "0403:6001", vendor:product
  std::string serialNumber;  // the adapter's own serial number
};

class SerialService {
 public:
  virtual ~SerialService() = default;

  virtual int Count() = 0;
  virtual std::string PortName(int index) = 0;
  virtual std::string Description(int index) = 0;
  virtual PortIdentity Identity(int /*index*/) { return {}; }
  virtual std::unique_ptr<SerialPort> Bind(int index) = 0;
  // Whether its ports can be set to `baud` (asked before a rate is taken over, so a rate they
  // would refuse is reported at once rather than as a target that never answers).
  virtual bool UsableBaudRate(int baud) { return baud > 0; }
  // Reads the list of ports again (a port plugged in or pulled since); indexes may change.
  // False for a service whose list is fixed (nothing was read).
  virtual bool Refresh() { return false; }
};

// Bytes that crossed the line in one direction; consecutive bytes in the same direction share an
// entry. base/ByteTrace.h formats them.
struct TraceEntry {
  bool toTarget;
  std::string bytes;
};

// Receives every byte that crosses the line, in order; `toTarget` tells the direction.
// Used for --trace and for failure output in tests. Never required: an empty sink costs nothing.
using TraceSink = std::function<void(bool toTarget, std::string_view bytes)>;

}  // namespace bm
