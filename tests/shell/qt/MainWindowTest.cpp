// The main window's real widgets: creation state, menus, what UpdateButtons does to them, the
// blink timer, and closing during a run.
#include <gtest/gtest.h>

#include <QAction>
#include <QCheckBox>
#include <QComboBox>
#include <QGroupBox>
#include <QLabel>
#include <QMenu>
#include <QMenuBar>
#include <QProgressBar>
#include <QPushButton>
#include <QSignalSpy>
#include <QTest>
#include <QTimer>

#include "WindowRig.h"
#include "base/Util.h"
#include "shell/qt/AboutWindow.h"
#include "shell/qt/HelpWindow.h"
#include "shell/qt/Lamp.h"
#include "support/Inside.h"
#include "support/ModeTable.h"

namespace bm {
namespace {

using namespace Util;
using test::WindowRig;

// The caption or state text a control shows, whatever its kind.
QString Caption(QWidget* w) {
  if (auto* label = qobject_cast<QLabel*>(w)) return label->text();
  if (auto* button = qobject_cast<QAbstractButton*>(w)) return button->text();
  if (auto* group = qobject_cast<QGroupBox*>(w)) return group->title();
  if (auto* combo = qobject_cast<QComboBox*>(w)) {
    QStringList items;
    for (int i = 0; i < combo->count(); ++i) items << combo->itemText(i);
    return items.join(u',') + " @" + QString::number(combo->currentIndex());
  }
  if (auto* lamp = dynamic_cast<qt::Lamp*>(w)) return QString::number(lamp->Fill(), 16);
  if (auto* bar = qobject_cast<QProgressBar*>(w))
    return QStringLiteral("%1/%2 %3")
        .arg(bar->value())
        .arg(bar->maximum())
        .arg(bar->orientation() == Qt::Vertical ? "v" : "h");
  return QString();
}

TEST(MainWindow, EveryControlAtItsPositionWithItsCaptionAndState) {
  struct Case {
    const char* name;
    int l, t, w, h;
    const char* caption;
    bool enabled;
  };
  const Case cases[] = {
      {"GroupBox1", 8, 38, 216, 206, " File state  ", true},
      {"StaticText9", 26, 64, 54, 20, "Loaded:", true},
      {"FNameCapt", 26, 84, 161, 20, "none", true},
      {"StaticText10", 26, 104, 69, 20, "Flash size:", true},
      {"FlashSizeCapt", 117, 104, 100, 20, "0 Bytes", true},
      {"ProgFlashChk", 26, 190, 110, 20, "ProgFlashChk", true},
      {"ProgEEpChk", 26, 215, 100, 20, "ProgEEpChk", true},
      {"StaticText4", 26, 124, 83, 20, "EEprom size:", true},
      {"EEpSizeCapt", 117, 124, 100, 20, "0 Bytes", true},
      {"StaticText5", 26, 144, 63, 20, "Device ID:", true},
      {"StaticText11", 26, 164, 69, 20, "CPU name:", true},
      {"SourceDevIDcapt", 117, 144, 100, 20, "---", true},
      {"CPUnameCapt", 117, 164, 100, 20, "---", true},
      {"GroupBox2", 231, 38, 216, 206, " Target state ", true},
      {"LedRed", 249, 76, 20, 20, "800000", true},
      {"LedYellow", 249, 109, 20, 20, "808000", true},
      {"LedGreen", 249, 142, 20, 20, "8000", true},
      {"BaudSelect", 300, 76, 80, 20, "9600,19200,38400,57600 @0", true},
      {"TargDevIDcapt", 249, 215, 190, 20, "Device ID: ---", true},
      {"TargLoaderIDcapt", 248, 190, 190, 20, "Loader ID: ---", true},
      {"StaticText2", 300, 108, 42, 20, "Mode", true},
      {"ModeLabel", 300, 127, 110, 20, "none", true},
      {"ProgressBar1", 424, 67, 14, 166, "0/100 v", true},
      {"FOpenBtn", 8, 6, 80, 20, "Load", true},
      {"ComportBtn", 98, 6, 80, 20, "Comport", false},
      {"DownLdBtn", 188, 6, 80, 20, "Download", false},
      {"EraseBtn", 278, 6, 80, 20, "Erase", false},
      {"StopBtn", 368, 6, 80, 20, "Stop", true},
      {"GroupBox3", 8, 248, 440, 25, "", true},
      {"status0", 17, 250, 207, 20, "", true},  // emptied by Open
      {"status1", 239, 250, 208, 20, "", true},
  };
  WindowRig rig;
  QWidget* content = rig.window.centralWidget();
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    QWidget* w = rig.Find(c.name);
    ASSERT_NE(w, nullptr);
    EXPECT_EQ(w->parentWidget(), content) << "placed in window coordinates";
    EXPECT_EQ(w->geometry(), QRect(c.l, c.t, c.w, c.h));
    EXPECT_EQ(Caption(w).toStdString(), c.caption);
    EXPECT_EQ(w->isEnabled(), c.enabled);
  }
  EXPECT_FALSE(rig.Find<QCheckBox>("ProgFlashChk")->isChecked());
  EXPECT_FALSE(rig.Find<QCheckBox>("ProgEEpChk")->isChecked());
  EXPECT_TRUE(rig.Find<QLabel>("StaticText2")->font().bold());
  EXPECT_FALSE(rig.Find<QLabel>("ModeLabel")->font().bold());
  EXPECT_TRUE(rig.Find("Rectangle1")->isHidden());
  EXPECT_TRUE(rig.Find("Rectangle2")->isHidden());
  auto* timer = rig.window.findChild<QTimer*>(QStringLiteral("Timer1"));
  ASSERT_NE(timer, nullptr);
  EXPECT_EQ(timer->interval(), 500);
  EXPECT_FALSE(timer->isActive());
}

TEST(MainWindow, EveryControlSaysWhatItDoesInItsTooltip) {
  WindowRig rig;
  for (const char* name :
       {"LedRed",       "LedYellow",     "LedGreen",        "ProgFlashChk",  "ProgEEpChk",  "BaudSelect",
        "ProgressBar1", "FOpenBtn",      "ComportBtn",      "DownLdBtn",     "EraseBtn",    "StopBtn",
        "ModeLabel",    "status0",       "status1",         "FlashSizeCapt", "EEpSizeCapt", "SourceDevIDcapt",
        "CPUnameCapt",  "TargDevIDcapt", "TargLoaderIDcapt"}) {
    SCOPED_TRACE(name);
    EXPECT_FALSE(rig.Find(name)->toolTip().isEmpty());
  }
  EXPECT_EQ(rig.Find("ProgFlashChk")->toolTip(), QStringLiteral("Write the flash image"));
  EXPECT_EQ(rig.Find("ProgEEpChk")->toolTip(), QStringLiteral("Write the EEPROM image"));
  // The lamps tell their colours apart by what each one means.
  EXPECT_TRUE(rig.Find("LedRed")->toolTip().contains(QStringLiteral("blinking while programming")));
  EXPECT_TRUE(rig.Find("LedYellow")->toolTip().contains(QStringLiteral("file is loaded")));
  EXPECT_TRUE(rig.Find("LedGreen")->toolTip().contains(QStringLiteral("connected")));
}

TEST(MainWindow, FixedSizeWithoutMaximiseButton) {
  WindowRig rig;
  rig.window.show();
  EXPECT_EQ(rig.window.windowTitle(), "Brindlemark");
  EXPECT_EQ(rig.window.centralWidget()->size(), QSize(455, 279));
  EXPECT_EQ(rig.window.minimumSize(), rig.window.maximumSize()) << "not resizable";
  const Qt::WindowFlags flags = rig.window.windowFlags();
  EXPECT_FALSE(flags & Qt::WindowMaximizeButtonHint);
  EXPECT_TRUE(flags & Qt::WindowMinimizeButtonHint);
  EXPECT_TRUE(flags & Qt::WindowCloseButtonHint);
}

TEST(MainWindow, MenuBarNamesCaptionsAndShortcut) {
  struct Case {
    const char* menu;
    const char* name;
    const char* caption;  // "-" for a separator
  };
  const Case cases[] = {
      {"FileMenu", "load", "Load"},
      {"FileMenu", "Para", "Parameter"},
      {"FileMenu", "UntitledSeparator", "-"},
      {"FileMenu", "FileQuit", "&Quit"},
      {"Help", "HelpContents", "Help Contents"},
      {"Help", "ReleaseNotes", "Release Notes"},
      {"Help", "UntitledSeparator0", "-"},
      {"Help", "CheckforUpdates", "Check for Updates"},
      {"Help", "UntitledSeparator1", "-"},
      {"Help", "AboutTarnwick", "About Tarnwick"},
  };
  WindowRig rig;
  QMenuBar* bar = rig.window.menuBar();
  ASSERT_EQ(bar->objectName(), "MenuBar1");
  ASSERT_EQ(bar->actions().size(), 2);
  EXPECT_EQ(bar->actions()[0]->text(), "&File");
  EXPECT_EQ(bar->actions()[1]->text(), "Help");
  std::map<std::string, int> position;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    auto* menu = bar->findChild<QMenu*>(QString::fromLatin1(c.menu));
    ASSERT_NE(menu, nullptr);
    const QList<QAction*> actions = menu->actions();
    const int index = position[c.menu]++;
    ASSERT_LT(index, actions.size());
    QAction* a = actions[index];
    EXPECT_EQ(a->objectName(), c.name) << "display order";
    if (std::string(c.caption) == "-")
      EXPECT_TRUE(a->isSeparator());
    else
      EXPECT_EQ(a->text(), c.caption);
    EXPECT_EQ(a->isEnabled(), std::string(c.name) != "Para") << "only Parameter starts disabled";
  }
  EXPECT_EQ(rig.window.Menus().FileQuit->shortcut(), QKeySequence(QKeySequence::Quit));
  EXPECT_EQ(rig.window.Menus().FileQuit->menuRole(), QAction::QuitRole);
  EXPECT_EQ(rig.window.Menus().AboutTarnwick->menuRole(), QAction::AboutRole);
}

