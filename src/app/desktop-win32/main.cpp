// brindlemark.exe: the desktop program on Windows. One main window, the view of a presenter over
// the engine, on the Win32 API itself (no toolkit to ship); the port list is the simulated
// target when asked.
//
// TODO(ports): the system's COM ports and --port DEVICE come with the Windows branch of
// app::MakePorts (src/app/PortOptions.cpp); until then this program offers the simulated
// target only, and names the devices it cannot offer yet.
#include <chrono>
#include <cstdio>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "platform/PortList.h"
#include "platform/sim/ExampleBoard.h"
#include "platform/sim/SimSerialPort.h"
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
  --port DEVICE        also offer DEVICE as a serial port (repeatable); "sim" is the simulated
                       target.
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
  MessageBoxW(nullptr, bm::win32::Widen(text).c_str(), L"Brindlemark", MB_OK | (error ? MB_ICONERROR : 0));
}

struct Options {
  bool simulatedTarget = false;
  std::vector<std::string> devices;  // --port, other than "sim"
  std::optional<std::string> file;
};

}  // namespace

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int show) {
  int argc = 0;
  LPWSTR* argvW = CommandLineToArgvW(GetCommandLineW(), &argc);
  std::vector<std::string> args;
  for (int i = 1; i < argc; ++i) args.push_back(bm::win32::Narrow(argvW[i]));  // UTF-16 to UTF-8
  LocalFree(argvW);

  Options options;
  for (size_t i = 0; i < args.size(); ++i) {
    const std::string& a = args[i];
    if (a == "--help" || a == "-h") {
      Say(kUsage, false);
      return 0;
    }
    if (a == "--version") {
      Say(std::string("brindlemark ") + BRINDLEMARK_VERSION_TEXT + "\n", false);
      return 0;
    }
    std::optional<std::string> device;
    if (a == "--simulated-target") {
      options.simulatedTarget = true;
    } else if (a == "--port" && i + 1 < args.size()) {
      device = args[++i];
    } else if (a.rfind("--port=", 0) == 0) {
      device = a.substr(7);
    } else if ((a.size() > 1 && a[0] == '-') || options.file) {
      Say("brindlemark: unknown option '" + a + "'\n" + kUsage, true);
      return 2;
    } else {
      options.file = a;
    }
    if (device && *device == "sim")
      options.simulatedTarget = true;
    else if (device)
      options.devices.push_back(*device);
  }

  bm::PortList ports;
  if (options.simulatedTarget) {
    const auto start = std::chrono::steady_clock::now();
    auto now = [start] {
      return std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count();
    };
    ports.Add(std::make_unique<bm::sim::SimSerialService>(
        std::make_shared<bm::sim::SimTarget>(bm::sim::ExampleBoardConfig(), now)));
  }

  bm::win32::WindowLoop loop;
  bm::win32::Win32Dialogs dialogs;
  bm::win32::MainWindow window;
  dialogs.SetOwner(window.Handle());
  bm::Engine engine(loop, ports);
  bm::Presenter presenter(engine, window.Display(), dialogs);
  // The presenter's own hook shows the message and the trail in a box; the program keeps running.
  window.Attach(presenter);
  loop.SetMessageFilter([&window](void* msg) { return window.FilterMessage(msg); });
  window.Show(show);
  window.Open();
  if (!options.devices.empty()) {
    std::string names;
    for (const std::string& d : options.devices) names += "\n" + d;
    dialogs.MessageBox("This build offers no serial port of the system yet; not offered:" + names);
  }
  if (options.file) window.LoadFileLater(*options.file);

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
