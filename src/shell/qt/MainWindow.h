// MainWindow: the desktop program's main window, a thin view over Main.
//
// It creates the controls and the menu bar, implements the status display over them, and
// forwards every control event and menu command to the Main operation of the same name through
// Main::Handle, so no error ever unwinds into Qt. It also owns the single instances of the
// parameter list, About and help windows.
//
// What callers rely on:
//  - Construct, then Attach(main) once, then Open(); the window shows the creation state of the
//    controls until the logic changes it.
//  - Closing the window (close button, File > Quit or its shortcut) while a download or erase
//    runs first asks whether to stop it, in a window-modal question that leaves the run going.
//    Yes (or closing during a load or search) asks Main to quit (the port is closed without "X")
//    and keeps the window; it closes by itself once the outermost forwarded handler has
//    returned. No, or the run's end, closes the question. With nothing running the window
//    closes at once, with its other windows, so the application ends.
//  - The baud pop-up shows the port's rate after every forwarded handler, a rate outside its four
//    entries (a project's 115200) as an extra entry that goes once one of the four is in use.
//  - A local file dropped on the window is loaded as Load loads a chosen file.
//  - "Parameter" follows Main::EnableMenuItems whenever the File menu opens and after every
//    forwarded handler.
//  - While a target is connected, the port's device is looked at every 500 ms: an adapter
//    unplugged while nothing runs ends the connection ("file loaded", "Adapter unplugged").
//  - A download or erase that ends with no numbered failure says so in status line 0 with its
//    time ("Download finished in 8.6 s"); one that went on after a failure says "Download
//    finished with errors". While it runs, the progress bar's tooltip shows the percent and the
//    time left. Runs the command-line tool makes are not affected: it has no window.
#pragma once

#include <QElapsedTimer>
#include <QMainWindow>
#include <QPointer>
#include <functional>
#include <memory>
#include <optional>

#include "shell/core/Main.h"
#include "shell/qt/MainControls.h"
#include "shell/qt/MainMenus.h"

class QDragEnterEvent;
class QDropEvent;
class QMessageBox;
class QTimer;

namespace bm {
class Main;
class StatusDisplay;
}  // namespace bm

namespace bm::qt {

class AboutWindow;
class HelpWindow;
class ParamListWindow;
class WindowDisplay;

class MainWindow : public QMainWindow {
 public:
  explicit MainWindow(QWidget* parent = nullptr);
  ~MainWindow() override;

  StatusDisplay& Display();
  void Attach(Main& main);
  void Open();
  // Loads `path` as Load does with that file chosen (a dropped file, the command line's file).
  void LoadFile(const QString& path);

  const MainControls& Controls() const { return controls_; }
  // The clock run times are measured with, in milliseconds (a steady clock by default; tests
  // inject theirs).
  void SetClock(std::function<double()> nowMs) { nowMs_ = std::move(nowMs); }
  const MainMenus& Menus() const { return menus_; }

  // The open instances of the other windows, or null.
  ParamListWindow* ParamList() const;
  AboutWindow* About() const;
  HelpWindow* Help() const;
  // The open "Stop it and quit?" question, or null.
  QMessageBox* QuitQuestion() const;

  // Menu commands.
  void EnableMenuItems();
  void _Para_Action();
  void _AboutTarnwick_Action();
  void _HelpContents_Action();
  void _ReleaseNotes_Action();
  void _CheckforUpdates_Action();

 protected:
  void closeEvent(QCloseEvent* event) override;
  void dragEnterEvent(QDragEnterEvent* event) override;
  void dropEvent(QDropEvent* event) override;

 private:
  class RunStatus;  // shows a run's end and time left (MainWindow.cpp)

  void Connect();
  // The file-name caption's tooltip: the loaded file's whole path.
  void ShowFilePath();
  // Runs one forwarded handler; afterwards refreshes "Parameter" and finishes a pending quit.
  void Forward(const std::function<void()>& operation);
  // Forwards the Download or Erase button; `kind` names the run the question speaks of.
  void ForwardRun(Main::RunKind kind, const std::function<void()>& operation);
  void AskToStopAndQuit();

  MainControls controls_;
  MainMenus menus_;
  std::unique_ptr<WindowDisplay> display_;
  Main* main_ = nullptr;
  int depth_ = 0;  // forwarded handlers running, nested through the event loop
  QElapsedTimer steady_;
  std::function<double()> nowMs_;
  std::unique_ptr<RunStatus> runStatus_;
  Main::Registration listening_;  // runStatus_ hears each run of main_
  QPointer<ParamListWindow> paramList_;
  QPointer<AboutWindow> about_;
  QPointer<HelpWindow> help_;
  QPointer<QMessageBox> quitQuestion_;
  std::optional<Main::RunKind> pressedRun_;  // the download or erase being forwarded
  QTimer* connectionWatch_ = nullptr;        // looks for an unplugged adapter while idle
};

}  // namespace bm::qt
