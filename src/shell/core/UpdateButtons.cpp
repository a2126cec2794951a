// UpdateButtons: the whole display derived from the mode, by the one mode table.
#include "shell/core/Presenter.h"

namespace bm {
namespace {

struct ModeRow {
  bool timer;  // the red lamp blinks
  uint32_t red, yellow, green;
  bool load, comport, download, erase;
  const char* text;
};

// Indexed by the mode's number.
constexpr ModeRow kModeTable[] = {
    {false, Util::clRed, Util::clOlive, Util::clGreen, true, false, false, false, "none"},
    {false, Util::clMaroon, Util::clYellow, Util::clGreen, true, true, false, false, "file loaded"},
    {false, Util::clMaroon, Util::clOlive, Util::clLime, true, true, true, true, "Target connected"},
    {true, Util::clRed, Util::clYellow, Util::clGreen, false, false, false, false, "programming"},
};

}  // namespace

void Presenter::UpdateButtons() {
  const int32_t mode = Number(Modus);
  if (mode < 0 || mode >= static_cast<int32_t>(std::size(kModeTable))) return;  // 4: leave as is
  const ModeRow& row = kModeTable[mode];
  view.SetTimer(row.timer);
  view.SetLed(Led::LedRed, row.red);
  view.SetLed(Led::LedYellow, row.yellow);
  view.SetLed(Led::LedGreen, row.green);
  view.SetButtonEnabled(Button::FOpenBtn, row.load);
  view.SetButtonEnabled(Button::ComportBtn, row.comport);
  view.SetButtonEnabled(Button::DownLdBtn, row.download);
  view.SetButtonEnabled(Button::EraseBtn, row.erase);
  view.SetCaption(Caption::ModeLabel, row.text);
  switch (Modus) {
    case Mode::None:
      view.SetCheckEnabled(Check::ProgFlashChk, false);
      view.SetCheckEnabled(Check::ProgEEpChk, false);
      break;
    case Mode::FileLoaded:
      view.SetCheckEnabled(Check::ProgFlashChk, engine_.State().FBytesRead > 0);
      view.SetCheckEnabled(Check::ProgEEpChk, engine_.State().EBytesRead > 0);
      view.SetCaption(Caption::status0, "");
      break;
    case Mode::Connected:
      view.SetProgress(0);
      break;
    default:
      break;  // programming: the check boxes keep their state
  }
}

}  // namespace bm
