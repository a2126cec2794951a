// Main: the main window's logic without a toolkit.
//
// It owns the shared state, the port object and every operation of the main window: the button
// and menu handlers, the loading step, the serial link and the programming sequences. The Qt
// window, the command-line tool and the tests all drive this one object; none of them repeats a
// step. It talks to the window only through StatusDisplay, to the user through Dialogs, to the
// port only through ComPort, and reaches the event loop only through EventLoop.
//
// Handlers forwarded from a view run through Handle(): errors never unwind into the toolkit, and
// the busy guard keeps a second run, search or load from starting inside a first one.
#pragma once

#include <cstdint>
#include <exception>
#include <functional>
#include <string>
#include <string_view>

#include "images/Globals.h"
#include "images/dParamList.h"
#include "platform/Dialogs.h"
#include "platform/EventLoop.h"
#include "platform/SerialPort.h"
#include "shell/core/StatusDisplay.h"
#include "target/ComPort.h"

namespace bm {

class Main {
 public:
  Main(StatusDisplay& display, Dialogs& dialogs, EventLoop& loop, SerialService& ports);

  // --- Shared state and window fields -------------------------------------------------------
  Globals g;
  bool ParaEnable = false;
  dParamList::ParamSet params;  // the last pack file's parameter block
  bm::ComPort ComPort;

  StatusDisplay& display;
  Dialogs& dialogs;
  EventLoop& loop;

  // --- Handlers of the main window's controls (forwarded by the views) ----------------------
  void BaudSelect_Change(int index);  // Part of the link: applies the entry's rate to the port
  void FOpenBtn_Action();
  void ComportBtn_Action();
  void DownLdBtn_Action();
  void EraseBtn_Action();
  void StopBtn_Action();
  void Timer1_Action();
  void Open();                        // window opened
  bool EnableMenuItems() const { return ParaEnable; }  // state of the "Parameter" item
  bool _load_Action();                // presses the Load button; returns false

  // --- Operations -----------------------------------------------------------------------------
  void UpdateButtons();
  void LoadFiles();
  void loader(const std::string& path);
  std::string readINI(std::string_view key, const std::string& defaultValue);
  void CheckComPort();
  bool GetDevice();
  void release();
  void COMwait(int count);
  void UpdateComSettings(int rate);
  static std::string IntToHex(const std::string& reply, int position);

  // --- Sound behaviour around the handlers ------------------------------------------------------
  // True while a load, search, download or erase runs; Load, Comport, Download and Erase return
  // at once meanwhile, and the baud pop-up is disabled.
  bool Busy() const { return busy_ > 0; }
  // Quitting during a run: the run ends at its next wait, the port is closed without "X".
  void RequestQuit();
  bool QuitRequested() const { return quitRequested_; }

  // Runs `handler` so that no error escapes: an error is handed to UnhandledException.
  void Handle(const std::function<void()>& handler);
  // The unhandled-error hook: shows the error's message and trail; the program keeps running.
  // The command-line tool and the tests may replace what it does.
  std::function<void(std::exception_ptr)> UnhandledException;

  // Holds the busy guard for its lifetime (nested holders are fine).
  class BusyScope {
   public:
    explicit BusyScope(Main& main);
    ~BusyScope();
    BusyScope(const BusyScope&) = delete;
    BusyScope& operator=(const BusyScope&) = delete;

   private:
    Main& main_;
  };

 private:
  void ShowUnhandled(std::exception_ptr error);

  int busy_ = 0;
  bool quitRequested_ = false;

  // --- Loading (implemented in src/images) ----------------------------------------------------
  int baudFromLoad_ = 57600;  // the project's BaudRate, applied at the end of LoadFiles
  // The project branch of LoadFiles: keys, then the .hex and .eep images beside the project.
  void LoadProject(std::string& deviceIdText, std::string& cpuText);

  // --- Link and programming (implemented in src/target) ---------------------------------------
};

}  // namespace bm
