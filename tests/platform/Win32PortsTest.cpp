// The COM port without a device behind it: why a port would not open, told apart as the
// search's reasons need it; the names a port goes by; what a device's IDs say of an adapter; the
// order and contents of the port list.
#ifndef NOMINMAX
#define NOMINMAX
#endif
#define WIN32_LEAN_AND_MEAN
#include <gtest/gtest.h>
#include <windows.h>

#include <algorithm>
#include <string>
#include <vector>

#include "platform/win32/SystemPorts.h"
#include "platform/win32/Win32SerialPort.h"

namespace bm::win32 {
namespace {

TEST(Win32SerialPort, WhyAPortWouldNotOpenIsToldApart) {
  const struct {
    unsigned long error;
    OpenFailure::Kind kind;
    std::string detail;
  } cases[] = {
      // Windows opens a port for one program at a time: the second is denied access.
      {ERROR_ACCESS_DENIED, OpenFailure::Kind::Busy, "busy — another program holds it"},
      {ERROR_SHARING_VIOLATION, OpenFailure::Kind::Busy, "busy — another program holds it"},
      {ERROR_FILE_NOT_FOUND, OpenFailure::Kind::NoDevice, "the system's words"},
      {ERROR_PATH_NOT_FOUND, OpenFailure::Kind::NoDevice, "the system's words"},
      {ERROR_DEVICE_NOT_CONNECTED, OpenFailure::Kind::NoDevice, "the system's words"},
      {ERROR_GEN_FAILURE, OpenFailure::Kind::Other, "the system's words"},
  };
  for (const auto& c : cases) {
    const OpenFailure f = ExplainOpenFailure(c.error, "the system's words");
    EXPECT_EQ(f.kind, c.kind) << c.error;
    EXPECT_EQ(f.detail, c.detail) << c.error;
    EXPECT_EQ(f.group, "") << "no group to join on Windows";
  }
}

TEST(Win32SerialPort, APortThatIsNotThereOrIsNoSerialPortDoesNotOpen) {
  Win32SerialPort missing("COM239");
  EXPECT_FALSE(missing.Open());
  EXPECT_EQ(missing.LastOpenFailure().kind, OpenFailure::Kind::NoDevice);
  EXPECT_FALSE(missing.IsOpen());
  missing.Write("?");  // a closed port takes nothing and says nothing
  missing.Drain();
  EXPECT_EQ(missing.Read(10), "");
  EXPECT_EQ(missing.LineCounts().writes, 0);

  Win32SerialPort notSerial("NUL");  // opens, but has no line settings
  EXPECT_FALSE(notSerial.Open());
  EXPECT_EQ(notSerial.LastOpenFailure().kind, OpenFailure::Kind::Other);
  EXPECT_EQ(notSerial.LastOpenFailure().detail.rfind("not a serial device", 0), 0u)
      << notSerial.LastOpenFailure().detail;
  EXPECT_FALSE(notSerial.IsOpen());
}

TEST(Win32SerialPort, EveryPortHasOnePathAndOneSpelling) {
  const struct {
    const char* name;
    const char* path;
    const char* canonical;
  } cases[] = {
      {"COM3", "\\\\.\\COM3", "COM3"},
      {"COM10", "\\\\.\\COM10", "COM10"},  // above 9 only the device path opens it
      {"com10", "\\\\.\\com10", "COM10"},
      {"\\\\.\\COM10", "\\\\.\\COM10", "COM10"},
      {"\\\\.\\CNCA0", "\\\\.\\CNCA0", "\\\\.\\CNCA0"},  // a virtual port's own name
      {"COM", "\\\\.\\COM", "COM"},
      {"COMX1", "\\\\.\\COMX1", "COMX1"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(DevicePath(c.name), c.path) << c.name;
    EXPECT_EQ(CanonicalPortName(c.name), c.canonical) << c.name;
  }
}

TEST(SystemPorts, AnAdaptersIdsGiveItsUsbIdAndSerialNumber) {
  const struct {
    const char* hardwareId;
    const char* instanceId;
    const char* usbId;
    const char* serial;
  } cases[] = {
      {"USB\\VID_2341&PID_0043&REV_0001", "USB\\VID_2341&PID_0043\\85736323838351F0B0A1", "2341:0043",
       "85736323838351F0B0A1"},
      // The FTDI driver's bus: the port's letter follows the serial number.
      {"FTDIBUS\\COMPORT&VID_0403&PID_6001", "FTDIBUS\\VID_0403+PID_6001+A50285BIA\\0000", "0403:6001",
       "A50285BI"},
      // No serial number: the system made the instance ID up.
      {"USB\\VID_1A86&PID_7523&REV_0254", "USB\\VID_1A86&PID_7523\\5&2C0B5E5B&0&2", "1a86:7523", ""},
      // An interface of a composite device: the serial number is its parent's.
      {"USB\\VID_2341&PID_8036&MI_00", "USB\\VID_2341&PID_8036&MI_00\\6&3A1B2C&0&0000", "2341:8036", ""},
      {"ACPI\\PNP0501", "ACPI\\PNP0501\\1", "", ""},  // a built-in UART
      {"", "", "", ""},
  };
  for (const auto& c : cases) {
    const PortIdentity id = IdentityFromIds(c.hardwareId, c.instanceId);
    EXPECT_EQ(id.usbId, c.usbId) << c.instanceId;
    EXPECT_EQ(id.serialNumber, c.serial) << c.instanceId;
    EXPECT_EQ(id.stableName, "") << c.instanceId;
  }
}

TEST(SystemPorts, PortsAreListedInNumberOrderAndNamedOnesLast) {
  std::vector<std::string> names{"\\\\.\\CNCA0", "COM10", "COM2", "COM100", "COM1", "COM99999999999"};
  std::sort(names.begin(), names.end(), PortNameOrder);
  EXPECT_EQ(names,
            (std::vector<std::string>{"COM1", "COM2", "COM10", "COM100", "COM99999999999", "\\\\.\\CNCA0"}));

  Win32SerialService service(true, {"COM239"});
  ASSERT_GE(service.Count(), 1);
  EXPECT_EQ(service.PortName(service.Count() - 1), "COM239");
  EXPECT_EQ(service.Description(service.Count() - 1), "named device");
  const std::vector<std::string> listed = SystemPortNames();
  EXPECT_EQ(service.Count(), static_cast<int>(listed.size()) + 1);
  EXPECT_TRUE(std::is_sorted(listed.begin(), listed.end(), PortNameOrder));
}

}  // namespace
}  // namespace bm::win32
