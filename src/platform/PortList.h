// The ports a program offers: several services put one after the other, indexed 0..Count()-1.
// The desktop program and the command-line tool build it from the system's ports, devices named
// on the command line (pseudo-terminals the system does not list) and, only when asked, the
// simulated target.
#pragma once

#include <memory>
#include <vector>

#include "platform/SerialPort.h"

namespace bm {

class PortList : public SerialService {
 public:
  void Add(std::unique_ptr<SerialService> service) { services_.push_back(std::move(service)); }

  int Count() override {
    int n = 0;
    for (auto& s : services_) n += s->Count();
    return n;
  }
  std::string PortName(int index) override {
    auto [s, i] = Locate(index);
    return s ? s->PortName(i) : std::string();
  }
  std::string Description(int index) override {
    auto [s, i] = Locate(index);
    return s ? s->Description(i) : std::string();
  }
  PortIdentity Identity(int index) override {
    auto [s, i] = Locate(index);
    return s ? s->Identity(i) : PortIdentity{};
  }
  std::unique_ptr<SerialPort> Bind(int index) override {
    auto [s, i] = Locate(index);
    return s ? s->Bind(i) : nullptr;
  }
  bool Refresh() override {
    bool read = false;
    for (auto& s : services_) read = s->Refresh() || read;
    return read;
  }
  // Any of the ports may be the one the search finds: each service must accept the rate.
  bool UsableBaudRate(int baud) override {
    if (baud <= 0) return false;
    for (auto& s : services_)
      if (!s->UsableBaudRate(baud)) return false;
    return true;
  }

 private:
  std::pair<SerialService*, int> Locate(int index) {
    if (index < 0) return {nullptr, 0};
    for (auto& s : services_) {
      const int n = s->Count();
      if (index < n) return {s.get(), index};
      index -= n;
    }
    return {nullptr, 0};
  }

  std::vector<std::unique_ptr<SerialService>> services_;
};

}  // namespace bm
