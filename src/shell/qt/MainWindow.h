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
//  - Closing the window (close button, File > Quit or its shortcut) while Main is busy asks Main
//    to quit (the port is closed without "X") and keeps the window; it closes by itself once the
//    outermost forwarded handler has returned. With nothing running it closes at once, with its
//    other windows, so the application ends.
//  - "Parameter" follows Main::EnableMenuItems whenever the File menu opens and after every
//    forwarded handler.
#pragma once

#include <QMainWindow>
#include <QPointer>
#include <functional>
#include <memory>

#include "shell/qt/MainControls.h"
#include "shell/qt/MainMenus.h"

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

  const MainControls& Controls() const { return controls_; }
  const MainMenus& Menus() const { return menus_; }

  // The open instances of the other windows, or null.
  ParamListWindow* ParamList() const;
  AboutWindow* About() const;
  HelpWindow* Help() const;

  // Menu commands.
  void EnableMenuItems();
  void _Para_Action();
  void _AboutTarnwick_Action();
  void _HelpContents_Action();
  void _ReleaseNotes_Action();
  void _CheckforUpdates_Action();

 protected:
  void closeEvent(QCloseEvent* event) override;

 private:
  void Connect();
  // Runs one forwarded handler; afterwards refreshes "Parameter" and finishes a pending quit.
  void Forward(const std::function<void()>& operation);

  MainControls controls_;
  MainMenus menus_;
  std::unique_ptr<WindowDisplay> display_;
  Main* main_ = nullptr;
  int depth_ = 0;  // forwarded handlers running, nested through the event loop
  QPointer<ParamListWindow> paramList_;
  QPointer<AboutWindow> about_;
  QPointer<HelpWindow> help_;
};

}  // namespace bm::qt
