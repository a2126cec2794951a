#include "shell/core/Main.h"

#include "images/Util.h"
#include "shell/core/RuntimeExceptionPlus.h"

namespace bm {

Main::Main(StatusDisplay& display_, Dialogs& dialogs_, EventLoop& loop_, SerialService& ports)
    : ComPort(ports), display(display_), dialogs(dialogs_), loop(loop_) {
  UnhandledException = [this](std::exception_ptr error) { ShowUnhandled(error); };
}

void Main::Open() {
  display.SetCaption(Caption::status0, "");
  display.SetCaption(Caption::status1, "");
  g.serial_count = ComPort.Service().Count();
}

void Main::Timer1_Action() {
  const bool lit = display.LedColour(Led::LedRed) == Util::clRed;
  display.SetLed(Led::LedRed, lit ? Util::clMaroon : Util::clRed);
}

bool Main::_load_Action() {
  FOpenBtn_Action();
  return false;
}

void Main::UpdateButtons() {
  struct Row {
    bool timer;
    uint32_t red, yellow, green;
    bool load, comport, download, erase;
    const char* mode;
  };
  static constexpr Row kRows[] = {
      {false, Util::clRed, Util::clOlive, Util::clGreen, true, false, false, false, "none"},
      {false, Util::clMaroon, Util::clYellow, Util::clGreen, true, true, false, false, "file loaded"},
      {false, Util::clMaroon, Util::clOlive, Util::clLime, true, true, true, true, "Target connected"},
      {true, Util::clRed, Util::clYellow, Util::clGreen, false, false, false, false, "programming"},
  };
  if (g.Modus < 0 || g.Modus > 3) return;
  const Row& row = kRows[g.Modus];
  display.SetTimer(row.timer);
  display.SetLed(Led::LedRed, row.red);
  display.SetLed(Led::LedYellow, row.yellow);
  display.SetLed(Led::LedGreen, row.green);
  display.SetButtonEnabled(Button::FOpenBtn, row.load);
  display.SetButtonEnabled(Button::ComportBtn, row.comport);
  display.SetButtonEnabled(Button::DownLdBtn, row.download);
  display.SetButtonEnabled(Button::EraseBtn, row.erase);
  display.SetCaption(Caption::ModeLabel, row.mode);
  switch (g.Modus) {
    case 0:
      display.SetCheckEnabled(Check::ProgFlashChk, false);
      display.SetCheckEnabled(Check::ProgEEpChk, false);
      break;
    case 1:
      display.SetCheckEnabled(Check::ProgFlashChk, g.FBytesRead > 0);
      display.SetCheckEnabled(Check::ProgEEpChk, g.EBytesRead > 0);
      display.SetCaption(Caption::status0, "");
      break;
    case 2:
      display.SetProgress(0);
      break;
    default:
      break;
  }
}

void Main::Handle(const std::function<void()>& handler) {
  try {
    handler();
  } catch (...) {
    UnhandledException(std::current_exception());
  }
}

void Main::ShowUnhandled(std::exception_ptr error) {
  dialogs.MessageBox("Unexpected error: " + RuntimeExceptionPlus::Message(error) +
                     RuntimeExceptionPlus::stackTrace(error));
}

void Main::RequestQuit() {
  quitRequested_ = true;
  // Never "X" on the way out: the port is simply closed, so a running sequence fails its next
  // reply check and unwinds.
  ComPort.Close();
  g.COMok = false;
}

Main::BusyScope::BusyScope(Main& main) : main_(main) {
  if (main_.busy_++ == 0) main_.display.SetBaudEnabled(false);
}

Main::BusyScope::~BusyScope() {
  if (--main_.busy_ == 0) main_.display.SetBaudEnabled(true);
}

}  // namespace bm
