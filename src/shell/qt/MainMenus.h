// MainMenus: the menu bar MenuBar1 with its menus and items, named and captioned as documented.
//
// Menus and items carry their documented names as objectName (separators too). "Parameter" is
// the one item whose enabled state the program sets; every other item stays enabled. The quit
// and About items get the platform roles, so a platform with an application menu may move them.
// The struct only points at the actions; they belong to the menu bar.
#pragma once

class QAction;
class QMainWindow;
class QMenu;
class QMenuBar;

namespace bm::qt {

struct MainMenus {
  QMenuBar* MenuBar1 = nullptr;
  QMenu* FileMenu = nullptr;
  QAction* load = nullptr;
  QAction* Para = nullptr;
  QAction* UntitledSeparator = nullptr;
  QAction* FileQuit = nullptr;
  QMenu* Help = nullptr;
  QAction* HelpContents = nullptr;
  QAction* ReleaseNotes = nullptr;
  QAction* UntitledSeparator0 = nullptr;
  QAction* CheckforUpdates = nullptr;
  QAction* UntitledSeparator1 = nullptr;
  QAction* AboutTarnwick = nullptr;
};

// Builds the menu bar into `window`; "Parameter" starts disabled.
MainMenus BuildMainMenus(QMainWindow* window);

}  // namespace bm::qt
