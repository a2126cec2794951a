#include "shell/qt/MainWindow.h"

#include <QCheckBox>
#include <QCloseEvent>
#include <QComboBox>
#include <QLayout>
#include <QMenu>
#include <QPushButton>
#include <QTimer>

#include "shell/core/Main.h"
#include "shell/qt/AboutWindow.h"
#include "shell/qt/HelpTexts.h"
#include "shell/qt/HelpWindow.h"
#include "shell/qt/ParamListWindow.h"
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
  display_ = std::make_unique<WindowDisplay>(this, controls_);
}

MainWindow::~MainWindow() = default;

StatusDisplay& MainWindow::Display() { return *display_; }

ParamListWindow* MainWindow::ParamList() const { return paramList_; }
AboutWindow* MainWindow::About() const { return about_; }
HelpWindow* MainWindow::Help() const { return help_; }

void MainWindow::Attach(Main& main) {
  main_ = &main;
  Connect();
}

void MainWindow::Connect() {
  const MainControls& c = controls_;
  connect(c.FOpenBtn, &QPushButton::clicked, this, [this] { Forward([this] { main_->FOpenBtn_Action(); }); });
  connect(c.ComportBtn, &QPushButton::clicked, this,
          [this] { Forward([this] { main_->ComportBtn_Action(); }); });
  connect(c.DownLdBtn, &QPushButton::clicked, this,
          [this] { Forward([this] { main_->DownLdBtn_Action(); }); });
  connect(c.EraseBtn, &QPushButton::clicked, this, [this] { Forward([this] { main_->EraseBtn_Action(); }); });
  connect(c.StopBtn, &QPushButton::clicked, this, [this] { Forward([this] { main_->StopBtn_Action(); }); });
  connect(c.Timer1, &QTimer::timeout, this, [this] { Forward([this] { main_->Timer1_Action(); }); });
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

void MainWindow::Forward(const std::function<void()>& operation) {
  ++depth_;
  main_->Handle(operation);
  --depth_;
  EnableMenuItems();
  if (depth_ == 0 && main_->QuitRequested() && !main_->Busy()) close();
}

void MainWindow::EnableMenuItems() {
  if (main_) menus_.Para->setEnabled(main_->EnableMenuItems());
}

void MainWindow::_Para_Action() {
  Forward([this] {
    // A closed instance is on its way out (it deletes itself): the next one shows the
    // parameter set as it is now.
    if (!paramList_ || !paramList_->isVisible()) paramList_ = new ParamListWindow(this, main_->params);
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
  Forward([this] { main_->dialogs.MessageBox(NoUpdateCheckText()); });
}

void MainWindow::closeEvent(QCloseEvent* event) {
  if (main_ && main_->Busy()) {
    // The run ends at its next wait; Forward closes the window once it has unwound.
    main_->RequestQuit();
    event->ignore();
    return;
  }
  for (QWidget* other :
       {static_cast<QWidget*>(paramList_), static_cast<QWidget*>(about_), static_cast<QWidget*>(help_)}) {
    if (other) other->close();
  }
  event->accept();
}

}  // namespace bm::qt
