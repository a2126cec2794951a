#include "shell/qt/MainMenus.h"

#include <QAction>
#include <QMainWindow>
#include <QMenu>
#include <QMenuBar>

namespace bm::qt {
namespace {

QAction* Item(QMenu* menu, const char* name, const char* caption) {
  QAction* action = menu->addAction(QString::fromLatin1(caption));
  action->setObjectName(QString::fromLatin1(name));
  return action;
}

QAction* Separator(QMenu* menu, const char* name) {
  QAction* action = menu->addSeparator();
  action->setObjectName(QString::fromLatin1(name));
  return action;
}

}  // namespace

MainMenus BuildMainMenus(QMainWindow* window) {
  MainMenus m;
  m.MenuBar1 = window->menuBar();
  m.MenuBar1->setObjectName(QStringLiteral("MenuBar1"));

  m.FileMenu = m.MenuBar1->addMenu(QStringLiteral("&File"));
  m.FileMenu->setObjectName(QStringLiteral("FileMenu"));
  m.load = Item(m.FileMenu, "load", "Load");
  m.load->setShortcut(QKeySequence::Open);
  m.Para = Item(m.FileMenu, "Para", "Parameter");
  m.Para->setEnabled(false);
  m.UntitledSeparator = Separator(m.FileMenu, "UntitledSeparator");
  m.FileQuit = Item(m.FileMenu, "FileQuit", "&Quit");
  m.FileQuit->setShortcut(QKeySequence::Quit);
  m.FileQuit->setMenuRole(QAction::QuitRole);

  m.Help = m.MenuBar1->addMenu(QStringLiteral("Help"));
  m.Help->setObjectName(QStringLiteral("Help"));
  m.HelpContents = Item(m.Help, "HelpContents", "Help Contents");
  m.ReleaseNotes = Item(m.Help, "ReleaseNotes", "Release Notes");
  m.UntitledSeparator0 = Separator(m.Help, "UntitledSeparator0");
  m.CheckforUpdates = Item(m.Help, "CheckforUpdates", "Check for Updates");
  m.UntitledSeparator1 = Separator(m.Help, "UntitledSeparator1");
  m.AboutTarnwick = Item(m.Help, "AboutTarnwick", "About Tarnwick");
  m.AboutTarnwick->setMenuRole(QAction::AboutRole);
  return m;
}

}  // namespace bm::qt
