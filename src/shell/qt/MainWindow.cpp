#include "shell/qt/MainWindow.h"

#include <QCheckBox>
#include <QCloseEvent>
#include <QComboBox>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QLabel>
#include <QLayout>
#include <QMenu>
#include <QMessageBox>
#include <QMimeData>
#include <QProgressBar>
#include <QPushButton>
#include <QTimer>
#include <cmath>
#include <filesystem>
#include <optional>

#include "shell/core/Main.h"
#include "shell/qt/AboutWindow.h"
#include "shell/qt/HelpTexts.h"
#include "shell/qt/HelpWindow.h"
#include "shell/qt/ParamListWindow.h"
#include "shell/qt/WindowDisplay.h"

namespace bm::qt {

// Says in the status lines how a run ended, beside what the logic shows: the time a finished run
// took, where a failed one stopped, how far a stopped or unplugged one got; and the time left
// during a run, in the progress bar's tooltip.
class MainWindow::RunStatus : public Main::Observer {
 public:
  explicit RunStatus(MainWindow& window) : w_(window) {}

  void OnRunStarted(Main::RunKind) override {
    startMs_ = phaseStartMs_ = w_.nowMs_();
    idleTip_ = w_.controls_.ProgressBar1->toolTip();
    phases_ = 0;
    flashWritten_ = false;
    percent_ = 0;
    done_ = 0;
  }
  void OnPhase(Phase phase) override {
    phaseStartMs_ = w_.nowMs_();
    phase_ = phase;
    ++phases_;
    flashWritten_ = flashWritten_ || phase == Phase::Flash;
    percent_ = 0;
    done_ = 0;
  }
  void OnProgress(int percent, int64_t done, int64_t) override {
    percent_ = percent;
    done_ = done;
    // Each phase counts from 0 to 100 on its own: the time left is the phase's.
    QString tip = QStringLiteral("%1 %").arg(percent);
    const double spent = w_.nowMs_() - phaseStartMs_;
    if (percent > 0 && percent < 100) {
      const double leftMs = spent * (100 - percent) / percent;
      tip += QStringLiteral(", about %1 s left").arg(static_cast<int>(std::ceil(leftMs / 1000)));
    }
    w_.controls_.ProgressBar1->setToolTip(tip);
  }
  void OnRunEnded(Main::RunKind kind, const RunReport& report) override {
    w_.controls_.ProgressBar1->setToolTip(idleTip_);
    const QString what =
        kind == Main::RunKind::Download ? QStringLiteral("Download") : QStringLiteral("Erase");
    const QString reloaded = report.reloaded.empty() ? QString()
                                                     : QString::fromStdString(report.reloaded) +
                                                           QStringLiteral(" changed on disk: loaded again. ");
    const RunResult& result = report.result;
    switch (result.end) {
      case RunEnd::Done: {
        const double seconds = (w_.nowMs_() - startMs_) / 1000;
        QString text = result.failures.empty()
                           ? QStringLiteral("%1 finished in %2 s").arg(what, QString::number(seconds, 'f', 1))
                           : QStringLiteral("%1 finished with errors").arg(what);
        if (kind == Main::RunKind::Download && result.failures.empty() && flashWritten_)
          text = WithVerification(result, seconds);
        if (phases_ == 0) text = NothingWritten();
        Show(w_.controls_.status0, reloaded + text);
        break;
      }
      case RunEnd::Failed:
        // The page (or EEPROM byte) the run was at when the target failed it.
        Show(w_.controls_.status0,
             reloaded +
                 QStringLiteral("%1 failed at %2%3 (%4 Communication error)")
                     .arg(what, phase_ == Phase::Eeprom ? QStringLiteral("EEPROM ") : QString(),
                          QStringLiteral("0x") + QString::number(done_, 16).toUpper().rightJustified(4, u'0'),
                          QString::number(Number(result.failures.back()))));
        break;
      case RunEnd::Stopped:
        Show(w_.controls_.status1, QStringLiteral("Stopped at %1 %: %2").arg(percent_).arg(PartlyDone()));
        break;
      case RunEnd::PortLost:
        Show(w_.controls_.status1,
             QStringLiteral("Adapter unplugged at %1 %: %2").arg(percent_).arg(PartlyDone()));
        break;
      case RunEnd::Quit:
        break;  // the window goes away
    }
  }

