// A person's run through the real window: Load, Comport with the simulated target, Download,
// Stop; the File menu's Load and Parameter; closing the window in the middle of a run.
#include <gtest/gtest.h>

#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QMenu>
#include <QMessageBox>
#include <QMimeData>
#include <QPointer>
#include <QProgressBar>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <QUrl>
#include <filesystem>
#include <fstream>

#include "WindowFiles.h"
#include "WindowRig.h"
#include "app/packwriter/PackWriter.h"
#include "base/ByteTrace.h"
#include "base/Util.h"
#include "platform/qt/QtDialogs.h"
#include "shell/qt/Lamp.h"
#include "shell/qt/ParamListWindow.h"
#include "support/Inside.h"

namespace bm {
namespace {

using namespace Util;
using test::WindowRig;
using namespace test::window;

// What a person reads off the window.
struct Seen {
  QString title, file, flashSize, eepromSize, deviceId, cpu, mode;
  uint32_t red, yellow, green;
  bool flashChk, eepChk, comport, para;
  int baud;
  bool operator==(const Seen&) const = default;
};

Seen Look(const WindowRig& rig) {
  return {rig.window.windowTitle(),
          Text(rig, "FNameCapt"),
          Text(rig, "FlashSizeCapt"),
          Text(rig, "EEpSizeCapt"),
          Text(rig, "SourceDevIDcapt"),
          Text(rig, "CPUnameCapt"),
          Text(rig, "ModeLabel"),
          Lamp(rig, "LedRed"),
          Lamp(rig, "LedYellow"),
          Lamp(rig, "LedGreen"),
          rig.Find<QCheckBox>("ProgFlashChk")->isChecked(),
          rig.Find<QCheckBox>("ProgEEpChk")->isChecked(),
          rig.Find("ComportBtn")->isEnabled(),
          rig.window.Menus().Para->isEnabled(),
          rig.Find<QComboBox>("BaudSelect")->currentIndex()};
}

// Entries and the selected one, as the pop-up reads.
QString BaudEntries(const WindowRig& rig) {
  auto* box = rig.Find<QComboBox>("BaudSelect");
  QStringList entries;
  for (int i = 0; i < box->count(); ++i) entries << box->itemText(i);
  return entries.join(',') + QStringLiteral(" @") + box->currentText();
}

TEST(WindowFlow, ADroppedFileOrTheCommandLinesFileLoadsAsLoadDoes) {
  Fixtures files;
  WindowRig byButton;
  byButton.dialogs.answer = files.Path("blink.ppro");
  Click(byButton, "FOpenBtn");

  WindowRig dropped;
  QMimeData data;
  data.setUrls({QUrl::fromLocalFile(QString::fromStdString(files.Path("blink.ppro")))});
  QDragEnterEvent enter(QPoint(100, 100), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
  QApplication::sendEvent(&dropped.window, &enter);
  EXPECT_TRUE(enter.isAccepted());
  QDropEvent drop(QPointF(100, 100), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
  QApplication::sendEvent(&dropped.window, &drop);

  WindowRig named;
  named.window.LoadFile(QString::fromStdString(files.Path("blink.ppro")));

  for (WindowRig* rig : {&dropped, &named}) {
    EXPECT_EQ(rig->dialogs.openCount, 0) << "the file is the dialog's answer; no dialog shows";
    EXPECT_EQ(Look(*rig), Look(byButton));
    EXPECT_EQ(rig->presenter.ModeNumber(), 1);
  }

  // The next Load's dialog opens in the folder of the file loaded last, however it came.
  EXPECT_EQ(byButton.dialogs.shownFolder, "") << "nothing loaded before the first dialog";
  const std::string folder = std::filesystem::path(files.Path("blink.ppro")).parent_path().string();
  for (WindowRig* rig : {&byButton, &dropped}) {
    rig->dialogs.answer.reset();  // cancelled
    Click(*rig, "FOpenBtn");
    EXPECT_EQ(rig->dialogs.shownFolder, folder);
  }

  // Not a local file: nothing to load.
  QMimeData web;
  web.setUrls({QUrl(QStringLiteral("https://example.org/blink.hex"))});
  QDragEnterEvent refused(QPoint(100, 100), Qt::CopyAction, &web, Qt::LeftButton, Qt::NoModifier);
  QApplication::sendEvent(&named.window, &refused);
  EXPECT_FALSE(refused.isAccepted());
}

TEST(WindowFlow, TheFileDialogOffersEachKindInPlainWords) {
  WindowRig rig;
  rig.dialogs.answer = std::nullopt;
  Click(rig, "FOpenBtn");
  EXPECT_EQ(QString::fromStdString(qt::QtDialogs::Filter(rig.dialogs.shownKinds)).split(QStringLiteral(";;")),
            QStringList({"All supported files (*.hex *.eep *.ppro *.pac *.pack)",
                         "Intel HEX flash image (*.hex)", "Intel HEX EEPROM image (*.eep)",
                         "Project (*.ppro)", "Pack file (*.pac *.pack)", "All files (*)"}));
}

TEST(WindowFlow, LoadHasThePlatformsOpenShortcut) {
  WindowRig rig;
  EXPECT_EQ(rig.window.Menus().load->shortcut(), QKeySequence(QKeySequence::Open));
}

TEST(WindowFlow, ARateOutsideThePopUpsEntriesShowsAsAnExtraEntryWhileInUse) {
  WindowRig rig;
  Fixtures files;
  files.Write("fast.hex", HexFile(files.flash));
  files.Write("fast.ppro", "[Project]\nDeviceID=$1E950F\nCPUname=ATmega328P\nBaudRate=115200\n");
  auto* box = rig.Find<QComboBox>("BaudSelect");
  const auto load = [&](const char* name) {
    rig.dialogs.answer = files.Path(name);
    Click(rig, "FOpenBtn");
  };

  load("fast.ppro");
  EXPECT_EQ(test::Inside(rig.presenter).ComPort.BaudRate(), 115200);
  EXPECT_EQ(BaudEntries(rig), "9600,19200,38400,57600,115200 @115200");
  load("fast.ppro");
  EXPECT_EQ(box->count(), 5) << "one extra entry, not one a load";

  load("blink.ppro");  // 57600: one of the four
  EXPECT_EQ(BaudEntries(rig), "9600,19200,38400,57600 @57600");

  load("fast.ppro");
  box->setCurrentIndex(1);
  emit box->activated(1);  // the user's choice of one of the four
  EXPECT_EQ(test::Inside(rig.presenter).ComPort.BaudRate(), 19200);
  EXPECT_EQ(BaudEntries(rig), "9600,19200,38400,57600 @19200");
}

TEST(WindowFlow, LoadByButtonAndByMenuLookTheSame) {
  Fixtures files;
  for (const char* name : {"blink.ppro", "blink.pac", "missing.hex"}) {
    SCOPED_TRACE(name);
    WindowRig byButton, byMenu;
    byButton.window.show();
    byButton.dialogs.answer = byMenu.dialogs.answer = files.Path(name);
    Click(byButton, "FOpenBtn");
    byMenu.window.Menus().load->trigger();
    EXPECT_EQ(byButton.dialogs.openCount, 1);
    EXPECT_EQ(byMenu.dialogs.openCount, 1);
    EXPECT_TRUE(Look(byButton) == Look(byMenu))
        << Look(byButton).title.toStdString() << " vs " << Look(byMenu).title.toStdString();
    EXPECT_EQ(byButton.dialogs.messages, byMenu.dialogs.messages);
  }
}

TEST(WindowFlow, ParameterOnlyAfterAPackFile) {
  Fixtures files;
  WindowRig rig;
  QAction* para = rig.window.Menus().Para;
  struct Step {
    const char* file;  // null: the dialog is cancelled
    bool enabled;
    const char* why;
  };
  const Step steps[] = {
      {"blink.ppro", false, "a project is no pack"},
      {"blink.pac", true, "a pack file enables it"},
      {nullptr, true, "cancelling the dialog changes nothing"},
      {"blink.hex", false, "the next load of another kind disables it again"},
  };
  for (const Step& s : steps) {
    SCOPED_TRACE(s.why);
    rig.dialogs.answer = s.file ? std::optional(files.Path(s.file)) : std::nullopt;
    rig.window.Menus().load->trigger();
    EXPECT_EQ(para->isEnabled(), s.enabled) << "without opening the menu";
    emit rig.window.Menus().FileMenu->aboutToShow();
    EXPECT_EQ(para->isEnabled(), s.enabled);
  }
  rig.dialogs.answer = files.Path("blink.pac");
  rig.window.Menus().load->trigger();
  para->trigger();
  ASSERT_NE(rig.window.ParamList(), nullptr);
  EXPECT_EQ(rig.window.ParamList()->windowTitle(), "Parameter list of Blink pack");
}

TEST(WindowFlow, LoadComportDownloadStop) {
  Fixtures files;
  WindowRig rig(/*withTarget=*/true);
  rig.window.show();
  EXPECT_EQ(Text(rig, "status0"), "");
  EXPECT_EQ(Text(rig, "status1"), "");

  rig.dialogs.answer = files.Path("blink.ppro");
  Click(rig, "FOpenBtn");
  EXPECT_EQ(rig.window.windowTitle(), "Brindlemark [blink.ppro]");
  EXPECT_EQ(Text(rig, "FNameCapt"), "blink.ppro");
  EXPECT_EQ(Text(rig, "FlashSizeCapt"), "300 Bytes");
  EXPECT_EQ(Text(rig, "EEpSizeCapt"), "4 Bytes");
  EXPECT_EQ(Text(rig, "SourceDevIDcapt"), "1E950F");
  EXPECT_EQ(Text(rig, "CPUnameCapt"), "ATmega328P");
  EXPECT_EQ(Text(rig, "ModeLabel"), "file loaded");
  EXPECT_EQ(Lamp(rig, "LedYellow"), clYellow);
  EXPECT_TRUE(rig.Find<QCheckBox>("ProgFlashChk")->isChecked());
  EXPECT_TRUE(rig.Find<QCheckBox>("ProgEEpChk")->isChecked());
  EXPECT_EQ(rig.Find<QComboBox>("BaudSelect")->currentText(), "57600");
  EXPECT_TRUE(rig.Find("ComportBtn")->isEnabled());
  EXPECT_FALSE(rig.Find("DownLdBtn")->isEnabled());
  EXPECT_TRUE(rig.dialogs.messages.empty());

  Click(rig, "ComportBtn");
  EXPECT_EQ(Text(rig, "ModeLabel"), "Target connected");
  EXPECT_EQ(Lamp(rig, "LedGreen"), clLime);
  EXPECT_EQ(Lamp(rig, "LedRed"), clMaroon);
  EXPECT_EQ(Text(rig, "status1"), "COMport sim");
  EXPECT_EQ(Text(rig, "TargDevIDcapt"), "Device ID : &1E950F");
  EXPECT_EQ(Text(rig, "TargLoaderIDcapt"), "Loader ID : &101");
  EXPECT_EQ(rig.Find<QProgressBar>("ProgressBar1")->maximum(), 100) << "busy indicator over";
  EXPECT_TRUE(rig.Find("DownLdBtn")->isEnabled());
  EXPECT_TRUE(rig.Find("EraseBtn")->isEnabled());
  EXPECT_TRUE(rig.Find("BaudSelect")->isEnabled());

  // While the download runs: blinking red with yellow lit, only Stop usable, baud locked.
  bool sawRun = false;
  rig.loop.When([&] { return rig.presenter.ModeNumber() == 3; },
                [&] {
                  sawRun = true;
                  EXPECT_EQ(Text(rig, "ModeLabel"), "programming");
                  EXPECT_EQ(Text(rig, "status0"), "programming Flash");
                  EXPECT_EQ(Lamp(rig, "LedYellow"), clYellow);
                  EXPECT_TRUE(rig.window.findChild<QTimer*>(QStringLiteral("Timer1"))->isActive());
                  for (const char* name : {"FOpenBtn", "ComportBtn", "DownLdBtn", "EraseBtn"})
                    EXPECT_FALSE(rig.Find(name)->isEnabled()) << name;
                  EXPECT_FALSE(rig.window.Menus().load->isEnabled()) << "File > Load follows the button";
                  EXPECT_TRUE(rig.Find("StopBtn")->isEnabled());
                  EXPECT_FALSE(rig.Find("BaudSelect")->isEnabled());
                });
  Click(rig, "DownLdBtn");
  EXPECT_TRUE(sawRun);
  EXPECT_TRUE(rig.dialogs.messages.empty()) << rig.dialogs.messages.front();
  EXPECT_EQ(Text(rig, "ModeLabel"), "Target connected");
  EXPECT_TRUE(Text(rig, "status0").startsWith("Download finished and verified in "))
      << Text(rig, "status0").toStdString();
  EXPECT_TRUE(rig.window.Menus().load->isEnabled());
  EXPECT_EQ(rig.Find<QProgressBar>("ProgressBar1")->value(), 0) << "mode 2 empties the bar";
  EXPECT_FALSE(rig.window.findChild<QTimer*>(QStringLiteral("Timer1"))->isActive());
  EXPECT_TRUE(std::equal(files.flash.begin(), files.flash.end(), rig.target->Flash().begin()))
      << TraceText(rig.target->Trace(), 8);
  EXPECT_TRUE(std::equal(files.eeprom.begin(), files.eeprom.end(), rig.target->Eeprom().begin()));

  Click(rig, "StopBtn");
  EXPECT_TRUE(rig.target->Started()) << "Stop sends X: the loader leaves";
  EXPECT_FALSE(test::Inside(rig.presenter).ComPort.IsOpen());
  EXPECT_EQ(Text(rig, "ModeLabel"), "file loaded");
  EXPECT_EQ(Lamp(rig, "LedYellow"), clYellow);
  EXPECT_EQ(Lamp(rig, "LedGreen"), clGreen);
  EXPECT_FALSE(rig.Find("DownLdBtn")->isEnabled());
  EXPECT_EQ(Text(rig, "status0"), "");
}

// A project at 1200 baud with a target that takes the line time for every byte: the 7 bytes of
// the "I" reply and the 8 of "i" take longer than the 50 ms window, a page a whole second. The
// window connects, names the loader and writes the image, verified.
TEST(WindowFlow, ASlowRateConnectsAndDownloads) {
  Fixtures files;
  files.Write("slow.ppro",
              "[Project]\nDeviceID=$1E950F\nCPUname=ATmega328P\nBootLoaderID=$0101\nBaudRate=1200\n");
  files.Write("slow.hex", HexFile(files.flash));
  files.Write("slow.eep", HexFile(files.eeprom));
  sim::SimTargetConfig board = sim::ExampleBoardConfig();
  board.paced = true;
  board.baud = 1200;  // at any other rate the loader hears noise
  WindowRig rig(/*withTarget=*/true, board);
  rig.dialogs.answer = files.Path("slow.ppro");
  Click(rig, "FOpenBtn");
  EXPECT_EQ(rig.Find<QComboBox>("BaudSelect")->currentText(), "1200");

  Click(rig, "ComportBtn");
  ASSERT_EQ(Text(rig, "ModeLabel"), "Target connected") << TraceText(rig.target->Trace(), 8);
  EXPECT_EQ(Text(rig, "TargLoaderIDcapt"), "Loader ID : &101");
  Click(rig, "DownLdBtn");
  EXPECT_TRUE(rig.dialogs.messages.empty()) << rig.dialogs.messages.front();
  EXPECT_TRUE(Text(rig, "status0").startsWith("Download finished and verified in "))
      << Text(rig, "status0").toStdString();
  EXPECT_TRUE(std::equal(files.flash.begin(), files.flash.end(), rig.target->Flash().begin()))
      << TraceText(rig.target->Trace(), 8);
  EXPECT_TRUE(std::equal(files.eeprom.begin(), files.eeprom.end(), rig.target->Eeprom().begin()));
}

TEST(WindowFlow, LoadWhileConnectedReleasesTheTarget) {
  Fixtures files;
  WindowRig rig(true);
  rig.window.show();
  rig.dialogs.answer = files.Path("blink.ppro");
  Click(rig, "FOpenBtn");
  Click(rig, "ComportBtn");
  ASSERT_EQ(Text(rig, "ModeLabel"), "Target connected");
  ASSERT_FALSE(rig.target->Started());
  Click(rig, "FOpenBtn");
  EXPECT_TRUE(rig.target->Started()) << "the load sent X";
  EXPECT_FALSE(test::Inside(rig.presenter).ComPort.IsOpen());
  EXPECT_EQ(Text(rig, "ModeLabel"), "file loaded");
}

TEST(WindowFlow, DownloadClickedWhileIdentificationWaitsDoesNothing) {
  Fixtures files;
  WindowRig rig(true);
  rig.window.show();
  rig.dialogs.answer = files.Path("blink.ppro");
  Click(rig, "FOpenBtn");
  bool clicked = false;
  // The search has found the loader and the window shows Download enabled; "I" is on its way.
  rig.loop.When(
      [&] {
        return test::Inside(rig.presenter).g.COMok && rig.target->SentBytes().find('I') != std::string::npos;
      },
      [&] {
        ASSERT_TRUE(rig.Find("DownLdBtn")->isEnabled());
        Click(rig, "DownLdBtn");
        clicked = true;
      });
  Click(rig, "ComportBtn");
  ASSERT_TRUE(clicked);
  const std::string sent = rig.target->SentBytes();
  EXPECT_EQ(sent.find('A'), std::string::npos) << TraceText(rig.target->Trace());
  EXPECT_EQ(std::count(sent.begin(), sent.end(), '?'), 1) << "no second liveness check from a download";
  EXPECT_EQ(Text(rig, "ModeLabel"), "Target connected");
  EXPECT_TRUE(rig.dialogs.messages.empty());
}

TEST(WindowFlow, ClosingDuringADownloadEndsTheRunWithoutXAndThenCloses) {
  Fixtures files;
  WindowRig rig(true);
  rig.window.show();
  rig.dialogs.answer = files.Path("blink.ppro");
  Click(rig, "FOpenBtn");
  Click(rig, "ComportBtn");
  bool stillOpen = false;
  rig.loop.When([&] { return rig.presenter.ModeNumber() == 3; },
                [&] {
                  rig.window.close();
                  ASSERT_NE(rig.window.QuitQuestion(), nullptr);
                  rig.window.QuitQuestion()->button(QMessageBox::Yes)->click();
                  stillOpen = rig.window.isVisible();
                });
  Click(rig, "DownLdBtn");
  EXPECT_TRUE(stillOpen) << "the window waits for the run to end";
  EXPECT_TRUE(rig.presenter.QuitRequested());
  EXPECT_FALSE(rig.window.isVisible()) << "closed once the run had unwound";
  EXPECT_FALSE(test::Inside(rig.presenter).ComPort.IsOpen());
  EXPECT_FALSE(rig.target->Started()) << "quitting never sends X";
  EXPECT_TRUE(rig.dialogs.messages.empty()) << "no error box for a run the user ended";
}

// The question leaves the run going: the loader drops a command whose bytes stop for 50 ms, so a
// question that held the run up in the middle of a page (its own event loop turning while time
// passes) would end the run with a numbered failure.
TEST(WindowFlow, TheQuitQuestionLeavesTheRunGoingUntilItIsAnswered) {
  struct Case {
    const char* button;
    const char* question;
    const char* answer;  // null: not answered, the run's end closes it
    int yields;          // asked once the run has yielded this often (40: in the middle of a page)
  };
  const Case cases[] = {
      {"DownLdBtn", "A download is running. Stop it and quit?", nullptr, 40},
      {"EraseBtn", "An erase is running. Stop it and quit?", nullptr, 0},
      {"DownLdBtn", "A download is running. Stop it and quit?", "No", 40},
  };
  for (const Case& t : cases) {
    SCOPED_TRACE(std::string(t.button) + (t.answer ? " answered No" : ""));
    Fixtures files;
    WindowRig rig(true);
    sim::SimTargetConfig board = sim::ExampleBoardConfig();
    board.commandTimeoutMs = 50;
    *rig.target = sim::SimTarget(board, rig.loop.Clock());
    rig.window.show();
    rig.dialogs.answer = files.Path("blink.ppro");
    Click(rig, "FOpenBtn");
    Click(rig, "ComportBtn");
    QPointer<QMessageBox> question;
    bool askedWhileRunning = false;  // the question still open as the run goes on
    int base = 0;
    rig.loop.When([&] { return rig.presenter.ModeNumber() == 3; }, [&] { base = rig.loop.yields; });
    rig.loop.When([&] { return rig.presenter.ModeNumber() == 3 && rig.loop.yields > base + t.yields; },
                  [&] {
                    // Were the question to wait in an event loop of its own, this would run there.
                    QTimer::singleShot(0, &rig.window, [&] {
                      rig.loop.now += 1000;
                      if (QMessageBox* open = rig.window.QuitQuestion()) open->reject();
                    });
                    rig.window.Menus().FileQuit->trigger();
                    question = rig.window.QuitQuestion();
                    ASSERT_NE(question, nullptr);
                    EXPECT_EQ(question->text(), t.question);
                    EXPECT_EQ(question->windowModality(), Qt::WindowModal);
                    EXPECT_TRUE(question->isVisible());
                    const int at = rig.loop.passes + rig.loop.yields;
                    rig.loop.When([&, at] { return rig.loop.passes + rig.loop.yields > at + 2; },
                                  [&] {
                                    askedWhileRunning = question && question->isVisible();
                                    if (t.answer) question->button(QMessageBox::No)->click();
                                  });
                  });
    Click(rig, t.button);
    EXPECT_TRUE(askedWhileRunning) << "the run went on with the question open";
    EXPECT_TRUE(rig.dialogs.messages.empty()) << rig.dialogs.messages.front();
    EXPECT_TRUE(!question || !question->isVisible()) << "the run's end closed it";
    EXPECT_TRUE(rig.window.isVisible());
    EXPECT_FALSE(rig.presenter.QuitRequested());
    EXPECT_EQ(Text(rig, "ModeLabel"), "Target connected");
    if (std::string(t.button) == "DownLdBtn") {
      EXPECT_TRUE(std::equal(files.flash.begin(), files.flash.end(), rig.target->Flash().begin()))
          << TraceText(rig.target->Trace(), 8);
    }
    QApplication::processEvents();  // the timer of a question that did not wait
  }
}

TEST(WindowFlow, ClosingDuringAnEraseAndAnsweringYesEndsTheRunAndCloses) {
  Fixtures files;
  WindowRig rig(true);
  rig.window.show();
  rig.dialogs.answer = files.Path("blink.ppro");
  Click(rig, "FOpenBtn");
  Click(rig, "ComportBtn");
  rig.loop.When([&] { return rig.presenter.ModeNumber() == 3; },
                [&] {
                  rig.window.close();
                  ASSERT_NE(rig.window.QuitQuestion(), nullptr);
                  EXPECT_FALSE(rig.presenter.QuitRequested()) << "nothing ends before the answer";
                  rig.window.QuitQuestion()->button(QMessageBox::Yes)->click();
                });
  Click(rig, "EraseBtn");
  EXPECT_FALSE(rig.window.isVisible());
  EXPECT_FALSE(test::Inside(rig.presenter).ComPort.IsOpen());
  EXPECT_FALSE(rig.target->Started()) << "quitting never sends X";
  EXPECT_TRUE(rig.dialogs.messages.empty());
}

// A port that never opens, as a pulled adapter's.
class AbsentPort : public SerialPort {
 public:
  bool Open() override { return false; }
  void Close() override {}
  bool IsOpen() const override { return false; }
  void SetBaudRate(int baud) override { baud_ = baud; }
  int BaudRate() const override { return baud_; }
  void Write(std::string_view) override {}
  void XmitWait() override {}
  void Drain() override {}
  void Flush() override {}
  int BytesAvailable() override { return 0; }
  std::string Read(int) override { return {}; }

 private:
  int baud_ = 9600;
};

// The system's ports: the test plugs and pulls adapters; the list changes only on Refresh.
class ChangingPorts : public SerialService {
 public:
  explicit ChangingPorts(std::vector<std::string>* plugged) : plugged_(plugged) {}
  int Count() override { return static_cast<int>(seen_.size()); }
  std::string PortName(int i) override { return seen_.at(i); }
  std::string Description(int) override { return {}; }
  std::unique_ptr<SerialPort> Bind(int) override { return std::make_unique<AbsentPort>(); }
  bool Refresh() override {
    seen_ = *plugged_;
    return true;
  }

 private:
  std::vector<std::string>* plugged_;
  std::vector<std::string> seen_;
};

TEST(WindowFlow, EachComportPressReadsThePortListAgain) {
  std::vector<std::string> plugged, named{"/dev/pts/7"};
  WindowRig rig;
  rig.ports.Add(std::make_unique<ChangingPorts>(&plugged));
  rig.ports.Add(std::make_unique<ChangingPorts>(&named));  // named on the command line: always last
  struct Tries : Engine::Observer {
    void OnPortTried(const PortTry& t) override {
      if (t.status == PortTry::Status::Trying) tried.push_back(t.port);
    }
    std::vector<std::string> tried;
  } tries;
  const Engine::Registration listening = rig.presenter.engine().Listen(tries);
  std::vector<std::string>& tried = tries.tried;
  const struct {
    std::vector<std::string> plugged;
    std::vector<std::string> tried;  // last to first
  } steps[] = {
      {{"ttyUSB0"}, {"/dev/pts/7", "ttyUSB0"}},
      {{"ttyUSB0", "ttyUSB1", "ttyACM0"}, {"/dev/pts/7", "ttyACM0", "ttyUSB1", "ttyUSB0"}},
      {{}, {"/dev/pts/7"}},
  };
  for (const auto& step : steps) {
    plugged = step.plugged;
    tried.clear();
    rig.presenter.Handle([&] { rig.presenter.ComportBtn_Action(); });
    EXPECT_EQ(tried, step.tried);
    EXPECT_EQ(test::Inside(rig.presenter).g.serial_count, static_cast<int>(step.tried.size()));
  }
}

}  // namespace
}  // namespace bm
