#ifndef NOMINMAX
#define NOMINMAX
#endif
#define WIN32_LEAN_AND_MEAN
#include <windows.h>

#include <algorithm>
#include <atomic>
#include <cwchar>
#include <filesystem>

#include "app/cli/System.h"
#include "base/FileOpen.h"
#include "platform/win32/SystemPorts.h"
#include "platform/win32/Text.h"
#include "platform/win32/Win32SerialPort.h"

#ifndef ENABLE_VIRTUAL_TERMINAL_PROCESSING
#define ENABLE_VIRTUAL_TERMINAL_PROCESSING 0x0004
#endif

namespace bm::cli {

bool StderrIsTerminal() {
  HANDLE err = ::GetStdHandle(STD_ERROR_HANDLE);
  DWORD mode = 0;
  if (!::GetConsoleMode(err, &mode)) return false;  // a pipe or a file
  // The bar and the live lines redraw with escape sequences: a console before Windows 10 does not
  // take them, and gets plain lines instead.
  return (mode & ENABLE_VIRTUAL_TERMINAL_PROCESSING) ||
         ::SetConsoleMode(err, mode | ENABLE_VIRTUAL_TERMINAL_PROCESSING);
}

std::tm LocalTime(std::time_t t) {
  std::tm local{};
  ::localtime_s(&local, &t);
  return local;
}

std::optional<std::string> MakePrivateFolder() {
  static std::atomic<unsigned> made{0};
  wchar_t temp[MAX_PATH + 1] = {};
  const DWORD n = ::GetTempPathW(MAX_PATH + 1, temp);
  if (n == 0 || n > MAX_PATH) return std::nullopt;
  for (int attempt = 0; attempt < 100; ++attempt) {
    const std::wstring dir = std::wstring(temp) + L"brindlemark-station-" +
                             std::to_wstring(::GetCurrentProcessId()) + L"-" +
                             std::to_wstring(::GetTickCount()) + L"-" + std::to_wstring(++made);
    if (::CreateDirectoryW(dir.c_str(), nullptr)) return win32::Utf8(dir);
    if (::GetLastError() != ERROR_ALREADY_EXISTS) return std::nullopt;
  }
  return std::nullopt;
}

std::string PortDevice(const std::string& name) { return win32::CanonicalPortName(name); }

std::string RealDevice(const std::string& device) { return win32::CanonicalPortName(device); }

bool PortPresent(const std::string& name) {
  std::string bare = win32::CanonicalPortName(name);
  if (bare.rfind("\\\\.\\", 0) == 0) bare = bare.substr(4);
  wchar_t target[1024];
  if (::QueryDosDeviceW(win32::Wide(bare).c_str(), target, 1024) != 0) return true;
  const std::vector<std::string> listed = win32::SystemPortNames();
  return std::find(listed.begin(), listed.end(), bare) != listed.end();
}

std::string PortFolder(const std::string&) { return {}; }

bool PortsAppearInFolders() { return false; }

FileFacts FactsOf(const std::string& file) {
  const std::filesystem::path path = PathFromName(file);
  // A reserved device name (NUL, CON, COM1; before Windows 11 also with a folder or an extension
  // before it) is a device wherever it is named, as is a pipe's name: their full paths say so.
  wchar_t full[4096];
  const DWORD n = ::GetFullPathNameW(path.c_str(), 4096, full, nullptr);
  if (n > 0 && n < 4096 && std::wcsncmp(full, L"\\\\.\\", 4) == 0) return Facts(FileFacts::Kind::NotRegular);
  WIN32_FILE_ATTRIBUTE_DATA data{};
  if (!::GetFileAttributesExW(path.c_str(), GetFileExInfoStandard, &data)) {
    const DWORD e = ::GetLastError();
    if (e == ERROR_FILE_NOT_FOUND || e == ERROR_PATH_NOT_FOUND || e == ERROR_INVALID_NAME ||
        e == ERROR_DIRECTORY)
      return Facts(FileFacts::Kind::Missing);
    if (e == ERROR_ACCESS_DENIED) return Facts(FileFacts::Kind::Denied);
    return Facts(FileFacts::Kind::Unknown, 0, win32::SystemMessage(e));
  }
  if (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) return Facts(FileFacts::Kind::Directory);
  return Facts(FileFacts::Kind::Regular,
               (static_cast<uint64_t>(data.nFileSizeHigh) << 32) | data.nFileSizeLow);
}

bool MayRead(const std::string& file) {
  HANDLE h = ::CreateFileW(PathFromName(file).c_str(), GENERIC_READ,
                           FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING, 0,
                           nullptr);
  if (h == INVALID_HANDLE_VALUE) return false;
  ::CloseHandle(h);
  return true;
}

std::optional<std::string> WhyNotWritable(const std::string& dir) {
  // Windows has no access() that answers for a folder: a file made and gone again does.
  const std::filesystem::path probe =
      PathFromName(dir) / (L".brindlemark-write-test-" + std::to_wstring(::GetCurrentProcessId()));
  HANDLE h = ::CreateFileW(probe.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                           FILE_ATTRIBUTE_TEMPORARY | FILE_FLAG_DELETE_ON_CLOSE, nullptr);
  if (h == INVALID_HANDLE_VALUE) return win32::SystemMessage(::GetLastError());
  ::CloseHandle(h);
  return std::nullopt;
}

}  // namespace bm::cli