 private:
  // The whole text in the tooltip too: a status line may be too narrow for it.
  static void Show(QLabel* line, const QString& text) {
    line->setText(text);
    line->setToolTip(text);
  }
  // What the flash check after a download found, in status line 0.
  QString WithVerification(const RunResult& result, double seconds) const {
    const QString time = QString::number(seconds, 'f', 1);
    if (result.verification) {
      const Verification& v = *result.verification;
      if (v.outcome == Verification::Outcome::Verified)
        return QStringLiteral("Download finished and verified in %1 s (%2)")
            .arg(time, QString::fromStdString(v.What()));
      if (v.outcome == Verification::Outcome::Differs) {
        const bool flash = v.firstDifferingPage >= 0;
        return QStringLiteral("Verify failed: %1 at 0x%2")
            .arg(flash ? QStringLiteral("flash") : QStringLiteral("EEPROM"),
                 QString::number(flash ? v.firstDifferingPage : v.firstDifferingEepromByte, 16)
                     .toUpper()
                     .rightJustified(4, u'0'));
      }
      return QStringLiteral("Verify failed: no answer to the flash check");
    }
    if (w_.main_->State().OrgBootID < 0)
      return QStringLiteral("Download finished in %1 s (not verified: the file names no loader ID)")
          .arg(time);
    return QStringLiteral("Download finished in %1 s (this loader cannot verify)").arg(time);
  }
  QString NothingWritten() const {
    const bool anyBox = w_.controls_.ProgFlashChk->isChecked() || w_.controls_.ProgEEpChk->isChecked();
    return anyBox ? QStringLiteral("Nothing written: the chosen images are empty")
                  : QStringLiteral("Nothing written: both check boxes are clear");
  }
  QString PartlyDone() const {
    switch (phase_) {
      case Phase::Flash:
        return QStringLiteral("the flash is partly written");
      case Phase::Eeprom:
        return QStringLiteral("the EEPROM is partly written");
      case Phase::Erase:
        return QStringLiteral("the flash is partly erased");
    }
    return {};
  }

