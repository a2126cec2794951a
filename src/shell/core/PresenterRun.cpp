// The port search, download, erase as the window shows them: the busy bar while it searches,
// mode 3 while a run goes, the run's events as captions, progress and numbered "Communication
// error" boxes, and at the end a mode that says whether the target is still connected and a
// status line that says how the run ended.
#include <cmath>
#include <cstdio>

#include "shell/core/Presenter.h"
#include "shell/core/RunTexts.h"
#include "shell/core/SkipReason.h"

namespace bm {
namespace {

// Sets the progress bar back to a measured 0..100 however the search ends.
class SearchProgress {
 public:
  explicit SearchProgress(StatusDisplay& view) : view_(view) {
    view_.SetProgress(0);
    view_.SetProgressMaximum(0);
  }
  ~SearchProgress() {
    view_.SetProgress(0);
    view_.SetProgressMaximum(100);
  }

 private:
  StatusDisplay& view_;
};

std::string Seconds(double ms) {
  char text[32];
  std::snprintf(text, sizeof text, "%.1f", ms / 1000);
  return text;
}

const char* Name(RunKind kind) { return kind == RunKind::Download ? "Download" : "Erase"; }

}  // namespace

void Presenter::ComportBtn_Action() {
  if (Busy()) return;
  BusyScope busy(*this);
  SearchProgress progress(view);
  lastSearch_ = {};
  lastSearch_ = engine_.Search();
  const SearchResult& search = lastSearch_;
  if (search.outcome == SearchOutcome::Quit && search.port.empty()) return;  // nothing more to show
  if (search.port.empty()) {
    Modus = Mode::FileLoaded;
    UpdateButtons();
    view.SetCaption(Caption::status1, "COMport none");
    ShowNotFound(search.passedBy);
    return;
  }
  ShowIdentification(search.identification);
}

void Presenter::OnPortTried(const PortTry& tried) {
  if (tried.status != PortTry::Status::Found) return;
  // Connected while the loader is identified.
  Modus = Mode::Connected;
  UpdateButtons();
  view.SetCaption(Caption::status1, "COMport " + tried.port);
}

void Presenter::ShowIdentification(const Identification& found) {
  if (found.signatureText) view.SetCaption(Caption::TargDevIDcapt, "Device ID : &&" + *found.signatureText);
  if (found.loaderIdText) view.SetCaption(Caption::TargLoaderIDcapt, "Loader ID : &&" + *found.loaderIdText);
  if (found.Identified()) return;
  // The window no longer says "Target connected" while the box says why it is not.
  EndUnidentified();
  // A message is shown only while the user is still there: after a quit the search just ends.
  if (!found.message.empty() && !QuitRequested()) dialogs.MessageBox(found.message);
}

void Presenter::EndUnidentified() {
  Modus = Mode::None;
  UpdateButtons();
  view.SetCaption(Caption::status0, "COMport none");
  view.SetCaption(Caption::status1, "ERROR");
}

void Presenter::ShowNotFound(const std::vector<PortTry>& passedBy) {
  std::string text;
  for (const PortTry& tried : passedBy) text += tried.port + ": " + SkipReason(tried) + "\n";
  if (passedBy.empty()) text = "No serial port to try.\n";
  dialogs.MessageBoxWithInfo(kTargetNotFound, text + "Baud rate: " + std::to_string(engine_.BaudRate()));
}

void Presenter::DownLdBtn_Action() {
  // Each check box is also read again when its phase is reached.
  RunRequest request;
  request.flash = view.CheckValue(Check::ProgFlashChk);
  request.eeprom = view.CheckValue(Check::ProgEEpChk);
  request.verify = VerifyMode::WhenNamed;  // the window checks the flash when it can
  request.phaseWanted = [this](Phase phase) {
    return view.CheckValue(phase == Phase::Eeprom ? Check::ProgEEpChk : Check::ProgFlashChk);
  };
  Run(RunKind::Download, request);
}

void Presenter::EraseBtn_Action() { Run(RunKind::Erase, RunRequest{}); }

void Presenter::Run(RunKind kind, const RunRequest& request) {
  if (Busy()) return;
  BusyScope busy(*this);
  lastRun_ = {};
  view.SetProgress(0);
  try {
    lastRun_ = kind == RunKind::Download ? engine_.Download(request) : engine_.Erase(request);
  } catch (...) {
    // A run unwound by an error leaves the mode the port's state calls for, not "programming".
    if (Modus == Mode::Programming) ShowConnection();
    throw;
  }
  ShowRunEnd(kind, lastRun_);
}

void Presenter::ShowRunEnd(RunKind kind, const RunReport& report) {
  switch (report.start) {
    case RunStart::NotRun:
      return;
    case RunStart::FileChanged:
      dialogs.MessageBox(FileChangedText(report.reloaded, report.why));
      return;
    case RunStart::NothingToWrite:
      view.SetCaption(Caption::status0, NothingToWriteText(*report.nothing));
      return;
    case RunStart::NoAnswer:
      // The target went away since the search: reported as the search reports it.
      Modus = Mode::FileLoaded;
      UpdateButtons();
      view.SetCaption(Caption::status1, "COMport none");
      ShowNotFound({*report.notAnswering});
      return;
    case RunStart::NotIdentified:
      if (!report.why.empty())
        dialogs.MessageBox(report.why);  // a page geometry that cannot be programmed
      else
        ShowIdentification(report.identification);
      return;
    case RunStart::DoesNotFit:
    case RunStart::CannotVerify:
      dialogs.MessageBox(report.why);  // nothing was erased or written; still connected
      return;
    case RunStart::Started:
      break;
  }
  ShowVerification(report.result);
  if (report.result.end == RunEnd::Done || !engine_.PortOpen()) ShowConnection();
  ShowFinished(kind, report);
  // The keyboard goes back where the run was started from, not to Stop: the next Space is
  // meant for the next board.
  const Button started = kind == RunKind::Download ? Button::DownLdBtn : Button::EraseBtn;
  view.Focus(Modus == Mode::Connected    ? started
             : Modus == Mode::FileLoaded ? Button::ComportBtn
                                         : Button::FOpenBtn);
}

void Presenter::OnRunStarted(RunKind) {
  Modus = Mode::Programming;
  UpdateButtons();
  runStartMs_ = phaseStartMs_ = nowMs_();
  percent_ = 0;
  done_ = 0;
}

void Presenter::OnPhase(Phase phase) {
  if (phase != Phase::Erase) view.SetCaption(Caption::status0, PhaseText(phase));
  phaseStartMs_ = nowMs_();
  phase_ = phase;
  percent_ = 0;
  done_ = 0;
}

void Presenter::OnProgress(int percent, int64_t done, int64_t) {
  view.SetProgress(percent);
  percent_ = percent;
  done_ = done;
  // Each phase counts from 0 to 100 on its own: the time left is the phase's.
  std::string tip = std::to_string(percent) + " %";
  const double spent = nowMs_() - phaseStartMs_;
  if (percent > 0 && percent < 100) {
    const double leftMs = spent * (100 - percent) / percent;
    tip += ", about " + std::to_string(static_cast<int>(std::ceil(leftMs / 1000))) + " s left";
  }
  view.SetProgressTip(tip);
}

void Presenter::OnFailure(Failure failure, bool) {
  // The mode first (2 while the port is open, 1 when the adapter went away), then the box; an
  // unplugged adapter says so in status line 1 while the box is up.
  ShowConnection();
  if (!engine_.PortOpen() && !QuitRequested())
    view.SetCaption(Caption::status1,
                    "Adapter unplugged at " + std::to_string(percent_) + " %: " + PartlyDone(phase_));
  dialogs.MessageBox(CommunicationErrorText(failure));
}

void Presenter::ShowFinished(RunKind kind, const RunReport& report) {
  view.SetProgressTip("");
  const std::string reloaded =
      report.reloaded.empty() ? "" : report.reloaded + " changed on disk: loaded again. ";
  const RunResult& result = report.result;
  switch (result.end) {
    case RunEnd::Done: {
      const std::string seconds = Seconds(nowMs_() - runStartMs_);
      std::string text = result.failures.empty() ? std::string(Name(kind)) + " finished in " + seconds + " s"
                                                 : std::string(Name(kind)) + " finished with errors";
      if (kind == RunKind::Download && result.failures.empty() && report.Reached(Phase::Flash))
        text = FinishedDownload(report, seconds);
      if (report.phases.empty()) {
        const bool anyBox = view.CheckValue(Check::ProgFlashChk) || view.CheckValue(Check::ProgEEpChk);
        text = anyBox ? "Nothing written: the chosen images are empty"
                      : "Nothing written: both check boxes are clear";
      }
      view.SetCaption(Caption::status0, reloaded + text);
      break;
    }
    case RunEnd::Failed:
      // The page (or EEPROM byte) the run was at when the target failed it.
      view.SetCaption(Caption::status0, reloaded + Name(kind) + " failed at " +
                                            (phase_ == Phase::Eeprom ? "EEPROM " : "") + AddressText(done_) +
                                            " (" + std::to_string(Number(result.failures.back())) +
                                            " Communication error)");
      break;
    case RunEnd::Stopped:
      view.SetCaption(Caption::status1,
                      "Stopped at " + std::to_string(percent_) + " %: " + PartlyDone(phase_));
      break;
    case RunEnd::PortLost:
      view.SetCaption(Caption::status1,
                      "Adapter unplugged at " + std::to_string(percent_) + " %: " + PartlyDone(phase_));
      break;
    case RunEnd::Quit:
      break;  // the window goes away
  }
}

std::string Presenter::FinishedDownload(const RunReport& report, const std::string& seconds) const {
  const std::optional<Verification>& check = report.result.verification;
  switch (report.verify) {
    case VerifyStatus::Verified:
      return "Download finished and verified in " + seconds + " s (" + check->What() + ")";
    case VerifyStatus::Differs: {
      const bool flash = check->firstDifferingPage >= 0;
      return std::string("Verify failed: ") + (flash ? "flash" : "EEPROM") + " at " +
             AddressText(flash ? check->firstDifferingPage : check->firstDifferingEepromByte);
    }
    case VerifyStatus::NoAnswer:
      return "Verify failed: no answer to the flash check";
    case VerifyStatus::NoLoaderId:
      return "Download finished in " + seconds + " s (not verified: the file names no loader ID)";
    default:
      return "Download finished in " + seconds + " s (this loader cannot verify)";
  }
}

void Presenter::ShowVerification(const RunResult& result) {
  if (!result.verification) return;
  if (const std::optional<std::string> failed = VerifyFailedText(*result.verification))
    dialogs.MessageBox(*failed);
}

}  // namespace bm
