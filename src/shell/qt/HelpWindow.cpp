#include "shell/qt/HelpWindow.h"

#include <QPushButton>
#include <QShortcut>
#include <QTextBrowser>
#include <QVBoxLayout>

namespace bm::qt {

HelpWindow::HelpWindow(QWidget* parent) : QWidget(parent, Qt::Window) {
  setObjectName(QStringLiteral("HelpWindow"));
  resize(520, 460);
  auto* layout = new QVBoxLayout(this);
  browser_ = new QTextBrowser(this);
  browser_->setOpenExternalLinks(false);
  layout->addWidget(browser_);
  auto* close = new QPushButton(QStringLiteral("Close"), this);
  layout->addWidget(close, 0, Qt::AlignRight);
  connect(close, &QPushButton::clicked, this, &QWidget::close);
  connect(new QShortcut(Qt::Key_Escape, this), &QShortcut::activated, this, &QWidget::close);
  // The platform's Close key (Ctrl+W) too, as on About.
  connect(new QShortcut(QKeySequence::Close, this), &QShortcut::activated, this, &QWidget::close);
}

void HelpWindow::ShowText(const QString& title, const QString& markdown) {
  setWindowTitle(title);
  browser_->setMarkdown(markdown);
  show();
  raise();
  activateWindow();
}

}  // namespace bm::qt
