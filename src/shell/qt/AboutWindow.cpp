#include "shell/qt/AboutWindow.h"

#include <QLabel>
#include <QPainter>
#include <QShortcut>

#include "shell/core/WindowTexts.h"
#include "shell/qt/AppIcon.h"
#include "shell/qt/CreditsMarkup.h"
#include "shell/qt/Text.h"

namespace bm::qt {
namespace {

class IconCanvas : public QWidget {
 public:
  using QWidget::QWidget;

 protected:
  void paintEvent(QPaintEvent*) override {
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    PaintAppIcon(painter, QRectF(0, 0, 64, 64));
  }
};

// A centred label in the given point size, at its laid-out place.
QLabel* CentredText(QWidget* parent, const char* name, double points, bool bold, int l, int t, int w, int h) {
  auto* label = new QLabel(parent);
  label->setObjectName(QString::fromLatin1(name));
  label->setAlignment(Qt::AlignHCenter | Qt::AlignTop);
  label->setTextFormat(Qt::PlainText);
  QFont font = label->font();
  font.setPointSizeF(points);
  font.setBold(bold);
  label->setFont(font);
  label->setGeometry(l, t, w, h);
  return label;
}

// The laid-out heights assume a 72-dpi screen; at 96 dpi a 14-point line is taller than 16
// pixels. The label grows downwards to fit its text, so nothing is clipped and the left and top
// stay as laid out.
void FitHeight(QLabel* label, int laidOutHeight) {
  const int w = label->width();
  const int needed = label->wordWrap() ? label->heightForWidth(w) : label->sizeHint().height();
  label->resize(w, std::max(laidOutHeight, needed));
}

}  // namespace

bool SAEditField::EditSelectAll() {
  selectAll();
  return false;
}

AboutWindow::AboutWindow(QWidget* parent) : QWidget(parent, Qt::Window) {
  setObjectName(QStringLiteral("AboutWindow"));
  // Untitled. An empty title would make the title bar show the application's name instead;
  // one space shows nothing.
  setWindowTitle(QStringLiteral(" "));
  connect(new QShortcut(Qt::Key_Escape, this), &QShortcut::activated, this, &QWidget::close);
  // Every binding of the platform's Close key (Ctrl+F4 and Ctrl+W here, Cmd+W on a Mac).
  connect(new QShortcut(QKeySequence::Close, this), &QShortcut::activated, this, &QWidget::close);
  setFixedSize(284, 326);

  canvas_ = new IconCanvas(this);
  canvas_->setObjectName(QStringLiteral("AppIconCanvas"));
  canvas_->setGeometry(110, 8, 64, 64);
  name_ = CentredText(this, "StatAppName", 14, true, 20, 86, 244, 16);
  version_ = CentredText(this, "StatAppVersion", 10, false, 20, 112, 244, 12);

  credits_ = new SAEditField(this);
  credits_->setObjectName(QStringLiteral("EditAppCredits"));
  credits_->setGeometry(0, 132, 284, 140);
  credits_->setReadOnly(true);
  credits_->setTextInteractionFlags(Qt::TextSelectableByMouse | Qt::TextSelectableByKeyboard);
  credits_->setCursorWidth(0);  // read-only: no blinking caret
  QFont creditsFont = credits_->font();
  creditsFont.setPointSizeF(12);
  credits_->setFont(creditsFont);
  QPalette palette = credits_->palette();
  palette.setColor(QPalette::Base, Qt::white);
  palette.setColor(QPalette::Text, Qt::black);
  credits_->setPalette(palette);

  notice_ = CentredText(this, "StatAppNotice", 10, false, 20, 280, 244, 42);
  notice_->setWordWrap(true);
}

void AboutWindow::Show(bool useCredits) {
  UseCredits = useCredits;
  SetupWindow();
  show();
  raise();
  activateWindow();
}

void AboutWindow::SetupWindow() {
  name_->setText(ToQString(kAboutName));
  version_->setText(ToQString(AboutVersionText()));
  notice_->setText(ToQString(AboutNoticeText()));
  FitHeight(name_, 16);
  FitHeight(version_, 12);
  FitHeight(notice_, 42);
  if (UseCredits) {
    SetCreditsFieldText(ToQString(CreditsText()), true);
    notice_->move(20, 280);
    credits_->setVisible(true);
    setFixedSize(284, 326);
  } else {
    credits_->setVisible(false);
    notice_->move(20, 132);
    setFixedSize(284, 178);
  }
}

void AboutWindow::SetCreditsFieldText(const QString& text, bool styled) {
  SetStyledText(credits_, text, styled);
}

}  // namespace bm::qt
