// The main window's port object: one serial port of the service at a time, with the rate that
// the baud pop-up or a load set. Selecting a port binds it without opening it; selecting another
// port while one is open closes the open one first (without sending anything), so no device is
// left locked. Every byte written or read passes the trace sink when one is set.
#pragma once

#include <memory>
#include <string>
#include <string_view>

#include "platform/SerialPort.h"

namespace bm {

class ComPort {
 public:
  explicit ComPort(SerialService& service) : service_(service) {}

  SerialService& Service() { return service_; }
  void Select(int index);  // binds port `index` of the service
  int SelectedIndex() const { return index_; }
  std::string Name() const { return name_; }

  void SetBaudRate(int baud);  // kept across port changes
  int BaudRate() const { return baud_; }

  bool Open();  // false when nothing is selected or the device refuses
  OpenFailure LastOpenFailure() const;
  void Close();  // written bytes leave first
  bool IsOpen() const;
  void Write(std::string_view bytes);
  void XmitWait();
  void Drain();
  int BytesOnTheWay() const { return port_ ? port_->BytesOnTheWay() : 0; }
  SerialPort::Counts LineCounts() const { return port_ ? port_->LineCounts() : SerialPort::Counts{}; }
  void Flush();
  int BytesAvailable();
  std::string Read(int n);

  void SetTrace(TraceSink sink) { trace_ = std::move(sink); }

 private:
  SerialService& service_;
  std::unique_ptr<SerialPort> port_;
  int index_ = -1;
  std::string name_;
  int baud_ = 9600;
  TraceSink trace_;
};

}  // namespace bm
