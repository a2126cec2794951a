#include "app/PortOptions.h"

#include <chrono>

#include "platform/sim/ExampleBoard.h"
#include "platform/sim/SimSerialPort.h"
#ifdef _WIN32
#include "platform/win32/Win32SerialPort.h"
#else
#include "platform/posix/PosixSerialPort.h"
#endif

namespace bm::app {
namespace {

#ifdef _WIN32
using SystemSerialService = win32::Win32SerialService;
// Linux sets an adapter's low-latency flag (1 ms instead of the FTDI's 16 ms latency timer);
// Windows offers no call for it.
constexpr const char* kTraceNote =
    "note: Windows offers no call for an adapter's low-latency mode; an FTDI adapter's latency timer "
    "(16 ms unless set lower) is a setting of its driver: Device Manager, the port's Properties, Port "
    "Settings, Advanced, Latency Timer (1 ms for the fastest replies)";
#else
using SystemSerialService = posix::PosixSerialService;
constexpr const char* kTraceNote = "";
#endif

}  // namespace

PortOptions TakePortOptions(std::vector<std::string>& args) {
  PortOptions options;
  std::vector<std::string> rest;
  for (size_t i = 0; i < args.size(); ++i) {
    const std::string& a = args[i];
    if (a == "--simulated-target") {
      options.simulatedTarget = true;
    } else if (a == "--port" && i + 1 < args.size()) {
      options.devices.push_back(args[++i]);
    } else if (a.rfind("--port=", 0) == 0) {
      options.devices.push_back(a.substr(7));
    } else {
      rest.push_back(a);
    }
  }
  args = std::move(rest);
  return options;
}

Ports MakePorts(const PortOptions& options) {
  Ports ports;
  ports.list = std::make_unique<PortList>();
  std::vector<std::string> devices;
  bool sim = options.simulatedTarget;
  for (const std::string& d : options.devices) {
    if (d == "sim")
      sim = true;
    else
      devices.push_back(d);
  }
  ports.list->Add(std::make_unique<SystemSerialService>(!options.onlyNamed, devices));
  if (sim) {
    const auto start = std::chrono::steady_clock::now();
    auto now = [start] {
      return std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count();
    };
    ports.simTarget = std::make_shared<sim::SimTarget>(sim::ExampleBoardConfig(), now);
    ports.list->Add(std::make_unique<sim::SimSerialService>(ports.simTarget));
  }
  return ports;
}

std::string PortTraceNote() { return kTraceNote; }

}  // namespace bm::app
