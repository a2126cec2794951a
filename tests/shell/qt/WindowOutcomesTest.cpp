// What the window says must be what happened to the chip: refused images, damaged files, runs
// that end with the port closed, a target gone or swapped behind an open port.
#include <gtest/gtest.h>

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QProgressBar>
#include <QPushButton>
#include <QRegularExpression>
#include <QTimer>

#include "WindowFiles.h"
#include "WindowRig.h"
#include "base/ByteTrace.h"
#include "base/Util.h"
#include "shell/qt/ElidedLabel.h"
#include "support/Inside.h"

namespace bm {
namespace {

using namespace Util;
using namespace test::window;
using test::WindowRig;

// The window with the example project loaded and the simulated board connected. `board` replaces
// the board before the search when given.
struct Connected {
  explicit Connected(std::optional<sim::SimTargetConfig> board = std::nullopt) {
    if (board) *rig.target = sim::SimTarget(*board, rig.loop.Clock());
    rig.window.show();
    rig.dialogs.answer = files.Path("blink.ppro");
    Click(rig, "FOpenBtn");
    Click(rig, "ComportBtn");
    EXPECT_EQ(Text(rig, "ModeLabel"), "Target connected");
  }
  // Another board behind the same open port.
  void Swap(sim::SimTargetConfig board) { *rig.target = sim::SimTarget(board, rig.loop.Clock()); }

