// Placeholder until the simulated target lands.
#include "platform/sim/SimSerialPort.h"

namespace bm::sim {

SimSerialPort::SimSerialPort(std::shared_ptr<SimTarget> target) : target_(std::move(target)) {}
bool SimSerialPort::Open() { return open_ = true; }
void SimSerialPort::Close() { open_ = false; }
bool SimSerialPort::IsOpen() const { return open_; }
void SimSerialPort::SetBaudRate(int baud) { baud_ = baud; }
int SimSerialPort::BaudRate() const { return baud_; }
void SimSerialPort::Write(std::string_view bytes) { target_->Receive(bytes, baud_); }
void SimSerialPort::XmitWait() {}
void SimSerialPort::Flush() {}
int SimSerialPort::BytesAvailable() { return target_->Available(); }
std::string SimSerialPort::Read(int n) { return target_->Take(n); }

std::unique_ptr<SerialPort> SimSerialService::Bind(int) { return std::make_unique<SimSerialPort>(target_); }

}  // namespace bm::sim
