// brindlemark.exe: the desktop program on Windows. One main window, the view of a presenter over
// the engine, on the Win32 API itself (no toolkit to ship); the ports are the system's COM
// ports, the devices named with --port and, when asked, the simulated target — the same list
// the command line searches (app::MakePorts).
#include <cstdio>
#include <cstdlib>
#include <optional>
#include <string>
#include <vector>

#include "app/PortOptions.h"
#include "platform/win32/Text.h"
#include "platform/win32/Win32Dialogs.h"
#include "platform/win32/WindowLoop.h"
#include "shell/core/Engine.h"
#include "shell/core/Presenter.h"
#include "shell/win32/MainWindow.h"
#include "version.h"  // BRINDLEMARK_VERSION_TEXT, written by cmake/WindowsWindow.cmake

// After our headers, and its macros taken back: they would rename Dialogs::MessageBox and
// Bootloader::Yield.
// clang-format off
#include <windows.h>
#include <shellapi.h>
#undef MessageBox
#undef Yield
// clang-format on

namespace {

constexpr const char* kUsage = R"(Usage: brindlemark [OPTIONS] [FILE]

Writes firmware into AVR microcontrollers through their serial bootloader. FILE (a .hex, .eep,
.ppro, .pac or .pack file) is loaded at start, as Load loads it.

Options:
  --port DEVICE        also offer DEVICE (COM10, \\.\COM10) as a serial port (repeatable);
                       "sim" is the simulated target.
  --simulated-target   offer the simulated target as port "sim".
  --help               show this text.
  --version            show the version.
)";

// A window program has no console of its own: the text goes to the console it was started
// from, or into a box.
void Say(const std::string& text, bool error) {
  if (AttachConsole(ATTACH_PARENT_PROCESS)) {
    if (FILE* out = std::fopen("CONOUT$", "w")) {
      std::fputs(text.c_str(), out);
      std::fclose(out);
      return;
    }
  }
  MessageBoxW(nullptr, bm::win32::Wide(text).c_str(), L"Brindlemark", MB_OK | (error ? MB_ICONERROR : 0));
}

// A production record is kept on Linux only for now (docs/records.md); asked for here, the
// window does not start as if it kept one.
bool RecordAsked(const std::vector<std::string>& args) {
  if (const char* env = std::getenv("BRINDLEMARK_RECORD"); env && *env) return true;
  for (const std::string& a : args)
    if (a == "--record" || a.rfind("--record=", 0) == 0) return true;
  return false;
}

}  // namespace

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int show) {
  int argc = 0;
  LPWSTR* argvW = CommandLineToArgvW(GetCommandLineW(), &argc);
  std::vector<std::string> args;
  for (int i = 1; i < argc; ++i) args.push_back(bm::win32::Utf8(argvW[i]));  // UTF-16 to UTF-8
  LocalFree(argvW);

  for (const std::string& a : args) {
    if (a == "--help" || a == "-h") {
      Say(kUsage, false);
      return 0;
    }
    if (a == "--version") {
      Say(std::string("brindlemark ") + BRINDLEMARK_VERSION_TEXT + "\n", false);
      return 0;
    }
  }
  if (RecordAsked(args)) {
    Say("brindlemark: --record (or BRINDLEMARK_RECORD) works on Linux only for now: this build keeps no "
        "production record\n",
        true);
    return 2;
  }
  const bm::app::PortOptions portOptions = bm::app::TakePortOptions(args);
  // What is left is at most one file to load; anything that looks like an option is unknown.
  std::optional<std::string> file;
  for (const std::string& a : args) {
    if ((a.size() > 1 && a[0] == '-') || file) {
      Say("brindlemark: unknown option '" + a + "'\n" + kUsage, true);
      return 2;
    }
    file = a;
  }

  bm::app::Ports ports = bm::app::MakePorts(portOptions);
  bm::win32::WindowLoop loop;
  bm::win32::Win32Dialogs dialogs;
  bm::win32::MainWindow window;
  dialogs.SetOwner(window.Handle());
  bm::Engine engine(loop, *ports.list);
  bm::Presenter presenter(engine, window.Display(), dialogs);
  // The presenter's own hook shows the message and the trail in a box; the program keeps running.
  window.Attach(presenter);
  loop.SetMessageFilter([&window](void* msg) { return window.FilterMessage(msg); });
  window.Show(show);
  window.Open();
  if (file) window.LoadFileLater(*file);

  // Handlers never let an error out; this is the last net.
  for (;;) {
    try {
      return loop.Run();
    } catch (...) {
      const std::exception_ptr error = std::current_exception();
      presenter.Handle([&error] { std::rethrow_exception(error); });
      if (!IsWindow(window.Handle())) return 1;
    }
  }
}
