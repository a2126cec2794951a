// The port list read from sysfs, as on a machine where no udev daemon runs: a tree made in a
// folder of its own with the kinds of tty a machine has.
#include <gtest/gtest.h>
#include <stdlib.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "platform/posix/SystemPorts.h"

namespace bm::posix {
namespace {

namespace fs = std::filesystem;

// A fake /sys: devices under devices/, their ttys linked from class/tty, drivers and buses as
// links into bus/ (whose targets need not exist: only their names count).
class FakeSys {
 public:
  FakeSys() {
    char dir[] = "/tmp/bm-sysfs-XXXXXX";
    root_ = ::mkdtemp(dir);
    fs::create_directories(root_ / "class" / "tty");
  }
  ~FakeSys() { fs::remove_all(root_); }
  std::string Root() const { return root_.string(); }

  // A device folder (relative to devices/) on `bus` with `driver`, and attribute files.
  void Device(const std::string& path, const std::string& bus, const std::string& driver,
              const std::vector<std::pair<std::string, std::string>>& attributes = {}) {
    const fs::path dir = root_ / "devices" / path;
    fs::create_directories(dir);
    if (!bus.empty()) fs::create_symlink(root_ / "bus" / bus, dir / "subsystem");
    if (!driver.empty()) fs::create_symlink(root_ / "bus" / bus / "drivers" / driver, dir / "driver");
    for (const auto& [name, value] : attributes) std::ofstream(dir / name) << value << '\n';
  }
  // A tty under `parent` (relative to devices/; empty for a virtual one), and its class link.
  void Tty(const std::string& name, const std::string& parent, const std::string& type = "") {
    const fs::path dir = parent.empty() ? root_ / "devices" / "virtual" / "tty" / name
                                        : root_ / "devices" / parent / "tty" / name;
    fs::create_directories(dir);
    std::ofstream(dir / "uevent") << "MAJOR=188\nMINOR=0\nDEVNAME=" << name << '\n';
    if (!type.empty()) std::ofstream(dir / "type") << type << '\n';
    if (!parent.empty())
      fs::create_symlink("../../../" + fs::path(parent).filename().string(), dir / "device");
    fs::create_symlink(fs::relative(dir, root_ / "class" / "tty"), root_ / "class" / "tty" / name);
  }

 private:
  fs::path root_;
};

// USB adapters and boards with their IDs, serial and product; a UART found at its address; never
// a virtual console nor a phantom UART entry (type 0: no UART answered). Name order counts the
// trailing number.
TEST(SystemPorts, SysfsListsTheRealPortsWithTheirUsbFacts) {
  FakeSys sys;
  const std::string hub = "pci0000:00/0000:00:14.0/usb1";
  sys.Device(
      hub + "/1-2", "usb", "usb",
      {{"idVendor", "0403"}, {"idProduct", "6001"}, {"serial", "A10K1234"}, {"product", "FT232R USB UART"}});
  sys.Device(hub + "/1-2/1-2:1.0", "usb", "ftdi_sio");
  sys.Device(hub + "/1-2/1-2:1.0/ttyUSB2", "usb-serial", "ftdi_sio");
  sys.Tty("ttyUSB2", hub + "/1-2/1-2:1.0/ttyUSB2");
  sys.Device(hub + "/1-4", "usb", "usb",
             {{"idVendor", "1a86"}, {"idProduct", "7523"}});  // no serial, no name
  sys.Device(hub + "/1-4/1-4:1.0", "usb", "ch341");
  sys.Device(hub + "/1-4/1-4:1.0/ttyUSB10", "usb-serial", "ch341-uart");
  sys.Tty("ttyUSB10", hub + "/1-4/1-4:1.0/ttyUSB10");
  sys.Device(
      hub + "/1-3", "usb", "usb",
      {{"idVendor", "2A03"}, {"idProduct", "0043"}, {"serial", "7563331"}, {"product", "Arduino Uno"}});
  sys.Device(hub + "/1-3/1-3:1.0", "usb", "cdc_acm");
  sys.Tty("ttyACM0", hub + "/1-3/1-3:1.0");
  // A PnP UART on the serial core's bus: named after the driver that holds it.
  sys.Device("pnp0/00:00", "pnp", "serial");
  sys.Device("pnp0/00:00/00:00:0", "serial-base", "ctrl");
  sys.Device("pnp0/00:00/00:00:0/00:00:0.0", "serial-base", "port");
  sys.Tty("ttyS0", "pnp0/00:00/00:00:0/00:00:0.0", "4");
  sys.Device("platform/serial8250", "platform", "serial8250");
  sys.Device("platform/serial8250/serial8250:0", "serial-base", "ctrl");
  sys.Device("platform/serial8250/serial8250:0/serial8250:0.1", "serial-base", "port");
  sys.Tty("ttyS1", "platform/serial8250/serial8250:0/serial8250:0.1", "0");
  sys.Tty("tty0", "");
  sys.Tty("console", "");

  const std::vector<SystemPort> ports = SysfsPorts(sys.Root(), sys.Root() + "/no-links");
  struct Expected {
    const char* name;
    const char* description;
    const char* usbId;
    const char* serial;
  };
  const Expected expected[] = {
      {"ttyACM0", "Arduino Uno", "2a03:0043", "7563331"},
      {"ttyS0", "serial", "", ""},
      {"ttyUSB2", "FT232R USB UART", "0403:6001", "A10K1234"},
      {"ttyUSB10", "ch341-uart", "1a86:7523", ""},
  };
  ASSERT_EQ(ports.size(), std::size(expected));
  for (size_t i = 0; i < ports.size(); ++i) {
    SCOPED_TRACE(expected[i].name);
    EXPECT_EQ(ports[i].name, expected[i].name);
    EXPECT_EQ(ports[i].device, std::string("/dev/") + expected[i].name);
    EXPECT_EQ(ports[i].description, expected[i].description);
    EXPECT_EQ(ports[i].identity.usbId, expected[i].usbId);
    EXPECT_EQ(ports[i].identity.serialNumber, expected[i].serial);
    EXPECT_EQ(ports[i].identity.stableName, "");
  }
}

// Whatever this machine has, udev's enumeration and the sysfs scan find the same ports (with a
// udev daemon its database may describe them better).
TEST(SystemPorts, UdevAndSysfsFindTheSamePortsHere) {
  const std::optional<std::vector<SystemPort>> udev = UdevPorts();
  ASSERT_TRUE(udev);
  const std::vector<SystemPort> sysfs = SysfsPorts();
  ASSERT_EQ(udev->size(), sysfs.size());
  for (size_t i = 0; i < sysfs.size(); ++i) {
    EXPECT_EQ((*udev)[i].name, sysfs[i].name);
    EXPECT_EQ((*udev)[i].device, sysfs[i].device);
    if (!UdevRuns()) {
      EXPECT_EQ((*udev)[i].description, sysfs[i].description);
    }
  }
}

}  // namespace
}  // namespace bm::posix
