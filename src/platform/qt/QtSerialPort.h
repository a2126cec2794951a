// The serial port service over Qt Serial Port: the machine's serial ports plus devices named on
// the command line (pseudo-terminals the system does not list).
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "platform/SerialPort.h"

class QSerialPort;

namespace bm::qt {

class QtSerialPort : public SerialPort {
 public:
  explicit QtSerialPort(std::string device);
  ~QtSerialPort() override;

  bool Open() override;
  void Close() override;
  bool IsOpen() const override;
  void SetBaudRate(int baud) override;
  int BaudRate() const override;
  void Write(std::string_view bytes) override;
  void XmitWait() override;
  void Flush() override;
  int BytesAvailable() override;
  std::string Read(int n) override;

 private:
  std::string device_;
  int baud_ = 9600;
  std::unique_ptr<QSerialPort> port_;
};

// The ports the system lists when it is created (the list is not refreshed), followed by the
// extra devices.
class QtSerialService : public SerialService {
 public:
  explicit QtSerialService(bool systemPorts = true, std::vector<std::string> extraDevices = {});

  int Count() override;
  std::string PortName(int index) override;
  std::string Description(int index) override;
  std::unique_ptr<SerialPort> Bind(int index) override;

 private:
  struct Entry {
    std::string name;         // shown after "COMport "
    std::string device;       // what QSerialPort opens
    std::string description;
  };
  std::vector<Entry> entries_;
};

}  // namespace bm::qt
