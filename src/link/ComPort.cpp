#include "link/ComPort.h"

namespace bm {

void ComPort::Select(int index) {
  if (port_ && port_->IsOpen()) port_->Close();
  port_ = service_.Bind(index);
  index_ = port_ ? index : -1;
  name_ = port_ ? service_.PortName(index) : std::string();
  if (port_) port_->SetBaudRate(baud_);
}

void ComPort::SetBaudRate(int baud) {
  baud_ = baud;
  if (port_) port_->SetBaudRate(baud);
}

bool ComPort::Open() { return port_ && (port_->IsOpen() || port_->Open()); }

OpenFailure ComPort::LastOpenFailure() const {
  if (!port_) return {OpenFailure::Kind::NoDevice, "", "no port selected", ""};
  return port_->LastOpenFailure();
}

void ComPort::Close() {
  if (port_) port_->Close();
}

bool ComPort::IsOpen() const { return port_ && port_->IsOpen(); }

void ComPort::Write(std::string_view bytes) {
  if (!port_) return;
  if (trace_) trace_(true, bytes);
  port_->Write(bytes);
}

void ComPort::XmitWait() {
  if (port_) port_->XmitWait();
}

void ComPort::Drain() {
  if (port_) port_->Drain();
}

void ComPort::Flush() {
  if (port_) port_->Flush();
}

int ComPort::BytesAvailable() { return port_ ? port_->BytesAvailable() : 0; }

std::string ComPort::Read(int n) {
  if (!port_ || n <= 0) return {};
  std::string bytes = port_->Read(n);
  if (trace_ && !bytes.empty()) trace_(false, bytes);
  return bytes;
}

}  // namespace bm
