// Download, erase and Stop as the window runs them: the checks before a run, mode 3 while it
// runs, the run's events as captions, progress and numbered "Communication error" boxes, and a
// mode at its end that says whether the target is still connected.
#include <cstdio>
#include <exception>

#include "link/Run.h"
#include "shell/core/Main.h"

namespace bm {

// Turns a run's events into what the window shows, at the moments the run reaches them.
class Main::WindowRun : public RunObserver {
 public:
  explicit WindowRun(Main& main) : main_(main) {}

  void OnPhase(Phase phase) override {
    main_.Tell([phase](Observer& o) { o.OnPhase(phase); });
    if (phase == Phase::Flash) main_.display.SetCaption(Caption::status0, "programming Flash");
    if (phase == Phase::Eeprom) main_.display.SetCaption(Caption::status0, "programming EEprom");
  }
  void OnProgress(int percent, int64_t done, int64_t total) override {
    main_.display.SetProgress(percent);
    main_.Tell([=](Observer& o) { o.OnProgress(percent, done, total); });
  }
  // The mode first (2 while the port is open, 1 when the adapter went away), then the box.
  void OnFailure(Failure failure, bool mayGoOn) override {
    main_.ShowConnection();
    main_.Tell([=](Observer& o) { o.OnFailure(failure, mayGoOn); });
    main_.shown_.MessageBox(std::to_string(Number(failure)) + " Communication error");
  }

 private:
  Main& main_;
};

namespace {

// Held by a download or erase run: if the run is unwound by an error, the window goes back to
// the mode the port's state calls for, so it is not left showing "programming".
class RunScope {
 public:
  explicit RunScope(std::function<void()> restore)
      : restore_(std::move(restore)), uncaught_(std::uncaught_exceptions()) {}
  ~RunScope() {
    if (std::uncaught_exceptions() > uncaught_) restore_();
  }
  RunScope(const RunScope&) = delete;
  RunScope& operator=(const RunScope&) = delete;