TEST(MainWindow, ParameterFollowsParaEnableWhenTheFileMenuOpens) {
  WindowRig rig;
  QAction* para = rig.window.Menus().Para;
  test::Inside(rig.presenter).ParaEnable = true;
  EXPECT_FALSE(para->isEnabled());
  emit rig.window.Menus().FileMenu->aboutToShow();
  EXPECT_TRUE(para->isEnabled());
  test::Inside(rig.presenter).ParaEnable = false;
  emit rig.window.Menus().FileMenu->aboutToShow();
  EXPECT_FALSE(para->isEnabled());
}

TEST(MainWindow, UpdateButtonsDrivesTheRealWidgets) {
  for (const test::ModeRow& c : test::kModeRows)
    for (bool checksBefore : {true, false}) {
      SCOPED_TRACE(c.why);
      SCOPED_TRACE(checksBefore ? "check boxes enabled before" : "check boxes disabled before");
      WindowRig rig;
      rig.window.Display().SetCheckEnabled(Check::ProgFlashChk, checksBefore);
      rig.window.Display().SetCheckEnabled(Check::ProgEEpChk, checksBefore);
      rig.window.Display().SetCaption(Caption::status0, "busy");
      rig.window.Display().SetProgress(60);
      test::Inside(rig.presenter).mode = static_cast<Mode>(c.modus);
      test::Inside(rig.presenter).g.FBytesRead = c.flashBytes;
      test::Inside(rig.presenter).g.EBytesRead = c.eepromBytes;
      rig.presenter.UpdateButtons();
      EXPECT_EQ(rig.window.findChild<QTimer*>(QStringLiteral("Timer1"))->isActive(), c.timer);
      EXPECT_EQ(rig.Find<qt::Lamp>("LedRed")->Fill(), c.red);
      EXPECT_EQ(rig.Find<qt::Lamp>("LedYellow")->Fill(), c.yellow);
      EXPECT_EQ(rig.Find<qt::Lamp>("LedGreen")->Fill(), c.green);
      EXPECT_EQ(rig.Find("FOpenBtn")->isEnabled(), c.load);
      EXPECT_EQ(rig.Find("ComportBtn")->isEnabled(), c.comport);
      EXPECT_EQ(rig.Find("DownLdBtn")->isEnabled(), c.download);
      EXPECT_EQ(rig.Find("EraseBtn")->isEnabled(), c.erase);
      EXPECT_TRUE(rig.Find("StopBtn")->isEnabled());
      EXPECT_EQ(rig.Find<QLabel>("ModeLabel")->text().toStdString(), c.mode);
      EXPECT_EQ(rig.Find("ProgFlashChk")->isEnabled(), c.FlashChkAfter(checksBefore));
      EXPECT_EQ(rig.Find("ProgEEpChk")->isEnabled(), c.EepChkAfter(checksBefore));
      EXPECT_EQ(rig.Find<QLabel>("status0")->text(), c.modus == 1 ? "" : "busy");
      EXPECT_EQ(rig.Find<QProgressBar>("ProgressBar1")->value(), c.modus == 2 ? 0 : 60);
    }
}

