// MainWindow: the Win32 program's main window, a view of the presenter as the Qt window is.
//
// It creates the controls (Layout.h: the documented layout, scaled to the monitor's DPI, in the
// system's message font), the menu bar and the shortcuts, implements the view interface over
// them (WindowDisplay: the presenter decides every text and state), and forwards every control
// event and menu command to the presenter's handler of the same name through Presenter::Handle,
// so no error ever unwinds into the system's code. It owns the single About and help windows
// and the parameter list.
//
// What callers rely on (as of the Qt window):
//  - Construct, then Attach(presenter) once, Show, then Open(); the window shows the creation
//    state of the controls until the logic changes it.
//  - Closing the window (close box, File > Quit, Ctrl+Q, Alt+F4) while a download or erase runs
//    first asks whether to stop it, in a question that leaves the run going. Yes (or closing
//    during a load or search) asks the presenter to quit (the port is closed without "X"); the
//    window closes by itself once the outermost forwarded handler has returned. No, or the
//    run's end, closes the question. With nothing running the window closes at once, with its
//    other windows, and the message loop ends.
//  - A file dropped on the window (one file, nothing running) is loaded as Load loads a chosen
//    file; so is the file named on the command line (LoadFileLater).
//  - "Parameter" follows Presenter::EnableMenuItems whenever a menu opens and after every
//    forwarded handler.
//  - While a target is connected, the port's device is looked at every 500 ms: an adapter
//    unplugged while nothing runs ends the connection.
//  - DPI: per monitor; on WM_DPICHANGED every place and font is made again at the new DPI.
#pragma once

#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "shell/core/Presenter.h"
#include "shell/win32/WindowDisplay.h"

struct HWND__;
struct HACCEL__;
struct HFONT__;

namespace bm::win32 {

class AboutWindow;
class HelpWindow;

class MainWindow {
 public:
  MainWindow();
  ~MainWindow();
  MainWindow(const MainWindow&) = delete;
  MainWindow& operator=(const MainWindow&) = delete;

  StatusDisplay& Display() { return display_; }
  void Attach(Presenter& presenter);
  void Show(int how);
  void Open();
  // Loads `path` (UTF-8) as Load does with that file chosen.
  void LoadFile(const std::string& path);
  // The same once the message loop runs, so a box the load shows has the window behind it.
  void LoadFileLater(const std::string& path);

  HWND__* Handle() const { return h_.window; }
  HWND__* Control(int id) const;
  bool TimerActive() const { return display_.TimerActive(); }
  int ProgressMaximum() const { return display_.ProgressMaximum(); }
  int Dpi() const { return dpi_; }
  HWND__* ToolTips() const { return h_.tips; }

  // The open other windows, or null.
  HWND__* ParamList() const;
  HWND__* About() const;
  HWND__* Help() const;
  HWND__* QuitQuestion() const;

  // Every message the loop takes, first: the shortcuts and the keyboard of each window of
  // ours. True when it was handled (a MSG*).
  bool FilterMessage(void* msg);

  // Menu commands.
  void EnableMenuItems();
  void _Para_Action();
  void _AboutTarnwick_Action();
  void _HelpContents_Action();
  void _ReleaseNotes_Action();
  void _CheckforUpdates_Action();
  // The close box, File > Quit.
  void Close();

  // The window procedure's work (called by it).
  long long Message(unsigned message, unsigned long long wParam, long long lParam);

 private:
  void CreateControls();
  void CreateMenuBar();
  void Relayout();
  void Forward(const std::function<void()>& operation);
  void ForwardRun(RunKind kind, const std::function<void()>& operation);
  void Command(int id, int code);
  void AskToStopAndQuit();
  void Dropped(void* drop);

  MainHandles h_;
  WindowDisplay display_{h_};
  Presenter* main_ = nullptr;
  int depth_ = 0;  // forwarded handlers running, nested through the event loop
  int dpi_ = 96;
  HFONT__* font_ = nullptr;
  HFONT__* bold_ = nullptr;
  HACCEL__* shortcuts_ = nullptr;
  HACCEL__* closeShortcuts_ = nullptr;
  HWND__* paramList_ = nullptr;
  HWND__* question_ = nullptr;
  std::unique_ptr<AboutWindow> about_;
  std::unique_ptr<HelpWindow> help_;
  std::optional<RunKind> pressedRun_;   // the download or erase being forwarded
  std::optional<std::string> pending_;  // the command line's file
};

}  // namespace bm::win32
