// Placeholder until the Qt serial port lands.
#include "platform/qt/QtSerialPort.h"

#include <QSerialPort>

namespace bm::qt {

QtSerialPort::QtSerialPort(std::string device) : device_(std::move(device)) {}
QtSerialPort::~QtSerialPort() = default;
bool QtSerialPort::Open() { return false; }
void QtSerialPort::Close() {}
bool QtSerialPort::IsOpen() const { return false; }
void QtSerialPort::SetBaudRate(int baud) { baud_ = baud; }
int QtSerialPort::BaudRate() const { return baud_; }
void QtSerialPort::Write(std::string_view) {}
void QtSerialPort::XmitWait() {}
void QtSerialPort::Flush() {}
int QtSerialPort::BytesAvailable() { return 0; }
std::string QtSerialPort::Read(int) { return {}; }

QtSerialService::QtSerialService(bool, std::vector<std::string>) {}
int QtSerialService::Count() { return static_cast<int>(entries_.size()); }
std::string QtSerialService::PortName(int i) { return entries_.at(i).name; }
std::string QtSerialService::Description(int i) { return entries_.at(i).description; }
std::unique_ptr<SerialPort> QtSerialService::Bind(int i) { return std::make_unique<QtSerialPort>(entries_.at(i).device); }

}  // namespace bm::qt
