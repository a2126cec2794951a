#include "shell/qt/MainControls.h"

#include <QCheckBox>
#include <QComboBox>
#include <QProgressBar>
#include <QPushButton>
#include <QTimer>

#include "shell/core/BaudRates.h"
#include "shell/core/StatusDisplay.h"
#include "shell/qt/ElidedLabel.h"
#include "shell/qt/Lamp.h"

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

// What each control does and, for the lamps, what their colours say (the mode table in
// UpdateButtons.cpp sets them). The progress bar's text is its resting one: a run shows its
// percent and time left there and puts this back at its end.
void SetToolTips(const MainControls& c) {
  c.LedRed->setToolTip(QStringLiteral("Red lamp: lit when nothing is loaded, blinking while programming"));
  c.LedYellow->setToolTip(QStringLiteral("Yellow lamp: lit when a file is loaded"));
  c.LedGreen->setToolTip(QStringLiteral("Green lamp: lit when the target is connected"));
  c.ProgFlashChk->setToolTip(QStringLiteral("Write the flash image"));
  c.ProgEEpChk->setToolTip(QStringLiteral("Write the EEPROM image"));
  c.BaudSelect->setToolTip(
      QStringLiteral("Baud rate of the serial port; disabled during a load, search or run"));
  c.ProgressBar1->setToolTip(QStringLiteral("Progress of a download or erase"));
  c.FOpenBtn->setToolTip(QStringLiteral("Load a HEX image, a project or a pack file"));
  c.ComportBtn->setToolTip(QStringLiteral("Search the serial ports for the target"));
  c.DownLdBtn->setToolTip(QStringLiteral("Write the chosen images into the target"));
  c.EraseBtn->setToolTip(QStringLiteral("Erase the flash pages the loaded image covers"));
  c.StopBtn->setToolTip(QStringLiteral("Stop the run and leave the target's loader"));
  c.ModeLabel->setToolTip(
      QStringLiteral("The window's mode: none, file loaded, Target connected or programming"));
  c.status0->setToolTip(StatusLineTip(0));
  c.status1->setToolTip(StatusLineTip(1));
  c.FlashSizeCapt->setToolTip(
      QStringLiteral("Size of the loaded flash image: address 0 to its end, in bytes"));
  c.EEpSizeCapt->setToolTip(
      QStringLiteral("Size of the loaded EEPROM image: address 0 to its end, in bytes"));
  c.SourceDevIDcapt->setToolTip(QStringLiteral(
      "The device ID the loaded file expects (from a project or pack file; --- for a HEX file)"));
  c.CPUnameCapt->setToolTip(QStringLiteral("The CPU the loaded file names (from a project or pack file)"));
  c.TargDevIDcapt->setToolTip(QStringLiteral("The device ID the connected target reported"));
  c.TargLoaderIDcapt->setToolTip(QStringLiteral("The loader ID the connected target reported"));
}

}  // namespace

QString StatusLineTip(int line) {
  return line == 0 ? QStringLiteral("What the program is doing, or how the last run ended")
                   : QStringLiteral("The port of the connected target, or how a run that closed it ended");
}

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
