// The simulated target behind the serial port interface, offered as one port named "sim".
//
// Bytes written reach the target at once, and a paced target carries them at the line's pace.
// XmitWait and Drain return at once, as on a pseudo-terminal: BytesOnTheWay says what the
// target's line still carries (the port checks, too, that a reply window never starts with a
// page's bytes not drained); replies become readable when the target's clock says so. Opening
// the port resets the board when the target is so configured, and drops reply bytes that
// arrived while the port was closed. A target that vanished makes the port fail like an
// unplugged adapter: it reads as closed, Open fails, reads return nothing, and nothing is
// reported beyond that.
#pragma once

#include <memory>

#include "platform/SerialPort.h"
#include "platform/sim/SimTarget.h"

namespace bm::sim {

class SimSerialPort : public SerialPort {
 public:
  explicit SimSerialPort(std::shared_ptr<SimTarget> target);

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

 private:
  std::shared_ptr<SimTarget> target_;
  void CheckDrained();

  bool open_ = false;
  int baud_ = 9600;
  Counts counts_;
  int undrained_ = 0;  // bytes written since the last drain or the last reply byte read
};

// A service with the one port "sim".
class SimSerialService : public SerialService {
 public:
  explicit SimSerialService(std::shared_ptr<SimTarget> target) : target_(std::move(target)) {}

  int Count() override { return 1; }
  std::string PortName(int) override { return "sim"; }
  std::string Description(int) override { return "simulated bootloader target"; }
  std::unique_ptr<SerialPort> Bind(int index) override;

  SimTarget& Target() { return *target_; }

 private:
  std::shared_ptr<SimTarget> target_;
};

}  // namespace bm::sim
