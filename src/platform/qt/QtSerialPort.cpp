#include "platform/qt/QtSerialPort.h"

#include <QDeadlineTimer>
#include <QSerialPort>
#include <QSerialPortInfo>
#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <thread>

#include "platform/posix/PosixLine.h"
#include "platform/qt/QtEventLoop.h"
#include "protocol/wire.h"

namespace bm::qt {
namespace {

// A write that has not left after its line time twice over plus this margin is stuck (a
// reader that stopped reading, a dead adapter); waiting longer would freeze the program.
constexpr int kWriteMarginMs = 1000;

// How far the written bytes may run ahead of the line before XmitWait holds the writer back: the
// lead XmitWait allows, far below the 50 ms reply window. The OS and an adapter take bytes faster
// than the line carries them; without a bound a whole page would queue at once, and a loader
// without a receive buffer to spare would be fed faster than it reads. Holding back only past
// this lead keeps the line busy without a sleep (or a kernel drain) per byte.
constexpr auto kMaxLineBacklog = std::chrono::milliseconds(4);
constexpr auto kLineBacklogAfterWait = std::chrono::milliseconds(2);

}  // namespace

OpenFailure ExplainOpenFailure(bool permissionError, bool notFound, int accessErrno,
                               const posix::DeviceAccess& access, const std::string& systemText) {
  if (notFound) return {OpenFailure::Kind::NoDevice, "", systemText, ""};
  if (!permissionError) return {OpenFailure::Kind::Other, "", systemText, ""};
  if (accessErrno == EACCES || accessErrno == EPERM)
    return {OpenFailure::Kind::PermissionDenied, access.group, systemText, access.owner};
  return {OpenFailure::Kind::Busy, "", systemText, ""};
}

QtSerialPort::QtSerialPort(std::string device, posix::SerialFlagsIo flags)
    : device_(std::move(device)), flagsIo_(std::move(flags)) {}

QtSerialPort::~QtSerialPort() { Close(); }

bool QtSerialPort::Open() {
  if (IsOpen()) return true;
  port_.reset();
  failed_ = false;
  error_.clear();

  auto port = std::make_unique<QSerialPort>();
  port->setPortName(QString::fromStdString(device_));
  QObject::connect(port.get(), &QSerialPort::readyRead, port.get(),
                   [] { QtEventLoop::NotifyBytesArrived(); });
  QSerialPort* raw = port.get();
  QObject::connect(raw, &QSerialPort::errorOccurred, raw, [this, raw](QSerialPort::SerialPortError e) {
    // A timeout is the normal answer of a wait that found nothing; not an error of the device.
    if (e == QSerialPort::NoError || e == QSerialPort::TimeoutError) return;
    if (error_.empty()) error_ = raw->errorString().toStdString();
    if (e == QSerialPort::ResourceError) failed_ = true;
  });
  openFailure_ = {};
  const std::string file = posix::DeviceFile(device_);
  lock_ = posix::LockDevice(file);
  if (lock_.held) {
    openFailure_ = {OpenFailure::Kind::Busy, "", lock_.detail, ""};
    return false;
  }
  if (!port->open(QIODevice::ReadWrite)) {
    posix::UnlockDevice(lock_);
    openFailure_ = ExplainOpenFailure(
        port->error() == QSerialPort::PermissionError, port->error() == QSerialPort::DeviceNotFoundError,
        posix::AccessError(file), posix::AccessOf(file), port->errorString().toStdString());
    return false;
  }
  const bool configured = port->setBaudRate(baud_) && port->setDataBits(QSerialPort::Data8) &&
                          port->setParity(QSerialPort::NoParity) && port->setStopBits(QSerialPort::TwoStop) &&
                          port->setFlowControl(QSerialPort::NoFlowControl);
  if (!configured) {
    port->close();
    posix::UnlockDevice(lock_);
    return false;
  }
  port_ = std::move(port);
  serialFlags_ = posix::SetLowLatency(port_->handle(), flagsIo_);
  return true;
}

void QtSerialPort::Close() {
  if (!port_) return;
  if (Usable()) {
    // Qt discards what is still in its buffer on close; a farewell "X" must reach the target.
    Drain();
    // Some adapters (a CH340) report drained while their own buffer still holds the bytes:
    // the line model's time plus one frame covers what they still have to send.
    const auto frame = std::chrono::nanoseconds(WIRE_BITS_PER_FRAME * 1'000'000'000LL / std::max(baud_, 1));
    const auto rest = lineFreeAt_ + frame - std::chrono::steady_clock::now();
    if (rest > std::chrono::nanoseconds::zero()) std::this_thread::sleep_for(rest);
  }
  if (port_->isOpen()) {
    if (serialFlags_) posix::RestoreSerialFlags(port_->handle(), *serialFlags_, flagsIo_);
    port_->close();
  }
  posix::UnlockDevice(lock_);
  serialFlags_.reset();
}

bool QtSerialPort::IsOpen() const { return port_ && port_->isOpen() && !failed_; }

bool QtSerialPort::Usable() {
  if (!port_) return false;
  if (failed_ && port_->isOpen()) {
    port_->close();  // no notifier keeps firing on a dead device
    posix::UnlockDevice(lock_);
  }
  return port_->isOpen();
}

void QtSerialPort::SetBaudRate(int baud) {
  if (Usable() && baud != baud_) Drain();  // bytes still on their way keep the rate they were sent at
  baud_ = baud;
  if (Usable()) port_->setBaudRate(baud);
}

int QtSerialPort::BaudRate() const { return baud_; }

void QtSerialPort::Write(std::string_view bytes) {
  if (!Usable() || bytes.empty()) return;
  port_->write(bytes.data(), static_cast<qint64>(bytes.size()));
  port_->flush();  // hand them to the OS now rather than on the next event-loop turn
  ++counts_.writes;
  const auto now = std::chrono::steady_clock::now();
  const auto lineTime = std::chrono::nanoseconds(static_cast<int64_t>(bytes.size()) * WIRE_BITS_PER_FRAME *
                                                 1'000'000'000LL / std::max(baud_, 1));
  lineFreeAt_ = std::max(lineFreeAt_, now) + lineTime;
}

void QtSerialPort::WaitForLine() {
  const auto backlog = lineFreeAt_ - std::chrono::steady_clock::now();
  if (backlog > kMaxLineBacklog) std::this_thread::sleep_for(backlog - kLineBacklogAfterWait);
}

void QtSerialPort::PassWritesToOs() {
  const qint64 pending = port_->bytesToWrite();
  if (pending <= 0) return;
  const qint64 lineMs = pending * WIRE_BITS_PER_FRAME * 1000 / std::max(baud_, 1);
  QDeadlineTimer deadline(2 * lineMs + kWriteMarginMs);
  while (Usable() && port_->bytesToWrite() > 0 && !deadline.hasExpired()) {
    if (!port_->waitForBytesWritten(static_cast<int>(std::max<qint64>(deadline.remainingTime(), 1)))) break;
  }
}

void QtSerialPort::XmitWait() {
  if (!Usable()) return;
  PassWritesToOs();
  WaitForLine();
}

void QtSerialPort::Drain() {
  if (!Usable()) return;
  PassWritesToOs();
  if (!Usable()) return;
  posix::Drain(port_->handle());
  ++counts_.drains;
}

int QtSerialPort::BytesOnTheWay() const {
  if (!IsOpen()) return 0;
  // A kernel drain that really waited leaves nothing here: the line cannot carry the bytes
  // faster than the model, so it ends after the model's end.
  const auto ahead = lineFreeAt_ - std::chrono::steady_clock::now();
  if (ahead <= std::chrono::nanoseconds::zero()) return 0;
  const int64_t frameNs = WIRE_BITS_PER_FRAME * 1'000'000'000LL / std::max(baud_, 1);
  return static_cast<int>((std::chrono::nanoseconds(ahead).count() + frameNs - 1) / frameNs);
}

void QtSerialPort::Flush() {
  if (!Usable()) return;
  // Bytes written before the flush are output; only the input side is discarded.
  PassWritesToOs();
  if (Usable()) port_->clear(QSerialPort::Input);
}

void QtSerialPort::Pull() {
  const posix::InputState input = posix::LookForInput(port_->handle());
  if (input.readable) port_->waitForReadyRead(0);
  // The other end is gone (adapter unplugged, pseudo-terminal closed): nothing more can come.
  if (input.hungUp) {
    if (error_.empty()) error_ = "the device hung up";
    failed_ = true;
  }
}

int QtSerialPort::BytesAvailable() {
  if (!Usable()) return 0;
  Pull();
  return Usable() ? static_cast<int>(port_->bytesAvailable()) : 0;
}

std::string QtSerialPort::Read(int n) {
  if (!Usable() || n <= 0) return {};
  Pull();
  if (!Usable()) return {};
  const QByteArray bytes = port_->read(n);
  return std::string(bytes.constData(), static_cast<size_t>(bytes.size()));
}

int QtSerialPort::Handle() const { return IsOpen() ? port_->handle() : -1; }

QtSerialService::QtSerialService(bool systemPorts, std::vector<std::string> extraDevices)
    : systemPorts_(systemPorts), extraDevices_(std::move(extraDevices)) {
  Refresh();
}

namespace {

// The port's identity: its stable name, found among the links the system keeps for it, and what
// Qt read of its USB descriptor.
PortIdentity IdentityOf(const std::string& device, const QSerialPortInfo* info) {
  PortIdentity identity;
  identity.stableName = posix::StableName(device);
  if (info && info->hasVendorIdentifier() && info->hasProductIdentifier()) {
    char id[16];
    std::snprintf(id, sizeof id, "%04x:%04x", info->vendorIdentifier(), info->productIdentifier());
    identity.usbId = id;
  }
  if (info) identity.serialNumber = info->serialNumber().toStdString();
  return identity;
}

}  // namespace

bool QtSerialService::Refresh() {
  entries_.clear();
  if (systemPorts_) {
    for (const QSerialPortInfo& info : QSerialPortInfo::availablePorts()) {
      const std::string device = info.systemLocation().toStdString();
      entries_.push_back({info.portName().toStdString(), device, info.description().toStdString(),
                          IdentityOf(device, &info)});
    }
  }
  for (const std::string& device : extraDevices_)
    entries_.push_back({device, device, "named device", IdentityOf(device, nullptr)});
  return true;
}

PortIdentity QtSerialService::Identity(int i) { return entries_.at(i).identity; }

int QtSerialService::Count() { return static_cast<int>(entries_.size()); }
std::string QtSerialService::PortName(int i) { return entries_.at(i).name; }
std::string QtSerialService::Description(int i) { return entries_.at(i).description; }
std::unique_ptr<SerialPort> QtSerialService::Bind(int i) {
  return std::make_unique<QtSerialPort>(entries_.at(i).device);
}

}  // namespace bm::qt