  Fixtures files;
  WindowRig rig{/*withTarget=*/true};
};

TEST(WindowOutcomes, AnImageLargerThanTheTargetsFlashIsRefusedAndTheTargetStaysConnected) {
  sim::SimTargetConfig small = sim::ExampleBoardConfig();
  small.flashWords = 128;  // 256 bytes; the project's image has 300
  Connected c(small);
  const size_t before = c.rig.target->SentBytes().size();
  Click(c.rig, "DownLdBtn");
  EXPECT_EQ(c.rig.dialogs.messages,
            std::vector<std::string>{"The flash image (300 bytes) is larger than the target's flash (256 "
                                     "bytes).\nNothing was written."});
  EXPECT_EQ(c.rig.target->SentBytes().substr(before), "?Ii") << "checked and identified, nothing erased";
  EXPECT_EQ(Text(c.rig, "ModeLabel"), "Target connected");
  EXPECT_TRUE(c.rig.Find("DownLdBtn")->isEnabled());

  c.rig.dialogs.messages.clear();
  QTest::mouseClick(c.rig.Find<QCheckBox>("ProgFlashChk"), Qt::LeftButton);  // the EEPROM alone fits
  Click(c.rig, "DownLdBtn");
  EXPECT_TRUE(c.rig.dialogs.messages.empty());
  EXPECT_EQ(c.rig.target->Eeprom()[0], c.files.eeprom[0]);
}

TEST(WindowOutcomes, ADamagedFileShowsTheNotLoadedDisplay) {
  Fixtures files;
  files.Write("damaged.hex", ":0100000042BD\n:0100010042BD\n:00000001FF\n");
  WindowRig rig;
  rig.window.show();
  rig.dialogs.answer = files.Path("blink.ppro");
  Click(rig, "FOpenBtn");
  rig.dialogs.answer = files.Path("damaged.hex");
  Click(rig, "FOpenBtn");
  EXPECT_EQ(rig.dialogs.messages,
            std::vector<std::string>{"checksum error!\nat Line:2\n (file: damaged.hex)"});
  EXPECT_EQ(rig.window.windowTitle(), "Brindlemark []");
  EXPECT_EQ(Text(rig, "FNameCapt"), "none");
  EXPECT_EQ(Text(rig, "FlashSizeCapt"), "0 Bytes");
  EXPECT_EQ(Text(rig, "ModeLabel"), "none");
  EXPECT_EQ(Lamp(rig, "LedRed"), clRed);
  EXPECT_FALSE(rig.Find("ComportBtn")->isEnabled()) << "nothing of it can reach a chip";
}

// Stop, an unplugged adapter: the port is closed, so the window says "file loaded". Stop shows
// no box; the unplugged adapter's box comes after the mode changed.
TEST(WindowOutcomes, ARunThatEndsWithThePortClosedEndsInFileLoaded) {
  for (const bool unplug : {false, true}) {
    SCOPED_TRACE(unplug ? "unplugged" : "Stop");
    Connected c;
    std::vector<QString> modeAtBox;
    c.rig.dialogs.onMessage = [&](const std::string&) { modeAtBox.push_back(Text(c.rig, "ModeLabel")); };
    if (unplug) c.rig.target->AddFault({'P', 2, sim::FaultKind::Vanish});
    c.rig.loop.When([&] { return !unplug && c.rig.presenter.ModeNumber() == 3 && c.rig.loop.passes > 20; },
                    [&] { Click(c.rig, "StopBtn"); });
    Click(c.rig, "DownLdBtn");
    EXPECT_EQ(c.rig.dialogs.messages,
              unplug ? std::vector<std::string>{"6 Communication error"} : std::vector<std::string>{});
    EXPECT_EQ(modeAtBox, unplug ? std::vector<QString>{"file loaded"} : std::vector<QString>{});
    EXPECT_EQ(Text(c.rig, "ModeLabel"), "file loaded");
    EXPECT_FALSE(c.rig.Find("DownLdBtn")->isEnabled());
    EXPECT_TRUE(c.rig.Find("ComportBtn")->isEnabled()) << "a new search is the way on";
    // Status line 1 no longer names the closed port: it says how far the run got.
    const QRegularExpression said(
        unplug ? QStringLiteral("^Adapter unplugged at \\d+ %: the flash is partly written$")
               : QStringLiteral("^Stopped at \\d+ %: the flash is partly written$"));
    EXPECT_TRUE(said.match(Text(c.rig, "status1")).hasMatch()) << Text(c.rig, "status1").toStdString();
    EXPECT_EQ(c.rig.Find("status1")->toolTip(), Text(c.rig, "status1"));
    EXPECT_FALSE(c.rig.window.findChild<QTimer*>(QStringLiteral("Timer1"))->isActive());
    EXPECT_EQ(c.rig.target->Started(), !unplug) << "Stop's farewell reached the loader";
  }
}

// While a box says why something failed, the window behind it already shows what is true: an
// unplugged adapter's reason in status line 1, a refused chip's mode no longer "Target connected".
TEST(WindowOutcomes, BehindABoxTheWindowAlreadyShowsWhatHappened) {
  {
    Connected c;
    QString status1AtBox;
    c.rig.dialogs.onMessage = [&](const std::string&) { status1AtBox = Text(c.rig, "status1"); };
    c.rig.target->AddFault({'P', 2, sim::FaultKind::Vanish});
    Click(c.rig, "DownLdBtn");
    EXPECT_TRUE(
        QRegularExpression(QStringLiteral("^Adapter unplugged at \\d+ %: the flash is partly written$"))
            .match(status1AtBox)
            .hasMatch())
        << status1AtBox.toStdString();
  }
  {
    Fixtures files;
    WindowRig rig{/*withTarget=*/true};
    sim::SimTargetConfig other = sim::ExampleBoardConfig();
    other.signature = 0x1E9587;
    *rig.target = sim::SimTarget(other, rig.loop.Clock());
    rig.window.show();
    rig.dialogs.answer = files.Path("blink.ppro");
    Click(rig, "FOpenBtn");
    std::vector<QString> modeAtBox;
    bool downloadAtBox = true;
    rig.dialogs.onMessage = [&](const std::string&) {
      modeAtBox.push_back(Text(rig, "ModeLabel"));
      downloadAtBox = rig.Find("DownLdBtn")->isEnabled();
    };
    Click(rig, "ComportBtn");
    ASSERT_EQ(rig.dialogs.messages.size(), 1u);
    EXPECT_EQ(rig.dialogs.messages[0].rfind("Device ID :", 0), 0u) << rig.dialogs.messages[0];
    EXPECT_EQ(modeAtBox, std::vector<QString>{"none"});
    EXPECT_FALSE(downloadAtBox);
  }
}

// A run started from the keyboard gives the keyboard back to the button that started it (or to
// Comport once that button is disabled), never to Stop: the next Space is meant for the next board.
TEST(WindowOutcomes, AfterARunTheFocusReturnsToTheButtonThatStartedIt) {
  for (const bool unplug : {false, true}) {
    SCOPED_TRACE(unplug ? "unplugged: Download is disabled" : "finished");
    Connected c;
    c.rig.window.activateWindow();
    QApplication::setActiveWindow(&c.rig.window);
    if (unplug) c.rig.target->AddFault({'P', 2, sim::FaultKind::Vanish});
    auto* download = c.rig.Find<QPushButton>("DownLdBtn");
    download->setFocus();
    QTest::keyClick(download, Qt::Key_Space);
    ASSERT_FALSE(c.rig.target->SentBytes().empty());
    EXPECT_EQ(QApplication::focusWidget(),
              unplug ? c.rig.Find("ComportBtn") : static_cast<QWidget*>(download))
        << (QApplication::focusWidget() ? QApplication::focusWidget()->objectName().toStdString() : "none");
  }
}

// An adapter pulled while the window sits connected: within the watch's period the window says
// so, once, with no box, and the search is the way on.
TEST(WindowOutcomes, AnAdapterUnpluggedWhileIdleEndsTheConnection) {
  Connected c;
  QTest::qWait(700);
  EXPECT_EQ(Text(c.rig, "ModeLabel"), "Target connected") << "a board that is still there stays connected";
  c.rig.target->Unplug();
  QTest::qWait(700);
  EXPECT_EQ(Text(c.rig, "ModeLabel"), "file loaded");
  EXPECT_EQ(Text(c.rig, "status1"), "Adapter unplugged");
  EXPECT_TRUE(c.rig.dialogs.messages.empty());
  EXPECT_TRUE(c.rig.Find("ComportBtn")->isEnabled());
  EXPECT_FALSE(c.rig.Find("DownLdBtn")->isEnabled());
}

// A run that reaches its end says so in status line 0, with its time when nothing failed; one
// that a numbered failure ended says where, instead of the caption of the phase it was in.
TEST(WindowOutcomes, TheEndOfARunIsShownWithItsTime) {
  struct Case {
    const char* button;
    std::optional<sim::Fault> fault;
    const char* status0;
    std::vector<std::string> boxes;
  };
  const Case cases[] = {
      {"DownLdBtn", std::nullopt, "Download finished and verified in 8.6 s (flash and EEPROM)", {}},
      {"EraseBtn", std::nullopt, "Erase finished in 8.6 s", {}},
      // A page written wrong yet acknowledged: only the check afterwards finds it, and names it.
      {"DownLdBtn",
       sim::Fault{'P', 2, sim::FaultKind::CorruptWrite},
       "Verify failed: flash at 0x0080",
       {"Verify failed: the flash differs from the image from the page at 0x0080 on."}},
      {"DownLdBtn",
       sim::Fault{'V', 1, sim::FaultKind::NoReply},
       "Verify failed: no answer to the flash check",
       {"Verify failed: the loader did not answer the flash check."}},
      {"DownLdBtn",
       sim::Fault{'P', 1, sim::FaultKind::WrongReply},
       "Download finished with errors",
       {"6 Communication error"}},
      {"EraseBtn",
       sim::Fault{'E', 1, sim::FaultKind::WrongReply},
       "Erase finished with errors",
       {"9 Communication error"}},
      {"DownLdBtn",
       sim::Fault{'D', 2, sim::FaultKind::WrongReply},
       "Download failed at 0x0080 (5 Communication error)",
       {"5 Communication error"}},
      {"DownLdBtn",
       sim::Fault{'B', 3, sim::FaultKind::NoReply},
       "Download failed at EEPROM 0x0002 (7 Communication error)",
       {"7 Communication error"}},
  };
  for (const Case& t : cases) {
    SCOPED_TRACE(std::string(t.button) + " " + t.status0);
    Connected c;
    if (t.fault) c.rig.target->AddFault(*t.fault);
    // The run's own waits add a few milliseconds to the 8.6 s.
    c.rig.loop.When([&] { return c.rig.presenter.ModeNumber() == 3; }, [&] { c.rig.loop.now += 8600; });
    Click(c.rig, t.button);
    EXPECT_EQ(c.rig.dialogs.messages, t.boxes) << TraceText(c.rig.target->Trace(), 8);
    EXPECT_EQ(Text(c.rig, "status0"), t.status0);
  }
}

// Without a check the line says why: a file that names no loader ID (so "i" is not asked), a
// loader of another family.
TEST(WindowOutcomes, ADownloadThatIsNotCheckedSaysWhy) {
  for (const bool otherLoader : {false, true}) {
    sim::SimTargetConfig board = sim::ExampleBoardConfig();
    if (otherLoader) board.loaderIds = {0x0101, 0, 0, 0};
    Connected c(board);
    if (!otherLoader) test::Inside(c.rig.presenter).g.OrgBootID = -1;
    c.rig.loop.When([&] { return c.rig.presenter.ModeNumber() == 3; }, [&] { c.rig.loop.now += 2400; });
    Click(c.rig, "DownLdBtn");
    EXPECT_EQ(Text(c.rig, "status0"),
              otherLoader ? "Download finished in 2.4 s (this loader cannot verify)"
                          : "Download finished in 2.4 s (not verified: the file names no loader ID)");
    EXPECT_FALSE(c.rig.presenter.LastRun().result.verification) << "never sent \"C\"";
    EXPECT_EQ(Text(c.rig, "ModeLabel"), "Target connected");
  }
}

// Both check boxes clear: the documented exchanges still run, but nothing was written and the
// window does not say it finished a download.
TEST(WindowOutcomes, BothCheckBoxesClearIsNotAFinishedDownload) {
  Connected c;
  QTest::mouseClick(c.rig.Find<QCheckBox>("ProgFlashChk"), Qt::LeftButton);
  QTest::mouseClick(c.rig.Find<QCheckBox>("ProgEEpChk"), Qt::LeftButton);
  const size_t before = c.rig.target->SentBytes().size();
  Click(c.rig, "DownLdBtn");
  EXPECT_EQ(c.rig.target->SentBytes().substr(before), "?Ii");
  EXPECT_EQ(Text(c.rig, "status0"), "Nothing written: both check boxes are clear");
  EXPECT_TRUE(c.rig.dialogs.messages.empty());
}

TEST(WindowOutcomes, DuringARunTheProgressBarsTooltipShowsPercentAndTimeLeft) {
  Connected c;
  auto* bar = c.rig.Find<QProgressBar>("ProgressBar1");
  const QString idle = bar->toolTip();
  QStringList seen;
  c.rig.loop.When([&] { return c.rig.presenter.ModeNumber() == 3 && bar->value() > 0; },
                  [&] {
                    c.rig.loop.now += 3000;  // a slow line: 3 s for the first few percent
                    c.rig.loop.When([&] { return bar->value() >= 40; }, [&] { seen << bar->toolTip(); });
                  });
  Click(c.rig, "DownLdBtn");
  ASSERT_EQ(seen.size(), 1);
  EXPECT_TRUE(QRegularExpression(QStringLiteral("^\\d+ %, about \\d+ s left$")).match(seen[0]).hasMatch())
      << seen[0].toStdString();
  const int percent = seen[0].section(' ', 0, 0).toInt();
  const int left = seen[0].section(' ', 3, 3).toInt();
  EXPECT_GE(percent, 40);
  EXPECT_GE(left, 1);
  EXPECT_LE(left, 5) << "3 s for 40 % or more leaves less than 5 s";
  EXPECT_EQ(bar->toolTip(), idle) << "after the run";
}

TEST(WindowOutcomes, ATargetThatNoLongerAnswersIsReported) {
  Connected c;
  c.rig.target->AddFault({'?', 2, sim::FaultKind::NoReply});  // the board was reset meanwhile
  Click(c.rig, "EraseBtn");
  EXPECT_EQ(c.rig.dialogs.messages, std::vector<std::string>{"Target not found"});
  EXPECT_EQ(Text(c.rig, "ModeLabel"), "file loaded");
  EXPECT_EQ(Text(c.rig, "status1"), "COMport none");
  EXPECT_FALSE(test::Inside(c.rig.presenter).ComPort.IsOpen());
  EXPECT_FALSE(c.rig.target->Started()) << "no \"X\" to a loader that does not answer";
}

TEST(WindowOutcomes, ABoardSwappedBehindTheOpenPortIsIdentifiedAgain) {
  Connected c;
  sim::SimTargetConfig other = sim::ExampleBoardConfig();
  other.signature = 0x1E9514;
  c.Swap(other);
  Click(c.rig, "DownLdBtn");
  EXPECT_EQ(c.rig.dialogs.messages, std::vector<std::string>{"Device ID :\r1E950F\rexpected!"});
  EXPECT_EQ(c.rig.target->SentBytes(), "?IX") << TraceText(c.rig.target->Trace());
  EXPECT_EQ(Text(c.rig, "TargDevIDcapt"), "Device ID : &1E9514");
  EXPECT_EQ(Text(c.rig, "ModeLabel"), "none");
  EXPECT_EQ(Text(c.rig, "status0"), "COMport none");
  EXPECT_EQ(Text(c.rig, "status1"), "ERROR");
}

TEST(WindowOutcomes, AProjectRateNoPortCanUseIsReportedAtLoad) {
  Fixtures files;
  files.Write("fast.hex", HexFile({1, 2, 3}));
  files.Write("fast.ppro", "DeviceID=$1E950F\nBaudRate=-1\n");
  WindowRig rig;
  rig.window.show();
  rig.dialogs.answer = files.Path("fast.ppro");
  Click(rig, "FOpenBtn");
  ASSERT_FALSE(rig.dialogs.messages.empty());
  EXPECT_EQ(rig.dialogs.messages.back(),
            "The project's BaudRate -1 is not a usable rate; the rate stays at 9600.");
  EXPECT_EQ(Text(rig, "ModeLabel"), "file loaded");
}

// A long file name: the caption keeps the whole name, draws it shortened with "…" within its
// place, and shows the file's whole path as its tooltip.
TEST(WindowOutcomes, ALongFileNameIsDrawnShortenedWithItsPathAsTooltip) {
  Fixtures files;
  const std::string name = "a-very-long-project-name-for-the-production-line-board.hex";
  files.Write(name.c_str(), HexFile({1, 2, 3}));
  WindowRig rig;
  rig.window.show();
  auto* caption = rig.Find<QLabel>("FNameCapt");
  const QRect place = caption->geometry();
  rig.dialogs.answer = files.Path(name.c_str());
  Click(rig, "FOpenBtn");
  EXPECT_EQ(caption->text().toStdString(), name) << "the caption keeps the whole name";
  EXPECT_EQ(caption->toolTip().toStdString(), files.Path(name.c_str()));
  EXPECT_EQ(caption->geometry(), place);
  // It is drawn shortened: the label is one that elides, and the shortened text fits its place.
  EXPECT_NE(dynamic_cast<qt::ElidedLabel*>(caption), nullptr);
  const QString elided =
      caption->fontMetrics().elidedText(caption->text(), Qt::ElideRight, caption->contentsRect().width());
  EXPECT_TRUE(elided.endsWith(QChar(0x2026))) << elided.toStdString();

  rig.dialogs.answer = files.Path("blink.ppro");
  Click(rig, "FOpenBtn");
  EXPECT_EQ(caption->toolTip().toStdString(), files.Path("blink.ppro"))
      << "a project: the project's own path";
}

}  // namespace
}  // namespace bm
