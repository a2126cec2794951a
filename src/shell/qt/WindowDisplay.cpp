#include "shell/qt/WindowDisplay.h"

#include <QAction>
#include <QCheckBox>
#include <QComboBox>
#include <QProgressBar>
#include <QPushButton>
#include <QTimer>
#include <algorithm>

#include "shell/core/BaudRates.h"
#include "shell/qt/Lamp.h"
#include "shell/qt/Text.h"

namespace bm::qt {

WindowDisplay::WindowDisplay(QWidget* window, const MainControls& controls)
    : window_(window), c_(controls), idleProgressTip_(controls.ProgressBar1->toolTip()) {}

void WindowDisplay::SetTitle(const std::string& text) { window_->setWindowTitle(ToQString(text)); }

QLabel* WindowDisplay::Label(Caption which) const {
  switch (which) {
    case Caption::FNameCapt:
      return c_.FNameCapt;
    case Caption::FlashSizeCapt:
      return c_.FlashSizeCapt;
    case Caption::EEpSizeCapt:
      return c_.EEpSizeCapt;
    case Caption::SourceDevIDcapt:
      return c_.SourceDevIDcapt;
    case Caption::CPUnameCapt:
      return c_.CPUnameCapt;
    case Caption::TargDevIDcapt:
      return c_.TargDevIDcapt;
    case Caption::TargLoaderIDcapt:
      return c_.TargLoaderIDcapt;
    case Caption::ModeLabel:
      return c_.ModeLabel;
    case Caption::status0:
      return c_.status0;
    case Caption::status1:
      return c_.status1;
  }
  return c_.status0;
}

Lamp* WindowDisplay::LampOf(Led which) const {
  switch (which) {
    case Led::LedRed:
      return c_.LedRed;
    case Led::LedYellow:
      return c_.LedYellow;
    case Led::LedGreen:
      return c_.LedGreen;
  }
  return c_.LedRed;
}

QCheckBox* WindowDisplay::Box(Check which) const {
  return which == Check::ProgFlashChk ? c_.ProgFlashChk : c_.ProgEEpChk;
}

QString CaptionText(const std::string& text) {
  // Pairs are taken left to right: "&&&" shows as "&&".
  return ToQString(text).replace(QStringLiteral("&&"), QStringLiteral("&"));
}

void WindowDisplay::SetCaption(Caption which, const std::string& text) {
  QLabel* label = Label(which);
  label->setText(CaptionText(text));
  // A status line may be too narrow for its text: the tooltip holds the whole of it.
  if (which == Caption::status0 || which == Caption::status1)
    label->setToolTip(text.empty() ? StatusLineTip(which == Caption::status0 ? 0 : 1) : label->text());
}

void WindowDisplay::SetLed(Led which, uint32_t rgb) { LampOf(which)->SetFill(rgb); }

uint32_t WindowDisplay::LedColour(Led which) const { return LampOf(which)->Fill(); }

QPushButton* WindowDisplay::ButtonOf(Button which) const {
  QPushButton* buttons[] = {c_.FOpenBtn, c_.ComportBtn, c_.DownLdBtn, c_.EraseBtn, c_.StopBtn};
  return buttons[static_cast<int>(which)];
}

void WindowDisplay::SetButtonEnabled(Button which, bool enabled) {
  ButtonOf(which)->setEnabled(enabled);
  if (which == Button::FOpenBtn && loadItem_) loadItem_->setEnabled(enabled);
}

void WindowDisplay::Focus(Button which) { ButtonOf(which)->setFocus(Qt::OtherFocusReason); }

void WindowDisplay::SetParameterEnabled(bool enabled) {
  if (parameterItem_) parameterItem_->setEnabled(enabled);
}

void WindowDisplay::SetFilePath(const std::string& path) { c_.FNameCapt->setToolTip(ToQString(path)); }

void WindowDisplay::SetProgressTip(const std::string& text) {
  c_.ProgressBar1->setToolTip(text.empty() ? idleProgressTip_ : ToQString(text));
}

void WindowDisplay::SetCheckEnabled(Check which, bool enabled) { Box(which)->setEnabled(enabled); }

void WindowDisplay::SetCheckValue(Check which, bool value) { Box(which)->setChecked(value); }

bool WindowDisplay::CheckValue(Check which) const { return Box(which)->isChecked(); }

void WindowDisplay::SetProgress(int value) {
  progress_ = value;
  // Values past the last block can exceed 100: they show a full bar.
  QProgressBar* bar = c_.ProgressBar1;
  if (bar->maximum() > bar->minimum()) bar->setValue(std::clamp(value, bar->minimum(), bar->maximum()));
}

void WindowDisplay::SetProgressMaximum(int max) {
  // A maximum of 0 turns the bar into a busy indicator without a known end.
  c_.ProgressBar1->setRange(0, std::max(max, 0));
  SetProgress(progress_);
}

void WindowDisplay::SetTimer(bool repeating) {
  if (!repeating)
    c_.Timer1->stop();
  else if (!c_.Timer1->isActive())
    c_.Timer1->start();
}

void WindowDisplay::ShowBaudRate(int rate) {
  QComboBox* box = c_.BaudSelect;
  const int fixed = static_cast<int>(kBaudRates.size());
  const auto entry = std::find(kBaudRates.begin(), kBaudRates.end(), rate);
  if (entry != kBaudRates.end()) {
    box->setCurrentIndex(static_cast<int>(entry - kBaudRates.begin()));
    while (box->count() > fixed) box->removeItem(fixed);
    return;
  }
  if (rate <= 0) return;
  if (box->count() == fixed)
    box->addItem(QString::number(rate));
  else
    box->setItemText(fixed, QString::number(rate));
  box->setCurrentIndex(fixed);
}

void WindowDisplay::SetBaudEnabled(bool enabled) { c_.BaudSelect->setEnabled(enabled); }

}  // namespace bm::qt
