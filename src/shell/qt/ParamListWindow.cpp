#include "shell/qt/ParamListWindow.h"

#include <QHeaderView>
#include <QPushButton>
#include <QShortcut>
#include <QTreeWidget>

#include "shell/core/ParamListRows.h"
#include "shell/qt/Text.h"

namespace bm::qt {

ParamListWindow::ParamListWindow(QWidget* parent, const dParamList::ParamSet& params)
    : QWidget(parent, Qt::Window) {
  setObjectName(QStringLiteral("dParamListWND"));
  setAttribute(Qt::WA_DeleteOnClose);
  setFixedSize(422, 295);
  setWindowTitle(ToQString(ParamListTitle(params)));

  list_ = new QTreeWidget(this);
  list_->setObjectName(QStringLiteral("ListBox1"));
  list_->setGeometry(20, 27, 382, 211);
  list_->setColumnCount(2);
  list_->setHeaderLabels({QStringLiteral("Parameter:"), QStringLiteral("Value:")});
  list_->setRootIsDecorated(false);
  list_->setSelectionMode(QAbstractItemView::NoSelection);
  list_->setFocusPolicy(Qt::NoFocus);
  list_->header()->setSectionsMovable(false);
  list_->setColumnWidth(0, 150);

  int row = 0;
  for (const ParamRow& r : ParamListRows(params)) {
    auto* item = new QTreeWidgetItem(list_, {QString::fromLatin1(r.label), ToQString(r.value)});
    const QColor background = QColor::fromRgb(ParamRowBackground(row++));
    for (int column = 0; column < 2; ++column) {
      item->setBackground(column, background);
      item->setForeground(column, QColor(Qt::black));  // readable on the light rows in a dark theme
    }
  }

  ok_ = new QPushButton(QStringLiteral("OK"), this);
  ok_->setObjectName(QStringLiteral("OKbutton"));
  ok_->setGeometry(322, 255, 80, 20);
  ok_->setDefault(true);
  connect(ok_, &QPushButton::clicked, this, &QWidget::close);
  connect(new QShortcut(Qt::Key_Escape, this), &QShortcut::activated, this, &QWidget::close);
  // The platform's Close key (Ctrl+W) too, as on About.
  connect(new QShortcut(QKeySequence::Close, this), &QShortcut::activated, this, &QWidget::close);
  ok_->setFocus();
}

}  // namespace bm::qt