TEST(MainWindow, RedLampBlinksOnTheTimerInProgrammingAndStopsAfter) {
  WindowRig rig;
  auto* red = rig.Find<qt::Lamp>("LedRed");
  test::Inside(rig.presenter).mode = Mode::Programming;
  rig.presenter.UpdateButtons();
  ASSERT_EQ(red->Fill(), clRed);
  // The real 500 ms timer, through the window's forwarding: wait for two ticks.
  ASSERT_TRUE(QTest::qWaitFor([&] { return red->Fill() == clMaroon; }, 3000));
  ASSERT_TRUE(QTest::qWaitFor([&] { return red->Fill() == clRed; }, 3000));
  rig.presenter.Timer1_Action();
  test::Inside(rig.presenter).mode = Mode::Connected;
  rig.presenter.UpdateButtons();
  EXPECT_FALSE(rig.window.findChild<QTimer*>(QStringLiteral("Timer1"))->isActive());
  EXPECT_EQ(red->Fill(), clMaroon);
}

TEST(MainWindow, ProgressShowsValuesPastTheMaximumFullAndZeroMaximumAsBusy) {
  WindowRig rig;
  auto* bar = rig.Find<QProgressBar>("ProgressBar1");
  StatusDisplay& display = rig.window.Display();
  display.SetProgress(128);
  EXPECT_EQ(bar->value(), 100);
  display.SetProgressMaximum(0);
  EXPECT_EQ(bar->maximum(), 0) << "busy indicator";
  display.SetProgressMaximum(100);
  display.SetProgress(43);
  EXPECT_EQ(bar->value(), 43);
}