 private:
  std::function<void()> restore_;
  int uncaught_;
};

}  // namespace

void Main::ShowConnection() {
  if (ComPort.IsOpen()) {
    g.Modus = Mode::Connected;
  } else {
    g.COMok = false;
    g.Modus = Mode::FileLoaded;
  }
  UpdateButtons();
}

bool Main::WatchConnection() {
  if (Busy() || g.Modus != Mode::Connected) return false;
  ComPort.BytesAvailable();  // a device that hung up reads as closed from then on
  if (ComPort.IsOpen()) return false;
  ComPort.Close();
  ShowConnection();
  display.SetCaption(Caption::status1, "Adapter unplugged");
  return true;
}

bool Main::ReadyToRun(bool identifyAgain) {
  display.SetProgress(0);
  lastLiveness_ = bootloader.CheckAlive();
  if (lastLiveness_ != Liveness::Alive) {
    // The target went away since the search (a reset, another rate, a pulled cable): reported
    // as the search reports it, with the port closed and nothing sent beyond "?".
    const PortTry tried = TriedPort(PortTry::Status::Skipped);
    ComPort.Close();
    g.COMok = false;
    g.Modus = Mode::FileLoaded;
    UpdateButtons();
    display.SetCaption(Caption::status1, "COMport none");
    shown_.MessageBoxWithInfo("Target not found", WhyNotFound({tried}));
    lastRun_.start = RunStart::NoAnswer;
    return false;
  }
  g.COMok = true;
  // Another board may sit behind the port since it was identified: ask again before writing.
  if (identifyAgain && !GetDevice()) {
    EndUnidentified();
    lastRun_.start = RunStart::NotIdentified;
    return false;
  }
  if (auto problem = PageGeometryProblem(g.BlockSize, g.FlashEnd)) {
    shown_.MessageBox(*problem);  // not identified (or refused): nothing to program with
    lastRun_.start = RunStart::NotIdentified;
    return false;
  }
  return true;
}

void Main::RunOnTarget(RunKind kind, const RunRequest& request, const std::function<RunStart()>& fits,
                       const std::function<RunResult(RunObserver&)>& run) {
  if (Busy()) return;
  BusyScope busy(*this);
  lastRun_ = {};
  bootloader.Interrupt(Interruption::None);
  if (!ReloadIfChanged()) {
    lastRun_.start = RunStart::FileChanged;
    return;
  }
  if (kind == RunKind::Erase && (!request.flash || g.FBytesRead <= 0)) {
    // Decided before the port is touched: an erase without a flash image would erase page 0.
    display.SetProgress(0);
    display.SetCaption(Caption::status0, "Nothing to erase: no flash image is loaded");
    lastRun_.start = RunStart::NothingToWrite;
    return;
  }
  if (!ReadyToRun(request.identifyAgain)) return;
  if (const RunStart refused = fits(); refused != RunStart::Started) {
    lastRun_.start = refused;  // nothing was erased or written; still connected
    return;
  }

  RunScope unwinding([this] { ShowConnection(); });
  g.Modus = Mode::Programming;
  UpdateButtons();
  WindowRun observer(*this);
  lastRun_.start = RunStart::Started;
  Tell([kind](Observer& o) { o.OnRunStarted(kind); });
  lastRun_.result = run(observer);
  // Stop, a quit or an unplugged adapter closed the port: the target is no longer connected.
  if (lastRun_.result.end == RunEnd::Done || !ComPort.IsOpen()) ShowConnection();
  Tell([this, kind](Observer& o) { o.OnRunEnded(kind, lastRun_); });
}

void Main::DownLdBtn_Action() {
  // Each check box is also read again when its phase is reached.
  RunRequest request{display.CheckValue(Check::ProgFlashChk), display.CheckValue(Check::ProgEEpChk)};
  request.verify = VerifyMode::WhenNamed;  // the window checks the flash when it can
  RunDownload(request, true);
}

void Main::EraseBtn_Action() { Erase(RunRequest{}); }

void Main::Download(const RunRequest& request) { RunDownload(request, false); }

void Main::RunDownload(const RunRequest& request, bool followCheckBoxes) {
  const auto wanted = [this, request, followCheckBoxes](Phase phase) {
    const bool asked = phase == Phase::Eeprom ? request.eeprom : request.flash;
    if (!asked || !followCheckBoxes) return asked;
    return display.CheckValue(phase == Phase::Eeprom ? Check::ProgEEpChk : Check::ProgFlashChk);
  };
  const auto fits = [this, wanted, request] {
    if (request.verify == VerifyMode::Required && !CanVerify(g)) {
      shown_.MessageBox(
          "This loader cannot verify the flash (its reply to \"i\" names no flash check).\nNothing was "
          "written.");
      return RunStart::CannotVerify;
    }
    if (!wanted(Phase::Flash)) return RunStart::Started;
    const auto problem = FlashFitProblem(g.FBytesRead, g.FlashEnd);
    if (problem) shown_.MessageBox(*problem);
    return problem ? RunStart::DoesNotFit : RunStart::Started;
  };
  RunOnTarget(RunKind::Download, request, fits, [this, wanted, request](RunObserver& observer) {
    RunLimits limits{g, g.OrgEEpEnd, wanted};
    // Decided on the identification just made (a board swapped behind the port is the new one).
    limits.verify = request.verify == VerifyMode::Required ||
                    (request.verify == VerifyMode::WhenNamed && g.OrgBootID >= 0 && CanVerify(g));
    limits.skipUnchanged = request.skipUnchanged;
    RunResult result = bm::Download(bootloader, g, limits, observer);
    ShowVerification(result);
    return result;
  });
}

void Main::Erase(const RunRequest& request) {
  // Erasing stops at the flash end whatever the image's size: that harms nothing.
  RunOnTarget(
      RunKind::Erase, request, [] { return RunStart::Started; },
      [this](RunObserver& observer) {
        return bm::Erase(bootloader, g, RunLimits{g, g.OrgEEpEnd, {}}, observer);
      });
}

void Main::ShowVerification(const RunResult& result) {
  if (!result.verification) return;
  const Verification& v = *result.verification;
  char at[16];
  if (v.outcome == Verification::Outcome::Differs && v.firstDifferingPage >= 0) {
    std::snprintf(at, sizeof at, "0x%04X", static_cast<unsigned>(v.firstDifferingPage));
    shown_.MessageBox(std::string("Verify failed: the flash differs from the image from the page at ") + at +
                      " on.");
  } else if (v.outcome == Verification::Outcome::Differs) {
    std::snprintf(at, sizeof at, "0x%04X", static_cast<unsigned>(v.firstDifferingEepromByte));
    shown_.MessageBox(std::string("Verify failed: the EEPROM differs from the image from the byte at ") + at +
                      " on.");
  } else if (v.outcome == Verification::Outcome::NoAnswer)
    shown_.MessageBox("Verify failed: the loader did not answer the flash check.");
}

void Main::StopBtn_Action() {
  display.SetProgress(0);
  if (Busy()) bootloader.Interrupt(Interruption::Stop);
  // During a page's data the farewell waits for the page's last byte (Bootloader::Stop).
  if (g.COMok) bootloader.Stop();
  if (g.Modus != Mode::None) g.Modus = Mode::FileLoaded;
  g.COMok = false;
  UpdateButtons();
}

}  // namespace bm
