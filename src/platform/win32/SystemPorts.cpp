#include "platform/win32/SystemPorts.h"

#ifndef NOMINMAX
#define NOMINMAX
#endif
#define WIN32_LEAN_AND_MEAN
#include <windows.h>
// After windows.h: they need its types.
#include <cfgmgr32.h>
#include <setupapi.h>

#include <algorithm>
#include <cctype>
#include <tuple>

#include "platform/win32/Text.h"
#include "platform/win32/Win32SerialPort.h"

namespace bm::win32 {
namespace {

// The COM port device interface and the Ports device class (serial and parallel ports).
const GUID kComPortInterface = {0x86E0D1E0, 0x8089, 0x11D0, {0x9C, 0xE4, 0x08, 0x00, 0x3E, 0x30, 0x1F, 0x73}};
const GUID kPortsClass = {0x4D36E978, 0xE325, 0x11CE, {0xBF, 0xC1, 0x08, 0x00, 0x2B, 0xE1, 0x03, 0x18}};

constexpr int kHighestDosPort = 256;

std::string Upper(std::string text) {
  std::transform(text.begin(), text.end(), text.begin(),
                 [](unsigned char c) { return static_cast<char>(std::toupper(c)); });
  return text;
}

std::string Lower(std::string text) {
  std::transform(text.begin(), text.end(), text.begin(),
                 [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
  return text;
}

bool IsComName(const std::string& name) {
  return name.size() > 3 && Upper(name.substr(0, 3)) == "COM" &&
         std::all_of(name.begin() + 3, name.end(), [](unsigned char c) { return std::isdigit(c); });
}

// The four hex digits after `key` ("VID_", "PID_") in `id`, lowercase; empty when there are none.
std::string HexAfter(const std::string& id, const std::string& key) {
  const size_t at = Upper(id).find(key);
  if (at == std::string::npos || at + key.size() + 4 > id.size()) return {};
  const std::string digits = id.substr(at + key.size(), 4);
  if (!std::all_of(digits.begin(), digits.end(), [](unsigned char c) { return std::isxdigit(c); })) return {};
  return Lower(digits);
}

std::vector<std::string> Split(const std::string& text, char separator) {
  std::vector<std::string> parts;
  size_t start = 0;
  for (size_t at; (at = text.find(separator, start)) != std::string::npos; start = at + 1)
    parts.push_back(text.substr(start, at - start));
  parts.push_back(text.substr(start));
  return parts;
}

// A string property of a device; the first string of a list.
std::string Property(HDEVINFO set, SP_DEVINFO_DATA& device, DWORD property) {
  wchar_t value[512] = {};
  DWORD type = 0;
  if (!::SetupDiGetDeviceRegistryPropertyW(set, &device, property, &type, reinterpret_cast<BYTE*>(value),
                                           sizeof value - sizeof(wchar_t), nullptr))
    return {};
  return Utf8(value);
}

// The port's name from its device key ("PortName"), as the Ports class installer wrote it.
std::string PortNameOf(HDEVINFO set, SP_DEVINFO_DATA& device) {
  HKEY key = ::SetupDiOpenDevRegKey(set, &device, DICS_FLAG_GLOBAL, 0, DIREG_DEV, KEY_READ);
  if (key == INVALID_HANDLE_VALUE) return {};
  wchar_t value[64] = {};
  DWORD size = sizeof value - sizeof(wchar_t), type = 0;
  const bool read = ::RegQueryValueExW(key, L"PortName", nullptr, &type, reinterpret_cast<BYTE*>(value),
                                       &size) == ERROR_SUCCESS &&
                    type == REG_SZ;
  ::RegCloseKey(key);
  return read ? Utf8(value) : std::string();
}

std::string InstanceIdOf(HDEVINFO set, SP_DEVINFO_DATA& device) {
  wchar_t id[512] = {};
  if (!::SetupDiGetDeviceInstanceIdW(set, &device, id, 511, nullptr)) return {};
  return Utf8(id);
}

// The USB device above a port's device node: a composite device's interface ("&MI_00") has no
// serial number of its own; its parent has.
std::string ParentInstanceId(DEVINST device) {
  DEVINST parent = 0;
  wchar_t id[512] = {};
  if (::CM_Get_Parent(&parent, device, 0) != CR_SUCCESS) return {};
  if (::CM_Get_Device_IDW(parent, id, 511, 0) != CR_SUCCESS) return {};
  return Utf8(id);
}

// "USB Serial Port (COM3)" without " (COM3)": the name stands beside it anyway.
std::string WithoutPortName(std::string description, const std::string& name) {
  const std::string suffix = " (" + name + ")";
  if (description.size() > suffix.size() &&
      Upper(description.substr(description.size() - suffix.size())) == Upper(suffix))
    description.erase(description.size() - suffix.size());
  return description;
}

}  // namespace

bool PortNameOrder(const std::string& a, const std::string& b) {
  auto key = [](const std::string& name) {
    const bool com = IsComName(name);
    const std::string digits = com ? name.substr(3) : std::string();
    // Nine digits at most as a number: no port number is longer, and stoul must not overflow.
    const unsigned long number = digits.empty() ? 0 : digits.size() <= 9 ? std::stoul(digits) : ~0ul;
    return std::make_tuple(!com, number, Upper(name));
  };
  return key(a) < key(b);
}

PortIdentity IdentityFromIds(const std::string& hardwareId, const std::string& instanceId) {
  PortIdentity identity;
  for (const std::string& id : {instanceId, hardwareId}) {
    const std::string vendor = HexAfter(id, "VID_"), product = HexAfter(id, "PID_");
    if (!vendor.empty() && !product.empty()) {
      identity.usbId = vendor + ":" + product;
      break;
    }
  }
  const std::vector<std::string> parts = Split(instanceId, '\\');
  if (parts.size() != 3) return identity;
  const std::string bus = Upper(parts[0]);
  if (bus == "USB" && Upper(parts[1]).find("&MI_") == std::string::npos &&
      parts[2].find('&') == std::string::npos)
    identity.serialNumber = parts[2];
  if (bus == "FTDIBUS") {
    const std::vector<std::string> fields = Split(parts[1], '+');
    if (fields.size() == 3 && fields[2].size() > 1)
      identity.serialNumber = fields[2].substr(0, fields[2].size() - 1);
  }
  return identity;
}

std::vector<SystemPort> SetupApiPorts() {
  std::vector<SystemPort> ports;
  auto scan = [&ports](const GUID& guid, DWORD flags) {
    HDEVINFO set = ::SetupDiGetClassDevsW(&guid, nullptr, nullptr, flags);
    if (set == INVALID_HANDLE_VALUE) return;
    SP_DEVINFO_DATA device{};
    device.cbSize = sizeof device;
    for (DWORD i = 0; ::SetupDiEnumDeviceInfo(set, i, &device); ++i) {
      const std::string name = PortNameOf(set, device);
      if (!IsComName(name)) continue;  // the Ports class holds the printer ports too
      const std::string canonical = CanonicalPortName(name);
      if (std::any_of(ports.begin(), ports.end(), [&](const SystemPort& p) { return p.name == canonical; }))
        continue;
      SystemPort port;
      port.name = canonical;
      std::string description = Property(set, device, SPDRP_FRIENDLYNAME);
      if (description.empty()) description = Property(set, device, SPDRP_DEVICEDESC);
      port.description = WithoutPortName(description, name);
      port.identity = IdentityFromIds(Property(set, device, SPDRP_HARDWAREID), InstanceIdOf(set, device));
      if (port.identity.serialNumber.empty()) {
        const PortIdentity parent = IdentityFromIds("", ParentInstanceId(device.DevInst));
        if (parent.usbId == port.identity.usbId || port.identity.usbId.empty()) {
          port.identity.serialNumber = parent.serialNumber;
          if (port.identity.usbId.empty()) port.identity.usbId = parent.usbId;
        }
      }
      ports.push_back(std::move(port));
    }
    ::SetupDiDestroyDeviceInfoList(set);
  };
  scan(kComPortInterface, DIGCF_PRESENT | DIGCF_DEVICEINTERFACE);
  scan(kPortsClass, DIGCF_PRESENT);
  return ports;
}

std::vector<SystemPort> DosDevicePorts() {
  std::vector<SystemPort> ports;
  for (int n = 1; n <= kHighestDosPort; ++n) {
    const std::wstring name = L"COM" + std::to_wstring(n);
    wchar_t target[1024] = {};
    if (::QueryDosDeviceW(name.c_str(), target, 1023) == 0) continue;
    ports.push_back({Utf8(name), Utf8(target), {}});
  }
  return ports;
}

std::vector<SystemPort> SystemPorts() {
  std::vector<SystemPort> ports = SetupApiPorts();
  for (SystemPort& port : DosDevicePorts())
    if (std::none_of(ports.begin(), ports.end(), [&](const SystemPort& p) { return p.name == port.name; }))
      ports.push_back(std::move(port));
  std::sort(ports.begin(), ports.end(),
            [](const SystemPort& a, const SystemPort& b) { return PortNameOrder(a.name, b.name); });
  return ports;
}

std::vector<std::string> SystemPortNames() {
  std::vector<std::string> names;
  for (const SystemPort& port : SystemPorts()) names.push_back(port.name);
  return names;
}

}  // namespace bm::win32
