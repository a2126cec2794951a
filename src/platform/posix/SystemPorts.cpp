#include "platform/posix/SystemPorts.h"

#include <libudev.h>

#include <algorithm>
#include <cctype>
#include <filesystem>
#include <fstream>
#include <memory>
#include <sstream>
#include <tuple>

#include "platform/posix/PosixLine.h"

namespace bm::posix {
namespace {

namespace fs = std::filesystem;

// The first line of a sysfs attribute, without its line end; empty when there is none.
std::string Attribute(const fs::path& file) {
  std::ifstream in(file);
  std::string line;
  std::getline(in, line);
  while (!line.empty() && std::isspace(static_cast<unsigned char>(line.back()))) line.pop_back();
  return line;
}

// The last part of the path a link leads to: a driver's or a bus's name.
std::string LinkName(const fs::path& link) {
  std::error_code ec;
  const fs::path target = fs::read_symlink(link, ec);
  return ec ? std::string() : target.filename().string();
}

std::string Lower(std::string text) {
  std::transform(text.begin(), text.end(), text.begin(),
                 [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
  return text;
}

// A tty with a device behind it, unless its UART driver says no UART answered there (type 0):
// the virtual consoles have no device, the phantom ttyS entries have type 0. Attributes that do
// not exist (a USB adapter has no type) say nothing against it.
bool IsPort(const fs::path& tty) {
  std::error_code ec;
  if (!fs::exists(tty / "device", ec)) return false;
  return Attribute(tty / "type") != "0";
}

// The device's driver. A UART on the serial core's own bus ("port", "ctrl") is named after the
// driver of the device that holds it (a PCI card's, a platform's, "serial" for a PnP UART).
std::string DriverOf(const fs::path& device, const fs::path& top) {
  for (fs::path d = device; d.has_relative_path() && d != top; d = d.parent_path()) {
    if (LinkName(d / "subsystem") == "serial-base") continue;
    return LinkName(d / "driver");
  }
  return {};
}

// The USB device above a tty's device: the first folder up the tree with idVendor and idProduct.
fs::path UsbDeviceAbove(const fs::path& device, const fs::path& top) {
  std::error_code ec;
  for (fs::path d = device; d.has_relative_path() && d != top; d = d.parent_path())
    if (fs::exists(d / "idVendor", ec) && fs::exists(d / "idProduct", ec)) return d;
  return {};
}

// The device file's name from the tty's uevent (DEVNAME), else the tty's own name.
std::string DevName(const fs::path& tty) {
  std::ifstream in(tty / "uevent");
  for (std::string line; std::getline(in, line);)
    if (line.rfind("DEVNAME=", 0) == 0) return line.substr(8);
  return tty.filename().string();
}

// What sysfs tells of one tty: its device file, the USB device's IDs, serial and product, else
// the driver.
SystemPort FromSysfs(const fs::path& tty, const fs::path& top, const std::string& byIdFolder) {
  SystemPort port;
  port.name = tty.filename().string();
  port.device = "/dev/" + DevName(tty);
  std::error_code ec;
  const fs::path device = fs::canonical(tty / "device", ec);
  const std::string driver = ec ? std::string() : DriverOf(device, top);
  const fs::path usb = ec ? fs::path() : UsbDeviceAbove(device, top);
  std::string product;
  if (!usb.empty()) {
    port.identity.usbId = Lower(Attribute(usb / "idVendor")) + ":" + Lower(Attribute(usb / "idProduct"));
    port.identity.serialNumber = Attribute(usb / "serial");
    product = Attribute(usb / "product");
  }
  port.description = product.empty() ? driver : product;
  port.identity.stableName = StableName(port.device, byIdFolder);
  return port;
}

// "ttyUSB2" before "ttyUSB10": the name's trailing number counts as a number.
bool NameOrder(const SystemPort& a, const SystemPort& b) {
  auto split = [](const std::string& name) {
    size_t digits = name.size();
    while (digits > 0 && std::isdigit(static_cast<unsigned char>(name[digits - 1]))) --digits;
    const std::string number = name.substr(digits);
    return std::make_tuple(name.substr(0, digits), number.size(), number);
  };
  return split(a.name) < split(b.name);
}

std::string Property(udev_device* device, const char* key) {
  const char* value = udev_device_get_property_value(device, key);
  return value ? value : "";
}

// The link under /dev/serial/by-id among the device's links (DEVLINKS, space-separated).
std::string ByIdLink(const std::string& devlinks) {
  std::istringstream links(devlinks);
  for (std::string link; links >> link;)
    if (link.rfind("/dev/serial/by-id/", 0) == 0) return link;
  return {};
}

// A port the udev database described: its properties over what sysfs tells.
SystemPort FromUdev(udev_device* device, SystemPort port) {
  if (const char* node = udev_device_get_devnode(device)) port.device = node;
  std::string model = Property(device, "ID_MODEL_FROM_DATABASE");
  if (model.empty()) {
    model = Property(device, "ID_MODEL");
    std::replace(model.begin(), model.end(), '_', ' ');
  }
  if (!model.empty()) port.description = model;
  const std::string vendorId = Property(device, "ID_VENDOR_ID"), modelId = Property(device, "ID_MODEL_ID");
  if (!vendorId.empty() && !modelId.empty()) port.identity.usbId = Lower(vendorId + ":" + modelId);
  const std::string serial = Property(device, "ID_SERIAL_SHORT");
  if (!serial.empty()) port.identity.serialNumber = serial;
  const std::string byId = ByIdLink(Property(device, "DEVLINKS"));
  port.identity.stableName = byId.empty() ? StableName(port.device) : byId;
  return port;
}

}  // namespace

bool UdevRuns(const std::string& control) {
  std::error_code ec;
  return fs::exists(control, ec);
}

std::optional<std::vector<SystemPort>> UdevPorts() {
  const std::unique_ptr<udev, decltype(&udev_unref)> context(udev_new(), udev_unref);
  if (!context) return std::nullopt;
  const std::unique_ptr<udev_enumerate, decltype(&udev_enumerate_unref)> list(
      udev_enumerate_new(context.get()), udev_enumerate_unref);
  if (!list || udev_enumerate_add_match_subsystem(list.get(), "tty") < 0 ||
      udev_enumerate_scan_devices(list.get()) < 0)
    return std::nullopt;
  std::vector<SystemPort> ports;
  const fs::path top = "/sys/devices";
  udev_list_entry* entry = nullptr;
  udev_list_entry_foreach(entry, udev_enumerate_get_list_entry(list.get())) {
    const fs::path tty = udev_list_entry_get_name(entry);
    if (!IsPort(tty)) continue;
    SystemPort port = FromSysfs(tty, top, "/dev/serial/by-id");
    const std::unique_ptr<udev_device, decltype(&udev_device_unref)> device(
        udev_device_new_from_syspath(context.get(), tty.c_str()), udev_device_unref);
    if (device && udev_device_get_is_initialized(device.get())) port = FromUdev(device.get(), port);
    ports.push_back(std::move(port));
  }
  std::sort(ports.begin(), ports.end(), NameOrder);
  return ports;
}

std::vector<SystemPort> SysfsPorts(const std::string& sysRoot, const std::string& byIdFolder) {
  std::vector<SystemPort> ports;
  std::error_code ec;
  const fs::path top = fs::canonical(fs::path(sysRoot) / "devices", ec);
  for (const auto& entry : fs::directory_iterator(fs::path(sysRoot) / "class" / "tty", ec)) {
    if (!IsPort(entry.path())) continue;
    ports.push_back(FromSysfs(entry.path(), top, byIdFolder));
  }
  std::sort(ports.begin(), ports.end(), NameOrder);
  return ports;
}

std::vector<SystemPort> SystemPorts(PortSource* source) {
  if (UdevRuns()) {
    if (std::optional<std::vector<SystemPort>> ports = UdevPorts()) {
      if (source) *source = PortSource::Udev;
      return *ports;
    }
  }
  if (source) *source = PortSource::Sysfs;
  return SysfsPorts();
}

}  // namespace bm::posix