  MainWindow& w_;
  double startMs_ = 0;
  double phaseStartMs_ = 0;
  QString idleTip_;
  int phases_ = 0;             // phases the run reached
  bool flashWritten_ = false;  // the run reached its flash phase
  Phase phase_ = Phase::Flash;
  int percent_ = 0;   // of the phase the run was in
  int64_t done_ = 0;  // bytes of that phase done: the address where it stood
};

MainWindow::MainWindow(QWidget* parent) : QMainWindow(parent) {
  setObjectName(QStringLiteral("Main"));
  setWindowTitle(QStringLiteral("Brindlemark"));
  // Close and minimise, no maximise: the window has one size.
  setWindowFlags(Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                 Qt::WindowMinimizeButtonHint | Qt::WindowCloseButtonHint);
  auto* content = new QWidget(this);
  content->setObjectName(QStringLiteral("content"));
  controls_ = BuildMainControls(content);
  setCentralWidget(content);
  menus_ = BuildMainMenus(this);
  layout()->setSizeConstraint(QLayout::SetFixedSize);
  setAcceptDrops(true);
  display_ = std::make_unique<WindowDisplay>(this, controls_);
  display_->FollowLoadButton(menus_.load);
  steady_.start();
  nowMs_ = [this] { return static_cast<double>(steady_.nsecsElapsed()) / 1e6; };
  runStatus_ = std::make_unique<RunStatus>(*this);
}

MainWindow::~MainWindow() = default;

StatusDisplay& MainWindow::Display() { return *display_; }

ParamListWindow* MainWindow::ParamList() const { return paramList_; }
AboutWindow* MainWindow::About() const { return about_; }
HelpWindow* MainWindow::Help() const { return help_; }
QMessageBox* MainWindow::QuitQuestion() const { return quitQuestion_; }

void MainWindow::Attach(Main& main) {
  main_ = &main;
  listening_ = main_->Listen(*runStatus_);
  Connect();
}

void MainWindow::Connect() {
  const MainControls& c = controls_;
  connect(c.FOpenBtn, &QPushButton::clicked, this, [this] { Forward([this] { main_->FOpenBtn_Action(); }); });
  connect(c.ComportBtn, &QPushButton::clicked, this,
          [this] { Forward([this] { main_->ComportBtn_Action(); }); });
  connect(c.DownLdBtn, &QPushButton::clicked, this,
          [this] { ForwardRun(Main::RunKind::Download, [this] { main_->DownLdBtn_Action(); }); });
  connect(c.EraseBtn, &QPushButton::clicked, this,
          [this] { ForwardRun(Main::RunKind::Erase, [this] { main_->EraseBtn_Action(); }); });
  connect(c.StopBtn, &QPushButton::clicked, this, [this] { Forward([this] { main_->StopBtn_Action(); }); });
  connect(c.Timer1, &QTimer::timeout, this, [this] { Forward([this] { main_->Timer1_Action(); }); });
  connectionWatch_ = new QTimer(this);
  connectionWatch_->setObjectName(QStringLiteral("ConnectionWatch"));
  connectionWatch_->setInterval(500);
  connect(connectionWatch_, &QTimer::timeout, this, [this] {
    if (main_->ModeNumber() == 2 && !main_->Busy()) Forward([this] { main_->WatchConnection(); });
  });
  connectionWatch_->start();
  // Only the user's own choice reaches the logic; a selection the logic makes fires nothing.
  connect(c.BaudSelect, &QComboBox::activated, this,
          [this](int index) { Forward([this, index] { main_->BaudSelect_Change(index); }); });

  const MainMenus& m = menus_;
  connect(m.FileMenu, &QMenu::aboutToShow, this, &MainWindow::EnableMenuItems);
  connect(m.load, &QAction::triggered, this, [this] { Forward([this] { main_->_load_Action(); }); });
  connect(m.Para, &QAction::triggered, this, &MainWindow::_Para_Action);
  connect(m.FileQuit, &QAction::triggered, this, &QWidget::close);
  connect(m.HelpContents, &QAction::triggered, this, &MainWindow::_HelpContents_Action);
  connect(m.ReleaseNotes, &QAction::triggered, this, &MainWindow::_ReleaseNotes_Action);
  connect(m.CheckforUpdates, &QAction::triggered, this, &MainWindow::_CheckforUpdates_Action);
  connect(m.AboutTarnwick, &QAction::triggered, this, &MainWindow::_AboutTarnwick_Action);
}

void MainWindow::Open() {
  const MainControls& c = controls_;
  c.Rectangle1->hide();
  c.Rectangle2->hide();
  c.GroupBox3->setGeometry(8, 248, 440, 25);
  c.status0->setGeometry(17, 250, 207, 20);
  c.status1->setGeometry(239, 250, 208, 20);
  Forward([this] { main_->Open(); });
}

void MainWindow::LoadFile(const QString& path) {
  Forward([this, path] { main_->LoadFile(path.toStdString()); });
}

namespace {

// The one local file a drag carries, or an empty string.
QString DroppedFile(const QMimeData* data) {
  if (!data || !data->hasUrls() || data->urls().size() != 1) return QString();
  const QUrl url = data->urls().constFirst();
  return url.isLocalFile() ? url.toLocalFile() : QString();
}

}  // namespace

void MainWindow::dragEnterEvent(QDragEnterEvent* event) {
  if (main_ && !main_->Busy() && !DroppedFile(event->mimeData()).isEmpty()) event->acceptProposedAction();
}

void MainWindow::dropEvent(QDropEvent* event) {
  const QString path = DroppedFile(event->mimeData());
  if (path.isEmpty() || !main_) return;
  event->acceptProposedAction();
  LoadFile(path);
}

void MainWindow::ShowFilePath() {
  // The loaded file lies in the folder of the last file read (a project's images lie beside it).
  QLabel* name = controls_.FNameCapt;
  const std::optional<std::filesystem::path>& last = main_->State().f;
  const bool loaded = last && name->text() != QStringLiteral("none");
  name->setToolTip(loaded
                       ? QString::fromStdString((last->parent_path() / name->text().toStdString()).string())
                       : QString());
}

void MainWindow::Forward(const std::function<void()>& operation) {
  ++depth_;
  main_->Handle(operation);
  --depth_;
  display_->ShowBaudRateInUse(main_->BaudRate());
  ShowFilePath();
  EnableMenuItems();
  if (depth_ > 0 || main_->Busy()) return;
  // The run the question was about is over.
  if (quitQuestion_) quitQuestion_->close();
  if (main_->QuitRequested()) close();
}

void MainWindow::ForwardRun(Main::RunKind kind, const std::function<void()>& operation) {
  // A press while something runs returns at once: it is not the run the window speaks of.
  const bool starts = !main_->Busy();
  if (starts) pressedRun_ = kind;
  Forward(operation);
  if (starts) pressedRun_.reset();
}

void MainWindow::AskToStopAndQuit() {
  if (quitQuestion_) {
    quitQuestion_->raise();
    return;
  }
  const QString text = pressedRun_ == Main::RunKind::Erase
                           ? QStringLiteral("An erase is running. Stop it and quit?")
                           : QStringLiteral("A download is running. Stop it and quit?");
  auto* box =
      new QMessageBox(QMessageBox::Question, windowTitle(), text, QMessageBox::Yes | QMessageBox::No, this);
  box->setObjectName(QStringLiteral("QuitQuestion"));
  box->setDefaultButton(QMessageBox::No);
  box->setAttribute(Qt::WA_DeleteOnClose);
  // Window-modal and opened, not executed: the run goes on while the question is open.
  box->setWindowModality(Qt::WindowModal);
  connect(box, &QMessageBox::finished, this, [this, box] {
    if (box->clickedButton() != box->button(QMessageBox::Yes) || !main_->Busy()) return;
    // The run ends at its next wait; Forward closes the window once it has unwound.
    main_->RequestQuit();
  });
  quitQuestion_ = box;
  box->open();
}

void MainWindow::EnableMenuItems() {
  if (main_) menus_.Para->setEnabled(main_->EnableMenuItems());
}

void MainWindow::_Para_Action() {
  Forward([this] {
    // A closed instance is on its way out (it deletes itself): the next one shows the
    // parameter set as it is now.
    if (!paramList_ || !paramList_->isVisible()) paramList_ = new ParamListWindow(this, main_->Params());
    paramList_->show();
    paramList_->raise();
    paramList_->activateWindow();
  });
}

void MainWindow::_AboutTarnwick_Action() {
  Forward([this] {
    if (!about_) about_ = new AboutWindow(this);
    about_->Show(true);
  });
}

void MainWindow::_HelpContents_Action() {
  Forward([this] {
    if (!help_) help_ = new HelpWindow(this);
    help_->ShowText(QStringLiteral("Brindlemark Help"), HelpContentsText());
  });
}

void MainWindow::_ReleaseNotes_Action() {
  Forward([this] {
    if (!help_) help_ = new HelpWindow(this);
    help_->ShowText(QStringLiteral("Brindlemark Release Notes"), ReleaseNotesText());
  });
}

void MainWindow::_CheckforUpdates_Action() {
  Forward([this] { main_->ShowMessage(NoUpdateCheckText()); });
}

void MainWindow::closeEvent(QCloseEvent* event) {
  if (main_ && main_->Busy()) {
    event->ignore();
    if (pressedRun_ && !main_->QuitRequested()) {
      AskToStopAndQuit();
      return;
    }
    // A load or search: it ends at its next wait; Forward closes the window once it has unwound.
    main_->RequestQuit();
    return;
  }
  for (QWidget* other :
       {static_cast<QWidget*>(paramList_), static_cast<QWidget*>(about_), static_cast<QWidget*>(help_)}) {
    if (other) other->close();
  }
  event->accept();
}

}  // namespace bm::qt
