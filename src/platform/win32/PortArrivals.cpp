#include "platform/win32/PortArrivals.h"

#ifndef NOMINMAX
#define NOMINMAX
#endif
#define WIN32_LEAN_AND_MEAN
#include <windows.h>
// After windows.h: it needs its types.
#include <dbt.h>

#include "platform/win32/SystemPorts.h"

namespace bm::win32 {
namespace {

const GUID kComPortInterface = {0x86E0D1E0, 0x8089, 0x11D0, {0x9C, 0xE4, 0x08, 0x00, 0x3E, 0x30, 0x1F, 0x73}};
constexpr const wchar_t* kWindowClass = L"BrindlemarkPortArrivals";

LRESULT CALLBACK WindowProcedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  if (message == WM_DEVICECHANGE && (wParam == DBT_DEVICEARRIVAL || wParam == DBT_DEVICEREMOVECOMPLETE)) {
    if (auto* arrivals = reinterpret_cast<PortArrivals*>(::GetWindowLongPtrW(window, GWLP_USERDATA)))
      arrivals->Notified();
    return TRUE;
  }
  return ::DefWindowProcW(window, message, wParam, lParam);
}

}  // namespace

PortArrivals::PortArrivals(Win32Loop& loop, std::function<void()> changed,
                           std::function<std::vector<std::string>()> listPorts,
                           std::chrono::milliseconds rescanInterval)
    : loop_(loop),
      changed_(std::move(changed)),
      listPorts_(listPorts ? std::move(listPorts) : SystemPortNames),
      interval_(rescanInterval) {
  known_ = listPorts_();
  WNDCLASSEXW windowClass{};
  windowClass.cbSize = sizeof windowClass;
  windowClass.lpfnWndProc = WindowProcedure;
  windowClass.hInstance = ::GetModuleHandleW(nullptr);
  windowClass.lpszClassName = kWindowClass;
  ::RegisterClassExW(&windowClass);  // fails harmlessly when a second one registers it again
  HWND window = ::CreateWindowExW(0, kWindowClass, L"", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr,
                                  windowClass.hInstance, nullptr);
  if (window) {
    ::SetWindowLongPtrW(window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(this));
    DEV_BROADCAST_DEVICEINTERFACE_W filter{};
    filter.dbcc_size = sizeof filter;
    filter.dbcc_devicetype = DBT_DEVTYP_DEVICEINTERFACE;
    filter.dbcc_classguid = kComPortInterface;
    notification_ = ::RegisterDeviceNotificationW(window, &filter, DEVICE_NOTIFY_WINDOW_HANDLE);
    window_ = window;
  }
  Schedule();
}

PortArrivals::~PortArrivals() {
  loop_.Cancel(rescan_);
  if (notification_) ::UnregisterDeviceNotification(static_cast<HDEVNOTIFY>(notification_));
  if (window_) ::DestroyWindow(static_cast<HWND>(window_));
}

const char* PortArrivals::Source() const {
  return notification_ ? "device notifications and a rescan" : "a rescan";
}

void PortArrivals::Notified() {
  known_ = listPorts_();  // what the caller lists now; the rescan looks for changes after it
  changed_();
}

void PortArrivals::Schedule() {
  rescan_ = loop_.After(interval_, [this] {
    rescan_ = 0;
    Rescan();
  });
}

void PortArrivals::Rescan() {
  std::vector<std::string> now = listPorts_();
  Schedule();
  if (now == known_) return;
  known_ = std::move(now);
  changed_();
}

}  // namespace bm::win32
