// The serial link: the baud pop-up, the reply wait, the liveness check and the port search.
#include <array>

#include "shell/core/Main.h"
#include "target/Protocol.h"

namespace bm {
namespace {

constexpr std::array<int, 4> kBaudRates = {9600, 19200, 38400, 57600};  // the pop-up's entries

// Sets the progress bar back to a measured 0..100 however the search ends.
class SearchProgress {
 public:
  explicit SearchProgress(StatusDisplay& display) : display_(display) {
    display_.SetProgress(0);
    display_.SetProgressMaximum(0);
  }
  ~SearchProgress() {
    display_.SetProgress(0);
    display_.SetProgressMaximum(100);
  }

 private:
  StatusDisplay& display_;
};

}  // namespace

void Main::BaudSelect_Change(int index) {
  if (index < 0 || index >= static_cast<int>(kBaudRates.size())) return;
  ComPort.SetBaudRate(kBaudRates[index]);
}

void Main::UpdateComSettings(int rate) {
  for (int i = 0; i < static_cast<int>(kBaudRates.size()); ++i) {
    if (kBaudRates[i] != rate) continue;
    // The view's pop-up fires nothing when set from here, so the rate is applied explicitly.
    display.SetBaudIndex(i);
    BaudSelect_Change(i);
    return;
  }
}

void Main::COMwait(int count) {
  int passes = 0;
  do {
    loop.processEvents(protocol::kPassMs);
    ++passes;
    loop.yield();
    // A closed port (Stop, quit, unplugged adapter) receives nothing more: no point waiting.
    if (!ComPort.IsOpen()) return;
  } while (ComPort.BytesAvailable() < count && passes < protocol::kComWaitPasses);
}

void Main::CheckComPort() {
  if (ComPort.IsOpen()) {
    // Still open from the search: whatever it received since is stale, and the loader may have
    // left meanwhile, so it is asked again rather than trusted.
    ComPort.Flush();
  } else if (!ComPort.Open()) {
    return;
  }
  ComPort.Write(std::string(1, protocol::kAlive));
  COMwait(protocol::kAliveReplyBytes);
  const std::string reply = ComPort.Read(protocol::kAliveReplyBytes);
  if (reply == protocol::kAliveReply) {
    g.COMok = true;
  } else {
    ComPort.Close();
    g.COMok = false;
  }
}

void Main::ComportBtn_Action() {
  if (Busy()) return;
  BusyScope busy(*this);
  SearchProgress progress(display);
  g.COMok = false;
  for (int i = g.serial_count; i >= 1 && !QuitRequested(); --i) {
    try {
      ComPort.Select(i - 1);
      CheckComPort();
      if (g.COMok) {
        g.Modus = 2;
        break;
      }
      g.Modus = 1;
    } catch (...) {
      // An error on one port ends only that port's try; the search goes on with the next one.
      ComPort.Close();
      g.COMok = false;
      g.Modus = 1;
    }
    loop.yield();
  }
  if (QuitRequested()) return;  // the port is closed already; nothing more to show
  if (g.COMok) {
    g.Modus = 2;
    UpdateButtons();
    display.SetCaption(Caption::status1, "COMport " + ComPort.Name());
    if (!GetDevice()) {
      g.Modus = 0;
      release();
      UpdateButtons();
      display.SetCaption(Caption::status0, "COMport none");
      display.SetCaption(Caption::status1, "ERROR");
    }
  } else {
    g.Modus = 1;
    UpdateButtons();
    display.SetCaption(Caption::status1, "COMport none");
    dialogs.MessageBox("Target not found");
  }
}

}  // namespace bm
