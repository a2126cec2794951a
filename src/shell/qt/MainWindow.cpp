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

#include "shell/core/Presenter.h"
#include "shell/core/WindowTexts.h"
#include "shell/qt/AboutWindow.h"
#include "shell/qt/HelpWindow.h"
#include "shell/qt/ParamListWindow.h"
#include "shell/qt/Text.h"
#include "shell/qt/WindowDisplay.h"

namespace bm::qt {

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
  display_->FollowParameterItem(menus_.Para);
}

MainWindow::~MainWindow() = default;

StatusDisplay& MainWindow::Display() { return *display_; }

ParamListWindow* MainWindow::ParamList() const { return paramList_; }
AboutWindow* MainWindow::About() const { return about_; }
HelpWindow* MainWindow::Help() const { return help_; }
QMessageBox* MainWindow::QuitQuestion() const { return quitQuestion_; }

void MainWindow::Attach(Presenter& presenter) {
  main_ = &presenter;
  Connect();
}

void MainWindow::Connect() {
  const MainControls& c = controls_;
  connect(c.FOpenBtn, &QPushButton::clicked, this, [this] { Forward([this] { main_->FOpenBtn_Action(); }); });
  connect(c.ComportBtn, &QPushButton::clicked, this,
          [this] { Forward([this] { main_->ComportBtn_Action(); }); });
  connect(c.DownLdBtn, &QPushButton::clicked, this,
          [this] { ForwardRun(RunKind::Download, [this] { main_->DownLdBtn_Action(); }); });
  connect(c.EraseBtn, &QPushButton::clicked, this,
          [this] { ForwardRun(RunKind::Erase, [this] { main_->EraseBtn_Action(); }); });
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

void MainWindow::Forward(const std::function<void()>& operation) {
  ++depth_;
  main_->Handle(operation);
  --depth_;
  EnableMenuItems();
  if (depth_ > 0 || main_->Busy()) return;
  // The run the question was about is over.
  if (quitQuestion_) quitQuestion_->close();
  if (main_->QuitRequested()) close();
}

void MainWindow::ForwardRun(RunKind kind, const std::function<void()>& operation) {
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
  const QString text = ToQString(QuitQuestionText(pressedRun_.value_or(RunKind::Download)));
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
    if (!paramList_ || !paramList_->isVisible())
      paramList_ = new ParamListWindow(this, main_->engine().Params());
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
    help_->ShowText(ToQString(kHelpTitle), ToQString(HelpContentsText()));
  });
}

void MainWindow::_ReleaseNotes_Action() {
  Forward([this] {
    if (!help_) help_ = new HelpWindow(this);
    help_->ShowText(ToQString(kReleaseNotesTitle), ToQString(ReleaseNotesText()));
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
