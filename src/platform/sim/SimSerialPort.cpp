#include "platform/sim/SimSerialPort.h"

#include <algorithm>

#include "protocol/wire.h"

namespace bm::sim {
namespace {

// One command with its arguments ("B", address, data; a check's five bytes) may go out without a
// drain before its reply window: the window covers its line time. More than that (a page's
// data) must be drained first, or the window would start while the page is still on its way.
constexpr int kMaxUndrainedBytes =
    std::max({WIRE_WRITE_EEPROM_BYTES, WIRE_CRC32_BYTES, WIRE_FLASH_CRC_BYTES});

}  // namespace

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

void SimSerialPort::Close() {
  if (open_) Drain();
  open_ = false;
}

bool SimSerialPort::IsOpen() const { return open_ && !target_->Vanished(); }

void SimSerialPort::SetBaudRate(int baud) { baud_ = baud; }

int SimSerialPort::BaudRate() const { return baud_; }

void SimSerialPort::Write(std::string_view bytes) {
  if (!IsOpen()) return;
  ++counts_.writes;
  undrained_ += static_cast<int>(bytes.size());
  target_->Receive(bytes, baud_);
}

void SimSerialPort::XmitWait() {}

void SimSerialPort::Drain() {
  ++counts_.drains;
  undrained_ = 0;
}

int SimSerialPort::BytesOnTheWay() const { return IsOpen() ? target_->BytesOnTheWayIn() : 0; }

void SimSerialPort::CheckDrained() {
  if (undrained_ <= kMaxUndrainedBytes) return;
  target_->NoteUndrainedReplyWindow();
  undrained_ = 0;  // one count per window
}

void SimSerialPort::Flush() {
  if (IsOpen()) target_->DropArrived();
}

int SimSerialPort::BytesAvailable() {
  if (!IsOpen()) return 0;
  CheckDrained();
  return target_->Available();
}

std::string SimSerialPort::Read(int n) {
  if (!IsOpen() || n <= 0) return {};
  CheckDrained();
  std::string bytes = target_->Take(n);
  if (!bytes.empty()) undrained_ = 0;  // a reply shows that what was written before it arrived
  return bytes;
}

std::unique_ptr<SerialPort> SimSerialService::Bind(int) { return std::make_unique<SimSerialPort>(target_); }

}  // namespace bm::sim
