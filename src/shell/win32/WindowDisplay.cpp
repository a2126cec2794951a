#include "shell/win32/WindowDisplay.h"

#include <algorithm>

#include "shell/core/BaudRates.h"
#include "shell/core/WindowTexts.h"
#include "shell/win32/Layout.h"
#include "shell/win32/Text.h"
#include "shell/win32/Ui.h"

namespace bm::win32 {

int IdOf(Caption which) {
  switch (which) {
    case Caption::FNameCapt:
      return kFNameCapt;
    case Caption::FlashSizeCapt:
      return kFlashSizeCapt;
    case Caption::EEpSizeCapt:
      return kEEpSizeCapt;
    case Caption::SourceDevIDcapt:
      return kSourceDevIDcapt;
    case Caption::CPUnameCapt:
      return kCPUnameCapt;
    case Caption::TargDevIDcapt:
      return kTargDevIDcapt;
    case Caption::TargLoaderIDcapt:
      return kTargLoaderIDcapt;
    case Caption::ModeLabel:
      return kModeLabel;
    case Caption::status0:
      return kStatus0;
    case Caption::status1:
      return kStatus1;
  }
  return kStatus0;
}

int IdOf(Led which) {
  return which == Led::LedRed ? kLedRed : which == Led::LedYellow ? kLedYellow : kLedGreen;
}

int IdOf(Button which) {
  constexpr int ids[] = {kFOpenBtn, kComportBtn, kDownLdBtn, kEraseBtn, kStopBtn};
  return ids[static_cast<int>(which)];
}

int IdOf(Check which) { return which == Check::ProgFlashChk ? kProgFlashChk : kProgEEpChk; }

HWND WindowDisplay::Control(int id) const {
  const auto it = h_.controls.find(id);
  return it == h_.controls.end() ? nullptr : it->second;
}

void WindowDisplay::SetTitle(const std::string& text) { SetWindowTextW(h_.window, Wide(text).c_str()); }

void WindowDisplay::SetCaption(Caption which, const std::string& text) {
  HWND label = Control(IdOf(which));
  const std::string shown = CaptionText(text);
  SetWindowTextW(label, Wide(shown).c_str());
  // A status line may be too narrow for its text: the tooltip holds the whole of it.
  if (which == Caption::status0 || which == Caption::status1)
    SetTip(h_.tips, label, text.empty() ? StatusLineTip(which == Caption::status0 ? 0 : 1) : shown);
}

void WindowDisplay::SetLed(Led which, uint32_t rgb) { SetLampColour(Control(IdOf(which)), rgb); }

uint32_t WindowDisplay::LedColour(Led which) const { return LampColour(Control(IdOf(which))); }

void WindowDisplay::SetButtonEnabled(Button which, bool enabled) {
  EnableWindow(Control(IdOf(which)), enabled);
  // File > Load follows the Load button.
  if (which == Button::FOpenBtn && h_.menu)
    EnableMenuItem(h_.menu, kMenuLoad, MF_BYCOMMAND | (enabled ? MF_ENABLED : MF_GRAYED));
}

void WindowDisplay::Focus(Button which) { SetFocus(Control(IdOf(which))); }

void WindowDisplay::SetCheckEnabled(Check which, bool enabled) {
  EnableWindow(Control(IdOf(which)), enabled);
}

void WindowDisplay::SetCheckValue(Check which, bool value) {
  SendMessageW(Control(IdOf(which)), BM_SETCHECK, value ? BST_CHECKED : BST_UNCHECKED, 0);
}

bool WindowDisplay::CheckValue(Check which) const {
  return SendMessageW(Control(IdOf(which)), BM_GETCHECK, 0, 0) == BST_CHECKED;
}

void WindowDisplay::SetProgress(int value) {
  progress_ = value;
  // Values past the last block can exceed 100: they show a full bar.
  if (maximum_ > 0) SendMessageW(Control(kProgressBar1), PBM_SETPOS, std::clamp(value, 0, maximum_), 0);
}

void WindowDisplay::SetProgressMaximum(int max) {
  // A maximum of 0 turns the bar into a busy indicator without a known end.
  HWND bar = Control(kProgressBar1);
  maximum_ = std::max(max, 0);
  LONG_PTR style = GetWindowLongPtrW(bar, GWL_STYLE);
  if (maximum_ == 0) {
    SetWindowLongPtrW(bar, GWL_STYLE, style | PBS_MARQUEE);
    SendMessageW(bar, PBM_SETMARQUEE, TRUE, 30);
    return;
  }
  SendMessageW(bar, PBM_SETMARQUEE, FALSE, 0);
  SetWindowLongPtrW(bar, GWL_STYLE, style & ~static_cast<LONG_PTR>(PBS_MARQUEE));
  SendMessageW(bar, PBM_SETRANGE32, 0, maximum_);
  SetProgress(progress_);
}

void WindowDisplay::SetTimer(bool repeating) {
  if (repeating == timerActive_) return;
  timerActive_ = repeating;
  if (repeating)
    ::SetTimer(h_.window, kTimer1, kTimer1Ms, nullptr);
  else
    KillTimer(h_.window, kTimer1);
}

void WindowDisplay::ShowBaudRate(int rate) {
  HWND box = Control(kBaudSelect);
  const int fixed = static_cast<int>(kBaudRates.size());
  const auto entry = std::find(kBaudRates.begin(), kBaudRates.end(), rate);
  if (entry != kBaudRates.end()) {
    SendMessageW(box, CB_SETCURSEL, static_cast<WPARAM>(entry - kBaudRates.begin()), 0);
    while (SendMessageW(box, CB_GETCOUNT, 0, 0) > fixed) SendMessageW(box, CB_DELETESTRING, fixed, 0);
    return;
  }
  if (rate <= 0) return;
  // An extra entry that stays only while that rate is in use.
  const std::wstring text = std::to_wstring(rate);
  if (SendMessageW(box, CB_GETCOUNT, 0, 0) > fixed) SendMessageW(box, CB_DELETESTRING, fixed, 0);
  SendMessageW(box, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(text.c_str()));
  SendMessageW(box, CB_SETCURSEL, fixed, 0);
}

void WindowDisplay::SetBaudEnabled(bool enabled) { EnableWindow(Control(kBaudSelect), enabled); }

void WindowDisplay::SetParameterEnabled(bool enabled) {
  if (h_.menu) EnableMenuItem(h_.menu, kMenuPara, MF_BYCOMMAND | (enabled ? MF_ENABLED : MF_GRAYED));
}

void WindowDisplay::SetFilePath(const std::string& path) {
  SetTip(h_.tips, Control(kFNameCapt), path.empty() ? ControlTip("FNameCapt") : path);
}

void WindowDisplay::SetProgressTip(const std::string& text) {
  SetTip(h_.tips, Control(kProgressBar1), text.empty() ? ControlTip("ProgressBar1") : text);
}

}  // namespace bm::win32
