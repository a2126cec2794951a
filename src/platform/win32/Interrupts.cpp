#include "platform/win32/Interrupts.h"

#ifndef NOMINMAX
#define NOMINMAX
#endif
#define WIN32_LEAN_AND_MEAN
#include <windows.h>
// After windows.h: it needs its types.
#include <shellapi.h>

#include <atomic>
#include <string>
#include <vector>

#include "platform/CommandLoop.h"
#include "platform/win32/Text.h"

namespace bm {
namespace {

HANDLE interruptEvent = nullptr;
std::atomic<int> pending{0};
std::atomic<bool> received{false};
// Started by gang or station: the console's Ctrl-C is the parent's to act on.
std::atomic<bool> supervised{false};

// How long the handler holds off the end the system makes of the program after the console
// window was closed: time for the run to end at its next wait and let the port go.
constexpr DWORD kCloseGraceMs = 4000;

void Note() {
  received = true;
  ++pending;
  ::SetEvent(interruptEvent);
}

BOOL WINAPI OnConsoleControl(DWORD type) {
  if (!win32::NoteConsoleControl(type)) return FALSE;
  // The system ends the program when the handler of these returns; main's return ends it sooner.
  if (type == CTRL_CLOSE_EVENT || type == CTRL_LOGOFF_EVENT || type == CTRL_SHUTDOWN_EVENT)
    ::Sleep(kCloseGraceMs);
  return TRUE;
}

void CALLBACK OnStopRequest(void*, BOOLEAN) { Note(); }

}  // namespace

void InstallInterruptHandlers() {
  if (!interruptEvent) interruptEvent = ::CreateEventW(nullptr, FALSE, FALSE, nullptr);
  ::SetConsoleCtrlHandler(OnConsoleControl, TRUE);
  wchar_t name[256] = {};
  const DWORD n = ::GetEnvironmentVariableW(win32::kStopEventVariable, name, 256);
  if (n == 0 || n >= 256) return;
  ::SetEnvironmentVariableW(win32::kStopEventVariable, nullptr);
  HANDLE stop = ::OpenEventW(SYNCHRONIZE, FALSE, name);
  HANDLE wait = nullptr;
  if (stop &&
      ::RegisterWaitForSingleObject(&wait, stop, OnStopRequest, nullptr, INFINITE, WT_EXECUTEONLYONCE))
    supervised = true;
}

bool InterruptReceived() { return received; }

std::string ThisProgramPath() {
  std::wstring path(MAX_PATH, L'\0');
  for (;;) {
    const DWORD n = ::GetModuleFileNameW(nullptr, path.data(), static_cast<DWORD>(path.size()));
    if (n == 0) return {};
    if (n < path.size()) return win32::Utf8(path.substr(0, n));
    path.resize(path.size() * 2);
  }
}

std::vector<std::string> ProgramArguments(int argc, char** argv) {
  // The console shows what the program writes as UTF-8, as the names it was given are.
  ::SetConsoleOutputCP(CP_UTF8);
  int count = 0;
  wchar_t** wide = ::CommandLineToArgvW(::GetCommandLineW(), &count);
  if (!wide) return std::vector<std::string>(argv + 1, argv + argc);
  std::vector<std::string> args;
  for (int i = 1; i < count; ++i) args.push_back(win32::Utf8(wide[i]));
  ::LocalFree(wide);
  return args;
}

namespace win32 {

void* InterruptEvent() { return interruptEvent; }

int TakeInterrupts() { return pending.exchange(0); }

bool NoteConsoleControl(unsigned long type) {
  switch (type) {
    case CTRL_C_EVENT:
    case CTRL_BREAK_EVENT:
      if (!supervised) Note();
      return true;
    case CTRL_CLOSE_EVENT:
    case CTRL_LOGOFF_EVENT:
    case CTRL_SHUTDOWN_EVENT:
      Note();
      return true;
    default:
      return false;
  }
}

}  // namespace win32
}  // namespace bm
