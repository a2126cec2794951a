// UpdateButtons: the whole display derived from the mode, by the one mode table.
#include "shell/core/Main.h"

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

void Main::UpdateButtons() {
  const int32_t mode = Number(g.Modus);
  if (mode < 0 || mode >= static_cast<int32_t>(std::size(kModeTable))) return;  // 4: leave as is
  const ModeRow& row = kModeTable[mode];
  display.SetTimer(row.timer);
  display.SetLed(Led::LedRed, row.red);
  display.SetLed(Led::LedYellow, row.yellow);
  display.SetLed(Led::LedGreen, row.green);
  display.SetButtonEnabled(Button::FOpenBtn, row.load);
  display.SetButtonEnabled(Button::ComportBtn, row.comport);
  display.SetButtonEnabled(Button::DownLdBtn, row.download);
  display.SetButtonEnabled(Button::EraseBtn, row.erase);
  display.SetCaption(Caption::ModeLabel, row.text);
  switch (g.Modus) {
    case Mode::None:
      display.SetCheckEnabled(Check::ProgFlashChk, false);
      display.SetCheckEnabled(Check::ProgEEpChk, false);
      break;
    case Mode::FileLoaded:
      display.SetCheckEnabled(Check::ProgFlashChk, g.FBytesRead > 0);
      display.SetCheckEnabled(Check::ProgEEpChk, g.EBytesRead > 0);
      display.SetCaption(Caption::status0, "");
      break;
    case Mode::Connected:
      display.SetProgress(0);
      break;
    default:
      break;  // programming: the check boxes keep their state
  }
}

}  // namespace bm
