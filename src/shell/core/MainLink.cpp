// The serial link as the window drives it: the baud pop-up, the liveness check, the port search
// and identification, and the release of the loader.
#include "link/Bootloader.h"
#include "shell/core/BaudRates.h"
#include "shell/core/Main.h"
#include "shell/core/SkipReason.h"

namespace bm {
namespace {

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

SearchOutcome OutcomeOf(Identification::Outcome outcome) {
  switch (outcome) {
    case Identification::Outcome::Identified:
      return SearchOutcome::Found;
    case Identification::Outcome::Incomplete:
      return SearchOutcome::Incomplete;
    case Identification::Outcome::Failed:
      return SearchOutcome::Failed;
    case Identification::Outcome::Refused:
      return SearchOutcome::Refused;
  }
  return SearchOutcome::Failed;
}

}  // namespace

void Main::BaudSelect_Change(int index) {
  if (index < 0 || index >= static_cast<int>(kBaudRates.size())) return;
  ComPort.SetBaudRate(kBaudRates[static_cast<size_t>(index)]);
}

void Main::UpdateComSettings(int rate) {
  for (int i = 0; i < static_cast<int>(kBaudRates.size()); ++i) {
    if (kBaudRates[static_cast<size_t>(i)] != rate) continue;
    // The view's pop-up fires nothing when set from here, so the rate is applied explicitly.
    display.SetBaudIndex(i);
    BaudSelect_Change(i);
    return;
  }
}

void Main::CheckComPort() {
  lastLiveness_ = bootloader.CheckAlive(connectAttempts_, WaitAfterOpen());
  switch (lastLiveness_) {
    case Liveness::Alive:
      g.COMok = true;
      break;
    case Liveness::Silent:
    case Liveness::WrongAnswer:
      g.COMok = false;
      break;
    case Liveness::NotOpened:
      break;  // the port would not open: the link flag stays as it was
  }
}

bool Main::GetDevice() {
  const Identification found = bootloader.Identify(g, g, alwaysAskLoaderIds_);
  if (found.signatureText)
    display.SetCaption(Caption::TargDevIDcapt, "Device ID : &&" + *found.signatureText);
  if (found.loaderIdText)
    display.SetCaption(Caption::TargLoaderIDcapt, "Loader ID : &&" + *found.loaderIdText);
  lastIdentification_ = found;
  // A message is shown only while the user is still there: after a quit the search just ends.
  if (!found.message.empty() && !QuitRequested()) shown_.MessageBox(found.message);
  return found.Identified();
}

void Main::EndUnidentified() {
  g.Modus = Mode::None;
  release();
  UpdateButtons();
  display.SetCaption(Caption::status0, "COMport none");
  display.SetCaption(Caption::status1, "ERROR");
}

void Main::release() {
  if (g.COMok) bootloader.Leave();
  g.COMok = false;
}

void Main::UseBaudRate(int baud) {
  UpdateComSettings(baud);  // one of the pop-up's rates: selected there too
  ComPort.SetBaudRate(baud);
}

PortTry Main::Probe(int index) {
  ComPort.Select(index);
  lastLiveness_ = bootloader.CheckAlive();
  PortTry tried =
      TriedPort(lastLiveness_ == Liveness::Alive ? PortTry::Status::Found : PortTry::Status::Skipped);
  if (lastLiveness_ == Liveness::Alive) {
    // "I" right after "KW" completes the wake-up our loader waits for: without it the loader would
    // start its application when its window ends, and the probed board would be gone.
    bootloader.SendCommand(WIRE_IDENTIFY);
    bootloader.COMwait(WIRE_IDENTIFY_ECHO_BYTES + WIRE_SIGNATURE_BYTES + WIRE_PAGE_SIZE_BYTES +
                       WIRE_FLASH_SIZE_BYTES);
  }
  ComPort.Close();  // no "X": the loader keeps listening
  return tried;
}

PortTry Main::TriedPort(PortTry::Status status, std::optional<OpenFailure> failure) {
  PortTry tried;
  tried.port = ComPort.Name();
  tried.status = status;
  if (status == PortTry::Status::Skipped) {
    tried.liveness = lastLiveness_;
    if (lastLiveness_ == Liveness::NotOpened)
      tried.openFailure = failure ? *failure : ComPort.LastOpenFailure();
    if (lastLiveness_ == Liveness::WrongAnswer) tried.answer = bootloader.LastAnswer();
  }
  return tried;
}

void Main::TellPortTried(PortTry::Status status, std::optional<OpenFailure> failure) {
  if (observers_->empty()) return;
  const PortTry tried = TriedPort(status, failure);
  Tell([&tried](Observer& o) { o.OnPortTried(tried); });
}

void Main::ComportBtn_Action() {
  if (Busy()) return;
  BusyScope busy(*this);
  SearchProgress progress(display);
  lastSearch_ = SearchOutcome::NotFound;
  g.COMok = false;
  // A port plugged in or pulled since the last search is taken into account (a fixed list
  // leaves serial_count as it is).
  if (ComPort.Service().Refresh()) g.serial_count = ComPort.Service().Count();
  std::vector<PortTry> passedBy;  // for the "Target not found" box: why each port gave no loader
  for (int i = g.serial_count; i >= 1 && !QuitRequested(); --i) {
    try {
      ComPort.Select(i - 1);
      TellPortTried(PortTry::Status::Trying);
      CheckComPort();
      TellPortTried(g.COMok ? PortTry::Status::Found : PortTry::Status::Skipped);
      if (!g.COMok) passedBy.push_back(TriedPort(PortTry::Status::Skipped));
      if (g.COMok) {
        g.Modus = Mode::Connected;
        break;
      }
      g.Modus = Mode::FileLoaded;
    } catch (...) {
      // An error on one port ends only that port's try; the search goes on with the next one.
      lastLiveness_ = Liveness::NotOpened;
      const OpenFailure failure{OpenFailure::Kind::Other, "", "an error while trying it", ""};
      TellPortTried(PortTry::Status::Skipped, failure);
      passedBy.push_back(TriedPort(PortTry::Status::Skipped, failure));
      ComPort.Close();
      g.COMok = false;
      g.Modus = Mode::FileLoaded;
    }
    loop.yield();
  }
  if (QuitRequested()) {  // the port is closed already; nothing more to show
    lastSearch_ = SearchOutcome::Quit;
    return;
  }
  if (g.COMok) {
    g.Modus = Mode::Connected;
    UpdateButtons();
    display.SetCaption(Caption::status1, "COMport " + ComPort.Name());
    if (GetDevice()) {
      lastSearch_ = SearchOutcome::Found;
    } else {
      lastSearch_ = QuitRequested() ? SearchOutcome::Quit : OutcomeOf(lastIdentification_.outcome);
      EndUnidentified();
    }
  } else {
    g.Modus = Mode::FileLoaded;
    UpdateButtons();
    display.SetCaption(Caption::status1, "COMport none");
    shown_.MessageBoxWithInfo("Target not found", WhyNotFound(passedBy));
  }
}

std::string Main::WhyNotFound(const std::vector<PortTry>& passedBy) const {
  std::string text;
  for (const PortTry& tried : passedBy) text += tried.port + ": " + SkipReason(tried) + "\n";
  if (passedBy.empty()) text = "No serial port to try.\n";
  return text + "Baud rate: " + std::to_string(ComPort.BaudRate());
}

}  // namespace bm
