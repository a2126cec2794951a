#include "platform/sim/SimSerialPort.h"

namespace bm::sim {

SimSerialPort::SimSerialPort(std::shared_ptr<SimTarget> target) : target_(std::move(target)) {}

bool SimSerialPort::Open() {
  if (target_->Vanished()) return open_ = false;
  if (open_) return true;
  open_ = true;
  // Bytes that arrived while nobody listened are lost, as on a real line.
  target_->DropArrived();
  if (target_->Config().restartOnOpen) target_->Restart();
  return true;
}

void SimSerialPort::Close() { open_ = false; }

bool SimSerialPort::IsOpen() const { return open_ && !target_->Vanished(); }

void SimSerialPort::SetBaudRate(int baud) { baud_ = baud; }

int SimSerialPort::BaudRate() const { return baud_; }

void SimSerialPort::Write(std::string_view bytes) {
  if (IsOpen()) target_->Receive(bytes, baud_);
}

void SimSerialPort::XmitWait() {}

void SimSerialPort::Flush() {
  if (IsOpen()) target_->DropArrived();
}

int SimSerialPort::BytesAvailable() { return IsOpen() ? target_->Available() : 0; }

std::string SimSerialPort::Read(int n) { return IsOpen() && n > 0 ? target_->Take(n) : std::string(); }

std::unique_ptr<SerialPort> SimSerialService::Bind(int) { return std::make_unique<SimSerialPort>(target_); }

}  // namespace bm::sim