TEST(MainWindow, OnlyTheUsersBaudChoiceReachesThePort) {
  WindowRig rig;
  auto* baud = rig.Find<QComboBox>("BaudSelect");
  rig.window.Display().ShowBaudRate(57600);
  EXPECT_EQ(baud->currentIndex(), 3);
  EXPECT_EQ(test::Inside(rig.presenter).ComPort.BaudRate(), 9600) << "a selection by the logic fires nothing";
  baud->setCurrentIndex(2);
  emit baud->activated(2);
  EXPECT_EQ(test::Inside(rig.presenter).ComPort.BaudRate(), 38400);
  rig.window.Display().SetBaudEnabled(false);
  EXPECT_FALSE(baud->isEnabled());
}

TEST(MainWindow, CaptionsShowTheLogicsTextWithDoubledAmpersandsAsOne) {
  WindowRig rig;
  const struct {
    const char* set;
    const char* shown;
  } cases[] = {
      {"Device ID : &&1E950F", "Device ID : &1E950F"},
      {"R&D", "R&D"},  // a single one is no mnemonic: shown as it is
      {"&&&", "&&"},
  };
  for (const auto& c : cases) {
    rig.window.Display().SetCaption(Caption::TargDevIDcapt, c.set);
    EXPECT_EQ(rig.Find<QLabel>("TargDevIDcapt")->text(), c.shown) << c.set;
  }
  rig.window.Display().SetTitle("Brindlemark [blink.hex]");
  EXPECT_EQ(rig.window.windowTitle(), "Brindlemark [blink.hex]");
}

TEST(MainWindow, CheckForUpdatesSaysThisBuildDoesNotCheck) {
  WindowRig rig;
  rig.window.Menus().CheckforUpdates->trigger();
  ASSERT_EQ(rig.dialogs.messages.size(), 1u);
  EXPECT_NE(rig.dialogs.messages[0].find("does not check for updates"), std::string::npos);
}

TEST(MainWindow, HelpContentsAndReleaseNotesShowTheirTextInOneWindow) {
  WindowRig rig;
  rig.window.Menus().HelpContents->trigger();
  ASSERT_NE(rig.window.Help(), nullptr);
  EXPECT_TRUE(rig.window.Help()->isVisible());
  QWidget* first = rig.window.Help();
  rig.window.Menus().ReleaseNotes->trigger();
  EXPECT_EQ(rig.window.Help(), first);
  EXPECT_TRUE(rig.window.Help()->windowTitle().contains("Release Notes"));
}

TEST(MainWindow, ClosingWithNothingRunningClosesAndTakesTheOtherWindowsAlong) {
  WindowRig rig;
  rig.window.show();
  rig.window.Menus().AboutTarnwick->trigger();
  ASSERT_TRUE(rig.window.About()->isVisible());
  rig.window.Menus().FileQuit->trigger();
  EXPECT_FALSE(rig.window.isVisible());
  EXPECT_FALSE(rig.window.About()->isVisible());
  EXPECT_FALSE(rig.presenter.QuitRequested());
}

}  // namespace
}  // namespace bm
