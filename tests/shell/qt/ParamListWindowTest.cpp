// The parameter list window over the real widgets, opened through the main window's menu.
#include <gtest/gtest.h>

#include <QAction>
#include <QPointer>
#include <QPushButton>
#include <QTest>
#include <QTreeWidget>
#include <functional>

#include "WindowRig.h"
#include "shell/qt/AboutWindow.h"
#include "shell/qt/HelpWindow.h"
#include "shell/qt/ParamListWindow.h"
#include "support/Inside.h"

namespace bm {
namespace {

using test::WindowRig;

template <typename W>
int Instances(const QWidget& owner) {
  int n = 0;
  for (QObject* child : owner.children()) n += dynamic_cast<W*>(child) != nullptr;
  return n;
}

TEST(ParamListWindow, TitleTwelveRowsAndTheirColours) {
  WindowRig rig;
  test::Inside(rig.presenter).params.eProjectName = "Blink";
  test::Inside(rig.presenter).params.eClock = 3686400;
  rig.window.Menus().Para->setEnabled(true);
  rig.window.Menus().Para->trigger();
  qt::ParamListWindow* list = rig.window.ParamList();
  ASSERT_NE(list, nullptr);
  EXPECT_TRUE(list->isVisible());
  EXPECT_FALSE(list->isModal());
  EXPECT_EQ(list->windowTitle(), "Parameter list of Blink");
  EXPECT_EQ(list->size(), QSize(422, 295));
  QTreeWidget* rows = list->ListBox1();
  EXPECT_EQ(rows->geometry(), QRect(20, 27, 382, 211));
  EXPECT_EQ(rows->headerItem()->text(0), "Parameter:");
  EXPECT_EQ(rows->headerItem()->text(1), "Value:");
  ASSERT_EQ(rows->topLevelItemCount(), 12);
  EXPECT_EQ(rows->topLevelItem(4)->text(0), "CPU Clock");
  EXPECT_EQ(rows->topLevelItem(4)->text(1), "3.6864MHz");
  for (int r = 0; r < 12; ++r) {
    for (int column = 0; column < 2; ++column) {
      EXPECT_EQ(rows->topLevelItem(r)->background(column).color(),
                r % 2 == 0 ? QColor(255, 255, 255) : QColor(241, 245, 255))
          << "row " << r << " column " << column;
    }
  }
  EXPECT_EQ(list->OKbutton()->geometry(), QRect(322, 255, 80, 20));
  EXPECT_EQ(list->OKbutton()->text(), "OK");
  EXPECT_EQ(list->focusWidget(), list->OKbutton());
}

TEST(ParamListWindow, OneInstanceWhileOpenAFreshOneAfterOK) {
  WindowRig rig;
  test::Inside(rig.presenter).params.eProjectName = "First";
  rig.window._Para_Action();
  QPointer<qt::ParamListWindow> first = rig.window.ParamList();
  test::Inside(rig.presenter).params.eProjectName = "Second";
  rig.window._Para_Action();
  EXPECT_EQ(rig.window.ParamList(), first.data()) << "brought forward, not a second window";
  EXPECT_EQ(first->windowTitle(), "Parameter list of First") << "rows as they were when it opened";
  EXPECT_EQ(Instances<qt::ParamListWindow>(rig.window), 1);

  QTest::mouseClick(first->OKbutton(), Qt::LeftButton);
  EXPECT_FALSE(first->isVisible());
  rig.window._Para_Action();  // before the closed one is even deleted
  ASSERT_NE(rig.window.ParamList(), nullptr);
  EXPECT_NE(rig.window.ParamList(), first.data());
  EXPECT_EQ(rig.window.ParamList()->windowTitle(), "Parameter list of Second");
  QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
  EXPECT_TRUE(first.isNull()) << "the closed instance is gone";
}

TEST(AboutWindow, OneInstanceThroughTheMenu) {
  WindowRig rig;
  rig.window.Menus().AboutTarnwick->trigger();
  qt::AboutWindow* about = rig.window.About();
  ASSERT_NE(about, nullptr);
  EXPECT_TRUE(about->isVisible());
  EXPECT_TRUE(about->UseCredits);
  EXPECT_EQ(about->height(), 326);
  rig.window.Menus().AboutTarnwick->trigger();
  EXPECT_EQ(rig.window.About(), about);
  EXPECT_EQ(Instances<qt::AboutWindow>(rig.window), 1);
}

// Opens a window through `open`, makes it the active one and presses `key` in it.
bool ClosesOnKey(const std::function<QWidget*()>& open, const QKeySequence& key) {
  QWidget* w = open();
  if (!w || !w->isVisible()) return false;
  w->activateWindow();
  if (!QTest::qWaitForWindowActive(w)) return false;
  QPointer<QWidget> watched = w;
  QTest::keyClick(w, key[0].key(), key[0].keyboardModifiers());
  return watched.isNull() || !watched->isVisible();
}

TEST(OtherWindows, EscAndThePlatformsCloseKeyCloseEachOfThem) {
  using Open = std::function<QWidget*(WindowRig&)>;
  const std::pair<const char*, Open> cases[] = {
      {"Parameter list",
       [](WindowRig& rig) -> QWidget* {
         rig.window.Menus().Para->setEnabled(true);
         rig.window.Menus().Para->trigger();
         return rig.window.ParamList();
       }},
      {"About",
       [](WindowRig& rig) -> QWidget* {
         rig.window.Menus().AboutTarnwick->trigger();
         return rig.window.About();
       }},
      {"Help Contents",
       [](WindowRig& rig) -> QWidget* {
         rig.window.Menus().HelpContents->trigger();
         return rig.window.Help();
       }},
      {"Release Notes",
       [](WindowRig& rig) -> QWidget* {
         rig.window.Menus().ReleaseNotes->trigger();
         return rig.window.Help();
       }},
  };
  QList<QKeySequence> keys = QKeySequence::keyBindings(QKeySequence::Close);  // Ctrl+W, Ctrl+F4 here
  keys.prepend(QKeySequence(Qt::Key_Escape));
  for (const auto& [name, open] : cases) {
    for (const QKeySequence& key : keys) {
      SCOPED_TRACE(std::string(name) + " " + key.toString().toStdString());
      WindowRig rig;
      rig.window.show();
      EXPECT_TRUE(ClosesOnKey([&] { return open(rig); }, key));
      EXPECT_TRUE(rig.window.isVisible()) << "the main window stays";
    }
  }
}

}  // namespace
}  // namespace bm
