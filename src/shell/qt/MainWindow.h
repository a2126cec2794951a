// MainWindow: the desktop program's main window, a thin view of the presenter.
//
// It creates the controls and the menu bar, implements the view interface over them (widgets
// only: the presenter decides every text and state), and forwards every control event and menu
// command to the presenter's handler of the same name through Presenter::Handle, so no error
// ever unwinds into Qt. It also owns the single instances of the
// parameter list, About and help windows.
//
// What callers rely on:
//  - Construct, then Attach(main) once, then Open(); the window shows the creation state of the
//    controls until the logic changes it.
//  - Closing the window (close button, File > Quit or its shortcut) while a download or erase
//    runs first asks whether to stop it, in a window-modal question that leaves the run going.
//    Yes (or closing during a load or search) asks the presenter to quit (the port is closed without "X")
//    and keeps the window; it closes by itself once the outermost forwarded handler has
//    returned. No, or the run's end, closes the question. With nothing running the window
//    closes at once, with its other windows, so the application ends.
//  - The baud pop-up shows the port's rate as the presenter gives it, a rate outside its four
//    entries (a project's 115200) as an extra entry that goes once one of the four is in use.
//  - A local file dropped on the window is loaded as Load loads a chosen file.
//  - "Parameter" follows Presenter::EnableMenuItems whenever the File menu opens and after every
//    forwarded handler.
//  - While a target is connected, the port's device is looked at every 500 ms: an adapter
//    unplugged while nothing runs ends the connection ("file loaded", "Adapter unplugged").
//  - The status lines, the progress bar's tooltip and the focus after a run are the presenter's;
//    the window only shows them.
#pragma once

#include <QMainWindow>
#include <QPointer>
#include <functional>
#include <memory>
#include <optional>

#include "shell/core/Presenter.h"
#include "shell/qt/MainControls.h"
#include "shell/qt/MainMenus.h"

class QDragEnterEvent;
class QDropEvent;
class QMessageBox;
class QTimer;

namespace bm {
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
  void Attach(Presenter& presenter);
  void Open();
  // Loads `path` as Load does with that file chosen (a dropped file, the command line's file).
  void LoadFile(const QString& path);

  const MainControls& Controls() const { return controls_; }
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
  void Connect();
  // Runs one forwarded handler; afterwards refreshes "Parameter" and finishes a pending quit.
  void Forward(const std::function<void()>& operation);
  // Forwards the Download or Erase button; `kind` names the run the question speaks of.
  void ForwardRun(RunKind kind, const std::function<void()>& operation);
  void AskToStopAndQuit();

  MainControls controls_;
  MainMenus menus_;
  std::unique_ptr<WindowDisplay> display_;
  Presenter* main_ = nullptr;
  int depth_ = 0;  // forwarded handlers running, nested through the event loop
  QPointer<ParamListWindow> paramList_;
  QPointer<AboutWindow> about_;
  QPointer<HelpWindow> help_;
  QPointer<QMessageBox> quitQuestion_;
  std::optional<RunKind> pressedRun_;  // the download or erase being forwarded
  QTimer* connectionWatch_ = nullptr;  // looks for an unplugged adapter while idle
};

}  // namespace bm::qt
