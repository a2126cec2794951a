#include "shell/qt/MainControls.h"

#include <QCheckBox>
#include <QComboBox>
#include <QProgressBar>
#include <QPushButton>
#include <QTimer>

#include "shell/core/BaudRates.h"
#include "shell/core/StatusDisplay.h"
#include "shell/core/WindowTexts.h"
#include "shell/qt/ElidedLabel.h"
#include "shell/qt/Lamp.h"
#include "shell/qt/Text.h"

namespace bm::qt {
namespace {

template <typename W>
W* Place(W* widget, const char* name, int left, int top, int width, int height) {
  widget->setObjectName(QString::fromLatin1(name));
  widget->setGeometry(left, top, width, height);
  return widget;
}

QLabel* Text(QWidget* content, const char* name, const char* text, int l, int t, int w, int h) {
  auto* label = Place(new QLabel(QString::fromLatin1(text), content), name, l, t, w, h);
  // The logic's texts are shown as they are set: no mnemonics, no rich text.
  label->setTextFormat(Qt::PlainText);
  return label;
}

QGroupBox* Frame(QWidget* content, const char* name, const char* title, int l, int t, int w, int h) {
  return Place(new QGroupBox(QString::fromLatin1(title), content), name, l, t, w, h);
}

QPushButton* Button(QWidget* content, const char* name, const char* caption, int left, bool enabled) {
  auto* button = Place(new QPushButton(QString::fromLatin1(caption), content), name, left, 6, 80, 20);
  button->setEnabled(enabled);
  button->setAutoDefault(false);
  return button;
}

QWidget* Rectangle(QWidget* parent, const char* name, uint32_t rgb, int l, int t, int w, int h) {
  auto* rect = Place(new QWidget(parent), name, l, t, w, h);
  rect->setAutoFillBackground(true);
  QPalette palette = rect->palette();
  palette.setColor(QPalette::Window, QColor::fromRgb(rgb));
  rect->setPalette(palette);
  return rect;
}

// What each control does, in the words both windows use (shell/core/WindowTexts.h).
void SetToolTips(const MainControls& c) {
  for (QWidget* w : std::initializer_list<QWidget*>{
           c.LedRed,          c.LedYellow,    c.LedGreen,        c.ProgFlashChk, c.ProgEEpChk,
           c.BaudSelect,      c.ProgressBar1, c.FOpenBtn,        c.ComportBtn,   c.DownLdBtn,
           c.EraseBtn,        c.StopBtn,      c.ModeLabel,       c.status0,      c.status1,
           c.FlashSizeCapt,   c.EEpSizeCapt,  c.SourceDevIDcapt, c.CPUnameCapt,  c.TargDevIDcapt,
           c.TargLoaderIDcapt})
    w->setToolTip(ToQString(ControlTip(w->objectName().toStdString())));
}

}  // namespace

QString StatusLineTip(int line) { return ToQString(bm::StatusLineTip(line)); }

MainControls BuildMainControls(QWidget* content) {
  content->setFixedSize(MainControls::kWidth, MainControls::kHeight);
  MainControls c;

  c.GroupBox1 = Frame(content, "GroupBox1", " File state  ", 8, 38, 216, 206);
  Text(content, "StaticText9", "Loaded:", 26, 64, 54, 20);
  // The file name keeps its whole text; a long one is drawn shortened (its path is the tooltip).
  c.FNameCapt = Place(new ElidedLabel(QStringLiteral("none"), content), "FNameCapt", 26, 84, 161, 20);
  c.FNameCapt->setTextFormat(Qt::PlainText);
  Text(content, "StaticText10", "Flash size:", 26, 104, 69, 20);
  c.FlashSizeCapt = Text(content, "FlashSizeCapt", "0 Bytes", 117, 104, 100, 20);
  c.ProgFlashChk =
      Place(new QCheckBox(QStringLiteral("ProgFlashChk"), content), "ProgFlashChk", 26, 190, 110, 20);
  c.ProgEEpChk = Place(new QCheckBox(QStringLiteral("ProgEEpChk"), content), "ProgEEpChk", 26, 215, 100, 20);
  Text(content, "StaticText4", "EEprom size:", 26, 124, 83, 20);
  c.EEpSizeCapt = Text(content, "EEpSizeCapt", "0 Bytes", 117, 124, 100, 20);
  Text(content, "StaticText5", "Device ID:", 26, 144, 63, 20);
  Text(content, "StaticText11", "CPU name:", 26, 164, 69, 20);
  c.SourceDevIDcapt = Text(content, "SourceDevIDcapt", "---", 117, 144, 100, 20);
  c.CPUnameCapt = Text(content, "CPUnameCapt", "---", 117, 164, 100, 20);

  c.GroupBox2 = Frame(content, "GroupBox2", " Target state ", 231, 38, 216, 206);
  c.LedRed = Place(new Lamp(content, Util::clMaroon), "LedRed", 249, 76, 20, 20);
  c.LedYellow = Place(new Lamp(content, Util::clOlive), "LedYellow", 249, 109, 20, 20);
  c.LedGreen = Place(new Lamp(content, Util::clGreen), "LedGreen", 249, 142, 20, 20);
  c.BaudSelect = Place(new QComboBox(content), "BaudSelect", 300, 76, 80, 20);
  for (int rate : kBaudRates) c.BaudSelect->addItem(QString::number(rate));
  c.BaudSelect->setCurrentIndex(0);
  c.TargDevIDcapt = Text(content, "TargDevIDcapt", "Device ID: ---", 249, 215, 190, 20);
  c.TargLoaderIDcapt = Text(content, "TargLoaderIDcapt", "Loader ID: ---", 248, 190, 190, 20);
  QLabel* modeTitle = Text(content, "StaticText2", "Mode", 300, 108, 42, 20);
  QFont bold = modeTitle->font();
  bold.setBold(true);
  modeTitle->setFont(bold);
  c.ModeLabel = Text(content, "ModeLabel", "none", 300, 127, 110, 20);
  c.ProgressBar1 = Place(new QProgressBar(content), "ProgressBar1", 424, 67, 14, 166);
  c.ProgressBar1->setOrientation(Qt::Vertical);
  c.ProgressBar1->setRange(0, 100);
  c.ProgressBar1->setValue(0);
  c.ProgressBar1->setTextVisible(false);
  // The platform style draws a sliver of the bar at 0, which reads as progress that is not there.
  c.ProgressBar1->setStyleSheet(
      QStringLiteral("QProgressBar { border: 1px solid #8a8a8a; border-radius: 2px; background: white; }"
                     "QProgressBar::chunk { background: #2f7fbf; }"));
  c.Rectangle2 = Rectangle(content, "Rectangle2", 0x00FF00, 402, 52, 8, 182);
  c.Rectangle1 = Rectangle(c.Rectangle2, "Rectangle1", 0xFFFFFF, 1, 1, 6, 180);  // 403, 53 in the window

  c.FOpenBtn = Button(content, "FOpenBtn", "Load", 8, true);
  c.ComportBtn = Button(content, "ComportBtn", "Comport", 98, false);
  c.DownLdBtn = Button(content, "DownLdBtn", "Download", 188, false);
  c.EraseBtn = Button(content, "EraseBtn", "Erase", 278, false);
  c.StopBtn = Button(content, "StopBtn", "Stop", 368, true);

  c.Timer1 = new QTimer(content);
  c.Timer1->setObjectName(QStringLiteral("Timer1"));
  c.Timer1->setInterval(500);

  c.GroupBox3 = Frame(content, "GroupBox3", "", 8, 248, 440, 25);
  c.status0 = Text(content, "status0", "Untitled", 17, 250, 207, 20);
  c.status1 = Text(content, "status1", "Untitled", 239, 250, 208, 20);
  SetToolTips(c);
  return c;
}

}  // namespace bm::qt
